// Install location and version from the program's registry key, the running
// executable's location, the processor architecture and version texts.
#include "wintools.h"
#include "wintools_p.h"

#include <iostream>

namespace {

constexpr DWORD pathChars = MAX_PATH;

template <typename Ch> std::basic_string<Ch> hex(unsigned n)
{
    const char digits[] = "0123456789abcdef";
    std::basic_string<Ch> s;
    do {
        s.insert(s.begin(), static_cast<Ch>(digits[n & 0xF]));
        n >>= 4;
    } while (n);
    return s;
}

template <typename Ch> std::basic_string<Ch> widenAscii(const char *text)
{
    std::basic_string<Ch> s;
    for (; *text; ++text)
        s.push_back(static_cast<Ch>(*text));
    return s;
}

template <typename Ch> std::basic_string<Ch> versionText(std::uint32_t v, bool shortForm)
{
    const unsigned major = v >> 24, minor = (v >> 16) & 0xff, patch = (v >> 8) & 0xff;
    const unsigned stage = (v >> 4) & 0xf, build = v & 0xf;
    static const char *const shortStage[] = {"a", "b", "rc"};
    static const char *const longStage[] = {"Alpha", "Beta", "RC"};
    const bool known = stage >= 1 && stage <= 3;
    const std::basic_string<Ch> stageText =
        widenAscii<Ch>(known ? (shortForm ? shortStage : longStage)[stage - 1] : "");
    const Ch dot = static_cast<Ch>('.'), blank = static_cast<Ch>(' ');
    std::basic_string<Ch> s = hex<Ch>(major) + dot + hex<Ch>(minor) + dot + hex<Ch>(patch);
    if (build != 0) {
        if (shortForm)
            s += stageText + hex<Ch>(build);
        else
            s += blank + stageText + blank + hex<Ch>(build);
    } else if (known) {
        if (shortForm)
            s += stageText;
        else
            s += blank + stageText;
    }
    return s;
}

// The module path, grown past the path limit instead of cut.
template <typename Ch, typename F> std::basic_string<Ch> modulePath(F getModuleFileName)
{
    std::basic_string<Ch> buf(pathChars, Ch());
    for (;;) {
        const DWORD n = getModuleFileName(nullptr, &buf[0], static_cast<DWORD>(buf.size()));
        if (n == 0)
            return std::basic_string<Ch>();
        if (n < buf.size()) {
            buf.resize(n);
            return buf;
        }
        buf.resize(buf.size() * 2);
    }
}

} // namespace

std::wstring wintools_keyPath(const std::wstring &organisation, const std::wstring &application)
{
    return L"Software\\" + organisation + L"\\" + application;
}

std::wstring getInstallPath(const std::wstring &organisation, const std::wstring &application)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, wintools_keyPath(organisation, application).c_str(), 0, KEY_READ, &key)
        != ERROR_SUCCESS) {
        wintools_say(L"Error reading install dir from registry!\n");
        return std::wstring();
    }
    wchar_t buf[pathChars + 1] = {};
    DWORD type = 0;
    DWORD bytes = pathChars * sizeof(wchar_t);
    const LONG rc = RegQueryValueExW(key, L"installDir", nullptr, &type, reinterpret_cast<BYTE *>(buf), &bytes);
    RegCloseKey(key);
    // A value longer than the buffer gives ERROR_MORE_DATA: no path rather than a cut one.
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::wstring();
    std::wstring path(buf, bytes / sizeof(wchar_t));
    // The stored value normally ends with its zero; one stored without it is kept whole.
    const auto zero = path.find(L'\0');
    if (zero != std::wstring::npos)
        path.resize(zero);
    replaceAll(L"/", L"\\", path);
    return path;
}

std::string getInstallPath(const std::string &organisation, const std::string &application)
{
    HKEY key;
    const std::string keyPath = "Software\\" + organisation + "\\" + application;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        std::cout << "Error reading install dir from registry!" << std::endl;
        return std::string();
    }
    char buf[pathChars + 1] = {};
    DWORD type = 0;
    DWORD bytes = pathChars;
    const LONG rc = RegQueryValueExA(key, "installDir", nullptr, &type, reinterpret_cast<BYTE *>(buf), &bytes);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::string();
    std::string path(buf, bytes);
    const auto zero = path.find('\0');
    if (zero != std::string::npos)
        path.resize(zero);
    replaceAll("/", "\\", path);
    return path;
}

std::wstring getInstallDir(const std::wstring &organisation, const std::wstring &application)
{
    return parentDir(getInstallPath(organisation, application));
}

std::string getInstallDir(const std::string &organisation, const std::string &application)
{
    return parentDir(getInstallPath(organisation, application));
}

int getInstalledVersion(const std::wstring &organisation, const std::wstring &application)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, wintools_keyPath(organisation, application).c_str(), 0, KEY_READ, &key)
        != ERROR_SUCCESS) {
        wintools_say(L"Error reading version from registry!\n");
        return 0;
    }
    DWORD value = 0;
    DWORD type = 0;
    DWORD bytes = sizeof(value);
    const LONG rc = RegQueryValueExW(key, L"version", nullptr, &type, reinterpret_cast<BYTE *>(&value), &bytes);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || type != REG_DWORD || bytes != sizeof(value))
        return 0;
    return static_cast<int>(value);
}

int getInstalledVersion(const std::string &organisation, const std::string &application)
{
    return getInstalledVersion(fromStdString(organisation), fromStdString(application));
}

std::wstring version(std::uint32_t packed, bool shortForm)
{
    const std::wstring text = versionText<wchar_t>(packed, shortForm);
    wintools_say(text);
    return text;
}

std::string versionA(std::uint32_t packed, bool shortForm) { return versionText<char>(packed, shortForm); }

unsigned short getArchitecture()
{
    SYSTEM_INFO info = {};
    GetNativeSystemInfo(&info);
    return info.wProcessorArchitecture;
}

std::wstring getCurrentPath() { return modulePath<wchar_t>(GetModuleFileNameW); }

std::string getCurrentPathA() { return modulePath<char>(GetModuleFileNameA); }

std::wstring getCurrentDir() { return parentDir(getCurrentPath()); }

std::string getCurrentDirA() { return parentDir(getCurrentPathA()); }

std::wstring getCurrentFileName()
{
    const std::wstring path = getCurrentPath();
    const auto pos = path.rfind(L'\\');
    return pos == std::wstring::npos ? path : path.substr(pos + 1);
}
