#include "testutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

#include <winioctl.h>

namespace wt {

const wchar_t *const testOrganisation = L"NovalineWintoolsTest";

namespace {

std::atomic<int> counter{0};

std::wstring keyPath(const std::wstring &app) { return std::wstring(L"Software\\") + testOrganisation + L"\\" + app; }

void treeInto(const std::wstring &dir, const std::wstring &prefix, std::vector<std::wstring> &out)
{
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &data);
    if (h == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            treeInto(dir + L"\\" + name, prefix + name + L"\\", out);
        else
            out.push_back(prefix + name);
    } while (FindNextFileW(h, &data));
    FindClose(h);
}

} // namespace

std::wstring narrowToWide(const std::string &ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::wstring uniqueName(const std::wstring &prefix)
{
    return prefix + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++counter);
}

std::wstring scratchDir(const std::wstring &tag)
{
    std::wstring base;
    wchar_t root[1024];
    const DWORD n = GetEnvironmentVariableW(L"NOVALINE_TEST_ROOT", root, 1024);
    if (n > 0 && n < 1024 && root[0] == L'/') {
        base = std::wstring(L"Z:") + root;
        std::replace(base.begin(), base.end(), L'/', L'\\');
    } else {
        wchar_t tmp[MAX_PATH + 1];
        GetTempPathW(MAX_PATH + 1, tmp);
        base = tmp;
        if (!base.empty() && base.back() == L'\\')
            base.pop_back();
    }
    const std::wstring dir = base + L"\\" + uniqueName(tag);
    makeDirs(dir);
    return dir;
}

void makeDirs(const std::wstring &path)
{
    for (std::size_t pos = path.find(L'\\', 3); ; pos = path.find(L'\\', pos + 1)) {
        CreateDirectoryW(path.substr(0, pos).c_str(), nullptr);
        if (pos == std::wstring::npos)
            break;
    }
}

void writeFile(const std::wstring &path, const std::string &bytes)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << "cannot create file";
    DWORD written = 0;
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
    ASSERT_EQ(written, bytes.size());
}

std::string readFile(const std::wstring &path)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return "<missing>";
    std::string out;
    char buf[4096];
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof(buf), &got, nullptr) && got > 0)
        out.append(buf, got);
    CloseHandle(h);
    return out;
}

bool exists(const std::wstring &path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool isDir(const std::wstring &path)
{
    const DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::string utf16le(const std::wstring &text)
{
    std::string out;
    for (wchar_t c : text) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>((c >> 8) & 0xFF));
    }
    return out;
}

std::string utf8(const std::wstring &text)
{
    const int size = static_cast<int>(text.size());
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), size, &out[0], n, nullptr, nullptr);
    return out;
}

bool makeDirLink(const std::wstring &link, const std::wstring &target)
{
    if (!CreateDirectoryW(link.c_str(), nullptr))
        return false;
    // A mount point: substitute name "\??\<target>", empty print name.
    HANDLE h = CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        const std::wstring sub = L"\\??\\" + target;
        const WORD subBytes = static_cast<WORD>(sub.size() * sizeof(wchar_t));
        std::vector<BYTE> buf(16 + subBytes + 2 * sizeof(wchar_t), 0);
        auto put16 = [&buf](std::size_t at, WORD v) { buf[at] = BYTE(v & 0xFF); buf[at + 1] = BYTE(v >> 8); };
        const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
        std::memcpy(&buf[0], &tag, 4);
        put16(4, static_cast<WORD>(buf.size() - 8));
        put16(8, 0);                                          // substitute name offset
        put16(10, subBytes);                                  // its length
        put16(12, static_cast<WORD>(subBytes + sizeof(wchar_t))); // print name offset, length 0
        std::memcpy(&buf[16], sub.c_str(), subBytes);
        DWORD got = 0;
        const BOOL ok = DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, buf.data(), static_cast<DWORD>(buf.size()),
                                        nullptr, 0, &got, nullptr);
        CloseHandle(h);
        if (ok)
            return true;
    }
    RemoveDirectoryW(link.c_str());
    // Wine maps Z: to the Unix root and starts Unix programs itself.
    if (link.compare(0, 3, L"Z:\\") != 0 || target.compare(0, 3, L"Z:\\") != 0)
        return false;
    auto unixPath = [](std::wstring p) {
        p = p.substr(2);
        std::replace(p.begin(), p.end(), L'\\', L'/');
        return p;
    };
    std::wstring cmd = L"/bin/ln -s \"" + unixPath(target) + L"\" \"" + unixPath(link) + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return false;
    // Wine does not wait for a Unix program's end on its handle: wait for the link.
    WaitForSingleObject(pi.hProcess, 30000);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    for (int i = 0; i < 600 && !exists(link + L"\\."); ++i)
        Sleep(50);
    return exists(link + L"\\.");
}

void regCreateKey(const std::wstring &app)
{
    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, keyPath(app).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

void regSetString(const std::wstring &app, const std::wstring &name, const std::wstring &value)
{
    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, keyPath(app).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

void regSetDword(const std::wstring &app, const std::wstring &name, DWORD value)
{
    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, keyPath(app).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), sizeof(value));
    RegCloseKey(key);
}

void regDeleteKey(const std::wstring &app) { RegDeleteTreeW(HKEY_CURRENT_USER, keyPath(app).c_str()); }

bool regKeyExists(const std::wstring &app)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, keyPath(app).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

std::wstring RegValue::text() const
{
    std::wstring s(reinterpret_cast<const wchar_t *>(bytes.data()), bytes.size() / sizeof(wchar_t));
    if (!s.empty() && s.back() == L'\0')
        s.pop_back();
    return s;
}

RegValue regGet(const std::wstring &app, const std::wstring &name)
{
    RegValue v;
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, keyPath(app).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return v;
    DWORD size = 0, type = REG_NONE;
    if (RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        v.bytes.resize(size);
        if (RegQueryValueExW(key, name.c_str(), nullptr, &type, v.bytes.data(), &size) == ERROR_SUCCESS)
            v.type = type;
    }
    RegCloseKey(key);
    return v;
}

std::wstring binDir()
{
    wchar_t buf[1024];
    const DWORD n = GetModuleFileNameW(nullptr, buf, 1024);
    std::wstring path(buf, n);
    return path.substr(0, path.rfind(L'\\'));
}

void dllFolderOnPath()
{
    static bool pathSet = false;
    if (pathSet)
        return;
    // The helper programs find the DLL through PATH wherever they are copied to.
    std::vector<wchar_t> old(32768);
    const DWORD n = GetEnvironmentVariableW(L"PATH", old.data(), 32768);
    SetEnvironmentVariableW(L"PATH", (binDir() + L";" + std::wstring(old.data(), n < 32768 ? n : 0)).c_str());
    pathSet = true;
}

RunResult run(const std::wstring &program, const std::wstring &arguments, DWORD timeoutMs)
{
    dllFolderOnPath();
    RunResult result;
    const std::wstring outPath = scratchDir(L"out") + L"\\output.txt";
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    HANDLE out = CreateFileW(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE in = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in;
    si.hStdOutput = out;
    si.hStdError = out;
    PROCESS_INFORMATION pi = {};
    std::wstring cmd = L"\"" + program + L"\" " + arguments;
    const BOOL started =
        CreateProcessW(program.c_str(), &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(out);
    CloseHandle(in);
    if (!started) {
        ADD_FAILURE() << "cannot start helper, error " << GetLastError();
        return result;
    }
    if (WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        result.finished = true;
        GetExitCodeProcess(pi.hProcess, &result.exitCode);
    } else {
        TerminateProcess(pi.hProcess, 99);
        WaitForSingleObject(pi.hProcess, 5000);
        ADD_FAILURE() << "helper timed out";
    }
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    for (char c : readFile(outPath)) {
        if (c != '\r')
            result.output.push_back(c);
    }
    return result;
}

std::vector<std::wstring> tree(const std::wstring &dir)
{
    std::vector<std::wstring> out;
    treeInto(dir, L"", out);
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace wt
