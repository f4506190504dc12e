#include "UpdateDialogs.h"
#include "HandleHolderWin32.h"

#include <windows.h>
#include <richedit.h>
#include <shellapi.h>

#include <string>

namespace {

constexpr int kDialogSize = 400;
constexpr int kMargin = 10;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;
constexpr int kAcceptId = 101;
constexpr int kRefuseId = 102;
constexpr int kAcceptChoiceId = 103;
constexpr int kRefuseChoiceId = 104;
const wchar_t* const kDialogClass = L"LumetraUpdateDialog";

// One modal document dialog: the release notes or the agreement.
struct TDocumentDialog {
    bool Eula = false;
    bool Done = false;
    bool Accepted = false;
    HWND Window = nullptr;
    HWND AcceptChoice = nullptr;
};

LRESULT CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* dialog = reinterpret_cast<TDocumentDialog*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
        case WM_NCCREATE: {
            const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
            SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
            break;
        }
        case WM_COMMAND:
            if (dialog == nullptr) break;
            if (LOWORD(wParam) == kAcceptId || LOWORD(wParam) == IDOK) {
                // The agreement's OK button only closes; the choice decides.
                dialog->Accepted = dialog->Eula ? SendMessageW(dialog->AcceptChoice, BM_GETCHECK, 0, 0) == BST_CHECKED
                                                : true;
                dialog->Done = true;
                return 0;
            }
            if (LOWORD(wParam) == kRefuseId || LOWORD(wParam) == IDCANCEL) {
                dialog->Accepted = dialog->Eula && SendMessageW(dialog->AcceptChoice, BM_GETCHECK, 0, 0) == BST_CHECKED;
                dialog->Done = true;
                return 0;
            }
            break;
        case WM_CLOSE:
            if (dialog != nullptr) {
                dialog->Accepted = dialog->Eula && SendMessageW(dialog->AcceptChoice, BM_GETCHECK, 0, 0) == BST_CHECKED;
                dialog->Done = true;
            }
            return 0;
        default:
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void RegisterDialogClass() {
    static bool registered = false;
    if (registered) return;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = DialogProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kDialogClass;
    registered = RegisterClassExW(&wc) != 0;
}

HWND Child(HWND parent, const wchar_t* cls, const std::wstring& text, DWORD style, int x, int y, int w, int h,
           int id, HFONT font) {
    HWND control = CreateWindowExW(0, cls, text.c_str(), WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr),
                                   nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    return control;
}

// Edits want CR LF line ends.
std::wstring WithCrLf(const std::wstring& text) {
    std::wstring result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r')) result.push_back(L'\r');
        result.push_back(text[i]);
        if (text[i] == L'\r' && (i + 1 >= text.size() || text[i + 1] != L'\n')) result.push_back(L'\n');
    }
    return result;
}

bool RunDocumentDialog(bool eula, const std::wstring& caption, TDocumentKind kind, const std::wstring& text,
                       const std::vector<std::uint8_t>& bytes, const std::wstring& okCaption,
                       const std::wstring& secondCaption, const std::wstring& notAcceptCaption) {
    RegisterDialogClass();
    const TLibraryHandle richEdit = LoadSystemLibrary(L"msftedit.dll");
    TDocumentDialog dialog;
    dialog.Eula = eula;

    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_DLGFRAME;
    const int x = (GetSystemMetrics(SM_CXSCREEN) - kDialogSize) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - kDialogSize) / 2;
    HWND window = CreateWindowExW(WS_EX_DLGMODALFRAME | WS_EX_TOPMOST, kDialogClass, caption.c_str(), style, x, y,
                                  kDialogSize, kDialogSize, nullptr, nullptr, GetModuleHandleW(nullptr), &dialog);
    if (window == nullptr) return false;
    dialog.Window = window;
    HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));

    RECT client;
    GetClientRect(window, &client);
    const int boxWidth = client.right - 2 * kMargin;
    const int boxHeight = client.bottom - 60;
    const DWORD boxStyle = WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_TABSTOP;
    if (kind == TDocumentKind::Rtf && richEdit.Valid()) {
        HWND box = Child(window, MSFTEDIT_CLASS, L"", boxStyle, kMargin, kMargin, boxWidth, boxHeight, 100, font);
        std::string rtf(bytes.begin(), bytes.end());
        SETTEXTEX set{ST_DEFAULT, CP_ACP};
        SendMessageW(box, EM_SETTEXTEX, reinterpret_cast<WPARAM>(&set), reinterpret_cast<LPARAM>(rtf.c_str()));
    } else {
        const std::wstring shown = kind == TDocumentKind::Html ? HtmlToText(text) : text;
        Child(window, L"EDIT", WithCrLf(shown), boxStyle, kMargin, kMargin, boxWidth, boxHeight, 100, font);
    }

    const int buttonsTop = kMargin + boxHeight + kMargin;
    const int right = kMargin + boxWidth;
    if (!eula) {
        const int refuseLeft = right - kButtonWidth;
        Child(window, L"BUTTON", okCaption, BS_DEFPUSHBUTTON | WS_TABSTOP, refuseLeft - kMargin - kButtonWidth,
              buttonsTop, kButtonWidth, kButtonHeight, kAcceptId, font);
        Child(window, L"BUTTON", secondCaption, BS_PUSHBUTTON | WS_TABSTOP, refuseLeft, buttonsTop, kButtonWidth,
              kButtonHeight, kRefuseId, font);
    } else {
        Child(window, L"BUTTON", okCaption, BS_DEFPUSHBUTTON | WS_TABSTOP, right - kButtonWidth, buttonsTop,
              kButtonWidth, kButtonHeight, kAcceptId, font);
        const int choiceWidth = 120;
        dialog.AcceptChoice = Child(window, L"BUTTON", secondCaption, BS_AUTORADIOBUTTON | WS_TABSTOP | WS_GROUP,
                                    kMargin, buttonsTop, choiceWidth, kButtonHeight, kAcceptChoiceId, font);
        HWND refuse = Child(window, L"BUTTON", notAcceptCaption, BS_AUTORADIOBUTTON, kMargin + choiceWidth + 20,
                            buttonsTop, choiceWidth, kButtonHeight, kRefuseChoiceId, font);
        SendMessageW(refuse, BM_SETCHECK, BST_CHECKED, 0);
    }

    ShowWindow(window, SW_SHOWNORMAL);
    SetForegroundWindow(window);
    MSG msg;
    while (!dialog.Done && GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (IsDialogMessageW(window, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    if (!dialog.Done) PostQuitMessage(static_cast<int>(msg.wParam));  // keep the program's quit request
    DestroyWindow(window);
    return dialog.Accepted;
}

class TWin32UpdateDialogs : public TUpdateDialogs {
public:
    void ShowMessage(const std::wstring& text) override {
        MessageBoxW(nullptr, text.c_str(), L"Information", MB_OK | MB_ICONINFORMATION | MB_TASKMODAL);
    }
    bool AskYesNo(const std::wstring& text) override {
        return MessageBoxW(nullptr, text.c_str(), L"Information", MB_YESNO | MB_ICONINFORMATION | MB_TASKMODAL) ==
               IDYES;
    }
    bool Confirm(const std::wstring& text) override {
        return MessageBoxW(nullptr, text.c_str(), L"Confirm", MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL) == IDYES;
    }
    bool WhatsNewDialog(const TWhatsNewDialogData& data) override {
        return RunDocumentDialog(false, data.Caption, data.Kind, data.Text, data.Bytes, data.OkCaption,
                                 data.CancelCaption, {});
    }
    bool EULADialog(const TEULADialogData& data) override {
        const TDocumentKind kind = data.Kind == TDocumentKind::Rtf ? TDocumentKind::Rtf : TDocumentKind::PlainText;
        return RunDocumentDialog(true, data.Caption, kind, data.Text, data.Bytes, data.OkCaption, data.AcceptCaption,
                                 data.NotAcceptCaption);
    }
    void ShowHTMLDialog(const std::wstring& url) override {
        using TShowHTMLDialog = HRESULT(WINAPI*)(HWND, IUnknown*, VARIANT*, wchar_t*, VARIANT*);
        using TCreateURLMoniker = HRESULT(WINAPI*)(IUnknown*, const wchar_t*, IUnknown**);
        const TLibraryHandle html = LoadSystemLibrary(L"mshtml.dll");
        if (!html.Valid()) return;
        const TLibraryHandle urlmon = LoadSystemLibrary(L"urlmon.dll");
        if (!urlmon.Valid()) return;
        auto show =
            reinterpret_cast<TShowHTMLDialog>(reinterpret_cast<void*>(GetProcAddress(html.Get(), "ShowHTMLDialog")));
        auto moniker = reinterpret_cast<TCreateURLMoniker>(
            reinterpret_cast<void*>(GetProcAddress(urlmon.Get(), "CreateURLMoniker")));
        if (show == nullptr || moniker == nullptr) return;
        IUnknown* address = nullptr;
        if (FAILED(moniker(nullptr, url.c_str(), &address)) || address == nullptr) return;
        show(nullptr, address, nullptr, nullptr, nullptr);
        address->Release();
    }
    bool ShellOpen(const std::wstring& file, const std::wstring& parameters) override {
        const HINSTANCE result = ShellExecuteW(nullptr, L"open", file.c_str(),
                                               parameters.empty() ? nullptr : parameters.c_str(), nullptr,
                                               SW_SHOWNORMAL);
        return reinterpret_cast<INT_PTR>(result) > 32;
    }
};

}  // namespace

std::unique_ptr<TUpdateDialogs> MakeSystemUpdateDialogs() { return std::make_unique<TWin32UpdateDialogs>(); }
