// The library's messages on the standard output.
#include "wintools_p.h"

#include <windows.h>

#include <cstdio>
#include <io.h>

void wintools_say(const std::wstring &text)
{
    if (text.empty())
        return;
    // A wide C++ stream in the C locale fails on the first non-ASCII character (a user
    // folder such as C:\Users\Иван) and drops every later message: write the text here.
    // What the C library holds buffered goes first, to keep the order.
    std::fflush(stdout);
    const HANDLE out = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdout)));
    if (out == INVALID_HANDLE_VALUE || !out)
        return;
    DWORD written = 0;
    DWORD mode = 0;
    if (GetConsoleMode(out, &mode)) {
        WriteConsoleW(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const int size = static_cast<int>(text.size());
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return;
    std::string bytes(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), size, &bytes[0], n, nullptr, nullptr);
    WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}
