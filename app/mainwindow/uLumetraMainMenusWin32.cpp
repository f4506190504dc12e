// The main window's actions on Windows: the toolbar's buttons, whether each action is
// enabled, and the popup menus of the tray and the grid.

#include "uLumetraMainControlsWin32.h"

namespace MainControlsWin32 {

std::vector<TAction*> TExtras::Actions() const {
    return {&FForm.actParam,       &FForm.actLancerAuDemarrage, &FForm.actAlwaysCheckUpdates,
            &FForm.actCheckUpdates, &FForm.actQuitter,           &FForm.actSetAsDefault,
            &FForm.actNoDefault,    &FForm.actRefreshList};
}

UINT TExtras::ActionId(const TAction* action) const {
    const auto all = Actions();
    const auto at = std::find(all.begin(), all.end(), action);
    return kFirstActionId + static_cast<UINT>(at - all.begin());
}

TAction* TExtras::ActionOf(UINT id) const {
    const auto all = Actions();
    if (id < kFirstActionId || id >= kFirstActionId + all.size())
        return nullptr;
    return all[id - kFirstActionId];
}

// Asks every action whether it is enabled now, and shows the answer on the toolbar.
void TExtras::UpdateActions() {
    for (TAction* action : Actions())
        if (action->OnUpdate)
            action->OnUpdate(action);
    for (const TMenuItem& item : FForm.ToolBar1.Items)
        if (item.Action)
            SendMessageW(FToolBar, TB_ENABLEBUTTON, ActionId(item.Action), MAKELPARAM(item.Action->Enabled, 0));
}

void TExtras::Execute(TAction* action) {
    UpdateActions();
    if (action && action->Enabled)
        action->Execute();
    UpdateActions();
}

void TExtras::Popup(const TPopupMenu& menu, POINT at) {
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

}  // namespace MainControlsWin32
