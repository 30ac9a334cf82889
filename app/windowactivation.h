#pragma once

#include <string>

// Brings a top-level window whose title is exactly `title` to the front. True when such
// a window was found, whether or not the system let it come forward.
bool activateWindow(std::wstring &title);
// Narrow variant: each byte is widened as a signed 8-bit number, so only 7-bit ASCII
// titles convert faithfully.
bool activateWindow(std::string &title);
