// The release-notes and agreement dialogs as real windows: their size, captions and
// layout, and what each way of closing them answers. A helper thread plays the user.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "UpdateDialogs.h"

namespace {

struct TControl {
    HWND Handle;
    std::wstring Text;
    RECT Rect;  // in the dialog's client coordinates
};

HWND WaitForWindow(const std::wstring& caption) {
    for (int i = 0; i < 200; ++i) {
        HWND window = FindWindowW(L"LumetraUpdateDialog", caption.c_str());
        if (window != nullptr && IsWindowVisible(window)) return window;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return nullptr;
}

std::vector<TControl> Controls(HWND dialog) {
    std::vector<TControl> controls;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t text[256] = {};
        GetWindowTextW(child, text, 256);
        RECT rect;
        GetWindowRect(child, &rect);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
        controls.push_back({child, text, rect});
    }
    return controls;
}

// Runs `show` on this thread while `user` acts on the dialog from another.
bool Play(const std::function<bool()>& show, const std::wstring& caption,
          const std::function<void(HWND dialog, const std::vector<TControl>&)>& user) {
    std::atomic<bool> found{false};
    std::thread helper([&] {
        HWND dialog = WaitForWindow(caption);
        if (dialog == nullptr) return;
        found = true;
        user(dialog, Controls(dialog));
    });
    const bool answer = show();
    helper.join();
    EXPECT_TRUE(found);
    return answer;
}

const TControl* Find(const std::vector<TControl>& controls, const std::wstring& text) {
    for (const TControl& control : controls)
        if (control.Text == text) return &control;
    return nullptr;
}

TEST(UpdateDialogsWin32, ReleaseNotesWindowAndItsAnswers) {
    auto dialogs = MakeSystemUpdateDialogs();
    TWhatsNewDialogData data;
    data.Caption = L"What's new";
    data.OkCaption = L"Install";
    data.CancelCaption = L"Cancel";
    data.Kind = TDocumentKind::Html;
    data.Text = L"<h1>Version 2</h1><p>Faster</p>";

    // Refused with the refuse button; the layout is checked on the way.
    EXPECT_FALSE(Play([&] { return dialogs->WhatsNewDialog(data); }, L"What's new",
                      [](HWND dialog, const std::vector<TControl>& controls) {
                          RECT outer;
                          GetWindowRect(dialog, &outer);
                          EXPECT_EQ(outer.right - outer.left, 400);
                          EXPECT_EQ(outer.bottom - outer.top, 400);
                          RECT client;
                          GetClientRect(dialog, &client);
                          ASSERT_EQ(controls.size(), 3u);
                          const TControl& box = controls[0];
                          EXPECT_EQ(box.Rect.left, 10);
                          EXPECT_EQ(box.Rect.top, 10);
                          EXPECT_EQ(box.Rect.right - box.Rect.left, client.right - 20);
                          EXPECT_EQ(box.Rect.bottom - box.Rect.top, client.bottom - 60);
                          EXPECT_EQ(box.Text, L"Version 2\r\n\r\nFaster");
                          const TControl* accept = Find(controls, L"Install");
                          const TControl* refuse = Find(controls, L"Cancel");
                          ASSERT_TRUE(accept && refuse);
                          EXPECT_EQ(refuse->Rect.right, box.Rect.right);
                          EXPECT_EQ(accept->Rect.right, refuse->Rect.left - 10);
                          EXPECT_EQ(accept->Rect.top, box.Rect.bottom + 10);
                          PostMessageW(refuse->Handle, BM_CLICK, 0, 0);
                      }));

    // Accepted with the accept button.
    EXPECT_TRUE(Play([&] { return dialogs->WhatsNewDialog(data); }, L"What's new",
                     [](HWND, const std::vector<TControl>& controls) {
                         PostMessageW(Find(controls, L"Install")->Handle, BM_CLICK, 0, 0);
                     }));

    // The system menu's close refuses.
    EXPECT_FALSE(Play([&] { return dialogs->WhatsNewDialog(data); }, L"What's new",
                      [](HWND dialog, const std::vector<TControl>&) { PostMessageW(dialog, WM_CLOSE, 0, 0); }));
}

TEST(UpdateDialogsWin32, AgreementIsRefusedUnlessAcceptIsChosen) {
    auto dialogs = MakeSystemUpdateDialogs();
    TEULADialogData data;
    data.Caption = L"Licence";
    data.OkCaption = L"Ok";
    data.AcceptCaption = L"I accept";
    data.NotAcceptCaption = L"I do not accept";
    data.Text = L"Terms\nof use";

    // Closed at once: "I do not accept" is selected first.
    EXPECT_FALSE(Play([&] { return dialogs->EULADialog(data); }, L"Licence",
                      [](HWND, const std::vector<TControl>& controls) {
                          const TControl* accept = Find(controls, L"I accept");
                          const TControl* refuse = Find(controls, L"I do not accept");
                          const TControl* ok = Find(controls, L"Ok");
                          ASSERT_TRUE(accept && refuse && ok);
                          EXPECT_EQ(SendMessageW(refuse->Handle, BM_GETCHECK, 0, 0), BST_CHECKED);
                          EXPECT_EQ(SendMessageW(accept->Handle, BM_GETCHECK, 0, 0), BST_UNCHECKED);
                          EXPECT_EQ(accept->Rect.left, 10);
                          EXPECT_EQ(refuse->Rect.left, accept->Rect.right + 20);
                          EXPECT_EQ(controls[0].Text, L"Terms\r\nof use");
                          PostMessageW(ok->Handle, BM_CLICK, 0, 0);
                      }));

    // Accept chosen, then closed by the system menu: still accepted.
    EXPECT_TRUE(Play([&] { return dialogs->EULADialog(data); }, L"Licence",
                     [](HWND dialog, const std::vector<TControl>& controls) {
                         SendMessageW(Find(controls, L"I accept")->Handle, BM_CLICK, 0, 0);
                         PostMessageW(dialog, WM_CLOSE, 0, 0);
                     }));
}

// The top-level windows of this process that are visible.
std::vector<HWND> VisibleWindowsOfThisProcess() {
    std::vector<HWND> found;
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            DWORD process = 0;
            GetWindowThreadProcessId(window, &process);
            if (process == GetCurrentProcessId() && IsWindowVisible(window))
                reinterpret_cast<std::vector<HWND>*>(data)->push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

TEST(UpdateDialogsWin32, HtmlDialogWithoutTheHtmlLibraryShowsNothing) {
    // The test prefix keeps the HTML library out (wine-run), as a machine without it would.
    HMODULE html = LoadLibraryW(L"mshtml.dll");
    if (html != nullptr) FreeLibrary(html);
    ASSERT_EQ(html, nullptr) << "the HTML library is present in the test prefix";
    const bool urlmonBefore = GetModuleHandleW(L"urlmon.dll") != nullptr;
    const std::vector<HWND> before = VisibleWindowsOfThisProcess();

    // Returns at once: no dialog, no window left behind, nothing else loaded on the way.
    MakeSystemUpdateDialogs()->ShowHTMLDialog(L"http://127.0.0.1:1/info.htm");
    EXPECT_EQ(VisibleWindowsOfThisProcess(), before);
    EXPECT_EQ(GetModuleHandleW(L"mshtml.dll"), nullptr);
    EXPECT_EQ(GetModuleHandleW(L"urlmon.dll") != nullptr, urlmonBefore);
}

}  // namespace
