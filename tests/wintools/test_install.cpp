// Install location and version from the registry, the running executable, version texts.
#include "testutil.h"
#include "wintools.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <iostream>

using namespace wt;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

std::string captured()
{
    std::wcout.flush();
    std::cout.flush();
    std::string out;
    for (char c : GetCapturedStdout())
        if (c != '\r')
            out.push_back(c);
    return out;
}

std::uint32_t packed(unsigned major, unsigned minor, unsigned patch, unsigned stage, unsigned build)
{
    return major << 24 | minor << 16 | patch << 8 | stage << 4 | build;
}

class Registry : public testing::Test {
protected:
    void TearDown() override { regDeleteKey(app); }
    std::wstring app = uniqueName(L"Install");
    std::string appA() const { return std::string(app.begin(), app.end()); }
    const std::wstring org = testOrganisation;
    const std::string orgA = std::string(org.begin(), org.end());
};

} // namespace

TEST(Version, ReleaseAlphaAndReleaseCandidateTexts)
{
    EXPECT_EQ(33555600u, packed(2, 0, 4, 9, 0));
    EXPECT_EQ(versionA(33555600, true), "2.0.4");
    EXPECT_EQ(versionA(33555600, false), "2.0.4");
    EXPECT_EQ(versionA(packed(2, 0, 4, 0, 0), true), "2.0.4");
    EXPECT_EQ(versionA(packed(2, 0, 5, 1, 2), true), "2.0.5a2");
    EXPECT_EQ(versionA(packed(2, 0, 5, 1, 2), false), "2.0.5 Alpha 2");
    EXPECT_EQ(versionA(packed(10, 11, 12, 3, 0), true), "a.b.crc");
    EXPECT_EQ(versionA(packed(10, 11, 12, 3, 0), false), "a.b.c RC");
    EXPECT_EQ(versionA(packed(1, 2, 3, 2, 15), false), "1.2.3 Beta f");
    // A stage build without a known stage keeps the five-field form with no stage text.
    EXPECT_EQ(versionA(packed(2, 0, 4, 0, 5), true), "2.0.45");
    EXPECT_EQ(versionA(packed(2, 0, 4, 7, 5), false), "2.0.4  5");
    // The longest text fits the 16 characters the format allows.
    EXPECT_EQ(versionA(packed(255, 255, 255, 1, 15), false), "ff.ff.ff Alpha f");
}

TEST(Version, WideVariantPrintsItsTextAndNarrowPrintsNothing)
{
    CaptureStdout();
    const std::string narrow = versionA(packed(2, 0, 5, 1, 2), false);
    EXPECT_EQ(captured(), "");
    EXPECT_EQ(narrow, "2.0.5 Alpha 2");

    CaptureStdout();
    const std::wstring wide = version(packed(2, 0, 5, 1, 2), true);
    EXPECT_EQ(captured(), "2.0.5a2");
    EXPECT_EQ(wide, L"2.0.5a2");

    CaptureStdout();
    EXPECT_EQ(version(packed(10, 11, 12, 3, 0), false), L"a.b.c RC");
    EXPECT_EQ(captured(), "a.b.c RC");
}

TEST_F(Registry, InstallPathAndDirWithForwardSlashes)
{
    regSetString(app, L"installDir", L"C:/A/B/app.exe");
    CaptureStdout();
    EXPECT_EQ(getInstallPath(org, app), L"C:\\A\\B\\app.exe");
    EXPECT_EQ(getInstallDir(org, app), L"C:\\A\\B");
    EXPECT_EQ(getInstallPath(orgA, appA()), "C:\\A\\B\\app.exe");
    EXPECT_EQ(getInstallDir(orgA, appA()), "C:\\A\\B");
    EXPECT_EQ(captured(), "");

    regSetString(app, L"installDir", L"C:/Program Files/X/player.exe");
    EXPECT_EQ(getInstallDir(org, app), L"C:\\Program Files\\X");
    regSetString(app, L"installDir", L"app.exe");
    EXPECT_EQ(getInstallDir(org, app), L"app.exe"); // no backslash: unchanged
}

TEST_F(Registry, MissingKeyMessagesOncePerCall)
{
    CaptureStdout();
    EXPECT_EQ(getInstallPath(org, app), L"");
    EXPECT_EQ(captured(), "Error reading install dir from registry!\n");
    CaptureStdout();
    EXPECT_EQ(getInstallDir(orgA, appA()), "");
    EXPECT_EQ(captured(), "Error reading install dir from registry!\n");
    CaptureStdout();
    EXPECT_EQ(getInstalledVersion(org, app), 0);
    EXPECT_EQ(getInstalledVersion(orgA, appA()), 0);
    EXPECT_EQ(captured(), "Error reading version from registry!\nError reading version from registry!\n");
    EXPECT_FALSE(regKeyExists(app)); // reading creates nothing
}

TEST_F(Registry, MissingValuesGiveDefaultsSilently)
{
    regCreateKey(app);
    CaptureStdout();
    EXPECT_EQ(getInstallPath(org, app), L"");
    EXPECT_EQ(getInstallDir(orgA, appA()), "");
    EXPECT_EQ(getInstalledVersion(org, app), 0);
    EXPECT_EQ(captured(), "");
}

TEST_F(Registry, InstalledVersion)
{
    regSetDword(app, L"version", 33555600);
    EXPECT_EQ(getInstalledVersion(org, app), 33555600);
    EXPECT_EQ(getInstalledVersion(orgA, appA()), 33555600);
    regSetString(app, L"version", L"2.0.4"); // wrong type reads as unreadable
    EXPECT_EQ(getInstalledVersion(org, app), 0);
}

TEST_F(Registry, OverlongInstallPathGivesEmptyNotCut)
{
    const std::wstring fits = L"C:/" + std::wstring(256, L'f'); // 259 characters
    regSetString(app, L"installDir", fits);
    EXPECT_EQ(getInstallPath(org, app), L"C:\\" + std::wstring(256, L'f'));
    EXPECT_EQ(getInstallPath(orgA, appA()), "C:\\" + std::string(256, 'f'));

    regSetString(app, L"installDir", L"C:/" + std::wstring(300, L'x') + L"/app.exe");
    EXPECT_EQ(getInstallPath(org, app), L"");
    EXPECT_EQ(getInstallDir(org, app), L"");
    EXPECT_EQ(getInstallPath(orgA, appA()), "");
}

TEST(CurrentProcess, PathDirAndFileName)
{
    const std::wstring path = getCurrentPath();
    EXPECT_EQ(getCurrentFileName(), L"wintools_tests.exe");
    EXPECT_EQ(path, getCurrentDir() + L"\\wintools_tests.exe");
    EXPECT_EQ(getCurrentDir(), binDir());
    EXPECT_EQ(narrowToWide(getCurrentPathA()), path);
    EXPECT_EQ(narrowToWide(getCurrentDirA()), getCurrentDir());
}

TEST(CurrentProcess, NativeArchitecture)
{
    // Wine runs the 64-bit build natively.
    EXPECT_EQ(getArchitecture(), PROCESSOR_ARCHITECTURE_AMD64);
}
