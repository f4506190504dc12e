// The Control Boxes page's grid on Windows: a report-view list whose rows mirror
// StringGrid1, with the default box's heart drawn in its first column.

#include "uLumetraMainControlsWin32.h"

namespace MainControlsWin32 {

void TExtras::ShowGrid() {
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

bool TExtras::HasHeart(int item) const {
    const std::size_t row = static_cast<std::size_t>(item + FForm.StringGrid1.FixedRows);
    return row < FForm.StringGrid1.Hearts.size() && FForm.StringGrid1.Hearts[row];
}

LRESULT TExtras::GridCustomDraw(NMLVCUSTOMDRAW* draw) {
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

void TExtras::GridSelectionChanged() {
    if (FUpdatingGrid)
        return;
    const int selected = ListView_GetNextItem(FGrid, -1, LVNI_SELECTED);
    FForm.StringGrid1.Row = selected < 0 ? 0 : selected + FForm.StringGrid1.FixedRows;
    UpdateActions();
}

}  // namespace MainControlsWin32
