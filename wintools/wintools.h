// Exported Windows helper routines of the player's installation: install location and
// version, installing and rolling back an unpacked update, file and folder helpers,
// shortcuts, processes, access lists and window activation.
//
// Narrow variants take 8-bit strings and, unless noted, widen them byte by byte
// (fromStdString), so only 7-bit ASCII converts faithfully. Routines with plain C
// signatures are also exported under C names (wintools_c.h).
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#ifdef WINTOOLS_BUILDING_DLL
#define WINTOOLS_API __declspec(dllexport)
#else
#define WINTOOLS_API __declspec(dllimport)
#endif

// ---- Update install and rollback -------------------------------------------------

// Installs the files of the running executable's directory over the installation
// directory recorded in HKCU\Software\<organisation>\<application>, keeping ".back"
// copies of replaced files, then applies the deletion list "update.txt".
WINTOOLS_API bool doUpdate(const std::wstring &organisation, const std::wstring &application,
                           std::initializer_list<std::wstring> excludes = {});

// Removes the ".back" files below the installation directory. Always true.
WINTOOLS_API bool cleanupUpdate(const std::wstring &organisation, const std::wstring &application,
                                std::vector<std::wstring> excludes = {});
WINTOOLS_API bool cleanupUpdate(const std::string &organisation, const std::string &application,
                                std::vector<std::string> excludes = {});

// Puts every ".back" file below the installation directory back in place. Always true.
WINTOOLS_API bool rollbackUpdate(const std::wstring &organisation, const std::wstring &application,
                                 std::vector<std::wstring> excludes = {});
WINTOOLS_API bool rollbackUpdate(const std::string &organisation, const std::string &application,
                                 std::vector<std::string> excludes = {});

// Deletes "updatePath"; clear deletes "updateState", otherwise sets it to "justUpdated".
WINTOOLS_API void updateUpdateInfo(const std::wstring &organisation, const std::wstring &application,
                                   bool clear);
WINTOOLS_API void updateUpdateInfo(const std::string &organisation, const std::string &application,
                                   bool clear);

// ---- Install location and version ------------------------------------------------

// "installDir" of the registry key with "/" turned into "\"; empty when missing or
// longer than the path limit.
WINTOOLS_API std::wstring getInstallPath(const std::wstring &organisation, const std::wstring &application);
WINTOOLS_API std::string getInstallPath(const std::string &organisation, const std::string &application);
WINTOOLS_API std::wstring getInstallDir(const std::wstring &organisation, const std::wstring &application);
WINTOOLS_API std::string getInstallDir(const std::string &organisation, const std::string &application);
// "version" of the registry key, 0 when unreadable.
WINTOOLS_API int getInstalledVersion(const std::wstring &organisation, const std::wstring &application);
WINTOOLS_API int getInstalledVersion(const std::string &organisation, const std::string &application);

// Text of a packed version (major.minor.patch, stage, stage build; hexadecimal digits).
// The wide variant also writes the text to the wide standard output.
WINTOOLS_API std::wstring version(std::uint32_t packed, bool shortForm);
WINTOOLS_API std::string versionA(std::uint32_t packed, bool shortForm);

WINTOOLS_API unsigned short getArchitecture();

WINTOOLS_API std::wstring getCurrentPath();
WINTOOLS_API std::string getCurrentPathA();
WINTOOLS_API std::wstring getCurrentDir();
WINTOOLS_API std::string getCurrentDirA();
WINTOOLS_API std::wstring getCurrentFileName();

// ---- File helpers ------------------------------------------------------------------

// Single-file operations: 0 on success, otherwise the Windows error code.
WINTOOLS_API DWORD copyFile(const std::wstring &source, const std::wstring &destination, bool overwrite);
WINTOOLS_API DWORD copyFile(const std::string &source, const std::string &destination, bool overwrite);
WINTOOLS_API DWORD moveFile(const std::wstring &source, const std::wstring &destination);
WINTOOLS_API DWORD moveFile(const std::string &source, const std::string &destination);
WINTOOLS_API DWORD deleteFile(const wchar_t *path);
WINTOOLS_API DWORD deleteFile(const char *path); // ANSI code page, not widened
WINTOOLS_API int createPath(const std::wstring &path);
WINTOOLS_API int createPath(const std::string &path);

WINTOOLS_API bool fileExists(const wchar_t *path);
WINTOOLS_API bool fileExists(const char *path); // ANSI code page, not widened

// Appends the full path of every file below dir (depth first). An entry is skipped with
// everything below it when its path equals root + "\" + an exclusion.
WINTOOLS_API void fileList(const std::wstring &dir, std::vector<std::wstring> &out, std::wstring &root,
                           std::vector<std::wstring> excludes);
WINTOOLS_API void fileList(const std::wstring &dir, std::vector<std::wstring> &out,
                           std::vector<std::wstring> excludes);
WINTOOLS_API void fileList(const std::string &dir, std::vector<std::string> &out, std::string &root,
                           std::vector<std::string> excludes);
WINTOOLS_API void fileList(const std::string &dir, std::vector<std::string> &out,
                           std::vector<std::string> excludes);

// Deletes everything below dir except the excluded full paths; dir itself stays.
WINTOOLS_API void deleteRecursive(std::wstring dir, std::vector<std::wstring> excludes);
WINTOOLS_API void deleteRecursive(std::string dir, std::vector<std::string> excludes);
// Deletes one file, or one directory with everything below it.
WINTOOLS_API void deleteFileEx(std::wstring path);
WINTOOLS_API void deleteFileEx(std::string path);

WINTOOLS_API std::wstring parentDir(const std::wstring &path);
WINTOOLS_API std::string parentDir(const std::string &path);
WINTOOLS_API void replaceAll(const std::wstring &from, const std::wstring &to, std::wstring &subject);
WINTOOLS_API void replaceAll(const std::string &from, const std::string &to, std::string &subject);
WINTOOLS_API std::wstring fromStdString(const std::string &text);
// out must hold 3 bytes per input byte plus one.
WINTOOLS_API void cp1251_to_utf8(char *out, const char *in);
// Reads one UTF-16LE line (at most 127 units, LF or CR LF ended) from a binary stream.
WINTOOLS_API bool wreadLine(FILE *stream, std::wstring *line);

// Shell folders without trailing backslash (tempPath keeps it); empty on failure.
WINTOOLS_API std::wstring startPath();
WINTOOLS_API std::string startPathA();
WINTOOLS_API std::wstring desktopPath();
WINTOOLS_API std::string desktopPathA();
WINTOOLS_API std::wstring commonStartPath();
WINTOOLS_API std::string commonStartPathA();
WINTOOLS_API std::wstring commonDesktopPath();
WINTOOLS_API std::string commonDesktopPathA();
WINTOOLS_API std::wstring tempPath();
WINTOOLS_API std::string tempPathA();

// ---- Shell, process and security helpers -----------------------------------------

WINTOOLS_API HRESULT CreateLink(const wchar_t *target, const wchar_t *linkFile, const wchar_t *description);
// Number of running processes whose executable file name equals name (case-sensitive).
WINTOOLS_API int findRunningProcess(std::wstring name);
WINTOOLS_API int findRunningProcess(std::string name);
// Starts path elevated with the argument "admin" and waits for it to end.
WINTOOLS_API bool runasAdmin(const std::wstring &path);
WINTOOLS_API bool runasAdmin(const std::string &path);
// Grants the local users group full control, inherited below.
WINTOOLS_API bool updateAcl(const std::wstring &path);
WINTOOLS_API bool updateAcl(const std::string &path);
// The shell icon of a file from the system image list of the given size; caller owns it.
WINTOOLS_API HICON extractIcon(const wchar_t *path, int size);

// ---- Window activation -----------------------------------------------------------

// Brings the top-level window with exactly this title to the front.
WINTOOLS_API bool activateWindow(const std::wstring &title);
WINTOOLS_API bool activateWindow(const std::string &title);
