// File, directory, text and shell-folder helpers.
#include "wintools.h"
#include "wintools_p.h"

#include <shlobj.h>

#include <cwchar>

namespace {

// The find API in its two widths, so that the narrow listing runs on the narrow
// functions (bytes as they are) while sharing one implementation.
template <typename Ch> struct FindApi;

template <> struct FindApi<wchar_t> {
    using Data = WIN32_FIND_DATAW;
    static HANDLE first(const std::wstring &p, Data *d) { return FindFirstFileW(p.c_str(), d); }
    static BOOL next(HANDLE h, Data *d) { return FindNextFileW(h, d); }
    static constexpr const wchar_t *allPattern = L"\\*";
    static constexpr const wchar_t *sep = L"\\";
    static constexpr const wchar_t *dot = L".";
    static constexpr const wchar_t *dotdot = L"..";
};

template <> struct FindApi<char> {
    using Data = WIN32_FIND_DATAA;
    static HANDLE first(const std::string &p, Data *d) { return FindFirstFileA(p.c_str(), d); }
    static BOOL next(HANDLE h, Data *d) { return FindNextFileA(h, d); }
    static constexpr const char *allPattern = "\\*";
    static constexpr const char *sep = "\\";
    static constexpr const char *dot = ".";
    static constexpr const char *dotdot = "..";
};

template <typename Ch> struct Entry {
    std::basic_string<Ch> name;
    DWORD attributes;
};

// Directory entries except "." and "..". Read completely before the caller acts on
// them, so deleting while walking does not disturb the enumeration.
template <typename Ch> std::vector<Entry<Ch>> listEntries(const std::basic_string<Ch> &dir)
{
    using Api = FindApi<Ch>;
    std::vector<Entry<Ch>> entries;
    typename Api::Data data;
    HANDLE h = Api::first(dir + Api::allPattern, &data);
    if (h == INVALID_HANDLE_VALUE)
        return entries;
    do {
        std::basic_string<Ch> name = data.cFileName;
        if (name == Api::dot || name == Api::dotdot)
            continue;
        entries.push_back({name, data.dwFileAttributes});
    } while (Api::next(h, &data));
    FindClose(h);
    return entries;
}

bool isDirectory(DWORD attributes) { return attributes & FILE_ATTRIBUTE_DIRECTORY; }

// Junctions and directory links are not followed: their targets lie outside the tree
// and may lead back into it.
bool isLink(DWORD attributes) { return attributes & FILE_ATTRIBUTE_REPARSE_POINT; }

template <typename Ch>
void fileListT(const std::basic_string<Ch> &dir, std::vector<std::basic_string<Ch>> &out,
               const std::basic_string<Ch> &root, const std::vector<std::basic_string<Ch>> &excludes)
{
    using Api = FindApi<Ch>;
    for (const Entry<Ch> &e : listEntries(dir)) {
        const std::basic_string<Ch> full = dir + Api::sep + e.name;
        bool excluded = false;
        for (const auto &x : excludes) {
            if (full == root + Api::sep + x) {
                excluded = true;
                break;
            }
        }
        if (excluded)
            continue;
        if (isDirectory(e.attributes)) {
            if (!isLink(e.attributes))
                fileListT(full, out, root, excludes);
        } else {
            out.push_back(full);
        }
    }
}

template <typename Ch> std::basic_string<Ch> parentDirT(const std::basic_string<Ch> &path, Ch sep)
{
    const auto pos = path.rfind(sep);
    return pos == std::basic_string<Ch>::npos ? path : path.substr(0, pos);
}

template <typename Ch>
void replaceAllT(const std::basic_string<Ch> &from, const std::basic_string<Ch> &to, std::basic_string<Ch> &subject)
{
    if (from.empty())
        return;
    std::size_t pos = 0;
    while ((pos = subject.find(from, pos)) != std::basic_string<Ch>::npos) {
        subject.replace(pos, from.size(), to);
        pos += to.size();
    }
}

std::wstring specialFolder(int csidl)
{
    wchar_t buf[MAX_PATH + 1] = {};
    if (!SHGetSpecialFolderPathW(nullptr, buf, csidl, FALSE))
        return std::wstring();
    return buf;
}

std::string specialFolderA(int csidl)
{
    char buf[MAX_PATH + 1] = {};
    if (!SHGetSpecialFolderPathA(nullptr, buf, csidl, FALSE))
        return std::string();
    return buf;
}

// Code points of Windows-1251 bytes 0x80-0xBF; 0 marks the unassigned 0x98. Bytes
// 0xC0-0xFF are U+0410-U+044F.
const unsigned short cp1251High[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F, // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90
    0x0000, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457, // B8
};

} // namespace

bool wintools_isDotPart(const std::wstring &part)
{
    return !part.empty() && part.find_first_not_of(L". ") == std::wstring::npos;
}

bool wintools_hasDotComponent(const std::wstring &path)
{
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find_first_of(L"\\/", start);
        if (end == std::wstring::npos)
            end = path.size();
        if (wintools_isDotPart(path.substr(start, end - start)))
            return true;
        start = end + 1;
    }
    return false;
}

std::vector<std::wstring> wintools_widen(const std::vector<std::string> &list)
{
    std::vector<std::wstring> out;
    out.reserve(list.size());
    for (const auto &s : list)
        out.push_back(fromStdString(s));
    return out;
}

std::wstring wintools_finalPath(const std::wstring &path, bool followLast)
{
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLast ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    HANDLE h = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return std::wstring();
    std::wstring buf(MAX_PATH + 1, L'\0');
    DWORD n = GetFinalPathNameByHandleW(h, &buf[0], static_cast<DWORD>(buf.size()), FILE_NAME_NORMALIZED);
    if (n >= buf.size()) {
        buf.assign(n + 1, L'\0');
        n = GetFinalPathNameByHandleW(h, &buf[0], static_cast<DWORD>(buf.size()), FILE_NAME_NORMALIZED);
    }
    CloseHandle(h);
    if (n == 0 || n >= buf.size())
        return std::wstring();
    buf.resize(n);
    return buf;
}

DWORD copyFile(const std::wstring &source, const std::wstring &destination, bool overwrite)
{
    return CopyFileW(source.c_str(), destination.c_str(), !overwrite) ? 0 : GetLastError();
}

DWORD copyFile(const std::string &source, const std::string &destination, bool overwrite)
{
    return copyFile(fromStdString(source), fromStdString(destination), overwrite);
}

DWORD moveFile(const std::wstring &source, const std::wstring &destination)
{
    return MoveFileW(source.c_str(), destination.c_str()) ? 0 : GetLastError();
}

DWORD moveFile(const std::string &source, const std::string &destination)
{
    return moveFile(fromStdString(source), fromStdString(destination));
}

DWORD deleteFile(const wchar_t *path)
{
    if (!path)
        return ERROR_INVALID_PARAMETER;
    return DeleteFileW(path) ? 0 : GetLastError();
}

DWORD deleteFile(const char *path)
{
    if (!path)
        return ERROR_INVALID_PARAMETER;
    return DeleteFileA(path) ? 0 : GetLastError();
}

int createPath(const std::wstring &path) { return SHCreateDirectoryExW(nullptr, path.c_str(), nullptr); }

int createPath(const std::string &path) { return createPath(fromStdString(path)); }

bool fileExists(const wchar_t *path)
{
    if (!path)
        return false;
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileW(path, &data);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    FindClose(h);
    return true;
}

bool fileExists(const char *path)
{
    if (!path)
        return false;
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA(path, &data);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    FindClose(h);
    return true;
}

// An empty directory would make "\*" the root of the current drive: it lists nothing.
void fileList(const std::wstring &dir, std::vector<std::wstring> &out, std::wstring &root,
              std::vector<std::wstring> excludes)
{
    if (!dir.empty())
        fileListT(dir, out, root, excludes);
}

void fileList(const std::wstring &dir, std::vector<std::wstring> &out, std::vector<std::wstring> excludes)
{
    if (!dir.empty())
        fileListT(dir, out, dir, excludes);
}

void fileList(const std::string &dir, std::vector<std::string> &out, std::string &root,
              std::vector<std::string> excludes)
{
    if (!dir.empty())
        fileListT(dir, out, root, excludes);
}

void fileList(const std::string &dir, std::vector<std::string> &out, std::vector<std::string> excludes)
{
    if (!dir.empty())
        fileListT(dir, out, dir, excludes);
}

void deleteRecursive(std::wstring dir, std::vector<std::wstring> excludes)
{
    // An empty directory would make "\*" the root of the current drive.
    if (dir.empty())
        return;
    for (const Entry<wchar_t> &e : listEntries(dir)) {
        const std::wstring full = dir + L"\\" + e.name;
        bool excluded = false;
        for (const auto &x : excludes) {
            if (full == x) {
                excluded = true;
                break;
            }
        }
        if (excluded)
            continue;
        if (isDirectory(e.attributes)) {
            // A link is removed itself; what it points to is not ours.
            if (!isLink(e.attributes))
                deleteRecursive(full, excludes);
            RemoveDirectoryW(full.c_str());
        } else {
            DeleteFileW(full.c_str());
        }
    }
}

void deleteRecursive(std::string dir, std::vector<std::string> excludes)
{
    deleteRecursive(fromStdString(dir), wintools_widen(excludes));
}

void deleteFileEx(std::wstring path)
{
    // A pattern would make the entry found differ from the path acted on, and the
    // system resolves "." and ".." components before finding the entry: "dir\sub\.."
    // would find dir itself and empty it. The "?" of a long-path prefix is no pattern.
    const std::size_t body = path.compare(0, 4, L"\\\\?\\") == 0 ? 4 : 0;
    if (path.size() == body || path.find_first_of(L"*?", body) != std::wstring::npos
        || wintools_hasDotComponent(path.substr(body)))
        return;
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileW(path.c_str(), &data);
    if (h == INVALID_HANDLE_VALUE)
        return;
    FindClose(h);
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..")
        return;
    if (isDirectory(data.dwFileAttributes)) {
        if (!isLink(data.dwFileAttributes))
            deleteRecursive(path, {});
        RemoveDirectoryW(path.c_str());
    } else {
        DeleteFileW(path.c_str());
    }
}

void deleteFileEx(std::string path) { deleteFileEx(fromStdString(path)); }

std::wstring parentDir(const std::wstring &path) { return parentDirT(path, L'\\'); }

std::string parentDir(const std::string &path) { return parentDirT(path, '\\'); }

void replaceAll(const std::wstring &from, const std::wstring &to, std::wstring &subject)
{
    replaceAllT(from, to, subject);
}

void replaceAll(const std::string &from, const std::string &to, std::string &subject)
{
    replaceAllT(from, to, subject);
}

std::wstring fromStdString(const std::string &text)
{
    std::wstring out(text.size(), L'\0');
    for (std::size_t i = 0; i < text.size(); ++i)
        out[i] = static_cast<wchar_t>(static_cast<short>(static_cast<signed char>(text[i])));
    return out;
}

void cp1251_to_utf8(char *out, const char *in)
{
    if (!out)
        return;
    if (!in) {
        *out = 0;
        return;
    }
    for (; *in; ++in) {
        const unsigned char c = static_cast<unsigned char>(*in);
        if (c < 0x80) {
            *out++ = static_cast<char>(c);
            continue;
        }
        const unsigned cp = c >= 0xC0 ? 0x0410u + (c - 0xC0u) : cp1251High[c - 0x80];
        if (cp == 0)
            continue;
        if (cp < 0x800) {
            *out++ = static_cast<char>(0xC0 | (cp >> 6));
            *out++ = static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            *out++ = static_cast<char>(0xE0 | (cp >> 12));
            *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            *out++ = static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    *out = 0;
}

bool wreadLine(FILE *stream, std::wstring *line)
{
    if (!stream || !line)
        return false;
    // Whole 16-bit units: a unit such as U+010A carries the byte 0x0A without being a
    // line feed. A line may hold 127 units before its line feed (126 with a carriage
    // return), a final line 127 units.
    constexpr std::size_t maxUnits = 128;
    std::wstring units;
    bool ended = false;
    while (!ended && units.size() < maxUnits) {
        unsigned char b[2];
        if (std::fread(b, 1, 2, stream) < 2) {
            // End of file: a final line without line feed; a lone odd byte is no unit.
            if (units.empty())
                return false;
            ended = true;
            break;
        }
        const wchar_t u = static_cast<wchar_t>(b[0] | (b[1] << 8));
        if (u == L'\n' || u == L'\0')
            ended = true;
        else
            units.push_back(u);
    }
    if (!ended)
        return false;
    if (!units.empty() && units.back() == L'\r')
        units.pop_back();
    *line = units;
    return true;
}

std::wstring startPath() { return specialFolder(CSIDL_STARTMENU); }
std::string startPathA() { return specialFolderA(CSIDL_STARTMENU); }
std::wstring desktopPath() { return specialFolder(CSIDL_DESKTOPDIRECTORY); }
std::string desktopPathA() { return specialFolderA(CSIDL_DESKTOPDIRECTORY); }
std::wstring commonStartPath() { return specialFolder(CSIDL_COMMON_STARTMENU); }
std::string commonStartPathA() { return specialFolderA(CSIDL_COMMON_STARTMENU); }
std::wstring commonDesktopPath() { return specialFolder(CSIDL_COMMON_DESKTOPDIRECTORY); }
std::string commonDesktopPathA() { return specialFolderA(CSIDL_COMMON_DESKTOPDIRECTORY); }

std::wstring tempPath()
{
    std::wstring buf(MAX_PATH + 1, L'\0');
    DWORD n = GetTempPathW(static_cast<DWORD>(buf.size()), &buf[0]);
    if (n > buf.size()) {
        buf.assign(n, L'\0');
        n = GetTempPathW(static_cast<DWORD>(buf.size()), &buf[0]);
    }
    if (n == 0 || n >= buf.size())
        return std::wstring();
    buf.resize(n);
    return buf;
}

std::string tempPathA()
{
    std::string buf(MAX_PATH + 1, '\0');
    DWORD n = GetTempPathA(static_cast<DWORD>(buf.size()), &buf[0]);
    if (n > buf.size()) {
        buf.assign(n, '\0');
        n = GetTempPathA(static_cast<DWORD>(buf.size()), &buf[0]);
    }
    if (n == 0 || n >= buf.size())
        return std::string();
    buf.resize(n);
    return buf;
}
