// The parts of the main window that the platform does not draw in the dark look: the tabs,
// the grid's header and the "Vanto V3" group.

#include "uLumetraMainControlsWin32.h"

namespace MainControlsWin32 {

void TExtras::PaintTabs(HDC dc) {
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

LRESULT CALLBACK TExtras::TabsProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                 DWORD_PTR data) {
    auto* self = reinterpret_cast<TExtras*>(data);
    if (self->FDark)
        return PaintedByUs(window, message, wParam, lParam, [self](HDC dc) { self->PaintTabs(dc); });
    return DefSubclassProc(window, message, wParam, lParam);
}

// The grid's header: dark, and with narrow margins so that "Def" fits its 26 pixels.
LRESULT TExtras::HeaderCustomDraw(NMCUSTOMDRAW* draw) {
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

std::wstring TExtras::HeaderCaption(int column) const {
    const auto& cells = FForm.StringGrid1.Cells;
    if (cells.empty() || static_cast<std::size_t>(column) >= cells[0].size())
        return L"";
    return cells[0][static_cast<std::size_t>(column)];
}

LRESULT CALLBACK TExtras::GridProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
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
void TExtras::PaintGroup(HWND group, HDC dc) {
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

LRESULT CALLBACK TExtras::GroupProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                  DWORD_PTR data) {
    auto* self = reinterpret_cast<TExtras*>(data);
    if (self->FDark)
        return PaintedByUs(window, message, wParam, lParam, [self, window](HDC dc) { self->PaintGroup(window, dc); });
    return DefSubclassProc(window, message, wParam, lParam);
}

}  // namespace MainControlsWin32
