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
                // box and save the settings now, as a normal end would. A save that
                // fails is reported and the process ends all the same: the platform is
                // about to end it anyway, with nothing saved at all.
                // The tray goes with the session.
                Application::Guarded([this] { FForm.FormDestroy(&FForm); });
                AppShell::EndProcess(0);
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
            // The window's logic works in design pixels (96 DPI), as its panel widths are.
            RECT outer;
            GetWindowRect(FWindow, &outer);
            FForm.Width = MulDiv(outer.right - outer.left, 96, static_cast<int>(FDpi));
            Layout();
            FForm.FormResize(&FForm);
            return false;
        }
        case WM_DPICHANGED: {
            FDpi = HIWORD(wParam);
            MakeFonts();
            for (HWND control : {FTabs, FBrightnessLabel, FTrackBar, FCheckBox, FToolBar, FGrid, FStatus})
                SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(FFont.Get()), TRUE);
            ApplyGroupFonts();
            // Icons at the small-icon size of the new DPI; the toolbar takes the new list.
            MakeImageLists();
            SendMessageW(FToolBar, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(FCommandImages.Get()));
            SendMessageW(FToolBar, TB_AUTOSIZE, 0, 0);
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
            if (!enabled) {
                DrawDisabledButton(draw);
                result = CDRF_SKIPDEFAULT;
                return true;
            }
            draw->clrText = Ref(FStyle.ControlText);
            draw->clrHighlightHotTrack = Ref(FStyle.Control);
            result = TBCDRF_USECDCOLORS | TBCDRF_HILITEHOTTRACK | TBCDRF_NOETCHEDEFFECT;
            return true;
        }
    }
    return false;
}

void TExtras::DrawDisabledButton(NMTBCUSTOMDRAW* draw) {
    HDC dc = draw->nmcd.hdc;
    const RECT& box = draw->nmcd.rc;
    FillRect(dc, &box, FWindowBrush.Get());
    const UINT id = static_cast<UINT>(draw->nmcd.dwItemSpec);
    TBBUTTONINFOW button = {};
    button.cbSize = sizeof(button);
    button.dwMask = TBIF_IMAGE;
    SendMessageW(FToolBar, TB_GETBUTTONINFOW, id, reinterpret_cast<LPARAM>(&button));
    wchar_t text[64] = L"";
    if (SendMessageW(FToolBar, TB_GETBUTTONTEXTW, id, 0) < 64)
        SendMessageW(FToolBar, TB_GETBUTTONTEXTW, id, reinterpret_cast<LPARAM>(text));
    int imageWidth = 0, imageHeight = 0;
    ImageList_GetIconSize(FCommandImages.Get(), &imageWidth, &imageHeight);
    int x = box.left + Scale(4);
    if (button.iImage >= 0 && imageWidth > 0) {
        // Half the picture's strength, over the ground.
        const int y = box.top + (box.bottom - box.top - imageHeight) / 2;
        ImageList_DrawEx(FCommandImages.Get(), button.iImage, dc, x, y, 0, 0, CLR_NONE, Ref(FStyle.Window),
                         ILD_TRANSPARENT | ILD_BLEND50);
        x += imageWidth + Scale(4);
    }
    // The text halfway between the text colour and the ground: dim, flat, readable.
    const std::uint32_t a = FStyle.ControlText, b = FStyle.Window;
    auto mix = [&](int shift) { return ((((a >> shift) & 0xFF) + ((b >> shift) & 0xFF)) / 2) << shift; };
    SetTextColor(dc, Ref(mix(16) | mix(8) | mix(0)));
    SetBkMode(dc, TRANSPARENT);
    HGDIOBJ old = SelectObject(dc, FFont.Get());
    RECT area = {x, box.top, box.right, box.bottom};
    DrawTextW(dc, text, -1, &area, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    SelectObject(dc, old);
}

}  // namespace MainControlsWin32
