// The main window's two pages on Windows: the tabs, and the Settings page's track bar and
// check box.

#include "uLumetraMainControlsWin32.h"

namespace MainControlsWin32 {

void TExtras::ShowPages() {
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

void TExtras::TabChanged() {
    const int selected = TabCtrl_GetCurSel(FTabs);
    if (selected >= 0 && selected < static_cast<int>(FTabPages.size()))
        FForm.PageControl1.SetActivePage(FTabPages[static_cast<std::size_t>(selected)]);
}

void TExtras::ShowTrackBar() {
    const TTrackBar& bar = FForm.TrackBar1;
    SendMessageW(FTrackBar, TBM_SETRANGEMIN, FALSE, bar.Min);
    SendMessageW(FTrackBar, TBM_SETRANGEMAX, FALSE, bar.Max);
    SendMessageW(FTrackBar, TBM_SETTICFREQ, static_cast<WPARAM>(bar.Frequency), 0);
    SendMessageW(FTrackBar, TBM_SETPAGESIZE, 0, bar.Frequency);
    SendMessageW(FTrackBar, TBM_SETPOS, TRUE, bar.Position);
    EnableWindow(FTrackBar, bar.Enabled);
}

void TExtras::TrackBarMoved() {
    const int position = static_cast<int>(SendMessageW(FTrackBar, TBM_GETPOS, 0, 0));
    if (position == FForm.TrackBar1.Position)
        return;
    FForm.TrackBar1.Position = position;
    if (FForm.TrackBar1.OnChange)
        FForm.TrackBar1.OnChange(&FForm.TrackBar1);
}

void TExtras::ShowCheckBox() {
    const TAction* action = FForm.ckDemarrage.Action;
    SetWindowTextW(FCheckBox, FForm.ckDemarrage.Caption().c_str());
    SendMessageW(FCheckBox, BM_SETCHECK, action && action->Checked ? BST_CHECKED : BST_UNCHECKED, 0);
    EnableWindow(FCheckBox, !action || action->Enabled);
}

}  // namespace MainControlsWin32
