// Raising a window by its title.
#include "testutil.h"
#include "wintools.h"

#include <gtest/gtest.h>

using namespace wt;

namespace {

class Windows : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"WintoolsTestWindow";
        RegisterClassW(&wc);
    }
    // The windows stay until the process ends: destroying a shown window makes Wine wait
    // two seconds for a window manager, which the test display does not have.
    HWND create(const std::wstring &title)
    {
        HWND w = CreateWindowExW(0, L"WintoolsTestWindow", title.c_str(), WS_OVERLAPPEDWINDOW, 10, 10, 200, 100,
                                 nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        if (w)
            ShowWindow(w, SW_SHOWNORMAL);
        return w;
    }
    void pump()
    {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
    }
};

} // namespace

TEST_F(Windows, FindsAndRaisesAWindowByItsTitle)
{
    const std::wstring title = uniqueName(L"Novaline TV test ");
    HWND first = create(title);
    HWND second = create(uniqueName(L"Other window "));
    ASSERT_TRUE(first && second);
    pump();
    SetForegroundWindow(second);
    pump();
    ASSERT_EQ(GetForegroundWindow(), second);
    EXPECT_TRUE(activateWindow(title));
    pump();
    EXPECT_EQ(GetForegroundWindow(), first);
    EXPECT_TRUE(activateWindow(std::string(title.begin(), title.end())));
}

TEST_F(Windows, UnknownTitleGivesFalseAndChangesNothing)
{
    HWND w = create(uniqueName(L"Foreground "));
    ASSERT_TRUE(w);
    pump();
    SetForegroundWindow(w);
    pump();
    HWND before = GetForegroundWindow();
    EXPECT_FALSE(activateWindow(uniqueName(L"No window carries this title ")));
    EXPECT_FALSE(activateWindow(std::string("No window carries this title either")));
    EXPECT_EQ(GetForegroundWindow(), before);
}

TEST_F(Windows, SameTitleTwiceStillTrue)
{
    const std::wstring title = uniqueName(L"Twin ");
    ASSERT_TRUE(create(title));
    ASSERT_TRUE(create(title));
    EXPECT_TRUE(activateWindow(title));
}

TEST_F(Windows, NarrowBytesAboveAsciiDoNotMatchCyrillicTitles)
{
    const std::wstring tag = uniqueName(L" ");
    // "Тест" as a window title; its Windows-1251 and UTF-8 bytes widen to other units.
    ASSERT_TRUE(create(L"\x0422\x0435\x0441\x0442" + tag));
    const std::string ascii(tag.begin(), tag.end());
    EXPECT_FALSE(activateWindow(std::string("\xD2\xE5\xF1\xF2") + ascii));
    EXPECT_FALSE(activateWindow(std::string("\xD0\xA2\xD0\xB5\xD1\x81\xD1\x82") + ascii));
    // Each byte becomes 0xFF80 and up: a title of exactly those units matches.
    ASSERT_TRUE(create(std::wstring(L"\xFFD2\xFFE5") + tag));
    EXPECT_TRUE(activateWindow(std::string("\xD2\xE5") + ascii));
}
