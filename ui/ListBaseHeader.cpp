// CListBase: the header (sort column, arrows, menu, drag, resize), sorting by a click, and the
// list's mouse, keyboard, focus, scrolling and destruction.
#include "ui/ListBase.h"

#include <algorithm>

namespace {

const DWORD kActivation = LVS_EX_ONECLICKACTIVATE | LVS_EX_TWOCLICKACTIVATE | LVS_EX_UNDERLINEHOT;
const UINT kSortArrowUp = 129;
const UINT kSortArrowDown = 130;

} // namespace

// ---------------------------------------------------------------------------------------------
// Sort column and arrows

void CListBase::SetSortColumn(int nColumn)
{
    const int previous = m_nSortColumn;
    m_nSortColumn = nColumn;
    UpdateSortArrows();
    if (std::abs(previous) != std::abs(nColumn) && m_pListCtrl->m_hWnd != nullptr)
        m_pListCtrl->Invalidate();
}

void CListBase::ShowSortArrows()
{
    m_bSortArrows = true;
    if (!s_bComCtl6)
        CreateSortArrows();
    UpdateSortArrows();
}

// The arrows of old common controls: two 9 x 5 bitmaps, black drawn in the grey-text colour, white
// transparent.
void CListBase::CreateSortArrows()
{
    m_imglstSortArrows.DeleteImageList();
    m_bmpUpArrow.DeleteObject();
    m_bmpDownArrow.DeleteObject();
    m_iUpArrow = m_iDownArrow = -1;
    if (!m_imglstSortArrows.Create(9, 5, ILC_COLOR24 | ILC_MASK, 2, 0))
        return;
    COLORMAP colorMap = {RGB(0, 0, 0), ::GetSysColor(COLOR_GRAYTEXT)};
    if (m_bmpUpArrow.LoadMappedBitmap(kSortArrowUp, 0, &colorMap, 1))
        m_iUpArrow = m_imglstSortArrows.Add(&m_bmpUpArrow, RGB(255, 255, 255));
    if (m_bmpDownArrow.LoadMappedBitmap(kSortArrowDown, 0, &colorMap, 1))
        m_iDownArrow = m_imglstSortArrows.Add(&m_bmpDownArrow, RGB(255, 255, 255));
    if (CHeaderCtrl* pHeader = GetHeader())
        pHeader->SetImageList(&m_imglstSortArrows);
}

void CListBase::UpdateSortArrows()
{
    CHeaderCtrl* pHeader = GetHeader();
    if (pHeader == nullptr)
        return;
    const int sorted = m_nSortColumn != 0 ? std::abs(m_nSortColumn) - 1 : -1;
    const bool ascending = m_nSortColumn > 0;
    for (int physical = pHeader->GetItemCount() - 1; physical >= 0; --physical) {
        HDITEMW item = {};
        item.mask = HDI_FORMAT;
        pHeader->GetItem(physical, &item);
        item.fmt = (item.fmt & HDF_JUSTIFYMASK) | HDF_STRING;
        const bool arrow = m_bSortArrows && PhysicalToLogical(physical) == sorted;
        if (s_bComCtl6) {
            if (arrow)
                item.fmt |= ascending ? HDF_SORTUP : HDF_SORTDOWN;
        } else if (arrow && (ascending ? m_iUpArrow : m_iDownArrow) >= 0) {
            item.mask |= HDI_IMAGE;
            item.fmt |= HDF_IMAGE | HDF_BITMAP_ON_RIGHT;
            item.iImage = ascending ? m_iUpArrow : m_iDownArrow;
        }
        pHeader->SetItem(physical, &item);
    }
}

void CListBase::SetFirstColumnFormat(int fmt)
{
    m_nFormatOfSubItem0 = fmt;
    if (!m_bOwnerDrawn && !(m_dwExtendedStyle & LVS_EX_FULLROWSELECT))
        return;
    CHeaderCtrl* pHeader = GetHeader();
    if (pHeader == nullptr || pHeader->GetItemCount() == 0)
        return;
    HDITEMW item = {};
    item.mask = HDI_FORMAT;
    pHeader->GetItem(0, &item);
    item.fmt = (item.fmt & ~HDF_JUSTIFYMASK) | (fmt & LVCFMT_JUSTIFYMASK);
    pHeader->SetItem(0, &item);
}

BOOL CListBase::OnColumnClick(NMHDR* pNMHDR, LRESULT* pResult)
{
    *pResult = 0;
    NMLISTVIEW* pList = reinterpret_cast<NMLISTVIEW*>(pNMHDR);
    const int column = PhysicalToLogical(pList->iSubItem);
    if (column < 0)
        return FALSE;
    pList->iSubItem = column;
    if (m_nSortColumn != 0 && std::abs(m_nSortColumn) - 1 == column)
        SetSortColumn(-m_nSortColumn);
    else
        SetSortColumn(column + 1);
    return FALSE; // the parent gets the click too, with the logical column
}

// ---------------------------------------------------------------------------------------------
// Header notifications, menu and commands

bool CListBase::IsPhysicalZeroDisplayedFirst() const
{
    CHeaderCtrl* pHeader = GetHeader();
    return pHeader == nullptr || pHeader->GetItemCount() == 0 || pHeader->OrderToIndex(0) == 0;
}

BOOL CListBase::OnHeaderNotify(WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    NMHEADERW* pHeader = reinterpret_cast<NMHEADERW*>(lParam);
    const UINT code = pHeader->hdr.code;
    if ((code == HDN_DIVIDERDBLCLICKW || code == HDN_DIVIDERDBLCLICKA) && m_bOwnerDrawn) {
        // The control sizes physical column 0 by its own label rectangle, which is wrong once the
        // column has moved: size such columns here.
        const int physical = pHeader->iItem;
        const int column = PhysicalToLogical(physical);
        CHeaderCtrl* pHeaderCtrl = GetHeader();
        const bool displayedFirst = pHeaderCtrl != nullptr && pHeaderCtrl->OrderToIndex(0) == physical;
        if (column >= 0 && ((displayedFirst && column != 0) || (physical == 0 && !displayedFirst))) {
            AutoSizeColumn(column, column != 0);
            *pResult = 0;
            return TRUE;
        }
    }
    *pResult = Raw(WM_NOTIFY, wParam, lParam);
    switch (code) {
    case HDN_ENDTRACKW:
    case HDN_ENDTRACKA:
    case HDN_ITEMCHANGEDW:
    case HDN_ITEMCHANGEDA:
        if (m_bSortShading)
            InvalidateNonItemArea();
        break;
    case HDN_ENDDRAG: {
        // Only a drag that goes ahead, to a valid place, moves the column.
        const HDITEMW* pItem = pHeader->pitem;
        const int column = PhysicalToLogical(pHeader->iItem);
        if (*pResult == 0 && pItem != nullptr && (pItem->mask & HDI_ORDER) && column >= 0) {
            const int position = PhysicalOrderToPosition(pItem->iOrder);
            if (position >= 0)
                MoveColumn(column, position);
        }
        break;
    }
    default:
        break;
    }
    return TRUE;
}

BOOL CListBase::CreateHeaderMenu(CMenu& menu) const
{
    if (m_nHideableColumns <= 0 || !menu.CreatePopupMenu())
        return FALSE;
    for (int i = 0; i < GetColumnCount(); ++i) {
        const COLUMN_DATA& column = *m_columns[i];
        UINT flags =
            MF_STRING | (column.bShown ? MF_CHECKED : MF_UNCHECKED) | (column.bHideable ? 0 : MF_GRAYED);
        menu.AppendMenu(flags, static_cast<UINT_PTR>(i), column.text.GetString());
    }
    return TRUE;
}

void CListBase::OnContextMenu(CWnd* pWnd, CPoint)
{
    CHeaderCtrl* pHeader = GetHeader();
    CMenu menu;
    if (pWnd == nullptr || pHeader == nullptr || pWnd->m_hWnd != pHeader->m_hWnd || !CreateHeaderMenu(menu)) {
        m_pListCtrl->Default();
        return;
    }
    POINT cursor = {0, 0};
    ::GetCursorPos(&cursor);
    menu.TrackPopupMenu(TPM_LEFTALIGN | TPM_RIGHTBUTTON, cursor.x, cursor.y, m_pListCtrl);
}

BOOL CListBase::OnCommand(WPARAM wParam, LPARAM lParam)
{
    // Only a menu command (no control, no accelerator) names a column of the header menu.
    const int id = LOWORD(wParam);
    if (lParam != 0 || HIWORD(wParam) != 0 || id >= GetColumnCount())
        return FALSE;
    ShowColumn(id, !m_columns[id]->bShown);
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
// Auto-size

// The distance from the cell's left edge to its label.
int CListBase::GetLabelIndent(int nPhysical) const
{
    if (Raw(LVM_GETITEMCOUNT) == 0)
        return 0;
    RECT bounds = {};
    RECT label = {};
    bounds.top = label.top = nPhysical;
    bounds.left = LVIR_BOUNDS;
    label.left = LVIR_LABEL;
    if (nPhysical == 0 || !Raw(LVM_GETSUBITEMRECT, 0, reinterpret_cast<LPARAM>(&bounds)) ||
        !Raw(LVM_GETSUBITEMRECT, 0, reinterpret_cast<LPARAM>(&label)))
        return 0;
    return std::max(0L, label.left - bounds.left);
}

// Sizes a column to its widest text plus the room around a label: the label's indent and 2, or
// 6, and 6 more.
void CListBase::AutoSizeColumn(int nColumn, bool bLabelIndent)
{
    if (!IsColumnShown(nColumn))
        return;
    const int physical = LogicalToPhysical(nColumn);
    int width = 0;
    const int count = static_cast<int>(Raw(LVM_GETITEMCOUNT));
    for (int nItem = 0; nItem < count; ++nItem) {
        CString text = m_pListCtrl->GetItemText(nItem, nColumn);
        width = std::max(width, m_pListCtrl->GetStringWidth(text.GetString()));
    }
    width += (bLabelIndent ? GetLabelIndent(physical) + 2 : 6) + 6;
    Raw(LVM_SETCOLUMNWIDTH, physical, MAKELPARAM(width, 0));
}

// ---------------------------------------------------------------------------------------------
// Mouse

void CListBase::SetCurrentCursor() const
{
    if (m_hCursorCurrent != nullptr)
        ::SetCursor(m_hCursorCurrent);
}

void CListBase::UpdateHotItem(CPoint point)
{
    if (!(m_dwExtendedStyle & kActivation))
        return;
    LVHITTESTINFO hit = {};
    hit.pt = point;
    const int nItem = m_pListCtrl->HitTest(&hit);
    int hot = -1;
    if (nItem >= 0 && (hit.flags & (LVHT_ONITEMICON | LVHT_ONITEMLABEL))) {
        if ((m_dwExtendedStyle & LVS_EX_ONECLICKACTIVATE) ||
            ((m_dwExtendedStyle & LVS_EX_TWOCLICKACTIVATE) &&
             (m_pListCtrl->GetItemState(nItem, LVIS_SELECTED) & LVIS_SELECTED)))
            hot = nItem;
    }
    if (!m_bOwnerDrawn) {
        m_nHotItem = hot;
        return;
    }
    if (m_hCursorArrow != nullptr)
        m_hCursorCurrent = hot >= 0 ? m_hCursorHand : m_hCursorArrow;
    if (hot != m_nHotItem) {
        for (int changed : {m_nHotItem, hot}) {
            RECT rect = {};
            if (changed >= 0 && m_pListCtrl->GetItemRect(changed, &rect, LVIR_BOUNDS))
                m_pListCtrl->InvalidateRect(&rect, FALSE);
        }
        m_nHotItem = hot;
    }
    SetCurrentCursor();
}

void CListBase::ToggleCheckBox(int nItem)
{
    const UINT image = m_pListCtrl->GetItemState(nItem, LVIS_STATEIMAGEMASK) >> 12;
    m_pListCtrl->SetItemState(nItem, INDEXTOSTATEIMAGEMASK(image == 2 ? 1 : 2), LVIS_STATEIMAGEMASK);
}

void CListBase::OnLButtonDown(UINT, CPoint point)
{
    if (!m_bOwnerDrawn) {
        m_pListCtrl->Default();
        UpdateHotItem(point);
        return;
    }
    SetCurrentCursor();
    LVHITTESTINFO hit = {};
    hit.pt = point;
    const int nItem = m_pListCtrl->HitTest(&hit);
    if (nItem >= 0 && (m_pListCtrl->GetItemState(nItem, LVIS_DISABLED) & LVIS_DISABLED))
        return; // a disabled row is neither selected nor focused
    if (nItem >= 0 && (m_dwExtendedStyle & LVS_EX_CHECKBOXES) && hit.flags == LVHT_ONITEMSTATEICON)
        ToggleCheckBox(nItem);
    else
        m_pListCtrl->Default();
    UpdateHotItem(point);
}

void CListBase::OnLButtonDblClk(UINT, CPoint point)
{
    if (m_bOwnerDrawn && (m_dwExtendedStyle & LVS_EX_CHECKBOXES)) {
        LVHITTESTINFO hit = {};
        hit.pt = point;
        const int nItem = m_pListCtrl->HitTest(&hit);
        if (nItem >= 0 && hit.flags == LVHT_ONITEMSTATEICON) {
            ToggleCheckBox(nItem);
            return;
        }
    }
    m_pListCtrl->Default();
}

void CListBase::OnLButtonUp(UINT, CPoint)
{
    if (m_bOwnerDrawn)
        SetCurrentCursor();
    m_pListCtrl->Default();
}

void CListBase::OnMouseMove(UINT, CPoint point)
{
    m_pListCtrl->Default();
    UpdateHotItem(point);
}

// ---------------------------------------------------------------------------------------------
// Keyboard, focus, scrolling, colours, destruction

void CListBase::OnKeyDown(UINT nChar, UINT, UINT)
{
    // With physical column 0 moved away from the first place, the control's own Ctrl+plus sizes
    // the columns wrongly: do it here.
    const bool ownSizing = m_bOwnerDrawn && !IsPhysicalZeroDisplayedFirst();
    if (nChar == VK_CONTROL && ownSizing) {
        m_bCtrlDown = true;
        return;
    }
    if (nChar == VK_ADD && m_bCtrlDown && ownSizing) {
        CHeaderCtrl* pHeader = GetHeader();
        const int shown = pHeader != nullptr ? pHeader->GetItemCount() : 0;
        for (int position = 0; position < shown; ++position) {
            const int physical = pHeader->OrderToIndex(position);
            const int column = PhysicalToLogical(physical);
            if (column < 0)
                break;
            if (physical != 0 && position != 0)
                m_pListCtrl->SetColumnWidth(column, LVSCW_AUTOSIZE);
            else
                AutoSizeColumn(column, physical != 0);
        }
        return;
    }
    if (MoveFocusPastDisabledRows(nChar))
        return;
    m_pListCtrl->Default();
}

bool CListBase::MoveFocusPastDisabledRows(UINT nChar)
{
    const int count = static_cast<int>(Raw(LVM_GETITEMCOUNT, 0, 0));
    if (count <= 0)
        return false;
    const auto disabled = [this](int nItem) {
        return (Raw(LVM_GETITEMSTATE, static_cast<WPARAM>(nItem), LVIS_DISABLED) & LVIS_DISABLED) != 0;
    };
    const int focus = static_cast<int>(Raw(LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
    const int page = std::max(1, static_cast<int>(Raw(LVM_GETCOUNTPERPAGE, 0, 0)) - 1);
    // Where the control would go, and which way to look from there for an enabled row.
    int target;
    int step;
    switch (nChar) {
    case VK_DOWN:
        target = focus < 0 ? 0 : std::min(focus + 1, count - 1);
        step = 1;
        break;
    case VK_UP:
        target = focus < 0 ? 0 : std::max(focus - 1, 0);
        step = focus < 0 ? 1 : -1;
        break;
    case VK_HOME:
        target = 0;
        step = 1;
        break;
    case VK_END:
        target = count - 1;
        step = -1;
        break;
    case VK_NEXT:
        target = std::min(std::max(focus, 0) + page, count - 1);
        step = 1;
        break;
    case VK_PRIOR:
        target = std::max(focus - page, 0);
        step = -1;
        break;
    default:
        return false;
    }
    if (!disabled(target))
        return false; // the control's own move
    // The next enabled row that way; at the end of the list, the nearest one the other way (for a
    // page, between the target and the focus first).
    int found = -1;
    for (int nItem = target; nItem >= 0 && nItem < count && found < 0; nItem += step) {
        if (!disabled(nItem))
            found = nItem;
    }
    for (int nItem = target - step; nItem >= 0 && nItem < count && found < 0 && nItem != focus;
         nItem -= step) {
        if (!disabled(nItem))
            found = nItem;
    }
    if (found < 0 || found == focus)
        return true; // nowhere to go: the focus and the selection stay
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED;
    item.state = 0;
    m_pListCtrl->SendMessage(LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&item));
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    m_pListCtrl->SendMessage(LVM_SETITEMSTATE, static_cast<WPARAM>(found), reinterpret_cast<LPARAM>(&item));
    Raw(LVM_SETSELECTIONMARK, 0, found);
    Raw(LVM_ENSUREVISIBLE, static_cast<WPARAM>(found), FALSE);
    return true;
}

void CListBase::OnKeyUp(UINT nChar, UINT, UINT)
{
    if (nChar == VK_CONTROL)
        m_bCtrlDown = false;
    m_pListCtrl->Default();
}

void CListBase::OnSetFocus(CWnd*)
{
    m_pListCtrl->Default();
    const int nItem = m_pListCtrl->GetNextItem(-1, LVNI_SELECTED);
    if (nItem >= 0)
        m_pListCtrl->SetItemState(nItem, LVIS_FOCUSED, LVIS_FOCUSED);
}

void CListBase::OnKillFocus(CWnd*)
{
    m_pListCtrl->Default();
    m_bCtrlDown = false; // the key-up goes to the window that has the focus now
    const int nItem = m_pListCtrl->GetNextItem(-1, LVNI_SELECTED);
    if (nItem >= 0)
        m_pListCtrl->SetItemState(nItem, 0, LVIS_FOCUSED);
}

void CListBase::OnHScroll(UINT, UINT, CScrollBar*)
{
    m_pListCtrl->Default();
    InvalidateNonItemArea();
}

void CListBase::OnSysColorChange()
{
    m_pListCtrl->Default();
    if (m_imglstSortArrows.m_hImageList != nullptr) {
        CreateSortArrows();
        UpdateSortArrows();
    }
    if (m_bSortShading)
        ComputeSortColor();
}

void CListBase::OnDestroy()
{
    m_pListCtrl->SendMessage(LVM_DELETEALLITEMS);
    m_pListCtrl->Default();
}
