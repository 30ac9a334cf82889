// The plain C exports (wintools.def) reach the same routines as the C++ names.
#include "testutil.h"
#include "wintools.h"

#include <gtest/gtest.h>

extern "C" {
unsigned short c_getArchitecture(void);
int c_cp1251(const char *in, char *out);
int c_fileExists(const wchar_t *wide, const char *narrow);
unsigned long c_deleteFile(const wchar_t *wide, const char *narrow);
long c_createLink(const wchar_t *target, const wchar_t *link);
int c_extractIconIsNull(void);
}

using namespace wt;

TEST(CNames, CallTheSameRoutines)
{
    EXPECT_EQ(c_getArchitecture(), getArchitecture());
    char out[16];
    EXPECT_EQ(c_cp1251("\xB9", out), 3);
    EXPECT_STREQ(out, "\xE2\x84\x96");

    const std::wstring dir = scratchDir(L"cnames");
    const std::string n(dir.begin(), dir.end());
    writeFile(dir + L"\\w.txt", "w");
    writeFile(dir + L"\\n.txt", "n");
    EXPECT_TRUE(c_fileExists((dir + L"\\w.txt").c_str(), (n + "\\n.txt").c_str()));
    EXPECT_EQ(c_deleteFile((dir + L"\\w.txt").c_str(), (n + "\\n.txt").c_str()), 0ul);
    EXPECT_FALSE(c_fileExists((dir + L"\\w.txt").c_str(), (n + "\\n.txt").c_str()));
    EXPECT_EQ(c_deleteFile((dir + L"\\w.txt").c_str(), (n + "\\n.txt").c_str()), 2002ul);

    EXPECT_EQ(c_createLink((binDir() + L"\\wintools_updater.exe").c_str(), (dir + L"\\c.lnk").c_str()), 0);
    EXPECT_TRUE(exists(dir + L"\\c.lnk"));
    EXPECT_TRUE(c_extractIconIsNull());

    // Looked up by name at run time, as a C caller loading the DLL would.
    HMODULE dll = GetModuleHandleW(L"wintools.dll");
    ASSERT_TRUE(dll);
    for (const char *name : {"CreateLink", "extractIcon", "getArchitecture", "cp1251_to_utf8", "deleteFileA",
                             "deleteFileW", "fileExistsA", "fileExistsW"})
        EXPECT_TRUE(GetProcAddress(dll, name)) << name;
}
