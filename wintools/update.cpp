// Installing an unpacked update over the installation, with backups, rollback,
// cleanup and the outcome recorded in the registry.
#include "wintools.h"
#include "wintools_p.h"

#include <cstdio>

namespace {

const std::wstring backSuffix = L".back";

// Windows paths compare without regard to letter case: the running executable's path
// need not be spelt like the registry entry or the directory listing.
bool samePath(const std::wstring &a, const std::wstring &b)
{
    if (a.size() != b.size())
        return false;
    if (a.empty())
        return true;
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE)
        == CSTR_EQUAL;
}

// Only a full path can be an installation or update directory: an empty or relative
// one would put the update, or the cleanup, on the current drive or directory.
bool isFullPath(const std::wstring &dir)
{
    if (dir.size() >= 2 && dir[0] == L'\\' && dir[1] == L'\\')
        return true;
    const bool letter = dir.size() >= 2 && ((dir[0] >= L'A' && dir[0] <= L'Z') || (dir[0] >= L'a' && dir[0] <= L'z'))
        && dir[1] == L':';
    return letter && (dir.size() == 2 || dir[2] == L'\\');
}

bool endsWith(const std::wstring &s, const std::wstring &suffix)
{
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// A deletion-list entry as a clean path inside the installation directory, or empty
// when it names the directory itself or anything outside it: absolute paths, drive
// letters, UNC and device paths, and components that Windows reads as "." or ".."
// (it drops trailing dots and blanks, so "..." and ".. " climb too).
std::wstring safeRelativeEntry(const std::wstring &line)
{
    if (line.empty() || line[0] == L'\\' || line[0] == L'/')
        return std::wstring();
    if (line.find_first_of(L":*?\"<>|") != std::wstring::npos)
        return std::wstring();
    std::wstring clean;
    std::size_t start = 0;
    while (start <= line.size()) {
        std::size_t end = line.find_first_of(L"\\/", start);
        if (end == std::wstring::npos)
            end = line.size();
        const std::wstring part = line.substr(start, end - start);
        if (!part.empty()) {
            if (wintools_isDotPart(part))
                return std::wstring();
            if (!clean.empty())
                clean += L'\\';
            clean += part;
        }
        start = end + 1;
    }
    return clean;
}

const std::wstring longPrefix = L"\\\\?\\";

void say(const std::wstring &text) { wintools_say(text); }

// A path below root (both final paths), not root itself.
bool isBelow(const std::wstring &path, const std::wstring &root)
{
    const std::wstring prefix = root + L"\\";
    return path.size() > prefix.size() && samePath(path.substr(0, prefix.size()), prefix);
}

// The path a deletion-list entry names, or empty when its text is refused: a relative
// entry below the installation directory, or a long path (\\?\) without patterns or
// dot components, which must then resolve into the installation directory.
std::wstring deletionTarget(const std::wstring &line, const std::wstring &installDir)
{
    if (line.compare(0, longPrefix.size(), longPrefix) == 0) {
        const std::wstring body = line.substr(longPrefix.size());
        if (body.empty() || body.find_first_of(L"*?\"<>|") != std::wstring::npos || wintools_hasDotComponent(body))
            return std::wstring();
        return line;
    }
    const std::wstring rel = safeRelativeEntry(line);
    return rel.empty() ? std::wstring() : installDir + L"\\" + rel;
}

void applyDeletionList(const std::wstring &listPath, const std::wstring &installDir)
{
    FILE *f = _wfopen(listPath.c_str(), L"rb");
    if (!f)
        return;
    // The text of an entry says little: a junction or link on the way ("link\victim.txt"
    // with link pointing elsewhere) leads out. What counts is where the entry really is.
    const std::wstring realInstallDir = wintools_finalPath(installDir, true);
    std::wstring line;
    while (wreadLine(f, &line)) {
        if (line.empty())
            continue;
        const std::wstring target = deletionTarget(line, installDir);
        if (!target.empty() && GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES)
            continue; // nothing there
        // The last component is not followed: a link inside is removed, not its target.
        const std::wstring real = target.empty() ? target : wintools_finalPath(target, false);
        if (real.empty() || realInstallDir.empty() || !isBelow(real, realInstallDir)) {
            say(L"Refused deletion entry: " + line + L"\n");
            continue;
        }
        deleteFileEx(real);
    }
    std::fclose(f);
}

} // namespace

bool doUpdate(const std::wstring &organisation, const std::wstring &application,
              std::initializer_list<std::wstring> excludes)
{
    const std::wstring installDir = getInstallDir(organisation, application);
    const std::wstring selfDir = getCurrentDir();
    const std::wstring selfPath = getCurrentPath();
    say(L"Install dir: " + installDir + L"\n");
    say(L"Self dir: " + selfDir + L"\n");
    say(L"Self path: " + selfPath + L"\n");
    // Without its own folder (the module path unknown) there is nothing to install
    // from; listing "" would list the root of the current drive.
    if (!isFullPath(selfDir)) {
        say(L"No update dir, nothing installed!\n");
        return false;
    }
    if (samePath(installDir, selfDir)) {
        say(L"Launched from install dir!");
        return true;
    }
    if (!isFullPath(installDir)) {
        say(L"No install dir, nothing installed!\n");
        return false;
    }

    std::vector<std::wstring> files;
    fileList(selfDir, files, std::vector<std::wstring>(excludes));
    const std::wstring manifest = selfPath + L".manifest";
    const std::wstring deletionList = selfDir + L"\\update.txt";
    bool aclRepairTried = false;

    for (const std::wstring &file : files) {
        if (samePath(file, selfPath) || samePath(file, manifest) || samePath(file, deletionList))
            continue;
        const std::wstring rel = file.substr(selfDir.size() + 1);
        const std::wstring target = installDir + L"\\" + rel;
        createPath(parentDir(target));
        // Does not replace: a backup left by an earlier run stays the one to restore.
        if (fileExists(target.c_str()))
            MoveFileW(target.c_str(), (target + backSuffix).c_str());
        if (CopyFileW(file.c_str(), target.c_str(), FALSE))
            continue;
        const DWORD error = GetLastError();
        if (error == 0)
            continue;
        say(L"Copy error:" + std::to_wstring(error) + L"\n");
        if (error != ERROR_ACCESS_DENIED || aclRepairTried)
            return false;
        aclRepairTried = true;
        say(L"Access denied. Trying to fix acls.\n");
        if (!runasAdmin(selfPath))
            return false;
        if (!CopyFileW(file.c_str(), target.c_str(), FALSE) && GetLastError() != 0) {
            say(L"Copy error!\n");
            return false;
        }
    }

    if (fileExists(deletionList.c_str()))
        applyDeletionList(deletionList, installDir);
    return true;
}

bool cleanupUpdate(const std::wstring &organisation, const std::wstring &application,
                   std::vector<std::wstring> excludes)
{
    std::wstring installDir = getInstallDir(organisation, application);
    if (samePath(installDir, getCurrentDir()) || !isFullPath(installDir))
        return true;
    std::vector<std::wstring> files;
    fileList(installDir, files, installDir, excludes);
    for (const std::wstring &file : files) {
        if (fileExists(file.c_str()) && endsWith(file, backSuffix))
            DeleteFileW(file.c_str());
    }
    return true;
}

bool cleanupUpdate(const std::string &organisation, const std::string &application,
                   std::vector<std::string> excludes)
{
    return cleanupUpdate(fromStdString(organisation), fromStdString(application), wintools_widen(excludes));
}

bool rollbackUpdate(const std::wstring &organisation, const std::wstring &application,
                    std::vector<std::wstring> excludes)
{
    std::wstring installDir = getInstallDir(organisation, application);
    if (samePath(installDir, getCurrentDir()) || !isFullPath(installDir))
        return true;
    std::vector<std::wstring> files;
    fileList(installDir, files, installDir, excludes);
    for (const std::wstring &file : files) {
        if (!endsWith(file, backSuffix))
            continue;
        const std::wstring restored = file.substr(0, file.size() - backSuffix.size());
        if (fileExists(restored.c_str()))
            DeleteFileW(restored.c_str());
        MoveFileW(file.c_str(), restored.c_str());
    }
    return true;
}

bool rollbackUpdate(const std::string &organisation, const std::string &application,
                    std::vector<std::string> excludes)
{
    return rollbackUpdate(fromStdString(organisation), fromStdString(application), wintools_widen(excludes));
}

void updateUpdateInfo(const std::wstring &organisation, const std::wstring &application, bool clear)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, wintools_keyPath(organisation, application).c_str(), 0, KEY_SET_VALUE,
                      &key)
        != ERROR_SUCCESS)
        return;
    RegDeleteValueW(key, L"updatePath");
    if (clear) {
        RegDeleteValueW(key, L"updateState");
    } else {
        static const wchar_t justUpdated[] = L"justUpdated";
        RegSetValueExW(key, L"updateState", 0, REG_SZ, reinterpret_cast<const BYTE *>(justUpdated),
                       sizeof(justUpdated));
    }
    RegCloseKey(key);
}

void updateUpdateInfo(const std::string &organisation, const std::string &application, bool clear)
{
    updateUpdateInfo(fromStdString(organisation), fromStdString(application), clear);
}
