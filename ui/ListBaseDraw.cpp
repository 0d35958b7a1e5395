// CListBase: drawing of owner-drawn rows, the shaded sort column, background erase and the custom
// draw of lists that are not owner-drawn.
//
// Cell rectangles come from the header's item rectangles (mapped to the list's client area), never
// from the control's own label rectangles, which differ between platforms.
#include "ui/ListBase.h"

#include <algorithm>
#include <vector>

namespace {

int Alignment(int fmt)
{
    return fmt & LVCFMT_JUSTIFYMASK;
}

void ClipRect(RECT& rect, const RECT& bounds)
{
    rect.left = std::min(std::max(rect.left, bounds.left), bounds.right);
    rect.right = std::min(std::max(rect.right, bounds.left), bounds.right);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Sort colour and the parts of the list outside the rows

void CListBase::ShadeSortColumn(bool bOn)
{
    if (bOn == m_bSortShading)
        return;
    if (bOn) {
        // Shading needs more than 256 colours.
        CClientDC dc(m_pListCtrl);
        if (dc.GetDeviceCaps(BITSPIXEL) * dc.GetDeviceCaps(PLANES) <= 8)
            return;
        ComputeSortColor();
    }
    m_bSortShading = bOn;
    if (m_pListCtrl->m_hWnd != nullptr)
        m_pListCtrl->Invalidate();
}

// A shade of the background: a light background gets darker, any other lighter.
void CListBase::ComputeSortColor()
{
    COLORREF background = static_cast<COLORREF>(Raw(LVM_GETBKCOLOR));
    if (background == CLR_NONE)
        background = ::GetSysColor(COLOR_WINDOW);
    int r = GetRValue(background);
    int g = GetGValue(background);
    int b = GetBValue(background);
    if (r > 240 && g > 240 && b > 240) {
        r -= 8;
        g -= 8;
        b -= 8;
    } else {
        auto lighter = [](int c) { return c < 232 ? c + c / 10 : 255; };
        r = lighter(r);
        g = lighter(g);
        b = lighter(b);
    }
    m_clrSortColumn = RGB(r, g, b);
}

// The sort column when it is shown, else -1.
int CListBase::ShownSortColumn() const
{
    const int column = m_nSortColumn != 0 ? std::abs(m_nSortColumn) - 1 : -1;
    return IsColumnShown(column) ? column : -1;
}

COLORREF CListBase::RowBackground(bool bDisabled, bool bSortColumn) const
{
    if (bDisabled)
        return ::GetSysColor(COLOR_INACTIVEBORDER);
    if (bSortColumn)
        return m_clrSortColumn;
    COLORREF background = static_cast<COLORREF>(Raw(LVM_GETBKCOLOR));
    return background == CLR_NONE ? ::GetSysColor(COLOR_WINDOW) : background;
}

bool CListBase::GetHeaderItemRect(int nPhysical, RECT* pRect) const
{
    CHeaderCtrl* pHeader = GetHeader();
    if (pHeader == nullptr || !pHeader->GetItemRect(nPhysical, pRect))
        return false;
    ::MapWindowPoints(pHeader->m_hWnd, m_pListCtrl->m_hWnd, reinterpret_cast<POINT*>(pRect), 2);
    return true;
}

void CListBase::InvalidateNonItemArea()
{
    CRect client;
    m_pListCtrl->GetClientRect(&client);
    int top = client.top;
    if (CHeaderCtrl* pHeader = GetHeader()) {
        CRect header;
        pHeader->GetWindowRect(&header);
        m_pListCtrl->ScreenToClient(&header);
        top = std::max(top, static_cast<int>(header.bottom));
    }
    const int count = static_cast<int>(Raw(LVM_GETITEMCOUNT));
    if (count == 0) {
        CRect rest(client.left, top, client.right, client.bottom);
        m_pListCtrl->InvalidateRect(&rest);
        return;
    }
    RECT first = {LVIR_BOUNDS, 0, 0, 0};
    if (Raw(LVM_GETITEMRECT, Raw(LVM_GETTOPINDEX), reinterpret_cast<LPARAM>(&first)) && first.top > top) {
        CRect above(client.left, top, client.right, first.top);
        m_pListCtrl->InvalidateRect(&above);
    }
    RECT last = {LVIR_BOUNDS, 0, 0, 0};
    if (Raw(LVM_GETITEMRECT, count - 1, reinterpret_cast<LPARAM>(&last)) && last.bottom < client.bottom) {
        CRect below(client.left, std::max(top, static_cast<int>(last.bottom)), client.right, client.bottom);
        m_pListCtrl->InvalidateRect(&below);
    }
}

BOOL CListBase::OnEraseBkgnd(CDC* pDC)
{
    const int sorted = ShownSortColumn();
    RECT band = {};
    if (!m_bSortShading || sorted < 0 || !GetHeaderItemRect(LogicalToPhysical(sorted), &band))
        return static_cast<BOOL>(m_pListCtrl->Default());
    CRect area;
    pDC->GetClipBox(&area);
    if (band.right <= area.left || band.left >= area.right)
        return static_cast<BOOL>(m_pListCtrl->Default());
    CBrush background(RowBackground(false, false));
    CBrush shade(m_clrSortColumn);
    CBrush* pOldBrush = pDC->SelectObject(&background);
    if (band.left > area.left)
        pDC->PatBlt(area.left, area.top, band.left - area.left, area.Height(), PATCOPY);
    if (band.right < area.right)
        pDC->PatBlt(band.right, area.top, area.right - band.right, area.Height(), PATCOPY);
    pDC->SelectObject(&shade);
    const int left = std::max(band.left, area.left);
    const int right = std::min(band.right, area.right);
    pDC->PatBlt(left, area.top, right - left, area.Height(), PATCOPY);
    pDC->SelectObject(pOldBrush);
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
// Row layout

int CListBase::GetStateIconMargin()
{
    if (m_bStateIconMarginFixed)
        return m_nStateIconMargin;
    m_bStateIconMarginFixed = true;
    HIMAGELIST hState = reinterpret_cast<HIMAGELIST>(Raw(LVM_GETIMAGELIST, LVSIL_STATE));
    int stateWidth = 0;
    int stateHeight = 0;
    RECT icon = {LVIR_ICON, 0, 0, 0};
    RECT cell = {};
    if (hState == nullptr || !::ImageList_GetIconSize(hState, &stateWidth, &stateHeight) ||
        Raw(LVM_GETITEMCOUNT) == 0 || !Raw(LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&icon)) ||
        !GetHeaderItemRect(0, &cell)) {
        m_nStateIconMargin = 4;
        return m_nStateIconMargin;
    }
    m_nStateIconMargin = std::min(std::max(static_cast<int>(icon.left - cell.left) - stateWidth, 0), 4);
    return m_nStateIconMargin;
}

void CListBase::GetRowLayout(int nItem, const LVITEMW& item, RECT* pCell0, RECT* pStateIcon, RECT* pSmallIcon,
                             RECT* pLabel)
{
    RECT bounds = {LVIR_BOUNDS, 0, 0, 0};
    Raw(LVM_GETITEMRECT, nItem, reinterpret_cast<LPARAM>(&bounds));
    RECT cell = bounds;
    if (GetHeaderItemRect(0, &cell)) {
        cell.top = bounds.top;
        cell.bottom = bounds.bottom;
    }
    const int height = cell.bottom - cell.top;
    int x = cell.left;
    RECT state = {x, cell.top, x, cell.bottom};
    HIMAGELIST hState = reinterpret_cast<HIMAGELIST>(Raw(LVM_GETIMAGELIST, LVSIL_STATE));
    int cx = 0;
    int cy = 0;
    if (hState != nullptr && ::ImageList_GetIconSize(hState, &cx, &cy)) {
        state.left = x + GetStateIconMargin();
        state.right = state.left + cx;
        state.top = cell.top + (height - cy) / 2;
        state.bottom = state.top + cy;
        x = state.right;
    }
    RECT icon = {x, cell.top, x, cell.bottom};
    HIMAGELIST hSmall = reinterpret_cast<HIMAGELIST>(Raw(LVM_GETIMAGELIST, LVSIL_SMALL));
    if (hSmall != nullptr && ::ImageList_GetIconSize(hSmall, &cx, &cy)) {
        icon.left = x + std::max(item.iIndent, 0) * cx;
        icon.right = icon.left + cx;
        icon.top = cell.top + (height - cy) / 2;
        icon.bottom = icon.top + cy;
        x = icon.right;
    }
    RECT label = {x, cell.top, cell.right, cell.bottom};
    ClipRect(state, cell);
    ClipRect(icon, cell);
    ClipRect(label, cell);
    *pCell0 = cell;
    *pStateIcon = state;
    *pSmallIcon = icon;
    *pLabel = label;
}

LRESULT CListBase::OnHitTest(WPARAM wParam, LPARAM lParam)
{
    const LRESULT nItem = Raw(LVM_HITTEST, wParam, lParam);
    LVHITTESTINFO* pHit = reinterpret_cast<LVHITTESTINFO*>(lParam);
    if (!m_bOwnerDrawn || pHit == nullptr || nItem < 0 || !(pHit->flags & LVHT_ONITEM))
        return nItem;
    // The control knows nothing of an owner-drawn row's parts: refine the hit from the own layout.
    LVITEMW item = {};
    item.mask = LVIF_INDENT;
    item.iItem = static_cast<int>(nItem);
    Raw(LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    RECT cell, state, icon, label;
    GetRowLayout(static_cast<int>(nItem), item, &cell, &state, &icon, &label);
    RECT bounds = {LVIR_BOUNDS, 0, 0, 0};
    Raw(LVM_GETITEMRECT, nItem, reinterpret_cast<LPARAM>(&bounds));
    const POINT pt = pHit->pt;
    if (::PtInRect(&label, pt))
        pHit->flags = LVHT_ONITEMLABEL;
    else if (::PtInRect(&icon, pt))
        pHit->flags = LVHT_ONITEMICON;
    else if (::PtInRect(&state, pt))
        pHit->flags = LVHT_ONITEMSTATEICON;
    else if (!::PtInRect(&bounds, pt) || (pt.x >= cell.left && pt.x < cell.left + GetStateIconMargin()))
        pHit->flags = LVHT_NOWHERE;
    return nItem;
}

// ---------------------------------------------------------------------------------------------
// Drawing of one cell's parts

// One image of one of the control's image lists, clipped to the rectangle and to the image size,
// blended when the item is selected and the list has the focus.
void CListBase::DrawListImage(CDC* pDC, int nImageList, int nImage, const LVITEMW* pItem, LPRECT pRect)
{
    CImageList* pImages = m_pListCtrl->GetImageList(nImageList);
    if (pImages == nullptr)
        return;
    int cx = 0;
    int cy = 0;
    pImages->GetIconSize(&cx, &cy);
    const bool selectedWithFocus = (pItem->state & LVIS_SELECTED) && ::GetFocus() == m_pListCtrl->m_hWnd;
    SIZE size = {std::min<int>(cx, pRect->right - pRect->left),
                 std::min<int>(cy, pRect->bottom - pRect->top)};
    if (size.cx > 0 && size.cy > 0)
        pImages->DrawEx(pDC, nImage, CPoint(pRect->left, pRect->top), size, CLR_NONE, CLR_DEFAULT,
                        ILD_TRANSPARENT | (selectedWithFocus ? ILD_BLEND50 : 0));
}

void CListBase::DrawSmallIcon(CDC* pDC, LVITEMW* pItem, LPRECT pRect)
{
    if (pItem->iImage > 0)
        DrawListImage(pDC, LVSIL_SMALL, pItem->iImage, pItem, pRect);
}

void CListBase::DrawStateIcon(CDC* pDC, LVITEMW* pItem, LPRECT pRect)
{
    const int image = static_cast<int>((pItem->state & LVIS_STATEIMAGEMASK) >> 12);
    if (image != 0)
        DrawListImage(pDC, LVSIL_STATE, image - 1, pItem, pRect);
}

void CListBase::DrawSubItemText(CDC* pDC, LVITEMW* pItem, LVCOLUMNW* pColumn, LPRECT pRect)
{
    if (pItem->pszText == nullptr || pItem->pszText[0] == 0 || pRect->right - pRect->left < 1)
        return;
    UINT format = DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_NOCLIP | DT_END_ELLIPSIS;
    if (Alignment(pColumn->fmt) == LVCFMT_CENTER)
        format |= DT_CENTER;
    else if (Alignment(pColumn->fmt) == LVCFMT_RIGHT)
        format |= DT_RIGHT;
    pDC->DrawText(pItem->pszText, -1, pRect, format);
}

// ---------------------------------------------------------------------------------------------
// Owner-drawn rows

void CListBase::DrawItem(LPDRAWITEMSTRUCT lpDrawItemStruct)
{
    CHeaderCtrl* pHeader = GetHeader();
    const int nItem = static_cast<int>(lpDrawItemStruct->itemID);
    if (pHeader == nullptr || nItem < 0)
        return;
    LVITEMW item = {};
    item.mask = LVIF_STATE | LVIF_IMAGE | LVIF_INDENT | LVIF_PARAM;
    item.iItem = nItem;
    item.stateMask = static_cast<UINT>(-1);
    if (!Raw(LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)))
        return;

    const bool hasFocus = ::GetFocus() == m_pListCtrl->m_hWnd;
    const bool selected = (item.state & LVIS_SELECTED) != 0;
    const bool selectedWithFocus = selected && hasFocus;
    const bool selectedAlways = selected && !hasFocus && (m_pListCtrl->GetStyle() & LVS_SHOWSELALWAYS);
    const bool focusedItem = (item.state & LVIS_FOCUSED) && hasFocus;
    const bool disabled = (item.state & LVIS_DISABLED) != 0;
    const bool fullRow = (m_dwExtendedStyle & LVS_EX_FULLROWSELECT) != 0;
    const bool highlighted = selectedWithFocus || selectedAlways;
    COLORREF highlight = 0;
    if (selectedWithFocus)
        highlight = nItem == m_nHotItem ? m_clrHotItem : ::GetSysColor(COLOR_HIGHLIGHT);
    else if (selectedAlways)
        highlight = ::GetSysColor(COLOR_BTNFACE);
    const bool underline = ((m_dwExtendedStyle & LVS_EX_TWOCLICKACTIVATE) && selected) ||
                           ((m_dwExtendedStyle & LVS_EX_ONECLICKACTIVATE) &&
                            (m_dwExtendedStyle & LVS_EX_UNDERLINEHOT) && nItem == m_nHotItem);
    COLORREF textColor = ::GetSysColor(COLOR_WINDOWTEXT);
    if (selectedWithFocus)
        textColor = ::GetSysColor(COLOR_HIGHLIGHTTEXT);
    else if (underline)
        textColor = m_clrHotItem;
    if (disabled)
        textColor = ::GetSysColor(COLOR_GRAYTEXT);

    CDCHandle handle(lpDrawItemStruct->hDC);
    CDC* pDC = handle.Get();
    CFont underlined;
    CFont* pOldFont = nullptr;
    if (underline) {
        LOGFONTW logFont = {};
        CFont* pFont = m_pListCtrl->GetFont();
        if (pFont != nullptr && pFont->GetLogFont(&logFont)) {
            logFont.lfUnderline = TRUE;
            if (underlined.CreateFontIndirect(&logFont))
                pOldFont = pDC->SelectObject(&underlined);
        }
    }
    const int oldBkMode = pDC->SetBkMode(TRANSPARENT);
    const COLORREF oldTextColor = pDC->SetTextColor(textColor);

    RECT cell0, stateIcon, smallIcon, label;
    GetRowLayout(nItem, item, &cell0, &stateIcon, &smallIcon, &label);
    const int shown = pHeader->GetItemCount();
    std::vector<int> order(std::max(shown, 1));
    pHeader->GetOrderArray(order.data(), shown);
    const int sorted = m_bSortShading ? ShownSortColumn() : -1;
    RECT focusRect = {0, 0, 0, 0};
    RECT rowRect = {0, lpDrawItemStruct->rcItem.top, 0, lpDrawItemStruct->rcItem.bottom};
    std::vector<wchar_t> text(128);

    for (int position = 0; position < shown; ++position) {
        const int physical = order[position];
        const int column = PhysicalToLogical(physical);
        RECT cell = {};
        if (column < 0 || !GetHeaderItemRect(physical, &cell))
            continue;
        cell.top = lpDrawItemStruct->rcItem.top;
        cell.bottom = lpDrawItemStruct->rcItem.bottom;
        if (position == 0)
            rowRect.left = physical == 0 ? label.left : cell.left;
        rowRect.right = std::max(rowRect.right, cell.right);
        const COLORREF background = RowBackground(disabled, column == sorted);
        const bool labelCell = physical == 0 || position == 0;
        const RECT labelArea = physical == 0 ? label : cell;
        RECT textRect = labelCell ? labelArea : cell;
        textRect.left += labelCell ? 2 : 6;
        textRect.right -= labelCell ? (physical == 0 ? 2 : 6) : 6;
        const int alignment = Alignment(physical == 0 ? m_nFormatOfSubItem0 : m_columns[column]->fmt);

        // The cell's item, its text read into a buffer that doubles until the text fits.
        LVITEMW cellItem = {};
        for (;;) {
            cellItem = {};
            cellItem.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_STATE | LVIF_INDENT | LVIF_PARAM;
            cellItem.iItem = nItem;
            cellItem.iSubItem = column;
            cellItem.stateMask = static_cast<UINT>(-1);
            cellItem.pszText = text.data();
            cellItem.cchTextMax = static_cast<int>(text.size());
            text[0] = 0;
            m_pListCtrl->GetItem(&cellItem);
            if (cellItem.pszText != text.data() ||
                lstrlenW(text.data()) < static_cast<int>(text.size()) - 1 || text.size() >= (1u << 16))
                break;
            text.resize(text.size() * 2);
        }

        // The highlight band around the label's text (rows without full-row selection).
        RECT band = labelArea;
        if (physical == 0 && !fullRow) {
            const int textWidth = std::min(
                static_cast<int>(pDC->GetTextExtent(cellItem.pszText, lstrlenW(cellItem.pszText)).cx),
                static_cast<int>(std::max(0L, textRect.right - textRect.left)));
            if (alignment == LVCFMT_RIGHT) {
                band.left = labelArea.right - textWidth - 8;
            } else if (alignment == LVCFMT_CENTER) {
                const int width = textWidth + 12;
                band.left = (labelArea.left + labelArea.right - width) / 2;
                band.right = band.left + width;
            } else {
                band.right = labelArea.left + textWidth + 8;
            }
            ClipRect(band, labelArea);
            focusRect = band;
        }

        if (!highlighted) {
            pDC->FillSolidRect(&cell, background);
        } else if (fullRow) {
            if (labelCell) {
                RECT front = {cell.left, cell.top, labelArea.left, cell.bottom};
                RECT rest = {labelArea.left, cell.top, cell.right, cell.bottom};
                pDC->FillSolidRect(&front, background);
                pDC->FillSolidRect(&rest, highlight);
            } else {
                pDC->FillSolidRect(&cell, highlight);
            }
        } else {
            pDC->FillSolidRect(&cell, background);
            if (physical == 0)
                pDC->FillSolidRect(&band, highlight);
        }

        if (physical == 0) {
            DrawStateIcon(pDC, &item, &stateIcon);
            DrawSmallIcon(pDC, &item, &smallIcon);
        }
        LVCOLUMNW description = {};
        description.mask = LVCF_FMT;
        description.fmt = alignment;
        DrawSubItemText(pDC, &cellItem, &description, &textRect);
    }

    if (pOldFont != nullptr)
        pDC->SelectObject(pOldFont);
    if (focusedItem) {
        pDC->SetTextColor(::GetSysColor(COLOR_WINDOWTEXT));
        pDC->DrawFocusRect(fullRow ? &rowRect : &focusRect);
    }
    pDC->SetTextColor(oldTextColor);
    pDC->SetBkMode(oldBkMode);
}

// ---------------------------------------------------------------------------------------------
// Custom draw of lists that are not owner-drawn

void CListBase::OnCustomDraw(NMHDR* pNMHDR, LRESULT* pResult)
{
    NMLVCUSTOMDRAW* pDraw = reinterpret_cast<NMLVCUSTOMDRAW*>(pNMHDR);
    *pResult = CDRF_DODEFAULT;
    if (m_bOwnerDrawn)
        return; // rows are drawn by DrawItem
    switch (pDraw->nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
        *pResult = CDRF_NOTIFYITEMDRAW;
        break;
    case CDDS_ITEMPREPAINT:
        *pResult = CDRF_NOTIFYSUBITEMDRAW;
        break;
    case CDDS_ITEMPREPAINT | CDDS_SUBITEM: {
        if (m_bSortShading) {
            const int sorted = ShownSortColumn();
            const bool sortColumn = sorted >= 0 && pDraw->iSubItem == LogicalToPhysical(sorted);
            pDraw->clrTextBk = RowBackground(false, sortColumn);
            *pResult = CDRF_NEWFONT;
        }
        if (pDraw->iSubItem == 0)
            *pResult |= CDRF_NOTIFYPOSTPAINT;
        break;
    }
    case CDDS_ITEMPOSTPAINT | CDDS_SUBITEM: {
        if (pDraw->iSubItem != 0)
            break;
        // The part of column 0 in front of its label, in the row's colour.
        const int nItem = static_cast<int>(pDraw->nmcd.dwItemSpec);
        LVITEMW item = {};
        item.mask = LVIF_STATE | LVIF_IMAGE | LVIF_INDENT;
        item.iItem = nItem;
        item.stateMask = static_cast<UINT>(-1);
        if (!Raw(LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)))
            break;
        RECT cell0, stateIcon, smallIcon, label;
        GetRowLayout(nItem, item, &cell0, &stateIcon, &smallIcon, &label);
        const bool hasFocus = ::GetFocus() == m_pListCtrl->m_hWnd;
        const bool selected = (item.state & LVIS_SELECTED) != 0;
        COLORREF color;
        if (selected && hasFocus)
            color = nItem == m_nHotItem ? m_clrHotItem : ::GetSysColor(COLOR_HIGHLIGHT);
        else if (selected && (m_pListCtrl->GetStyle() & LVS_SHOWSELALWAYS))
            color = ::GetSysColor(COLOR_BTNFACE);
        else
            color = RowBackground(false, m_bSortShading && ShownSortColumn() >= 0 &&
                                             LogicalToPhysical(ShownSortColumn()) == 0);
        CDCHandle handle(pDraw->nmcd.hdc);
        RECT front = {cell0.left, cell0.top, label.left, cell0.bottom};
        handle.Get()->FillSolidRect(&front, color);
        RECT bounds = {LVIR_BOUNDS, 0, 0, 0};
        Raw(LVM_GETITEMRECT, nItem, reinterpret_cast<LPARAM>(&bounds));
        if (cell0.left > bounds.left + GetStateIconMargin()) {
            // Column 0 is not displayed first: the control drew its icons at the row's left edge.
            DrawStateIcon(handle.Get(), &item, &stateIcon);
            DrawSmallIcon(handle.Get(), &item, &smallIcon);
        }
        break;
    }
    default:
        break;
    }
}
