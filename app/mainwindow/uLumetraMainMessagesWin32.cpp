// The main window's messages on Windows, turned into the window's handlers.

#include "uLumetraMainControlsWin32.h"

namespace MainControlsWin32 {

bool TExtras::Handle(unsigned message, std::uintptr_t wParam, std::intptr_t lParam, std::intptr_t& result) {
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

bool TExtras::Notify(NMHDR* header, std::intptr_t& result) {
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

}  // namespace MainControlsWin32
