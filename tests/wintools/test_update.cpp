// Installing an update from an update folder, rollback, cleanup and the registry
// outcome. doUpdate works on the running executable's folder, so it runs in a helper
// program copied into a fresh update folder.
#include "testutil.h"
#include "wintools.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace wt;

namespace {

std::string narrow(const std::wstring &w) { return std::string(w.begin(), w.end()); }

class Update : public testing::Test {
protected:
    void SetUp() override
    {
        root = scratchDir(L"upd");
        upd = root + L"\\update";
        inst = root + L"\\install\\IPTV";
        makeDirs(upd);
        makeDirs(inst);
        updater = upd + L"\\updater.exe";
        ASSERT_TRUE(CopyFileW((binDir() + L"\\wintools_updater.exe").c_str(), updater.c_str(), FALSE));
        setInstallPath(inst + L"\\IPTV.exe");
    }
    void TearDown() override
    {
        regDeleteKey(app);
        SetEnvironmentVariableW(L"WINTOOLS_TEST_ADMIN_LOG", nullptr);
        SetEnvironmentVariableW(L"WINTOOLS_TEST_FIX_PATH", nullptr);
    }
    // The player records its path with forward slashes.
    void setInstallPath(std::wstring path)
    {
        std::replace(path.begin(), path.end(), L'\\', L'/');
        regSetString(app, L"installDir", path);
    }
    RunResult runUpdater(const std::wstring &mode) { return run(updater, mode + L" " + org + L" " + app); }
    std::string header(const std::wstring &installDir) const
    {
        return "Install dir: " + narrow(installDir) + "\nSelf dir: " + narrow(upd) + "\nSelf path: "
            + narrow(updater) + "\n";
    }
    void adminLog()
    {
        adminLogPath = root + L"\\admin.log";
        SetEnvironmentVariableW(L"WINTOOLS_TEST_ADMIN_LOG", adminLogPath.c_str());
    }

    const std::wstring org = testOrganisation;
    const std::wstring app = uniqueName(L"Update");
    std::wstring root, upd, inst, updater, adminLogPath;
};

} // namespace

TEST_F(Update, FromTheInstallDirDoesNothing)
{
    setInstallPath(updater);
    writeFile(upd + L"\\a.dll", "new");
    writeFile(upd + L"\\b.dll.back", "backup");
    const RunResult r = runUpdater(L"update");
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.output, header(upd) + "Launched from install dir!");
    EXPECT_EQ(runUpdater(L"cleanup").exitCode, 0u);
    EXPECT_EQ(runUpdater(L"rollback").exitCode, 0u);
    EXPECT_EQ(tree(upd), (std::vector<std::wstring>{L"a.dll", L"b.dll.back", L"updater.exe"}));
    EXPECT_TRUE(tree(inst).empty());

    // Windows paths ignore letter case: the same folder spelt otherwise is still it.
    std::wstring upper = upd;
    for (auto &c : upper)
        c = towupper(c);
    setInstallPath(upper + L"\\IPTV.exe");
    const RunResult again = runUpdater(L"update");
    EXPECT_EQ(again.exitCode, 0u);
    EXPECT_EQ(again.output, header(upper) + "Launched from install dir!");
    EXPECT_EQ(tree(upd), (std::vector<std::wstring>{L"a.dll", L"b.dll.back", L"updater.exe"}));
}

TEST_F(Update, InstallsWithBackupsAndSubdirectoriesThenCleansUp)
{
    writeFile(inst + L"\\IPTV.exe", "old exe");
    writeFile(inst + L"\\keep.txt", "untouched");
    writeFile(upd + L"\\IPTV.exe", "new exe");
    writeFile(upd + L"\\updater.exe.manifest", "manifest");
    makeDirs(upd + L"\\plugins\\codec");
    writeFile(upd + L"\\plugins\\codec\\c.dll", "codec");
    const RunResult r = runUpdater(L"update");
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_EQ(r.output, header(inst));
    EXPECT_EQ(tree(inst), (std::vector<std::wstring>{L"IPTV.exe", L"IPTV.exe.back", L"keep.txt",
                                                     L"plugins\\codec\\c.dll"}));
    EXPECT_EQ(readFile(inst + L"\\IPTV.exe"), "new exe");
    EXPECT_EQ(readFile(inst + L"\\IPTV.exe.back"), "old exe");
    EXPECT_EQ(readFile(inst + L"\\plugins\\codec\\c.dll"), "codec");

    EXPECT_TRUE(cleanupUpdate(org, app));
    EXPECT_EQ(tree(inst), (std::vector<std::wstring>{L"IPTV.exe", L"keep.txt", L"plugins\\codec\\c.dll"}));
}

TEST_F(Update, ExcludedPathsAreNotInstalled)
{
    makeDirs(upd + L"\\skipdir");
    makeDirs(upd + L"\\sub");
    writeFile(upd + L"\\skipdir\\x.dll", "x");
    writeFile(upd + L"\\sub\\skip.txt", "s");
    writeFile(upd + L"\\sub\\take.txt", "t");
    const RunResult r = runUpdater(L"update-ex");
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_EQ(tree(inst), std::vector<std::wstring>{L"sub\\take.txt"});
}

TEST_F(Update, StaleBackupStaysAndRollbackRestoresIt)
{
    writeFile(inst + L"\\a.dll", "current");
    writeFile(inst + L"\\a.dll.back", "stale");
    writeFile(upd + L"\\a.dll", "new");
    writeFile(upd + L"\\added.dll", "added");
    const RunResult r = runUpdater(L"update");
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_EQ(readFile(inst + L"\\a.dll"), "new");
    EXPECT_EQ(readFile(inst + L"\\a.dll.back"), "stale");

    EXPECT_TRUE(rollbackUpdate(narrow(org), narrow(app)));
    EXPECT_EQ(readFile(inst + L"\\a.dll"), "stale");
    // Files the update added are not removed by a rollback.
    EXPECT_EQ(tree(inst), (std::vector<std::wstring>{L"a.dll", L"added.dll"}));
}

TEST_F(Update, RollbackAndCleanupHonourExclusions)
{
    makeDirs(inst + L"\\data");
    writeFile(inst + L"\\a.dll", "new");
    writeFile(inst + L"\\a.dll.back", "old");
    writeFile(inst + L"\\data\\d.dat.back", "user data");
    EXPECT_TRUE(rollbackUpdate(org, app, {L"data"}));
    EXPECT_EQ(readFile(inst + L"\\a.dll"), "old");
    EXPECT_TRUE(cleanupUpdate(narrow(org), narrow(app), {"data"}));
    EXPECT_EQ(tree(inst), (std::vector<std::wstring>{L"a.dll", L"data\\d.dat.back"}));
    EXPECT_TRUE(cleanupUpdate(org, app));
    EXPECT_EQ(tree(inst), std::vector<std::wstring>{L"a.dll"});
}

TEST_F(Update, AccessDeniedTwiceStops)
{
    adminLog();
    // A stale backup keeps the installed entry in place, and a folder of the file's name
    // refuses the copy with access denied (a read-only file would not: the tests run as
    // root under Wine).
    makeDirs(inst + L"\\locked.dll\\inner");
    writeFile(inst + L"\\locked.dll.back", "stale");
    writeFile(upd + L"\\locked.dll", "new");
    const RunResult r = runUpdater(L"update");
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_EQ(r.output, header(inst) + "Copy error:5\nAccess denied. Trying to fix acls.\nCopy error!\n");
    EXPECT_EQ(readFile(adminLogPath), "admin\n"); // started elevated once, with "admin"
    EXPECT_TRUE(isDir(inst + L"\\locked.dll\\inner"));
    EXPECT_EQ(readFile(inst + L"\\locked.dll.back"), "stale");
}

TEST_F(Update, AccessDeniedRepairedByTheElevatedInstance)
{
    adminLog();
    SetEnvironmentVariableW(L"WINTOOLS_TEST_FIX_PATH", (inst + L"\\locked.dll").c_str());
    makeDirs(inst + L"\\locked.dll");
    writeFile(inst + L"\\locked.dll.back", "stale");
    writeFile(upd + L"\\locked.dll", "new");
    const RunResult r = runUpdater(L"update");
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.output, header(inst) + "Copy error:5\nAccess denied. Trying to fix acls.\n");
    EXPECT_EQ(readFile(adminLogPath), "admin\n");
    EXPECT_EQ(readFile(inst + L"\\locked.dll"), "new");
}

TEST_F(Update, OtherCopyErrorStopsBeforeTheDeletionList)
{
    writeFile(inst + L"\\old.txt", "old");
    writeFile(upd + L"\\update.txt", utf16le(L"old.txt\r\n"));
    writeFile(upd + L"\\busy.dll", "new");
    // Held open without sharing: the copy fails with a sharing violation.
    HANDLE busy = CreateFileW((upd + L"\\busy.dll").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(busy, INVALID_HANDLE_VALUE);
    const RunResult r = runUpdater(L"update");
    CloseHandle(busy);
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_EQ(r.output, header(inst) + "Copy error:32\n");
    EXPECT_TRUE(exists(inst + L"\\old.txt"));
}

TEST_F(Update, DeletionListRemovesOnlyEntriesInsideTheInstallDir)
{
    const std::wstring outside = root + L"\\install\\outside.txt";
    writeFile(outside, "not ours");
    writeFile(inst + L"\\old.txt", "old");
    writeFile(inst + L"\\keep.txt", "keep");
    writeFile(inst + L"\\\x010A-named.txt", "unit with low byte 0x0A");
    makeDirs(inst + L"\\olddir\\deeper");
    writeFile(inst + L"\\olddir\\deeper\\f.txt", "f");
    makeDirs(inst + L"\\sub");
    writeFile(inst + L"\\sub\\gone.txt", "g");
    writeFile(upd + L"\\updater.exe.manifest", "manifest");
    const std::wstring list = L"old.txt\r\n"
                              L"olddir\\\n"
                              L"\x010A-named.txt\n"
                              L"sub/gone.txt\n"
                              L"\n"
                              L".\n"
                              L"..\n"
                              L"..\\outside.txt\n"
                              L"sub\\..\\..\\outside.txt\n"
                              L".. \\outside.txt\n"
                              L"...\\outside.txt\n"
                              L"Z:\\tmp\\x.txt\n"
                              L"\\\\server\\share\\x.txt\n"
                              L"\\outside.txt\n"
                              L"*";
    writeFile(upd + L"\\update.txt", utf16le(list));
    const RunResult r = runUpdater(L"update");
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.output, header(inst)
                  + "Refused deletion entry: .\n"
                    "Refused deletion entry: ..\n"
                    "Refused deletion entry: ..\\outside.txt\n"
                    "Refused deletion entry: sub\\..\\..\\outside.txt\n"
                    "Refused deletion entry: .. \\outside.txt\n"
                    "Refused deletion entry: ...\\outside.txt\n"
                    "Refused deletion entry: Z:\\tmp\\x.txt\n"
                    "Refused deletion entry: \\\\server\\share\\x.txt\n"
                    "Refused deletion entry: \\outside.txt\n"
                    "Refused deletion entry: *\n");
    // Only the updater, its manifest and the list were in the update folder: nothing copied.
    EXPECT_EQ(tree(inst), std::vector<std::wstring>{L"keep.txt"});
    EXPECT_TRUE(isDir(inst + L"\\sub"));
    EXPECT_EQ(readFile(outside), "not ours");
}

TEST_F(Update, MessagesSurviveCyrillicFolders)
{
    // As under a user profile such as C:\Users\Иван.
    upd = root + L"\\Иван\\Обновление";
    inst = root + L"\\Иван\\Программа";
    makeDirs(upd);
    makeDirs(inst);
    updater = upd + L"\\updater.exe";
    ASSERT_TRUE(CopyFileW((binDir() + L"\\wintools_updater.exe").c_str(), updater.c_str(), FALSE));
    setInstallPath(inst + L"\\IPTV.exe");
    writeFile(inst + L"\\старый.txt", "old");
    writeFile(upd + L"\\новый.dll", "new");
    writeFile(upd + L"\\update.txt", utf16le(L"старый.txt\n..\\чужой.txt\n..\\outside.txt\n"));
    const RunResult r = runUpdater(L"update");
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.output, utf8(L"Install dir: " + inst + L"\nSelf dir: " + upd + L"\nSelf path: " + updater
                             + L"\nRefused deletion entry: ..\\чужой.txt\nRefused deletion entry: ..\\outside.txt\n"));
    EXPECT_EQ(tree(inst), std::vector<std::wstring>{L"новый.dll"});
}

TEST_F(Update, DeletionListFollowsNoLinkOutOfTheInstallDir)
{
    const std::wstring outside = root + L"\\outside";
    makeDirs(outside);
    writeFile(outside + L"\\victim.txt", "not ours");
    // Wine has no junctions; a Unix symbolic link is the directory link it knows.
    ASSERT_TRUE(makeDirLink(inst + L"\\link", outside));
    ASSERT_EQ(readFile(inst + L"\\link\\victim.txt"), "not ours");
    writeFile(inst + L"\\old.txt", "old");
    writeFile(inst + L"\\keep.txt", "keep");
    const std::wstring longOutside = L"\\\\?\\" + outside + L"\\victim.txt";
    writeFile(upd + L"\\update.txt", utf16le(L"link\\victim.txt\n" + longOutside + L"\n\\\\?\\" + inst
                                               + L"\\old.txt\n\\\\?\\" + inst + L"\\*.txt\n"));
    const RunResult r = runUpdater(L"update");
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.output, header(inst) + "Refused deletion entry: link\\victim.txt\nRefused deletion entry: "
                            + narrow(longOutside) + "\nRefused deletion entry: \\\\?\\" + narrow(inst)
                            + "\\*.txt\n");
    EXPECT_EQ(readFile(outside + L"\\victim.txt"), "not ours");
    // A long path inside the installation directory is taken.
    EXPECT_FALSE(exists(inst + L"\\old.txt"));
    EXPECT_TRUE(exists(inst + L"\\keep.txt"));
}

TEST_F(Update, WithoutItsOwnFolderNothingIsTouched)
{
    writeFile(inst + L"\\a.dll", "installed");
    writeFile(upd + L"\\a.dll", "new");
    const RunResult r = runUpdater(L"update-nomodule");
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_EQ(r.output, "Install dir: " + narrow(inst) + "\nSelf dir: \nSelf path: \nNo update dir, nothing installed!\n");
    EXPECT_EQ(tree(inst), std::vector<std::wstring>{L"a.dll"});
    EXPECT_EQ(readFile(inst + L"\\a.dll"), "installed");
}

TEST_F(Update, WithoutInstallDirNothingIsTouched)
{
    regDeleteKey(app);
    regCreateKey(app);
    writeFile(upd + L"\\a.dll", "new");
    writeFile(upd + L"\\update.txt", utf16le(L"a.dll\n"));
    const RunResult r = runUpdater(L"update");
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_EQ(r.output, header(L"") + "No install dir, nothing installed!\n");
    EXPECT_EQ(runUpdater(L"cleanup").exitCode, 0u);
    EXPECT_EQ(runUpdater(L"rollback").exitCode, 0u);
    EXPECT_EQ(tree(upd), (std::vector<std::wstring>{L"a.dll", L"update.txt", L"updater.exe"}));
    EXPECT_TRUE(cleanupUpdate(org, app));
    EXPECT_TRUE(rollbackUpdate(org, app));

    // A relative entry is no installation directory either.
    setInstallPath(L"IPTV.exe");
    const RunResult relative = runUpdater(L"update");
    EXPECT_EQ(relative.exitCode, 1u);
    EXPECT_EQ(relative.output, header(L"IPTV.exe") + "No install dir, nothing installed!\n");
    EXPECT_EQ(tree(upd), (std::vector<std::wstring>{L"a.dll", L"update.txt", L"updater.exe"}));
}

TEST_F(Update, UpdateInfoRecordsTheOutcome)
{
    regSetString(app, L"updatePath", L"C:/cache/update/update.exe");
    regSetString(app, L"updateState", L"extracted");
    regSetString(app, L"other", L"kept");
    updateUpdateInfo(org, app, false);
    const RegValue state = regGet(app, L"updateState");
    EXPECT_EQ(state.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(state.bytes.size(), 24u);
    EXPECT_EQ(state.text(), L"justUpdated");
    EXPECT_EQ(regGet(app, L"updatePath").type, static_cast<DWORD>(REG_NONE));
    EXPECT_EQ(regGet(app, L"other").text(), L"kept");

    regSetString(app, L"updatePath", L"C:/cache/update/update.exe");
    updateUpdateInfo(narrow(org), narrow(app), true);
    EXPECT_EQ(regGet(app, L"updateState").type, static_cast<DWORD>(REG_NONE));
    EXPECT_EQ(regGet(app, L"updatePath").type, static_cast<DWORD>(REG_NONE));

    const std::wstring missing = uniqueName(L"Missing");
    updateUpdateInfo(org, missing, false);
    EXPECT_FALSE(regKeyExists(missing));
}
