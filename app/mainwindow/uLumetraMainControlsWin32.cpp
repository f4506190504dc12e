// The main window's controls on Windows: made, looked after and laid out, scaled for the
// window's DPI, in the "Carbon" look when it applies.

#include "uLumetraMainControlsWin32.h"

namespace MainControlsWin32 {

TExtras::TExtras(TfrmMain& form, const TfrmMainPeer& peer, UINT trayMessage)
    : FForm(form), FPeer(peer), FWindow(reinterpret_cast<HWND>(peer.Handle())), FTrayMessage(trayMessage) {
    // The program's taskbar button is the application window's; ours has none.
    if (HWND app = reinterpret_cast<HWND>(AppShell::Handle()))
        SetWindowLongPtrW(FWindow, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(app));
    FDpi = WindowDpi();
    LoadStyle();
    MakeFonts();
    MakeImageLists();
    CreateControls();
    PlaceWindow();
    Layout();
    Hook();
    ShowAll();
}

TExtras::~TExtras() {
    for (TComponent* c : std::initializer_list<TComponent*>{
             &FForm.PageControl1, &FForm.StatusBar1, &FForm.TrackBar1, &FForm.ckDemarrage, &FForm.StringGrid1,
             &FForm.actLancerAuDemarrage, &FForm.actAlwaysCheckUpdates})
        c->PeerChanged = nullptr;
    FForm.StringGrid1.PeerLockUpdate = nullptr;
    FForm.StringGrid1.PeerRowAt = nullptr;
    FForm.StringGrid1.PeerPopup = nullptr;
    if (FStatus)
        RemoveWindowSubclass(FStatus, StatusProc, 0);
    if (FGrid)
        RemoveWindowSubclass(FGrid, GridProc, 0);
    if (HWND group = Handle(FForm.gbVanto))
        RemoveWindowSubclass(group, GroupProc, 0);
    if (FTabs)
        RemoveWindowSubclass(FTabs, TabsProc, 0);
}

bool TExtras::Dispatch(unsigned message, std::uintptr_t wParam, std::intptr_t lParam, std::intptr_t& result) {
    bool handled = false;
    Application::Guarded([&] { handled = Handle(message, wParam, lParam, result); });
    return handled;
}

UINT TExtras::WindowDpi() const {
    // GetDpiForWindow exists from Windows 10 1607 on; look it up so that older
    // systems fall back to the screen's DPI.
    using TGetDpiForWindow = UINT(WINAPI*)(HWND);
    static const auto getDpi = reinterpret_cast<TGetDpiForWindow>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (getDpi) {
        const UINT dpi = getDpi(FWindow);
        if (dpi)
            return dpi;
    }
    HDC screen = GetDC(nullptr);
    const UINT dpi = static_cast<UINT>(GetDeviceCaps(screen, LOGPIXELSY));
    ReleaseDC(nullptr, screen);
    return dpi ? dpi : 96;
}

void TExtras::LoadStyle() {
    try {
        auto bytes = AppShell::ResourceBytes(CarbonStyleResource, AppShell::ResRcData);
        if (!bytes)
            throw EStyleError(L"The style \"Carbon\" cannot be applied: the program carries no such style");
        FStyle = ParseCarbonStyle(*bytes);
        FDark = true;
        FWindowBrush.Reset(CreateSolidBrush(Ref(FStyle.Window)));
        FControlBrush.Reset(CreateSolidBrush(Ref(FStyle.Control)));
    } catch (const Exception&) {
        // The default look stays; the user is told why, as for any other error.
        FDark = false;
        Application::HandleException(std::current_exception());
    }
}

void TExtras::MakeFonts() {
    const int height = -MulDiv(8, static_cast<int>(FDpi), 72);
    auto make = [&](int weight) {
        return CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Tahoma");
    };
    FFont.Reset(make(FW_NORMAL));
    FBoldFont.Reset(make(FW_BOLD));
}

void TExtras::MakeImageLists() {
    auto fill = [](TImageListHandle& handle, const TImageList& list) {
        handle.Reset(ImageList_Create(list.Width, list.Height, ILC_COLOR32 | ILC_MASK, list.Count(), 0));
        for (const std::wstring& name : list.ResourceNames) {
            HICON icon = static_cast<HICON>(
                LoadImageW(Instance(), name.c_str(), IMAGE_ICON, list.Width, list.Height, LR_DEFAULTCOLOR));
            if (icon) {
                ImageList_AddIcon(handle.Get(), icon);
                DestroyIcon(icon);
            } else {
                // Keep the indexes of the pictures after a missing one.
                HICON blank = LoadIconW(nullptr, IDI_APPLICATION);
                ImageList_AddIcon(handle.Get(), blank);
            }
        }
    };
    fill(FCommandImages, FForm.ImageList1);
    fill(FStatusImages, FForm.imlStatusSDList);
    // Grid rows as tall as the designed grid's (24 pixels): a blank image list sets it.
    FRowHeightImages.Reset(ImageList_Create(1, Scale(24), ILC_COLOR32, 0, 0));
}

HWND TExtras::Child(const wchar_t* windowClass, const wchar_t* text, DWORD style, UINT id, DWORD exStyle) {
    HWND control = CreateWindowExW(exStyle, windowClass, text, WS_CHILD | style, 0, 0, 0, 0, FWindow,
                                   reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), Instance(), nullptr);
    if (control)
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(FFont.Get()), FALSE);
    return control;
}

void TExtras::CreateControls() {
    FTabs = Child(WC_TABCONTROLW, L"", WS_CLIPSIBLINGS | WS_VISIBLE, kTabsId);
    SetWindowPos(FTabs, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

    // Settings page.
    FBrightnessLabel = Child(L"STATIC", FForm.lblBrigthness.Caption().c_str(), SS_LEFT, 0);
    FTrackBar = Child(TRACKBAR_CLASSW, L"", TBS_AUTOTICKS | TBS_HORZ | WS_TABSTOP, kTrackBarId);
    FCheckBox = Child(L"BUTTON", FForm.ckDemarrage.Caption().c_str(), BS_AUTOCHECKBOX | WS_TABSTOP, kCheckBoxId);

    // Control box page.
    FToolBar = Child(TOOLBARCLASSNAMEW, L"",
                     TBSTYLE_FLAT | TBSTYLE_LIST | TBSTYLE_TOOLTIPS | CCS_NODIVIDER | CCS_NORESIZE |
                         CCS_NOPARENTALIGN,
                     kToolBarId);
    SendMessageW(FToolBar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    SendMessageW(FToolBar, TB_SETEXTENDEDSTYLE, 0, TBSTYLE_EX_MIXEDBUTTONS);
    SendMessageW(FToolBar, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(FCommandImages.Get()));
    std::vector<TBBUTTON> buttons;
    for (const TMenuItem& item : FForm.ToolBar1.Items) {
        TBBUTTON b = {};
        if (!item.Action) {
            b.fsStyle = BTNS_SEP;
        } else {
            b.iBitmap = item.Action->ImageIndex;
            b.idCommand = static_cast<int>(ActionId(item.Action));
            b.fsState = TBSTATE_ENABLED;
            b.fsStyle = BTNS_BUTTON | BTNS_AUTOSIZE;
            if (!item.Caption.empty()) {
                b.fsStyle |= BTNS_SHOWTEXT;
                b.iString = reinterpret_cast<INT_PTR>(item.Caption.c_str());
            }
        }
        buttons.push_back(b);
    }
    SendMessageW(FToolBar, TB_ADDBUTTONSW, buttons.size(), reinterpret_cast<LPARAM>(buttons.data()));

    FGrid = Child(WC_LISTVIEWW, L"",
                  LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | WS_TABSTOP | WS_BORDER, kGridId);
    ListView_SetExtendedListViewStyle(FGrid, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_DOUBLEBUFFER);
    ListView_SetImageList(FGrid, FRowHeightImages.Get(), LVSIL_SMALL);
    const wchar_t* headers[] = {L"Model", L"Serial", L"Def"};
    for (int c = 0; c < 3; ++c) {
        LVCOLUMNW column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.pszText = const_cast<wchar_t*>(headers[c]);
        column.cx = 0;
        column.iSubItem = c;
        ListView_InsertColumn(FGrid, c, &column);
    }

    FStatus = Child(STATUSCLASSNAMEW, L"", WS_VISIBLE, kStatusId);

    if (FDark) {
        // Themed check boxes and group boxes ignore the colours we give them.
        SetWindowTheme(FCheckBox, L"", L"");
        if (HWND group = Handle(FForm.gbVanto))
            SetWindowTheme(group, L"", L"");
        ListView_SetBkColor(FGrid, Ref(FStyle.GridBack));
        ListView_SetTextBkColor(FGrid, Ref(FStyle.GridBack));
        ListView_SetTextColor(FGrid, Ref(FStyle.GridText));
    }
    SetWindowSubclass(FStatus, StatusProc, 0, reinterpret_cast<DWORD_PTR>(this));
    SetWindowSubclass(FTabs, TabsProc, 0, reinterpret_cast<DWORD_PTR>(this));
    SetWindowSubclass(FGrid, GridProc, 0, reinterpret_cast<DWORD_PTR>(this));
    if (HWND group = Handle(FForm.gbVanto))
        SetWindowSubclass(group, GroupProc, 0, reinterpret_cast<DWORD_PTR>(this));
}

HWND TExtras::Handle(const TComponent& component) const {
    return reinterpret_cast<HWND>(FPeer.ComponentHandle(component));
}

// The controls of each page: shown only while their page is the active one.
std::vector<HWND> TExtras::PageControls(const TTabSheet* page) const {
    if (page == &FForm.tsParam) {
        std::vector<HWND> controls = {FBrightnessLabel, FTrackBar, FCheckBox};
        for (const TComponent* c : std::initializer_list<const TComponent*>{
                 &FForm.gbVanto, &FForm.lblEventCaption, &FForm.lblFolderCaption, &FForm.lblRaceCaption,
                 &FForm.lblEpreuve, &FForm.lblDossier, &FForm.lblCourse})
            if (HWND h = Handle(*c))
                controls.push_back(h);
        return controls;
    }
    if (page == &FForm.tsSDList)
        return {FToolBar, FGrid};
    return {};
}

// The main window: 312 × 255 client pixels at 96 DPI, scaled, centred on its monitor.
void TExtras::PlaceWindow() {
    RECT frame = {0, 0, Scale(kClientWidth), Scale(kClientHeight)};
    const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(FWindow, GWL_STYLE));
    const DWORD exStyle = static_cast<DWORD>(GetWindowLongPtrW(FWindow, GWL_EXSTYLE));
    AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromWindow(FWindow, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& work = monitor.rcWork;
    const int x = work.left + std::max(0, static_cast<int>(work.right - work.left - width) / 2);
    const int y = work.top + std::max(0, static_cast<int>(work.bottom - work.top - height) / 2);
    SetWindowPos(FWindow, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void TExtras::Layout() {
    RECT client;
    GetClientRect(FWindow, &client);
    const int w = client.right, h = client.bottom;
    const int statusHeight = Scale(kStatusHeight);
    MoveWindow(FStatus, 0, h - statusHeight, w, statusHeight, TRUE);
    MoveWindow(FTabs, 0, 0, w, std::max(0, h - statusHeight), TRUE);
    RECT page = {0, 0, w, std::max(0, h - statusHeight)};
    TabCtrl_AdjustRect(FTabs, FALSE, &page);
    const int left = page.left + Scale(4), top = page.top + Scale(4);
    const int width = std::max(0, static_cast<int>(page.right - page.left) - Scale(8));

    // Settings: brightness at the top, the start-up check box, the "Vanto V3" group.
    MoveWindow(FBrightnessLabel, left + Scale(4), top, Scale(120), Scale(14), TRUE);
    MoveWindow(FTrackBar, left, top + Scale(16), width, Scale(30), TRUE);
    MoveWindow(FCheckBox, left + Scale(4), top + Scale(52), width - Scale(8), Scale(17), TRUE);
    const int groupTop = top + Scale(76);
    const int groupHeight = std::max(Scale(70), static_cast<int>(page.bottom) - groupTop - Scale(4));
    if (HWND group = Handle(FForm.gbVanto))
        MoveWindow(group, left, groupTop, width, groupHeight, TRUE);
    const TLabel* captions[] = {&FForm.lblEventCaption, &FForm.lblFolderCaption, &FForm.lblRaceCaption};
    const TLabel* values[] = {&FForm.lblEpreuve, &FForm.lblDossier, &FForm.lblCourse};
    for (int i = 0; i < 3; ++i) {
        const int y = groupTop + Scale(18) + i * Scale(17);
        if (HWND c = Handle(*captions[i]))
            MoveWindow(c, left + Scale(10), y, Scale(50), Scale(15), TRUE);
        if (HWND v = Handle(*values[i]))
            MoveWindow(v, left + Scale(64), y, std::max(0, width - Scale(74)), Scale(15), TRUE);
    }

    // Control boxes: the toolbar, and the grid below it.
    const int toolHeight = Scale(24);
    MoveWindow(FToolBar, left, top, width, toolHeight, TRUE);
    MoveWindow(FGrid, left, top + toolHeight + Scale(2), width,
               std::max(0, static_cast<int>(page.bottom) - top - toolHeight - Scale(6)), TRUE);
    for (int c = 0; c < 3 && c < static_cast<int>(FForm.StringGrid1.ColWidths.size()); ++c)
        ListView_SetColumnWidth(FGrid, c, Scale(FForm.StringGrid1.ColWidths[static_cast<std::size_t>(c)]));

    ShowStatus();
}

void TExtras::Hook() {
    FForm.PageControl1.PeerChanged = [this] { ShowPages(); };
    FForm.StatusBar1.PeerChanged = [this] { ShowStatus(); };
    FForm.TrackBar1.PeerChanged = [this] { ShowTrackBar(); };
    FForm.ckDemarrage.PeerChanged = [this] { ShowCheckBox(); };
    FForm.actLancerAuDemarrage.PeerChanged = [this] { ShowCheckBox(); };
    FForm.StringGrid1.PeerChanged = [this] { ShowGrid(); };
    FForm.StringGrid1.PeerLockUpdate = [this](bool lock) {
        // Suspends the grid's drawing while its rows are rebuilt.
        SendMessageW(FGrid, WM_SETREDRAW, lock ? FALSE : TRUE, 0);
        if (!lock)
            RedrawWindow(FGrid, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_ALLCHILDREN);
    };
    FForm.StringGrid1.PeerRowAt = [this](int x, int y) {
        // The header row is the list's header control, above the items.
        RECT header;
        GetWindowRect(ListView_GetHeader(FGrid), &header);
        MapWindowPoints(nullptr, FGrid, reinterpret_cast<POINT*>(&header), 2);
        if (y < header.bottom)
            return 0;
        LVHITTESTINFO hit = {};
        hit.pt = {x, y};
        const int item = ListView_SubItemHitTest(FGrid, &hit);
        return item < 0 || !(hit.flags & LVHT_ONITEM) ? -1 : item + 1;
    };
    FForm.StringGrid1.PeerPopup = [this](int x, int y) {
        POINT at = {x, y};
        ClientToScreen(FGrid, &at);
        Popup(FForm.PopupMenuGrille, at);
    };
}

void TExtras::ShowAll() {
    ShowPages();
    ShowTrackBar();
    ShowCheckBox();
    ShowGrid();
    ShowStatus();
}

}  // namespace MainControlsWin32

std::unique_ptr<TMainWindowExtras> CreateMainWindowExtras(TfrmMain& form, const TfrmMainPeer& peer,
                                                          unsigned trayMessage) {
    return std::make_unique<MainControlsWin32::TExtras>(form, peer, trayMessage);
}
