// File, directory, text and folder helpers.
#include "testutil.h"
#include "wintools.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

using namespace wt;

namespace {

std::vector<std::wstring> sorted(std::vector<std::wstring> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

// a.txt, sub\b.txt, sub\inner\c.txt
std::wstring makeListingTree()
{
    const std::wstring dir = scratchDir(L"list");
    writeFile(dir + L"\\a.txt", "a");
    makeDirs(dir + L"\\sub\\inner");
    writeFile(dir + L"\\sub\\b.txt", "b");
    writeFile(dir + L"\\sub\\inner\\c.txt", "c");
    return dir;
}

std::string utf8Of(const std::string &cp1251)
{
    std::string out(cp1251.size() * 3 + 1, '\x7f');
    cp1251_to_utf8(&out[0], cp1251.c_str());
    return std::string(out.c_str());
}

FILE *streamOf(const std::string &bytes)
{
    const std::wstring path = scratchDir(L"lines") + L"\\update.txt";
    writeFile(path, bytes);
    return _wfopen(path.c_str(), L"rb");
}

} // namespace

TEST(FileList, ListsFilesDepthFirstWithFullPaths)
{
    const std::wstring dir = makeListingTree();
    std::vector<std::wstring> out{L"kept"};
    fileList(dir, out, {});
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0], L"kept"); // appended to, never cleared
    out.erase(out.begin());
    EXPECT_EQ(sorted(out), (std::vector<std::wstring>{dir + L"\\a.txt", dir + L"\\sub\\b.txt",
                                                      dir + L"\\sub\\inner\\c.txt"}));
    // The files of sub come together, at the point where sub is met.
    const auto b = std::find(out.begin(), out.end(), dir + L"\\sub\\b.txt");
    const auto c = std::find(out.begin(), out.end(), dir + L"\\sub\\inner\\c.txt");
    EXPECT_EQ(std::abs(static_cast<int>(b - c)), 1);
}

TEST(FileList, ExclusionsAreRelativeToTheRootAndCaseSensitive)
{
    const std::wstring dir = makeListingTree();
    std::vector<std::wstring> out;
    fileList(dir, out, {L"sub"});
    EXPECT_EQ(out, std::vector<std::wstring>{dir + L"\\a.txt"});

    out.clear();
    fileList(dir, out, {L"sub\\inner", L"a.txt"});
    EXPECT_EQ(out, std::vector<std::wstring>{dir + L"\\sub\\b.txt"});

    out.clear();
    fileList(dir, out, {L"SUB", L"sub\\"});
    EXPECT_EQ(out.size(), 3u);

    // A listing of a subfolder with the outer root keeps root-relative exclusions.
    out.clear();
    std::wstring root = dir;
    fileList(dir + L"\\sub", out, root, {L"sub\\inner"});
    EXPECT_EQ(out, std::vector<std::wstring>{dir + L"\\sub\\b.txt"});
}

TEST(FileList, NarrowVariantListsTheSame)
{
    const std::wstring dir = makeListingTree();
    const std::string narrowDir(dir.begin(), dir.end());
    std::vector<std::string> out;
    fileList(narrowDir, out, {"sub"});
    EXPECT_EQ(out, std::vector<std::string>{narrowDir + "\\a.txt"});
    out.clear();
    std::string root = narrowDir;
    fileList(narrowDir, out, root, {});
    EXPECT_EQ(out.size(), 3u);
}

TEST(FileList, MissingOrEmptyDirectoryGivesNothing)
{
    std::vector<std::wstring> out;
    fileList(scratchDir(L"none") + L"\\missing", out, {});
    EXPECT_TRUE(out.empty());
    // Not the root of the current drive.
    fileList(L"", out, {});
    EXPECT_TRUE(out.empty());
    std::vector<std::string> narrowOut;
    fileList(std::string(), narrowOut, {});
    EXPECT_TRUE(narrowOut.empty());
}

TEST(DeleteRecursive, KeepsAnExcludedFileAndItsParents)
{
    const std::wstring dir = scratchDir(L"del");
    makeDirs(dir + L"\\keep\\deep");
    makeDirs(dir + L"\\other\\x");
    writeFile(dir + L"\\top.txt", "1");
    writeFile(dir + L"\\keep\\y.txt", "2");
    writeFile(dir + L"\\keep\\deep\\k.txt", "keep me");
    writeFile(dir + L"\\other\\x\\z.txt", "3");
    deleteRecursive(dir, {dir + L"\\keep\\deep\\k.txt"});
    EXPECT_TRUE(isDir(dir));
    EXPECT_EQ(tree(dir), std::vector<std::wstring>{L"keep\\deep\\k.txt"});
    EXPECT_FALSE(exists(dir + L"\\other"));

    deleteRecursive(std::string(dir.begin(), dir.end()), {});
    EXPECT_TRUE(isDir(dir));
    EXPECT_TRUE(tree(dir).empty());
    EXPECT_FALSE(exists(dir + L"\\keep"));
}

TEST(DeleteFileEx, FileDirectoryAndMissingPath)
{
    const std::wstring dir = scratchDir(L"dfx");
    writeFile(dir + L"\\f.txt", "f");
    makeDirs(dir + L"\\d\\e");
    writeFile(dir + L"\\d\\e\\g.txt", "g");
    writeFile(dir + L"\\h.txt", "h");

    deleteFileEx(dir + L"\\missing");
    // The system resolves these to dir itself: nothing may be deleted.
    deleteFileEx(dir + L"\\d\\.");
    deleteFileEx(dir + L"\\d\\..");
    deleteFileEx(dir + L"\\d\\...");
    deleteFileEx(dir + L"\\d\\.. ");
    deleteFileEx(dir + L"\\d\\..\\d");
    deleteFileEx(dir + L"\\*.txt");
    deleteFileEx(L"\\\\?\\" + dir + L"\\*.txt");
    deleteFileEx(L"\\\\?\\" + dir + L"\\d\\..");
    EXPECT_EQ(tree(dir), (std::vector<std::wstring>{L"d\\e\\g.txt", L"f.txt", L"h.txt"}));

    // A long path is no pattern: its "?" belongs to the prefix.
    deleteFileEx(L"\\\\?\\" + dir + L"\\h.txt");
    EXPECT_FALSE(exists(dir + L"\\h.txt"));
    writeFile(dir + L"\\h.txt", "h");

    deleteFileEx(dir + L"\\f.txt");
    EXPECT_FALSE(exists(dir + L"\\f.txt"));
    deleteFileEx(std::string(dir.begin(), dir.end()) + "\\d");
    EXPECT_FALSE(exists(dir + L"\\d"));
    EXPECT_EQ(tree(dir), std::vector<std::wstring>{L"h.txt"});
}

TEST(SingleFileOps, ReturnWindowsErrorCodes)
{
    const std::wstring dir = scratchDir(L"ops");
    writeFile(dir + L"\\src.txt", "new");
    writeFile(dir + L"\\dst.txt", "old");
    EXPECT_EQ(copyFile(dir + L"\\src.txt", dir + L"\\dst.txt", false), 80u); // ERROR_FILE_EXISTS
    EXPECT_EQ(readFile(dir + L"\\dst.txt"), "old");
    EXPECT_EQ(copyFile(dir + L"\\src.txt", dir + L"\\dst.txt", true), 0u);
    EXPECT_EQ(readFile(dir + L"\\dst.txt"), "new");
    const std::string n(dir.begin(), dir.end());
    EXPECT_EQ(copyFile(n + "\\missing", n + "\\x", true), 2u);

    EXPECT_NE(moveFile(dir + L"\\src.txt", dir + L"\\dst.txt"), 0u); // no replacing
    EXPECT_EQ(moveFile(n + "\\src.txt", n + "\\moved.txt"), 0u);
    EXPECT_TRUE(exists(dir + L"\\moved.txt"));

    EXPECT_EQ(deleteFile((dir + L"\\moved.txt").c_str()), 0u);
    EXPECT_EQ(deleteFile((n + "\\moved.txt").c_str()), 2u); // ERROR_FILE_NOT_FOUND
    EXPECT_EQ(deleteFile((n + "\\dst.txt").c_str()), 0u);

    EXPECT_EQ(createPath(dir + L"\\p\\q\\r"), 0);
    EXPECT_TRUE(isDir(dir + L"\\p\\q\\r"));
    EXPECT_NE(createPath(n + "\\p\\q"), 0); // already there
}

TEST(FileExists, FilesDirectoriesAndPatterns)
{
    const std::wstring dir = scratchDir(L"fe");
    writeFile(dir + L"\\one.dll", "1");
    const std::string n(dir.begin(), dir.end());
    EXPECT_TRUE(fileExists((dir + L"\\one.dll").c_str()));
    EXPECT_TRUE(fileExists((n + "\\one.dll").c_str()));
    EXPECT_TRUE(fileExists(dir.c_str()));
    EXPECT_TRUE(fileExists((dir + L"\\*.dll").c_str()));
    EXPECT_FALSE(fileExists((dir + L"\\*.exe").c_str()));
    EXPECT_FALSE(fileExists((n + "\\two.dll").c_str()));
}

TEST(Strings, ParentDir)
{
    EXPECT_EQ(parentDir(std::wstring(L"C:\\A\\B\\app.exe")), L"C:\\A\\B");
    EXPECT_EQ(parentDir(std::wstring(L"C:")), L"C:");
    EXPECT_EQ(parentDir(std::wstring(L"C:\\A\\")), L"C:\\A");
    EXPECT_EQ(parentDir(std::wstring(L"C:/A/B")), L"C:/A/B"); // forward slashes are no separators
    EXPECT_EQ(parentDir(std::wstring()), L"");
    EXPECT_EQ(parentDir(std::string("D:\\x\\y")), "D:\\x");
}

TEST(Strings, ReplaceAll)
{
    std::wstring path = L"C:/Program Files/X/player.exe";
    replaceAll(L"/", L"\\", path);
    EXPECT_EQ(path, L"C:\\Program Files\\X\\player.exe");

    // Inserted text is never searched again.
    std::string grow = "aaa";
    replaceAll("a", "aa", grow);
    EXPECT_EQ(grow, "aaaaaa");
    std::string shrink = "aaaa";
    replaceAll("aa", "a", shrink);
    EXPECT_EQ(shrink, "aa");
    std::string same = "abc";
    replaceAll("", "x", same);
    EXPECT_EQ(same, "abc");
}

TEST(Strings, FromStdStringWidensSignedBytes)
{
    const std::wstring w = fromStdString(std::string("A\x7f\x80\xff", 4));
    ASSERT_EQ(w.size(), 4u);
    EXPECT_EQ(w[0], L'A');
    EXPECT_EQ(w[1], 0x7f);
    EXPECT_EQ(w[2], 0xff80);
    EXPECT_EQ(w[3], 0xffff);
}

TEST(Cp1251, KnownBytes)
{
    EXPECT_EQ(utf8Of("\xC0"), "\xD0\x90");
    EXPECT_EQ(utf8Of("\x98"), "");
    EXPECT_EQ(utf8Of("\xB9"), "\xE2\x84\x96");
    EXPECT_EQ(utf8Of("Tv \xCA\xE0\xED\xE0\xEB 1"), "Tv \xD0\x9A\xD0\xB0\xD0\xBD\xD0\xB0\xD0\xBB 1");
    EXPECT_EQ(utf8Of(""), "");
}

TEST(Cp1251, MatchesTheSystemCodePageForEveryByte)
{
    for (int b = 0x01; b <= 0xFF; ++b) {
        if (b == 0x98)
            continue;
        const char in[2] = {static_cast<char>(b), 0};
        wchar_t wide[4] = {};
        ASSERT_EQ(MultiByteToWideChar(1251, 0, in, 1, wide, 4), 1);
        char expected[8] = {};
        WideCharToMultiByte(CP_UTF8, 0, wide, 1, expected, sizeof(expected), nullptr, nullptr);
        EXPECT_EQ(utf8Of(in), std::string(expected)) << "byte " << b;
    }
}

TEST(WreadLine, CrLfAndFinalLineWithoutLineFeed)
{
    FILE *f = streamOf(utf16le(L"ab\r\nc"));
    ASSERT_TRUE(f);
    std::wstring line;
    ASSERT_TRUE(wreadLine(f, &line));
    EXPECT_EQ(line, L"ab");
    ASSERT_TRUE(wreadLine(f, &line));
    EXPECT_EQ(line, L"c");
    EXPECT_FALSE(wreadLine(f, &line));
    std::fclose(f);
}

TEST(WreadLine, UnitWithLowByte0AIsNoLineFeed)
{
    // U+010A and U+0A0A carry the byte 0x0A without being line feeds.
    FILE *f = streamOf(utf16le(L"x\x010Ay\n\x0A0A\x0D0A\n\nlast\n"));
    ASSERT_TRUE(f);
    std::wstring line;
    ASSERT_TRUE(wreadLine(f, &line));
    EXPECT_EQ(line, L"x\x010Ay");
    ASSERT_TRUE(wreadLine(f, &line));
    EXPECT_EQ(line, L"\x0A0A\x0D0A");
    ASSERT_TRUE(wreadLine(f, &line));
    EXPECT_EQ(line, L"");
    ASSERT_TRUE(wreadLine(f, &line));
    EXPECT_EQ(line, L"last");
    EXPECT_FALSE(wreadLine(f, &line));
    std::fclose(f);
}

TEST(WreadLine, LineLengthLimitAndByteOrderMark)
{
    const std::wstring longest(127, L'x');
    FILE *f = streamOf(utf16le(L"\xFEFFhi\n" + longest + L"\n" + std::wstring(126, L'y') + L"\r\n"
                               + std::wstring(128, L'z') + L"\nafter\n"));
    ASSERT_TRUE(f);
    std::wstring line;
    ASSERT_TRUE(wreadLine(f, &line));
    EXPECT_EQ(line, L"\xFEFFhi"); // no mark is skipped
    ASSERT_TRUE(wreadLine(f, &line));
    EXPECT_EQ(line, longest);
    ASSERT_TRUE(wreadLine(f, &line));
    EXPECT_EQ(line, std::wstring(126, L'y'));
    EXPECT_FALSE(wreadLine(f, &line)); // a longer line ends the reading
    std::fclose(f);

    EXPECT_FALSE(wreadLine(nullptr, &line));
    FILE *empty = streamOf("");
    EXPECT_FALSE(wreadLine(empty, &line));
    std::fclose(empty);
}

TEST(Folders, ShellFoldersAndTemp)
{
    const std::wstring temp = tempPath();
    ASSERT_FALSE(temp.empty());
    EXPECT_EQ(temp.back(), L'\\');
    EXPECT_EQ(narrowToWide(tempPathA()), temp);
    const std::wstring desktop = desktopPath();
    ASSERT_FALSE(desktop.empty());
    EXPECT_NE(desktop.back(), L'\\');
    EXPECT_EQ(narrowToWide(desktopPathA()), desktop);
    EXPECT_FALSE(startPath().empty());
    EXPECT_EQ(narrowToWide(startPathA()), startPath());
    EXPECT_FALSE(commonStartPath().empty());
    EXPECT_EQ(narrowToWide(commonStartPathA()), commonStartPath());
    EXPECT_FALSE(commonDesktopPath().empty());
    EXPECT_EQ(narrowToWide(commonDesktopPathA()), commonDesktopPath());
    EXPECT_NE(desktopPath(), commonDesktopPath());
}
