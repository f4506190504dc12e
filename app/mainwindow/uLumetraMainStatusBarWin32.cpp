// The main window's status bar on Windows: its panels' texts and the logo in panel 3.

#include "uLumetraMainControlsWin32.h"

namespace MainControlsWin32 {

void TExtras::ShowStatus() {
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
void TExtras::DrawLogo(HDC dc, const RECT& panel) {
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
void TExtras::PaintStatus(HDC dc) {
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

LRESULT CALLBACK TExtras::StatusProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                   DWORD_PTR data) {
    auto* self = reinterpret_cast<TExtras*>(data);
    return PaintedByUs(window, message, wParam, lParam, [self](HDC dc) { self->PaintStatus(dc); });
}

}  // namespace MainControlsWin32
