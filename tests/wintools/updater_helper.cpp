// A stand-in for the updater program that links the helper library: the update tests
// copy it into an update folder and run it there.
//   update <org> <app>          doUpdate, exit 0 when it returned true
//   update-ex <org> <app>       doUpdate excluding "skipdir" and "sub\skip.txt"
//   update-nomodule <org> <app> doUpdate with the library's GetModuleFileNameW failing
//                               (exit 3 when that cannot be arranged)
//   cleanup|rollback <org> <app>
//   admin                       the elevated instance: counts its start in the file named
//                               by WINTOOLS_TEST_ADMIN_LOG and removes what
//                               WINTOOLS_TEST_FIX_PATH names (the obstacle of the copy)
//   sleep                       waits to be ended (process counting)
#include "wintools.h"

#include <shellapi.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

DWORD WINAPI failingModuleFileName(HMODULE, LPWSTR, DWORD)
{
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
}

// Points the library's import of GetModuleFileNameW at failingModuleFileName, so that
// the library cannot learn its executable's path.
bool breakModuleFileName()
{
    auto *base = reinterpret_cast<BYTE *>(GetModuleHandleW(L"wintools.dll"));
    if (!base)
        return false;
    const auto *nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER *>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY &dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    bool patched = false;
    for (auto *imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + dir.VirtualAddress); imp->Name; ++imp) {
        auto *names = reinterpret_cast<IMAGE_THUNK_DATA *>(base + imp->OriginalFirstThunk);
        auto *slots = reinterpret_cast<IMAGE_THUNK_DATA *>(base + imp->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            const auto *byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char *>(byName->Name), "GetModuleFileNameW") != 0)
                continue;
            DWORD old = 0;
            VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), PAGE_READWRITE, &old);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(&failingModuleFileName);
            VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), old, &old);
            patched = true;
        }
    }
    return patched;
}

std::wstring env(const wchar_t *name)
{
    wchar_t buf[2048];
    const DWORD n = GetEnvironmentVariableW(name, buf, 2048);
    return n > 0 && n < 2048 ? std::wstring(buf, n) : std::wstring();
}

int admin()
{
    const std::wstring log = env(L"WINTOOLS_TEST_ADMIN_LOG");
    if (!log.empty()) {
        HANDLE h = CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
        DWORD written = 0;
        WriteFile(h, "admin\n", 6, &written, nullptr);
        CloseHandle(h);
    }
    const std::wstring fix = env(L"WINTOOLS_TEST_FIX_PATH");
    if (!fix.empty())
        deleteFileEx(fix);
    return 0;
}

} // namespace

int main()
{
    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const std::vector<std::wstring> args(argv, argv + argc);
    LocalFree(argv);
    const std::wstring mode = args.size() > 1 ? args[1] : L"";
    if (mode == L"admin")
        return admin();
    if (mode == L"sleep") {
        Sleep(120000);
        return 0;
    }
    if (args.size() < 4)
        return 2;
    const std::wstring &org = args[2], &app = args[3];
    if (mode == L"update")
        return doUpdate(org, app) ? 0 : 1;
    if (mode == L"update-nomodule")
        return !breakModuleFileName() ? 3 : doUpdate(org, app) ? 0 : 1;
    if (mode == L"update-ex")
        return doUpdate(org, app, {L"skipdir", L"sub\\skip.txt"}) ? 0 : 1;
    if (mode == L"cleanup")
        return cleanupUpdate(org, app) ? 0 : 1;
    if (mode == L"rollback")
        return rollbackUpdate(org, app) ? 0 : 1;
    return 2;
}
