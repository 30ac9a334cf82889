// Raising a running program's window by its title.
#include "wintools.h"

bool activateWindow(const std::wstring &title)
{
    HWND window = FindWindowW(nullptr, title.c_str());
    if (!window)
        return false;
    // The system may refuse the foreground change; the window was found all the same.
    SetForegroundWindow(window);
    return true;
}

bool activateWindow(const std::string &title) { return activateWindow(fromStdString(title)); }
