// Shortcuts, process counting, elevated starts, access lists, shell icons.
#include "testutil.h"
#include "wintools.h"

#include <objbase.h>

#include <gtest/gtest.h>

#include <thread>

using namespace wt;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

// True when COM was not initialised on the calling thread (it is left as found).
bool comUninitialisedHere()
{
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (SUCCEEDED(hr))
        CoUninitialize();
    return hr == S_OK;
}

} // namespace

TEST(CreateLink, WithoutComLeavesComUninitialised)
{
    const std::wstring dir = scratchDir(L"lnk");
    const std::wstring target = binDir() + L"\\wintools_updater.exe";
    const std::wstring link = dir + L"\\Updater.lnk";
    HRESULT hr = E_FAIL;
    bool before = false, after = false;
    std::thread worker([&] {
        before = comUninitialisedHere();
        hr = CreateLink(target.c_str(), link.c_str(), L"The updater");
        after = comUninitialisedHere();
    });
    worker.join();
    EXPECT_TRUE(before);
    EXPECT_EQ(hr, S_OK);
    EXPECT_TRUE(after);
    ASSERT_TRUE(exists(link));
    EXPECT_GT(readFile(link).size(), 0u);
}

TEST(CreateLink, KeepsTheCallersComAndReportsFailures)
{
    const std::wstring dir = scratchDir(L"lnk2");
    std::thread worker([&] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        EXPECT_EQ(CreateLink(L"C:\\windows\\notepad.exe", (dir + L"\\n.lnk").c_str(), L""), S_OK);
        // A link in a missing folder cannot be saved.
        EXPECT_LT(CreateLink(L"C:\\windows\\notepad.exe", (dir + L"\\missing\\n.lnk").c_str(), L"x"), 0);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE); // still ours
        CoUninitialize();
        CoUninitialize();
    });
    worker.join();
    EXPECT_TRUE(exists(dir + L"\\n.lnk"));
}

TEST(Processes, CountsByExactCaseSensitiveName)
{
    // A private copy of the helper with a name no other test process carries.
    const std::wstring name = uniqueName(L"WtCount") + L".exe";
    const std::wstring exe = scratchDir(L"proc") + L"\\" + name;
    ASSERT_TRUE(CopyFileW((binDir() + L"\\wintools_updater.exe").c_str(), exe.c_str(), FALSE));
    dllFolderOnPath();
    EXPECT_EQ(findRunningProcess(name), 0);

    PROCESS_INFORMATION pi[2] = {};
    for (auto &p : pi) {
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        std::wstring cmd = L"\"" + exe + L"\" sleep";
        ASSERT_TRUE(CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &p));
    }
    EXPECT_EQ(findRunningProcess(name), 2);
    EXPECT_EQ(findRunningProcess(std::string(name.begin(), name.end())), 2);
    std::wstring lower = name;
    for (auto &c : lower)
        c = towlower(c);
    EXPECT_EQ(findRunningProcess(lower), 0);
    EXPECT_EQ(findRunningProcess(exe), 0); // a name, not a path
    for (auto &p : pi) {
        TerminateProcess(p.hProcess, 0);
        WaitForSingleObject(p.hProcess, 10000);
        CloseHandle(p.hProcess);
        CloseHandle(p.hThread);
    }
    EXPECT_EQ(findRunningProcess(name), 0);

    EXPECT_GE(findRunningProcess(std::wstring(L"wintools_tests.exe")), 1); // counts itself
    EXPECT_EQ(findRunningProcess(std::wstring(L"WINTOOLS_TESTS.EXE")), 0);
}

TEST(RunasAdmin, MissingProgramGivesFalse)
{
    const std::wstring missing = scratchDir(L"ra") + L"\\missing.exe";
    EXPECT_FALSE(runasAdmin(missing));
    EXPECT_FALSE(runasAdmin(std::string(missing.begin(), missing.end())));
}

TEST(RunasAdmin, StartsWithAdminArgumentAndWaits)
{
    const std::wstring log = scratchDir(L"ra2") + L"\\admin.log";
    SetEnvironmentVariableW(L"WINTOOLS_TEST_ADMIN_LOG", log.c_str());
    EXPECT_TRUE(runasAdmin(binDir() + L"\\wintools_updater.exe"));
    SetEnvironmentVariableW(L"WINTOOLS_TEST_ADMIN_LOG", nullptr);
    EXPECT_EQ(readFile(log), "admin\n"); // written before runasAdmin returned
}

TEST(UpdateAcl, ReturnCodes)
{
    // Wine accepts the access-list calls but does not store the entries, so only the
    // results can be checked here, not the resulting list.
    const std::wstring dir = scratchDir(L"acl");
    writeFile(dir + L"\\f.txt", "f");
    EXPECT_TRUE(updateAcl(dir));
    EXPECT_TRUE(updateAcl(std::string(dir.begin(), dir.end()) + "\\f.txt"));
    CaptureStdout();
    EXPECT_FALSE(updateAcl(dir + L"\\missing"));
    EXPECT_EQ(GetCapturedStdout(), "GetNamedSecurityInfo Error 2\n");
}

TEST(ShellIcon, IconOfAProgramAndNoneWithAnErrorLine)
{
    CaptureStdout();
    HICON icon = extractIcon((binDir() + L"\\wintools_updater.exe").c_str(), 1 /* SHIL_SMALL */);
    const std::string out = GetCapturedStdout();
    EXPECT_EQ(out.rfind("ComCtl32.dll version: ", 0), 0u) << out;
    ASSERT_NE(icon, nullptr) << out;
    ICONINFO info = {};
    EXPECT_TRUE(GetIconInfo(icon, &info));
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(icon);

    CaptureStdout();
    EXPECT_EQ(extractIcon((scratchDir(L"icon") + L"\\missing.xyz").c_str(), 1), nullptr);
    std::string err = GetCapturedStdout();
    EXPECT_EQ(err.rfind("ComCtl32.dll version: ", 0), 0u) << err;
    EXPECT_NE(err.find("SHGetFileInfo error: 0"), std::string::npos) << err;

    CaptureStdout();
    EXPECT_EQ(extractIcon((binDir() + L"\\wintools_updater.exe").c_str(), 99), nullptr);
    err = GetCapturedStdout();
    EXPECT_NE(err.find("SHGetImageList error: "), std::string::npos) << err;

    EXPECT_EQ(extractIcon(nullptr, 0), nullptr);
}
