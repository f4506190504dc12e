#include "WindowPictureWin32.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>

namespace {

// A window laid out as the main window's Settings page is: a tab control made first, with
// WS_CLIPSIBLINGS, and a label and a check box made after it, which puts them beneath it in
// the stack while the screen shows them over it. Not shown: the picture must not need the
// screen.
class WindowPicture : public ::testing::Test {
protected:
    void SetUp() override {
        INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_TAB_CLASSES};
        InitCommonControlsEx(&controls);
        FClass = L"WindowPictureTest" + std::to_wstring(GetCurrentProcessId());
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
        windowClass.lpszClassName = FClass.c_str();
        ASSERT_NE(RegisterClassW(&windowClass), 0);
        FWindow = CreateWindowExW(0, FClass.c_str(), L"picture", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr,
                                  nullptr, windowClass.hInstance, nullptr);
        ASSERT_NE(FWindow, nullptr);
        Child(WC_TABCONTROLW, L"", WS_CLIPSIBLINGS, 0, 0, 300, 200);
        FLabel = Child(L"STATIC", L"WWWWWWWW", SS_LEFT, 40, 50, 120, 20);
        FCheckBox = Child(L"BUTTON", L"WWWWWWWW", BS_AUTOCHECKBOX, 40, 100, 160, 20);
    }

    void TearDown() override {
        if (FWindow) DestroyWindow(FWindow);
        UnregisterClassW(FClass.c_str(), GetModuleHandleW(nullptr));
    }

    HWND Child(const wchar_t* windowClass, const wchar_t* text, DWORD style, int x, int y, int w, int h) {
        HWND child = CreateWindowExW(0, windowClass, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, FWindow, nullptr,
                                     GetModuleHandleW(nullptr), nullptr);
        EXPECT_NE(child, nullptr) << "cannot make a " << std::string(windowClass, windowClass + wcslen(windowClass));
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
        return child;
    }

    // Pixels of `picture` inside `control` darker than the ground: its text.
    int TextPixels(const TWindowPicture& picture, HWND control) const {
        RECT r;
        GetWindowRect(control, &r);
        MapWindowPoints(nullptr, FWindow, reinterpret_cast<POINT*>(&r), 2);
        int dark = 0;
        for (int y = r.top; y < r.bottom && y < picture.Height; ++y)
            for (int x = r.left; x < r.right && x < picture.Width; ++x) {
                const std::size_t i = (static_cast<std::size_t>(y) * picture.Width + x) * 4;
                if (picture.Rgba[i] + picture.Rgba[i + 1] + picture.Rgba[i + 2] < 3 * 96) ++dark;
            }
        return dark;
    }

    std::wstring FClass;
    HWND FWindow = nullptr;
    HWND FLabel = nullptr;
    HWND FCheckBox = nullptr;
};

TEST_F(WindowPicture, ControlsAboveTheTabControlAreDrawnWithTheirText) {
    const auto picture = PictureOfWindow(FWindow);
    ASSERT_TRUE(picture.has_value());
    RECT client;
    GetClientRect(FWindow, &client);
    EXPECT_EQ(picture->Width, client.right);
    EXPECT_EQ(picture->Height, client.bottom);
    ASSERT_EQ(picture->Rgba.size(), static_cast<std::size_t>(picture->Width) * picture->Height * 4);
    EXPECT_GT(TextPixels(*picture, FLabel), 20) << "the label's text is missing";
    EXPECT_GT(TextPixels(*picture, FCheckBox), 20) << "the check box's text is missing";
}

TEST_F(WindowPicture, HiddenControlsAreLeftOut) {
    ShowWindow(FLabel, SW_HIDE);
    const auto picture = PictureOfWindow(FWindow);
    ASSERT_TRUE(picture.has_value());
    EXPECT_EQ(TextPixels(*picture, FLabel), 0);
    EXPECT_GT(TextPixels(*picture, FCheckBox), 20);
}

TEST_F(WindowPicture, AWindowWithNoSizeHasNoPicture) {
    SetWindowPos(FWindow, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    RECT client;
    GetClientRect(FWindow, &client);
    if (client.right > 0 && client.bottom > 0) GTEST_SKIP() << "the platform keeps a client area at size 0";
    EXPECT_FALSE(PictureOfWindow(FWindow).has_value());
}

}  // namespace
