// The main window's pages, grid, track bar, status bar, tray menu and look on Windows. It
// only shows the components' state and turns messages into the window's handlers; what
// to do lives in the portable files.

#include "MainWindowExtras.h"

#include "AppShell.h"
#include "Application.h"
#include "CarbonStyle.h"
#include "PngImage.h"
#include "uLumetraMain.h"

#include <windows.h>
#include <commctrl.h>
#include <uxtheme.h>

#include <algorithm>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kClientWidth = 312;
constexpr int kClientHeight = 255;
constexpr int kStatusHeight = 19;

// Command ids: menu items and toolbar buttons carry the index of their action.
constexpr UINT kFirstActionId = 100;
constexpr UINT kTrackBarId = 40;
constexpr UINT kCheckBoxId = 41;
constexpr UINT kGridId = 42;
constexpr UINT kToolBarId = 43;
constexpr UINT kTabsId = 44;
constexpr UINT kStatusId = 45;

HINSTANCE Instance() { return GetModuleHandleW(nullptr); }

COLORREF Ref(std::uint32_t rgb) { return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF); }

// A GDI object that goes with its holder.
template <typename T>
class TGdi {
public:
    TGdi() = default;
    explicit TGdi(T object) : FObject(object) {}
    ~TGdi() { Reset(); }
    TGdi(const TGdi&) = delete;
    TGdi& operator=(const TGdi&) = delete;
    void Reset(T object = nullptr) {
        if (FObject)
            DeleteObject(FObject);
        FObject = object;
    }
    T Get() const { return FObject; }

private:
    T FObject = nullptr;
};

class TImageListHandle {
public:
    ~TImageListHandle() { Reset(); }
    void Reset(HIMAGELIST list = nullptr) {
        if (FList)
            ImageList_Destroy(FList);
        FList = list;
    }
    HIMAGELIST Get() const { return FList; }

private:
    HIMAGELIST FList = nullptr;
};

class TMenuHandle {
public:
    explicit TMenuHandle(HMENU menu) : FMenu(menu) {}
    ~TMenuHandle() {
        if (FMenu)
            DestroyMenu(FMenu);
    }
    TMenuHandle(const TMenuHandle&) = delete;
    TMenuHandle& operator=(const TMenuHandle&) = delete;
    HMENU Get() const { return FMenu; }

private:
    HMENU FMenu;
};

// A 32-bit top-down DIB section with straight alpha turned into premultiplied, for
// AlphaBlend and for menu item pictures.
HBITMAP PremultipliedBitmap(const PngImage& picture) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = picture.Width;
    info.bmiHeader.biHeight = -picture.Height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap)
        return nullptr;
    auto* out = static_cast<std::uint8_t*>(bits);
    for (std::size_t i = 0; i < picture.Rgba.size(); i += 4) {
        const unsigned a = picture.Rgba[i + 3];
        out[i + 0] = static_cast<std::uint8_t>(picture.Rgba[i + 2] * a / 255);
        out[i + 1] = static_cast<std::uint8_t>(picture.Rgba[i + 1] * a / 255);
        out[i + 2] = static_cast<std::uint8_t>(picture.Rgba[i + 0] * a / 255);
        out[i + 3] = static_cast<std::uint8_t>(a);
    }
    return bitmap;
}

// A 16 × 16 icon of ours as a premultiplied 32-bit bitmap (for menu items).
HBITMAP IconBitmap(const std::wstring& resource) {
    HICON icon = static_cast<HICON>(LoadImageW(Instance(), resource.c_str(), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
    if (!icon)
        return nullptr;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = 16;
    info.bmiHeader.biHeight = -16;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap) {
        std::fill_n(static_cast<std::uint32_t*>(bits), 256, 0u);
        HGDIOBJ old = SelectObject(dc, bitmap);
        DrawIconEx(dc, 0, 0, icon, 16, 16, 0, nullptr, DI_NORMAL);
        SelectObject(dc, old);
    }
    DeleteDC(dc);
    DestroyIcon(icon);
    return bitmap;
}

class TExtras : public TMainWindowExtras {
public:
    TExtras(TfrmMain& form, const TfrmMainPeer& peer, UINT trayMessage)
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

    ~TExtras() override {
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

    bool Dispatch(unsigned message, std::uintptr_t wParam, std::intptr_t lParam, std::intptr_t& result) override {
        bool handled = false;
        Application::Guarded([&] { handled = Handle(message, wParam, lParam, result); });
        return handled;
    }

    void Repaint() override { UpdateWindow(FWindow); }

private:
    int Scale(int pixels) const { return MulDiv(pixels, static_cast<int>(FDpi), 96); }

    UINT WindowDpi() const {
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

    // --- Look -----------------------------------------------------------------------

    void LoadStyle() {
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

    void MakeFonts() {
        const int height = -MulDiv(8, static_cast<int>(FDpi), 72);
        auto make = [&](int weight) {
            return CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                               CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Tahoma");
        };
        FFont.Reset(make(FW_NORMAL));
        FBoldFont.Reset(make(FW_BOLD));
    }

    void MakeImageLists() {
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

    HWND Child(const wchar_t* windowClass, const wchar_t* text, DWORD style, UINT id, DWORD exStyle = 0) {
        HWND control = CreateWindowExW(exStyle, windowClass, text, WS_CHILD | style, 0, 0, 0, 0, FWindow,
                                       reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), Instance(), nullptr);
        if (control)
            SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(FFont.Get()), FALSE);
        return control;
    }

    void CreateControls() {
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

    HWND Handle(const TComponent& component) const {
        return reinterpret_cast<HWND>(FPeer.ComponentHandle(component));
    }

    // The controls of each page: shown only while their page is the active one.
    std::vector<HWND> PageControls(const TTabSheet* page) const {
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
    void PlaceWindow() {
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

    void Layout() {
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

    void Hook() {
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

    void ShowAll() {
        ShowPages();
        ShowTrackBar();
        ShowCheckBox();
        ShowGrid();
        ShowStatus();
    }

    // --- Pages ------------------------------------------------------------------------

    void ShowPages() {
        // Tabs for the pages whose tab is visible, in page order.
        FTabPages.clear();
        TabCtrl_DeleteAllItems(FTabs);
        for (TTabSheet* page : FForm.PageControl1.Pages) {
            if (!page->TabVisible)
                continue;
            TCITEMW item = {};
            item.mask = TCIF_TEXT;
            item.pszText = const_cast<wchar_t*>(page->Caption().c_str());
            TabCtrl_InsertItem(FTabs, static_cast<int>(FTabPages.size()), &item);
            FTabPages.push_back(page);
        }
        TTabSheet* active = FForm.PageControl1.ActivePage();
        for (std::size_t i = 0; i < FTabPages.size(); ++i)
            if (FTabPages[i] == active)
                TabCtrl_SetCurSel(FTabs, static_cast<int>(i));
        for (TTabSheet* page : FForm.PageControl1.Pages)
            for (HWND control : PageControls(page))
                ShowWindow(control, page == active ? SW_SHOWNA : SW_HIDE);
        InvalidateRect(FTabs, nullptr, TRUE);
        if (active != FShownPage) {
            FShownPage = active;
            if (IsWindowVisible(FWindow) && active && active->OnShow)
                active->OnShow(active);
        }
    }

    void TabChanged() {
        const int selected = TabCtrl_GetCurSel(FTabs);
        if (selected >= 0 && selected < static_cast<int>(FTabPages.size()))
            FForm.PageControl1.SetActivePage(FTabPages[static_cast<std::size_t>(selected)]);
    }

    // --- Settings page ----------------------------------------------------------------

    void ShowTrackBar() {
        const TTrackBar& bar = FForm.TrackBar1;
        SendMessageW(FTrackBar, TBM_SETRANGEMIN, FALSE, bar.Min);
        SendMessageW(FTrackBar, TBM_SETRANGEMAX, FALSE, bar.Max);
        SendMessageW(FTrackBar, TBM_SETTICFREQ, static_cast<WPARAM>(bar.Frequency), 0);
        SendMessageW(FTrackBar, TBM_SETPAGESIZE, 0, bar.Frequency);
        SendMessageW(FTrackBar, TBM_SETPOS, TRUE, bar.Position);
        EnableWindow(FTrackBar, bar.Enabled);
    }

    void TrackBarMoved() {
        const int position = static_cast<int>(SendMessageW(FTrackBar, TBM_GETPOS, 0, 0));
        if (position == FForm.TrackBar1.Position)
            return;
        FForm.TrackBar1.Position = position;
        if (FForm.TrackBar1.OnChange)
            FForm.TrackBar1.OnChange(&FForm.TrackBar1);
    }

    void ShowCheckBox() {
        const TAction* action = FForm.ckDemarrage.Action;
        SetWindowTextW(FCheckBox, FForm.ckDemarrage.Caption().c_str());
        SendMessageW(FCheckBox, BM_SETCHECK, action && action->Checked ? BST_CHECKED : BST_UNCHECKED, 0);
        EnableWindow(FCheckBox, !action || action->Enabled);
    }

    // --- Grid -------------------------------------------------------------------------

    void ShowGrid() {
        const TStringGrid& grid = FForm.StringGrid1;
        // Header texts come from row 0.
        if (!grid.Cells.empty())
            for (int c = 0; c < 3 && c < static_cast<int>(grid.Cells[0].size()); ++c) {
                LVCOLUMNW column = {};
                column.mask = LVCF_TEXT;
                column.pszText = const_cast<wchar_t*>(grid.Cells[0][static_cast<std::size_t>(c)].c_str());
                ListView_SetColumn(FGrid, c, &column);
            }
        const int rows = std::max(0, grid.RowCount - grid.FixedRows);
        FUpdatingGrid = true;
        while (ListView_GetItemCount(FGrid) > rows)
            ListView_DeleteItem(FGrid, ListView_GetItemCount(FGrid) - 1);
        for (int r = 0; r < rows; ++r) {
            const std::size_t row = static_cast<std::size_t>(r + grid.FixedRows);
            std::wstring cells[3];
            if (row < grid.Cells.size())
                for (std::size_t c = 0; c < 3 && c < grid.Cells[row].size(); ++c)
                    cells[c] = grid.Cells[row][c];
            if (r >= ListView_GetItemCount(FGrid)) {
                LVITEMW item = {};
                item.mask = LVIF_TEXT | LVIF_IMAGE;
                item.iItem = r;
                item.iImage = I_IMAGENONE;
                item.pszText = const_cast<wchar_t*>(cells[0].c_str());
                ListView_InsertItem(FGrid, &item);
            }
            for (int c = 0; c < 3; ++c)
                ListView_SetItemText(FGrid, r, c, const_cast<wchar_t*>(cells[c].c_str()));
        }
        const int selected = grid.Row - grid.FixedRows;
        for (int r = 0; r < rows; ++r)
            ListView_SetItemState(FGrid, r, r == selected ? LVIS_SELECTED | LVIS_FOCUSED : 0,
                                  LVIS_SELECTED | LVIS_FOCUSED);
        FUpdatingGrid = false;
        InvalidateRect(FGrid, nullptr, FALSE);
        UpdateActions();
    }

    bool HasHeart(int item) const {
        const std::size_t row = static_cast<std::size_t>(item + FForm.StringGrid1.FixedRows);
        return row < FForm.StringGrid1.Hearts.size() && FForm.StringGrid1.Hearts[row];
    }

    LRESULT GridCustomDraw(NMLVCUSTOMDRAW* draw) {
        switch (draw->nmcd.dwDrawStage) {
            case CDDS_PREPAINT:
                return CDRF_NOTIFYITEMDRAW;
            case CDDS_ITEMPREPAINT:
            case CDDS_ITEMPREPAINT | CDDS_SUBITEM:
                if (FDark) {
                    // The list would paint a selected row in the system's colours; the
                    // row is painted in ours instead.
                    const bool selected =
                        ListView_GetItemState(FGrid, static_cast<int>(draw->nmcd.dwItemSpec), LVIS_SELECTED) &
                        LVIS_SELECTED;
                    draw->nmcd.uItemState &= ~static_cast<UINT>(CDIS_SELECTED | CDIS_FOCUS);
                    draw->clrTextBk = Ref(selected ? FStyle.Selection : FStyle.GridBack);
                    draw->clrText = Ref(selected ? FStyle.SelectionText : FStyle.GridText);
                }
                if (draw->nmcd.dwDrawStage == CDDS_ITEMPREPAINT)
                    return CDRF_NOTIFYSUBITEMDRAW | CDRF_NEWFONT;
                return draw->iSubItem == 2 ? CDRF_NOTIFYPOSTPAINT | CDRF_NEWFONT : CDRF_NEWFONT;
            case CDDS_ITEMPOSTPAINT | CDDS_SUBITEM: {
                const int item = static_cast<int>(draw->nmcd.dwItemSpec);
                if (draw->iSubItem == 2 && HasHeart(item)) {
                    RECT cell;
                    ListView_GetSubItemRect(FGrid, item, 2, LVIR_BOUNDS, &cell);
                    // The heart sits 2 pixels right of and 4 below the cell's corner.
                    ImageList_Draw(FStatusImages.Get(), 2, draw->nmcd.hdc, cell.left + Scale(2), cell.top + Scale(4),
                                   ILD_TRANSPARENT);
                }
                return CDRF_DODEFAULT;
            }
        }
        return CDRF_DODEFAULT;
    }

    void GridSelectionChanged() {
        if (FUpdatingGrid)
            return;
        const int selected = ListView_GetNextItem(FGrid, -1, LVNI_SELECTED);
        FForm.StringGrid1.Row = selected < 0 ? 0 : selected + FForm.StringGrid1.FixedRows;
        UpdateActions();
    }

    // --- Actions, menus and toolbar ---------------------------------------------------

    std::vector<TAction*> Actions() const {
        return {&FForm.actParam,       &FForm.actLancerAuDemarrage, &FForm.actAlwaysCheckUpdates,
                &FForm.actCheckUpdates, &FForm.actQuitter,           &FForm.actSetAsDefault,
                &FForm.actNoDefault,    &FForm.actRefreshList};
    }

    UINT ActionId(const TAction* action) const {
        const auto all = Actions();
        const auto at = std::find(all.begin(), all.end(), action);
        return kFirstActionId + static_cast<UINT>(at - all.begin());
    }

    TAction* ActionOf(UINT id) const {
        const auto all = Actions();
        if (id < kFirstActionId || id >= kFirstActionId + all.size())
            return nullptr;
        return all[id - kFirstActionId];
    }

    // Asks every action whether it is enabled now, and shows the answer on the toolbar.
    void UpdateActions() {
        for (TAction* action : Actions())
            if (action->OnUpdate)
                action->OnUpdate(action);
        for (const TMenuItem& item : FForm.ToolBar1.Items)
            if (item.Action)
                SendMessageW(FToolBar, TB_ENABLEBUTTON, ActionId(item.Action), MAKELPARAM(item.Action->Enabled, 0));
    }

    void Execute(TAction* action) {
        UpdateActions();
        if (action && action->Enabled)
            action->Execute();
        UpdateActions();
    }

    void Popup(const TPopupMenu& menu, POINT at) {
        UpdateActions();
        TMenuHandle popup(CreatePopupMenu());
        std::vector<std::unique_ptr<TGdi<HBITMAP>>> pictures;
        for (const TMenuItem& item : menu.Items) {
            if (!item.Action) {
                AppendMenuW(popup.Get(), MF_SEPARATOR, 0, nullptr);
                continue;
            }
            MENUITEMINFOW info = {};
            info.cbSize = sizeof(info);
            info.fMask = MIIM_ID | MIIM_STRING | MIIM_STATE | MIIM_FTYPE;
            info.fType = MFT_STRING;
            info.wID = ActionId(item.Action);
            info.dwTypeData = const_cast<wchar_t*>(item.Caption.c_str());
            info.fState = (item.Action->Checked ? MFS_CHECKED : 0) | (item.Action->Enabled ? MFS_ENABLED : MFS_DISABLED);
            if (item.Action->ImageIndex >= 0 &&
                item.Action->ImageIndex < static_cast<int>(FForm.ImageList1.ResourceNames.size())) {
                pictures.push_back(std::make_unique<TGdi<HBITMAP>>(IconBitmap(
                    FForm.ImageList1.ResourceNames[static_cast<std::size_t>(item.Action->ImageIndex)])));
                if (pictures.back()->Get()) {
                    info.fMask |= MIIM_BITMAP;
                    info.hbmpItem = pictures.back()->Get();
                }
            }
            InsertMenuItemW(popup.Get(), GetMenuItemCount(popup.Get()), TRUE, &info);
        }
        // The menu closes when the user clicks elsewhere only if our window is in front.
        SetForegroundWindow(FWindow);
        const UINT chosen = static_cast<UINT>(TrackPopupMenuEx(
            popup.Get(), TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, at.x, at.y, FWindow, nullptr));
        PostMessageW(FWindow, WM_NULL, 0, 0);
        if (chosen)
            Execute(ActionOf(chosen));
    }

    // --- Status bar -------------------------------------------------------------------

    void ShowStatus() {
        const auto& panels = FForm.StatusBar1.Panels;
        std::vector<int> edges;
        int right = 0;
        for (const TStatusPanel& panel : panels) {
            right += Scale(panel.Width);
            edges.push_back(right);
        }
        if (!edges.empty())
            edges.back() = -1;  // the last panel reaches the end of the bar
        SendMessageW(FStatus, SB_SETPARTS, edges.size(), reinterpret_cast<LPARAM>(edges.data()));
        for (std::size_t i = 0; i < panels.size(); ++i) {
            // Panel 3 is drawn by the program.
            const WPARAM how = static_cast<WPARAM>(i) | (i == 3 ? SBT_OWNERDRAW : 0);
            SendMessageW(FStatus, SB_SETTEXTW, how,
                         i == 3 ? 3 : reinterpret_cast<LPARAM>(panels[i].Text.c_str()));
        }
        InvalidateRect(FStatus, nullptr, TRUE);
    }

    // The "Logo" resource, read anew for every paint, at the panel's left edge and 2
    // pixels above its top.
    void DrawLogo(HDC dc, const RECT& panel) {
        auto bytes = AppShell::ResourceBytes(L"LOGO", AppShell::ResRcData);
        if (!bytes)
            return;
        PngImage logo;
        try {
            logo = DecodePng(*bytes);
        } catch (const Exception&) {
            return;  // a damaged logo is left out rather than stopping every paint
        }
        TGdi<HBITMAP> bitmap(PremultipliedBitmap(logo));
        if (!bitmap.Get())
            return;
        HDC memory = CreateCompatibleDC(dc);
        HGDIOBJ old = SelectObject(memory, bitmap.Get());
        BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
        AlphaBlend(dc, panel.left, panel.top - Scale(2), Scale(logo.Width), Scale(logo.Height), memory, 0, 0,
                   logo.Width, logo.Height, blend);
        SelectObject(memory, old);
        DeleteDC(memory);
    }

    // Paints the whole bar: its ground, the texts of panels 0 to 2 and the logo.
    void PaintStatus(HDC dc) {
        RECT bar;
        GetClientRect(FStatus, &bar);
        const COLORREF ground = FDark ? Ref(FStyle.StatusBar) : GetSysColor(COLOR_BTNFACE);
        const COLORREF text = FDark ? Ref(FStyle.StatusText) : GetSysColor(COLOR_BTNTEXT);
        const COLORREF line = FDark ? Ref(FStyle.GridLine) : GetSysColor(COLOR_BTNSHADOW);
        TGdi<HBRUSH> groundBrush(CreateSolidBrush(ground));
        FillRect(dc, &bar, groundBrush.Get());
        HGDIOBJ oldFont = SelectObject(dc, FFont.Get());
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, text);
        TGdi<HBRUSH> lineBrush(CreateSolidBrush(line));
        const auto& panels = FForm.StatusBar1.Panels;
        for (std::size_t i = 0; i < panels.size(); ++i) {
            RECT part;
            if (!SendMessageW(FStatus, SB_GETRECT, i, reinterpret_cast<LPARAM>(&part)))
                continue;
            if (part.right <= part.left)
                continue;
            if (i == 3) {
                DrawLogo(dc, part);
            } else {
                RECT inner = part;
                inner.left += Scale(2);
                DrawTextW(dc, panels[i].Text.c_str(), -1, &inner, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
                RECT edge = {part.right - 1, part.top + Scale(2), part.right, part.bottom - Scale(2)};
                FillRect(dc, &edge, lineBrush.Get());
            }
        }
        SelectObject(dc, oldFont);
    }

    static LRESULT CALLBACK StatusProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                       DWORD_PTR data) {
        auto* self = reinterpret_cast<TExtras*>(data);
        if (message == WM_ERASEBKGND)
            return 1;
        if (message == WM_PAINT || message == WM_PRINTCLIENT) {
            PAINTSTRUCT ps;
            HDC dc = message == WM_PAINT ? BeginPaint(window, &ps) : reinterpret_cast<HDC>(wParam);
            Application::Guarded([&] { self->PaintStatus(dc); });
            if (message == WM_PAINT)
                EndPaint(window, &ps);
            return 0;
        }
        return DefSubclassProc(window, message, wParam, lParam);
    }

    // --- Tabs in the dark look ----------------------------------------------------------

    void PaintTabs(HDC dc) {
        RECT all;
        GetClientRect(FTabs, &all);
        FillRect(dc, &all, FWindowBrush.Get());
        HGDIOBJ oldFont = SelectObject(dc, FFont.Get());
        SetBkMode(dc, TRANSPARENT);
        const int selected = TabCtrl_GetCurSel(FTabs);
        TGdi<HBRUSH> accent(CreateSolidBrush(Ref(FStyle.Accent)));
        TGdi<HBRUSH> line(CreateSolidBrush(Ref(FStyle.GridLine)));
        RECT body = all;
        TabCtrl_AdjustRect(FTabs, FALSE, &body);
        RECT rule = {all.left, body.top - Scale(3), all.right, body.top - Scale(2)};
        FillRect(dc, &rule, line.Get());
        for (int i = 0; i < TabCtrl_GetItemCount(FTabs); ++i) {
            RECT tab;
            TabCtrl_GetItemRect(FTabs, i, &tab);
            FillRect(dc, &tab, i == selected ? FControlBrush.Get() : FWindowBrush.Get());
            if (i == selected) {
                RECT mark = {tab.left, tab.bottom - Scale(2), tab.right, tab.bottom};
                FillRect(dc, &mark, accent.Get());
            }
            SetTextColor(dc, Ref(i == selected ? FStyle.ControlText : FStyle.WindowText));
            DrawTextW(dc, FTabPages[static_cast<std::size_t>(i)]->Caption().c_str(), -1, &tab,
                      DT_SINGLELINE | DT_VCENTER | DT_CENTER | DT_NOPREFIX);
        }
        SelectObject(dc, oldFont);
    }

    static LRESULT CALLBACK TabsProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                     DWORD_PTR data) {
        auto* self = reinterpret_cast<TExtras*>(data);
        if (self->FDark) {
            if (message == WM_ERASEBKGND)
                return 1;
            if (message == WM_PAINT || message == WM_PRINTCLIENT) {
                PAINTSTRUCT ps;
                HDC dc = message == WM_PAINT ? BeginPaint(window, &ps) : reinterpret_cast<HDC>(wParam);
                Application::Guarded([&] { self->PaintTabs(dc); });
                if (message == WM_PAINT)
                    EndPaint(window, &ps);
                return 0;
            }
        }
        return DefSubclassProc(window, message, wParam, lParam);
    }

    // The grid's header: dark, and with narrow margins so that "Def" fits its 26 pixels.
    LRESULT HeaderCustomDraw(NMCUSTOMDRAW* draw) {
        if (draw->dwDrawStage == CDDS_PREPAINT) {
            if (FDark)
                FillRect(draw->hdc, &draw->rc, FControlBrush.Get());
            return CDRF_NOTIFYITEMDRAW | CDRF_NOTIFYPOSTPAINT;
        }
        if (draw->dwDrawStage == CDDS_POSTPAINT) {
            // The stretch right of the last column.
            HWND header = draw->hdr.hwndFrom;
            const int count = Header_GetItemCount(header);
            RECT last = {};
            if (FDark && count > 0 && Header_GetItemRect(header, count - 1, &last) && last.right < draw->rc.right) {
                RECT rest = {last.right, draw->rc.top, draw->rc.right, draw->rc.bottom};
                FillRect(draw->hdc, &rest, FControlBrush.Get());
            }
            return CDRF_DODEFAULT;
        }
        if (draw->dwDrawStage != CDDS_ITEMPREPAINT)
            return CDRF_DODEFAULT;
        const int column = static_cast<int>(draw->dwItemSpec);
        HDC dc = draw->hdc;
        TGdi<HBRUSH> ground(CreateSolidBrush(FDark ? Ref(FStyle.Control) : GetSysColor(COLOR_BTNFACE)));
        TGdi<HBRUSH> line(CreateSolidBrush(FDark ? Ref(FStyle.GridLine) : GetSysColor(COLOR_BTNSHADOW)));
        FillRect(dc, &draw->rc, ground.Get());
        RECT edge = {draw->rc.right - 1, draw->rc.top, draw->rc.right, draw->rc.bottom};
        FillRect(dc, &edge, line.Get());
        RECT bottom = {draw->rc.left, draw->rc.bottom - 1, draw->rc.right, draw->rc.bottom};
        FillRect(dc, &bottom, line.Get());
        const std::wstring text = column >= 0 && column < 3 ? HeaderCaption(column) : L"";
        RECT inner = draw->rc;
        inner.left += Scale(3);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, FDark ? Ref(FStyle.ControlText) : GetSysColor(COLOR_BTNTEXT));
        HGDIOBJ old = SelectObject(dc, FFont.Get());
        DrawTextW(dc, text.c_str(), -1, &inner, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
        SelectObject(dc, old);
        return CDRF_SKIPDEFAULT;
    }

    std::wstring HeaderCaption(int column) const {
        const auto& cells = FForm.StringGrid1.Cells;
        if (cells.empty() || static_cast<std::size_t>(column) >= cells[0].size())
            return L"";
        return cells[0][static_cast<std::size_t>(column)];
    }

    static LRESULT CALLBACK GridProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                     DWORD_PTR data) {
        auto* self = reinterpret_cast<TExtras*>(data);
        if (message == WM_NOTIFY) {
            auto* header = reinterpret_cast<NMHDR*>(lParam);
            if (header->hwndFrom == ListView_GetHeader(window) && header->code == NM_CUSTOMDRAW) {
                LRESULT result = CDRF_DODEFAULT;
                Application::Guarded(
                    [&] { result = self->HeaderCustomDraw(reinterpret_cast<NMCUSTOMDRAW*>(lParam)); });
                return result;
            }
        }
        return DefSubclassProc(window, message, wParam, lParam);
    }

    // The "Vanto V3" group in the dark look: its frame, and its caption on the ground.
    void PaintGroup(HWND group, HDC dc) {
        RECT box;
        GetClientRect(group, &box);
        FillRect(dc, &box, FWindowBrush.Get());
        wchar_t caption[64] = L"";
        GetWindowTextW(group, caption, 64);
        HGDIOBJ old = SelectObject(dc, FFont.Get());
        SIZE size = {};
        GetTextExtentPoint32W(dc, caption, static_cast<int>(wcslen(caption)), &size);
        const int middle = size.cy / 2;
        TGdi<HBRUSH> line(CreateSolidBrush(Ref(FStyle.GridLine)));
        RECT frame = {box.left, box.top + middle, box.right, box.bottom};
        FrameRect(dc, &frame, line.Get());
        RECT label = {box.left + Scale(6), box.top, box.left + Scale(10) + size.cx, box.top + size.cy};
        FillRect(dc, &label, FWindowBrush.Get());
        label.left += Scale(2);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, Ref(FStyle.WindowText));
        DrawTextW(dc, caption, -1, &label, DT_SINGLELINE | DT_NOPREFIX);
        SelectObject(dc, old);
    }

    static LRESULT CALLBACK GroupProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                      DWORD_PTR data) {
        auto* self = reinterpret_cast<TExtras*>(data);
        if (self->FDark) {
            if (message == WM_ERASEBKGND)
                return 1;
            if (message == WM_PAINT || message == WM_PRINTCLIENT) {
                PAINTSTRUCT ps;
                HDC dc = message == WM_PAINT ? BeginPaint(window, &ps) : reinterpret_cast<HDC>(wParam);
                Application::Guarded([&] { self->PaintGroup(window, dc); });
                if (message == WM_PAINT)
                    EndPaint(window, &ps);
                return 0;
            }
        }
        return DefSubclassProc(window, message, wParam, lParam);
    }

    // --- Messages -----------------------------------------------------------------------

    bool Handle(unsigned message, std::uintptr_t wParam, std::intptr_t lParam, std::intptr_t& result) {
        switch (message) {
            case WM_CLOSE: {
                bool canClose = true;
                FForm.FormCloseQuery(&FForm, canClose);
                if (canClose) {
                    FForm.FormClose(&FForm);
                    // Closing the main window ends the message loop; the window goes on the way out.
                    ShowWindow(FWindow, SW_HIDE);
                    AppShell::Terminate();
                }
                result = 0;
                return true;
            }
            case WM_QUERYENDSESSION:
                // Never stand in the way of logging off or shutting down.
                result = TRUE;
                return true;
            case WM_ENDSESSION:
                if (wParam) {
                    // The session ends without our message loop ending: reset the control
                    // box and save the settings now, as a normal end would.
                    FForm.FormDestroy(&FForm);
                    ExitProcess(0);
                }
                result = 0;
                return true;
            case WM_SHOWWINDOW:
                if (wParam) {
                    AppShell::ShowTaskbarButton(true);
                    FForm.FormShow(&FForm);
                    // The page in front is being shown too.
                    if (TTabSheet* active = FForm.PageControl1.ActivePage(); active && active->OnShow) {
                        FShownPage = active;
                        active->OnShow(active);
                    }
                } else {
                    AppShell::ShowTaskbarButton(false);
                }
                return false;
            case WM_SIZE: {
                RECT outer;
                GetWindowRect(FWindow, &outer);
                FForm.Width = outer.right - outer.left;
                Layout();
                FForm.FormResize(&FForm);
                return false;
            }
            case WM_DPICHANGED: {
                FDpi = HIWORD(wParam);
                MakeFonts();
                for (HWND control : {FTabs, FBrightnessLabel, FTrackBar, FCheckBox, FToolBar, FGrid, FStatus})
                    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(FFont.Get()), TRUE);
                FRowHeightImages.Reset(ImageList_Create(1, Scale(24), ILC_COLOR32, 0, 0));
                ListView_SetImageList(FGrid, FRowHeightImages.Get(), LVSIL_SMALL);
                const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
                SetWindowPos(FWindow, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                             suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
                Layout();
                result = 0;
                return true;
            }
            case WM_COMMAND: {
                const UINT id = LOWORD(wParam);
                if (id == kCheckBoxId && HIWORD(wParam) == BN_CLICKED) {
                    Execute(FForm.ckDemarrage.Action);
                    ShowCheckBox();
                    return true;
                }
                if (TAction* action = ActionOf(id)) {
                    Execute(action);
                    return true;
                }
                return false;
            }
            case WM_HSCROLL:
                if (reinterpret_cast<HWND>(lParam) == FTrackBar) {
                    TrackBarMoved();
                    return true;
                }
                return false;
            case WM_NOTIFY:
                return Notify(reinterpret_cast<NMHDR*>(lParam), result);
            case WM_CONTEXTMENU:
                return false;
            case WM_ERASEBKGND:
                if (FDark) {
                    RECT client;
                    GetClientRect(FWindow, &client);
                    FillRect(reinterpret_cast<HDC>(wParam), &client, FWindowBrush.Get());
                    result = 1;
                    return true;
                }
                return false;
            case WM_CTLCOLORSTATIC:
            case WM_CTLCOLORBTN:
                if (FDark) {
                    HDC dc = reinterpret_cast<HDC>(wParam);
                    SetTextColor(dc, Ref(FStyle.WindowText));
                    SetBkColor(dc, Ref(FStyle.Window));
                    result = reinterpret_cast<std::intptr_t>(FWindowBrush.Get());
                    return true;
                }
                return false;
        }
        if (message == FTrayMessage && (LOWORD(lParam) == WM_RBUTTONUP || LOWORD(lParam) == WM_CONTEXTMENU)) {
            POINT at;
            GetCursorPos(&at);
            Popup(FForm.PopupMenu1, at);
            return true;
        }
        return false;
    }

    bool Notify(NMHDR* header, std::intptr_t& result) {
        if (header->hwndFrom == FTabs && header->code == TCN_SELCHANGE) {
            TabChanged();
            return true;
        }
        if (header->hwndFrom == FGrid) {
            switch (header->code) {
                case NM_CUSTOMDRAW:
                    result = GridCustomDraw(reinterpret_cast<NMLVCUSTOMDRAW*>(header));
                    return true;
                case LVN_ITEMCHANGED: {
                    const auto* change = reinterpret_cast<NMLISTVIEW*>(header);
                    if (change->uChanged & LVIF_STATE)
                        GridSelectionChanged();
                    return true;
                }
                case NM_RCLICK: {
                    // Rows only: a right-click on the header comes from the header control.
                    POINT at;
                    GetCursorPos(&at);
                    ScreenToClient(FGrid, &at);
                    FForm.StringGrid1MouseDown(&FForm.StringGrid1, at.x, at.y, true);
                    UpdateActions();
                    return true;
                }
            }
            return false;
        }
        if (header->code == TTN_GETDISPINFOW) {
            auto* info = reinterpret_cast<NMTTDISPINFOW*>(header);
            if (TAction* action = ActionOf(static_cast<UINT>(header->idFrom))) {
                info->lpszText = const_cast<wchar_t*>(action->Hint.c_str());
                return true;
            }
            return false;
        }
        if (header->hwndFrom == FToolBar && header->code == NM_CUSTOMDRAW && FDark) {
            auto* draw = reinterpret_cast<NMTBCUSTOMDRAW*>(header);
            if (draw->nmcd.dwDrawStage == CDDS_PREPAINT) {
                FillRect(draw->nmcd.hdc, &draw->nmcd.rc, FWindowBrush.Get());
                result = CDRF_NOTIFYITEMDRAW;
                return true;
            }
            if (draw->nmcd.dwDrawStage == CDDS_ITEMPREPAINT) {
                const bool enabled = !(draw->nmcd.uItemState & CDIS_DISABLED);
                draw->clrText = Ref(enabled ? FStyle.ControlText : FStyle.GridLine);
                draw->clrHighlightHotTrack = Ref(FStyle.Control);
                result = TBCDRF_USECDCOLORS | TBCDRF_HILITEHOTTRACK | TBCDRF_NOETCHEDEFFECT;
                return true;
            }
        }
        return false;
    }

    TfrmMain& FForm;
    const TfrmMainPeer& FPeer;
    HWND FWindow;
    UINT FTrayMessage;
    UINT FDpi = 96;
    bool FDark = false;
    TCarbonStyle FStyle;
    TGdi<HBRUSH> FWindowBrush;
    TGdi<HBRUSH> FControlBrush;
    TGdi<HFONT> FFont;
    TGdi<HFONT> FBoldFont;
    TImageListHandle FCommandImages;
    TImageListHandle FStatusImages;
    TImageListHandle FRowHeightImages;
    HWND FTabs = nullptr;
    HWND FBrightnessLabel = nullptr;
    HWND FTrackBar = nullptr;
    HWND FCheckBox = nullptr;
    HWND FToolBar = nullptr;
    HWND FGrid = nullptr;
    HWND FStatus = nullptr;
    std::vector<TTabSheet*> FTabPages;
    TTabSheet* FShownPage = nullptr;
    bool FUpdatingGrid = false;
};

}  // namespace

std::unique_ptr<TMainWindowExtras> CreateMainWindowExtras(TfrmMain& form, const TfrmMainPeer& peer,
                                                          unsigned trayMessage) {
    return std::make_unique<TExtras>(form, peer, trayMessage);
}
