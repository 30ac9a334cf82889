// Shared internals of the helper library (not exported).
#pragma once

#include <string>

// "Software\<organisation>\<application>" below HKEY_CURRENT_USER.
std::wstring wintools_keyPath(const std::wstring &organisation, const std::wstring &application);

// True when a component of the path consists of dots and blanks only ("." and ".." and
// what Windows reads as them).
bool wintools_hasDotComponent(const std::wstring &path);
