// Shortcuts, process counting, elevated starts, access lists and shell icons.
#include "wintools.h"

#include <aclapi.h>
#include <commctrl.h>
#include <commoncontrols.h>
#include <sddl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <iostream>

HRESULT CreateLink(const wchar_t *target, const wchar_t *linkFile, const wchar_t *description)
{
    if (!target || !linkFile)
        return E_INVALIDARG;
    IShellLinkW *link = nullptr;
    bool initialisedHere = false;
    HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  reinterpret_cast<void **>(&link));
    if (hr == CO_E_NOTINITIALIZED) {
        // Only a thread without COM gets it, and loses it again below.
        initialisedHere = SUCCEEDED(CoInitialize(nullptr));
        hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void **>(&link));
    }
    if (SUCCEEDED(hr)) {
        link->SetPath(target);
        link->SetDescription(description ? description : L"");
        IPersistFile *file = nullptr;
        hr = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void **>(&file));
        if (SUCCEEDED(hr)) {
            hr = file->Save(linkFile, TRUE);
            file->Release();
        }
        link->Release();
    }
    if (initialisedHere)
        CoUninitialize();
    return hr;
}

int findRunningProcess(std::wstring name)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    int count = 0;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL ok = Process32FirstW(snapshot, &entry); ok; ok = Process32NextW(snapshot, &entry)) {
        if (name == entry.szExeFile)
            ++count;
    }
    CloseHandle(snapshot);
    return count;
}

int findRunningProcess(std::string name) { return findRunningProcess(fromStdString(name)); }

bool runasAdmin(const std::wstring &path)
{
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    // No error dialog: the caller is a console updater and reports through its result.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_DOENVSUBST | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = L"runas";
    info.lpFile = path.c_str();
    info.lpParameters = L"admin";
    info.lpDirectory = nullptr;
    info.nShow = SW_SHOW;
    if (!ShellExecuteExW(&info) || !info.hProcess)
        return false;
    WaitForSingleObject(info.hProcess, INFINITE);
    CloseHandle(info.hProcess);
    return true;
}

bool runasAdmin(const std::string &path) { return runasAdmin(fromStdString(path)); }

bool updateAcl(const std::wstring &path)
{
    PACL oldAcl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD rc = GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                     &oldAcl, nullptr, &descriptor);
    if (rc != ERROR_SUCCESS) {
        std::printf("GetNamedSecurityInfo Error %lu\n", static_cast<unsigned long>(rc));
        std::fflush(stdout);
        return false;
    }
    PSID users = nullptr;
    if (!ConvertStringSidToSidW(L"BU", &users)) {
        rc = GetLastError();
        std::printf("ConvertStringSidToSid Error %lu\n", static_cast<unsigned long>(rc));
        std::fflush(stdout);
        LocalFree(descriptor);
        return false;
    }
    EXPLICIT_ACCESSW access = {};
    access.grfAccessPermissions = FILE_ALL_ACCESS;
    access.grfAccessMode = GRANT_ACCESS;
    access.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
    access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access.Trustee.TrusteeType = TRUSTEE_IS_GROUP;
    access.Trustee.ptstrName = reinterpret_cast<LPWSTR>(users);
    PACL newAcl = nullptr;
    rc = SetEntriesInAclW(1, &access, oldAcl, &newAcl);
    bool ok = false;
    if (rc != ERROR_SUCCESS) {
        std::printf("SetEntriesInAcl Error %lu\n", static_cast<unsigned long>(rc));
    } else {
        rc = SetNamedSecurityInfoW(const_cast<LPWSTR>(path.c_str()), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                   nullptr, nullptr, newAcl, nullptr);
        if (rc != ERROR_SUCCESS)
            std::printf("SetNamedSecurityInfo Error %lu\n", static_cast<unsigned long>(rc));
        else
            ok = true;
    }
    std::fflush(stdout);
    if (newAcl)
        LocalFree(newAcl);
    LocalFree(users);
    LocalFree(descriptor);
    return ok;
}

bool updateAcl(const std::string &path) { return updateAcl(fromStdString(path)); }

HICON extractIcon(const wchar_t *path, int size)
{
    if (!path)
        return nullptr;
    HMODULE comctl = LoadLibraryW(L"ComCtl32.dll");
    if (!comctl)
        return nullptr;
    HICON icon = nullptr;
    // The cast through void(*)() is the one function-pointer cast the compiler accepts
    // as deliberate.
    auto getVersion = reinterpret_cast<DLLGETVERSIONPROC>(
        reinterpret_cast<void (*)()>(GetProcAddress(comctl, "DllGetVersion")));
    DLLVERSIONINFO versionInfo = {};
    versionInfo.cbSize = sizeof(versionInfo);
    if (getVersion && SUCCEEDED(getVersion(&versionInfo))) {
        std::printf("ComCtl32.dll version: %lu", static_cast<unsigned long>(versionInfo.dwMajorVersion));
        SHFILEINFOW info = {};
        const DWORD_PTR found = SHGetFileInfoW(path, 0, &info, sizeof(info), SHGFI_SYSICONINDEX);
        if (!found) {
            std::printf("SHGetFileInfo error: %llu", static_cast<unsigned long long>(found));
        } else {
            IImageList *list = nullptr;
            const HRESULT hr = SHGetImageList(size, __uuidof(IImageList), reinterpret_cast<void **>(&list));
            if (FAILED(hr) || !list) {
                std::printf("SHGetImageList error: %ld", static_cast<long>(hr));
            } else {
                if (FAILED(list->GetIcon(info.iIcon, ILD_TRANSPARENT, &icon))) {
                    icon = nullptr;
                    std::printf("GetIcon error");
                }
                list->Release();
            }
        }
        std::fflush(stdout);
    }
    FreeLibrary(comctl);
    return icon;
}
