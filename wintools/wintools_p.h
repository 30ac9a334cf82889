// Shared internals of the helper library (not exported).
#pragma once

#include <string>
#include <vector>

// "Software\<organisation>\<application>" below HKEY_CURRENT_USER.
std::wstring wintools_keyPath(const std::wstring &organisation, const std::wstring &application);

// True when a path component consists of dots and blanks only: "." and ".." and what
// Windows reads as them (it drops trailing dots and blanks: "...", ".. ").
bool wintools_isDotPart(const std::wstring &part);
// True when a component of the path is such a part.
bool wintools_hasDotComponent(const std::wstring &path);

// Each string widened byte by byte (fromStdString).
std::vector<std::wstring> wintools_widen(const std::vector<std::string> &list);

// Writes text to the process's standard output so that any character survives: as
// UTF-16 to a console, as UTF-8 bytes otherwise. Never puts a stream in a failed state.
void wintools_say(const std::wstring &text);

// The final path (\\?\ form) of an existing entry, every link and junction on the way
// resolved; followLast false acts on a last component that is a link itself instead of
// its target. Empty when the entry cannot be opened.
std::wstring wintools_finalPath(const std::wstring &path, bool followLast);
