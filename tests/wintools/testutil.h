// Scratch folders, files, registry keys and child processes for the helper library's
// tests (Windows side, run under Wine in CI).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace wt {

// A new empty folder below the test's private root (NOVALINE_TEST_ROOT seen through
// Wine's Z: drive) or, without it, below the temporary folder.
std::wstring scratchDir(const std::wstring &tag);

void writeFile(const std::wstring &path, const std::string &bytes);
std::string readFile(const std::wstring &path);
bool exists(const std::wstring &path);
bool isDir(const std::wstring &path);
void makeDirs(const std::wstring &path);
// UTF-16LE bytes of a wide text, no byte-order mark.
std::string utf16le(const std::wstring &text);
std::string utf8(const std::wstring &text);
// A directory link at link pointing to target: a junction where the system makes one,
// else (Wine has no junctions) a Unix symbolic link, which Wine shows as a directory
// reparse point. False when neither can be made.
bool makeDirLink(const std::wstring &link, const std::wstring &target);

// Registry: a fresh application key HKCU\Software\<testOrganisation>\<name> per test.
extern const wchar_t *const testOrganisation;
std::wstring uniqueName(const std::wstring &prefix);
void regSetString(const std::wstring &app, const std::wstring &name, const std::wstring &value);
void regSetDword(const std::wstring &app, const std::wstring &name, DWORD value);
void regCreateKey(const std::wstring &app);
void regDeleteKey(const std::wstring &app);
bool regKeyExists(const std::wstring &app);
// Value type and bytes; type REG_NONE when missing.
struct RegValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> bytes;
    std::wstring text() const;
};
RegValue regGet(const std::wstring &app, const std::wstring &name);

// Directory of the test executable (also holds the DLL and the helper program).
std::wstring binDir();
std::wstring narrowToWide(const std::string &ascii);

struct RunResult {
    DWORD exitCode = 0xFFFFFFFF;
    std::string output; // standard output and error, carriage returns removed
    bool finished = false;
};
// Puts the DLL folder on PATH for child programs copied elsewhere.
void dllFolderOnPath();
// Runs a program with the given arguments (already quoted as needed) and waits up to
// timeoutMs. The DLL folder is on PATH for the child.
RunResult run(const std::wstring &program, const std::wstring &arguments, DWORD timeoutMs = 60000);

// Files (relative paths, "\" separated, sorted) below dir.
std::vector<std::wstring> tree(const std::wstring &dir);

} // namespace wt
