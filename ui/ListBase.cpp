// CListBase: the column and row model and the list-view messages.
#include "ui/ListBase.h"

#include <algorithm>
#include <shlwapi.h>

bool CListBase::s_bComCtl6 = false;
bool CListBase::s_bVersionChecked = false;

CListBase::CListBase() : m_clrHotItem(::GetSysColor(COLOR_HOTLIGHT))
{
    if (!s_bVersionChecked) {
        s_bVersionChecked = true;
        HMODULE hComCtl = ::LoadLibraryW(L"COMCTL32.DLL");
        if (hComCtl != nullptr) {
            DLLGETVERSIONPROC getVersion =
                reinterpret_cast<DLLGETVERSIONPROC>(::GetProcAddress(hComCtl, "DllGetVersion"));
            DLLVERSIONINFO version = {};
            version.cbSize = sizeof(version);
            if (getVersion != nullptr && SUCCEEDED(getVersion(&version)))
                s_bComCtl6 = version.dwMajorVersion >= 6;
            ::FreeLibrary(hComCtl);
        }
    }
}

CListBase::~CListBase()
{
    for (ROW_DATA* pRow : m_rows)
        delete pRow;
}

LRESULT CListBase::Raw(UINT message, WPARAM wParam, LPARAM lParam) const
{
    return m_pListCtrl->DefWindowProc(message, wParam, lParam);
}

bool CListBase::IsOwnerData() const
{
    return (m_pListCtrl->GetStyle() & LVS_OWNERDATA) != 0;
}

bool CListBase::SortsByText() const
{
    return (m_pListCtrl->GetStyle() & (LVS_SORTASCENDING | LVS_SORTDESCENDING)) != 0;
}

CHeaderCtrl* CListBase::GetHeader() const
{
    return m_pListCtrl->m_hWnd != nullptr ? m_pListCtrl->GetHeaderCtrl() : nullptr;
}

// ---------------------------------------------------------------------------------------------
// Index mapping

int CListBase::LogicalToPhysical(int nColumn) const
{
    int physical = 0;
    for (int i = 0; i < nColumn && i < GetColumnCount(); ++i) {
        if (m_columns[i]->bShown)
            ++physical;
    }
    return physical;
}

int CListBase::PhysicalToLogical(int nPhysical) const
{
    if (nPhysical < 0)
        return -1;
    for (int i = 0; i < GetColumnCount(); ++i) {
        if (m_columns[i]->bShown && nPhysical-- == 0)
            return i;
    }
    return -1;
}

int CListBase::PositionToPhysicalOrder(int nPosition) const
{
    int order = 0;
    for (const auto& column : m_columns) {
        if (column->bShown && column->nPosition < nPosition)
            ++order;
    }
    return order;
}

int CListBase::PhysicalOrderToPosition(int nOrder) const
{
    if (nOrder < 0)
        return -1;
    for (int position = 0; position < GetColumnCount(); ++position) {
        int column = ColumnAtPosition(position);
        if (column >= 0 && m_columns[column]->bShown && nOrder-- == 0)
            return position;
    }
    return -1;
}

int CListBase::ColumnAtPosition(int nPosition) const
{
    for (int i = 0; i < GetColumnCount(); ++i) {
        if (m_columns[i]->nPosition == nPosition)
            return i;
    }
    return -1;
}

void CListBase::MoveColumn(int nColumn, int nNewPosition)
{
    int oldPosition = m_columns[nColumn]->nPosition;
    for (auto& column : m_columns) {
        if (nNewPosition < oldPosition && column->nPosition >= nNewPosition &&
            column->nPosition < oldPosition)
            ++column->nPosition;
        else if (nNewPosition > oldPosition && column->nPosition > oldPosition &&
                 column->nPosition <= nNewPosition)
            --column->nPosition;
    }
    m_columns[nColumn]->nPosition = nNewPosition;
}

bool CListBase::IsColumnShown(int nColumn) const
{
    return nColumn >= 0 && nColumn < GetColumnCount() && m_columns[nColumn]->bShown;
}

void CListBase::SetColumnHideable(int nColumn, bool bHideable)
{
    if (nColumn < 0 || nColumn >= GetColumnCount() || (m_columns[nColumn]->bHideable != 0) == bHideable)
        return;
    m_columns[nColumn]->bHideable = bHideable ? 1 : 0;
    m_nHideableColumns += bHideable ? 1 : -1;
}

// ---------------------------------------------------------------------------------------------
// Rows and cells

CListBase::ROW_DATA* CListBase::CheckRow(LPARAM lParam) const
{
    ROW_DATA* pRow = reinterpret_cast<ROW_DATA*>(lParam);
    return pRow != nullptr && m_rows.count(pRow) != 0 ? pRow : nullptr;
}

CListBase::ROW_DATA* CListBase::GetRow(int nItem) const
{
    if (nItem < 0)
        return nullptr;
    LVITEMW item = {};
    item.mask = LVIF_PARAM;
    item.iItem = nItem;
    if (!Raw(LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)))
        return nullptr;
    return CheckRow(item.lParam);
}

void CListBase::FreeRow(ROW_DATA* pRow)
{
    if (pRow != nullptr && m_rows.erase(pRow) != 0)
        delete pRow;
}

CListBase::CELL* CListBase::GetCell(const ROW_DATA* pRow, int nColumn) const
{
    if (pRow == nullptr || nColumn < 0 || nColumn >= static_cast<int>(pRow->cells.size()))
        return nullptr;
    return pRow->cells[nColumn].get();
}

CListBase::CELL& CListBase::MakeCell(ROW_DATA* pRow, int nColumn)
{
    if (nColumn >= static_cast<int>(pRow->cells.size()))
        pRow->cells.resize(nColumn + 1);
    if (!pRow->cells[nColumn])
        pRow->cells[nColumn].reset(new CELL);
    return *pRow->cells[nColumn];
}

bool CListBase::StoreCell(ROW_DATA* pRow, int nColumn, const LVITEMW& item)
{
    if ((item.mask & (LVIF_TEXT | LVIF_IMAGE | LVIF_INDENT)) == 0)
        return false;
    CELL& cell = MakeCell(pRow, nColumn);
    const CELL before = cell;
    if (item.mask & LVIF_TEXT) {
        cell.mask |= LVIF_TEXT;
        cell.textCallback = item.pszText == LPSTR_TEXTCALLBACKW;
        cell.text = cell.textCallback || item.pszText == nullptr ? L"" : item.pszText;
    }
    if (item.mask & LVIF_IMAGE) {
        cell.mask |= LVIF_IMAGE;
        cell.iImage = item.iImage;
    }
    if (item.mask & LVIF_INDENT) {
        cell.mask |= LVIF_INDENT;
        cell.iIndent = item.iIndent;
    }
    return cell.mask != before.mask || cell.textCallback != before.textCallback || cell.text != before.text ||
           cell.iImage != before.iImage || cell.iIndent != before.iIndent;
}

// Sets a cell: the control gets what belongs to it (for a hidden column only the item's state),
// the engine keeps image, indent and text.
LRESULT CListBase::SetItemCell(LVITEMW* pItem, bool bTextOnly, int nItem)
{
    if (pItem == nullptr || nItem < 0 || pItem->iSubItem < 0 || pItem->iSubItem >= GetColumnCount())
        return FALSE;
    ROW_DATA* pRow = GetRow(nItem);
    if (pRow == nullptr)
        return FALSE;
    LVITEMW item = *pItem;
    item.iItem = nItem;
    if (bTextOnly)
        item.mask = LVIF_TEXT;
    const int column = item.iSubItem;
    LVITEMW control = {};
    control.iItem = nItem;
    if (m_columns[column]->bShown) {
        control.iSubItem = LogicalToPhysical(column);
        control.mask = item.mask & (LVIF_STATE | LVIF_IMAGE | LVIF_INDENT);
        control.state = item.state;
        control.stateMask = item.stateMask;
        control.iImage = item.iImage;
        control.iIndent = item.iIndent;
        if (item.mask & LVIF_TEXT) {
            control.mask |= LVIF_TEXT;
            control.pszText = SortsByText() ? item.pszText : LPSTR_TEXTCALLBACKW;
        }
    } else {
        control.mask = item.mask & LVIF_STATE;
        control.state = item.state;
        control.stateMask = item.stateMask;
    }
    if (control.mask != 0 && !Raw(LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&control)))
        return FALSE;
    if (item.mask & LVIF_PARAM)
        pRow->dwData = item.lParam;
    // The control sees a callback replaced by a callback as no change: redraw a changed cell.
    if (StoreCell(pRow, column, item) && m_columns[column]->bShown)
        Raw(LVM_REDRAWITEMS, nItem, nItem);
    return TRUE;
}

// Gives every row's kept cell of the column to the control again (from the last row to the first).
void CListBase::RefreshColumnCells(int nColumn)
{
    if (nColumn < 0 || nColumn >= GetColumnCount())
        return;
    for (int nItem = static_cast<int>(Raw(LVM_GETITEMCOUNT)) - 1; nItem >= 0; --nItem) {
        const CELL* pCell = GetCell(GetRow(nItem), nColumn);
        if (pCell == nullptr)
            continue;
        CMfxString text = pCell->text; // the cell is stored again from this copy
        LVITEMW item = {};
        item.mask = pCell->mask;
        item.iSubItem = nColumn;
        item.pszText = pCell->textCallback ? LPSTR_TEXTCALLBACKW : const_cast<LPWSTR>(text.GetString());
        item.iImage = pCell->iImage;
        item.iIndent = pCell->iIndent;
        SetItemCell(&item, false, nItem);
    }
}

int CALLBACK CListBase::CompareRows(LPARAM lParam1, LPARAM lParam2, LPARAM lParamSort)
{
    const CListBase* self = reinterpret_cast<const CListBase*>(lParamSort);
    const ROW_DATA* pRow1 = self->CheckRow(lParam1);
    const ROW_DATA* pRow2 = self->CheckRow(lParam2);
    return self->m_pfnCompare(pRow1 != nullptr ? pRow1->dwData : 0, pRow2 != nullptr ? pRow2->dwData : 0,
                              self->m_lParamSort);
}

// ---------------------------------------------------------------------------------------------
// Showing and hiding columns

void CListBase::ShowColumn(int nColumn, bool bShow)
{
    if (nColumn < 0 || nColumn >= GetColumnCount() || !m_columns[nColumn]->bHideable)
        return;
    COLUMN_DATA& column = *m_columns[nColumn];
    if (!bShow) {
        if (!column.bShown)
            return;
        const int physical = LogicalToPhysical(nColumn);
        column.nWidth = static_cast<int>(Raw(LVM_GETCOLUMNWIDTH, physical));
        if (!Raw(LVM_DELETECOLUMN, physical))
            return;
        column.bShown = 0;
        if (physical == 0) {
            // Another column became physical column 0.
            int first = PhysicalToLogical(0);
            if (first >= 0) {
                SetFirstColumnFormat(m_columns[first]->fmt);
                if (!IsOwnerData())
                    RefreshColumnCells(first);
            }
        }
        RepaintAll();
        return;
    }
    if (column.bShown)
        return;
    bool othersShown = false;
    for (const auto& other : m_columns)
        othersShown = othersShown || (other->bShown != 0);
    column.bShown = 1;
    const int physical = LogicalToPhysical(nColumn);
    LVCOLUMNW description = {};
    description.mask = (column.mask & (LVCF_FMT | LVCF_IMAGE)) | LVCF_TEXT | LVCF_ORDER | LVCF_WIDTH;
    description.fmt = column.fmt;
    description.iImage = column.iImage;
    description.pszText = const_cast<LPWSTR>(column.text.GetString());
    description.iOrder = PositionToPhysicalOrder(column.nPosition);
    description.cx = 0;
    if (Raw(LVM_INSERTCOLUMNW, physical, reinterpret_cast<LPARAM>(&description)) < 0) {
        column.bShown = 0;
        return;
    }
    if (physical == 0)
        SetFirstColumnFormat(column.fmt);
    if (m_nSortColumn != 0 && std::abs(m_nSortColumn) - 1 == nColumn)
        UpdateSortArrows();
    if (!IsOwnerData()) {
        RefreshColumnCells(nColumn);
        if (physical == 0 && othersShown)
            RefreshColumnCells(PhysicalToLogical(1));
    }
    Raw(LVM_SETCOLUMNWIDTH, physical, MAKELPARAM(column.nWidth & 0xFFFF, 0));
    RepaintAll();
}

void CListBase::RepaintAll()
{
    // The control repaints only what it thinks moved: with the columns reordered, the cells drawn
    // here under another header would stay until something else repainted them.
    if (CHeaderCtrl* pHeader = GetHeader())
        ::InvalidateRect(pHeader->m_hWnd, nullptr, TRUE);
    ::InvalidateRect(m_pListCtrl->m_hWnd, nullptr, TRUE);
}

// ---------------------------------------------------------------------------------------------
// List-view messages: columns

LRESULT CListBase::OnInsertColumn(WPARAM wParam, LPARAM lParam)
{
    const int nColumn = static_cast<int>(wParam);
    const LVCOLUMNW* pColumn = reinterpret_cast<const LVCOLUMNW*>(lParam);
    const int count = GetColumnCount();
    if (pColumn == nullptr || nColumn < 0 || nColumn > count)
        return -1;
    int position = (pColumn->mask & LVCF_ORDER) ? pColumn->iOrder : nColumn;
    position = std::min(std::max(position, 0), count);

    LVCOLUMNW control = *pColumn;
    control.mask = (control.mask & ~LVCF_SUBITEM) | LVCF_ORDER;
    control.iOrder = PositionToPhysicalOrder(position);
    LRESULT result = Raw(LVM_INSERTCOLUMNW, LogicalToPhysical(nColumn), reinterpret_cast<LPARAM>(&control));
    if (result < 0)
        return -1;

    std::unique_ptr<COLUMN_DATA> column(new COLUMN_DATA);
    column->nPosition = position;
    column->mask = pColumn->mask & (LVCF_FMT | LVCF_IMAGE | LVCF_TEXT);
    column->fmt = (pColumn->mask & LVCF_FMT) ? pColumn->fmt : LVCFMT_LEFT;
    column->iImage = pColumn->iImage;
    if ((pColumn->mask & LVCF_TEXT) && pColumn->pszText != nullptr && pColumn->pszText != LPSTR_TEXTCALLBACKW)
        column->text = pColumn->pszText;
    column->nWidth = (pColumn->mask & LVCF_WIDTH) ? pColumn->cx : 0;
    for (auto& other : m_columns) {
        if (other->nPosition >= position)
            ++other->nPosition;
    }
    m_columns.insert(m_columns.begin() + nColumn, std::move(column));
    if (m_nSortColumn != 0 && std::abs(m_nSortColumn) - 1 >= nColumn)
        m_nSortColumn += m_nSortColumn > 0 ? 1 : -1;
    for (ROW_DATA* pRow : m_rows) {
        if (nColumn < static_cast<int>(pRow->cells.size()))
            pRow->cells.insert(pRow->cells.begin() + nColumn, nullptr);
    }
    if (nColumn == 0) {
        SetFirstColumnFormat(m_columns[0]->fmt);
        // The control's item texts stayed with the item: the former column 0 needs its cells again.
        if (GetColumnCount() > 1 && m_columns[1]->bShown && !IsOwnerData())
            RefreshColumnCells(1);
    }
    return result;
}

LRESULT CListBase::OnDeleteColumn(WPARAM wParam, LPARAM)
{
    const int nColumn = static_cast<int>(wParam);
    if (nColumn < 0 || nColumn >= GetColumnCount())
        return FALSE;
    const bool shown = m_columns[nColumn]->bShown != 0;
    const int physical = LogicalToPhysical(nColumn);
    if (shown && !Raw(LVM_DELETECOLUMN, physical))
        return FALSE;
    const int position = m_columns[nColumn]->nPosition;
    if (m_columns[nColumn]->bHideable)
        --m_nHideableColumns;
    m_columns.erase(m_columns.begin() + nColumn);
    for (auto& column : m_columns) {
        if (column->nPosition > position)
            --column->nPosition;
    }
    if (m_nSortColumn != 0) {
        const int sorted = std::abs(m_nSortColumn) - 1;
        if (sorted == nColumn)
            m_nSortColumn = 0;
        else if (sorted > nColumn)
            m_nSortColumn += m_nSortColumn > 0 ? -1 : 1;
    }
    for (ROW_DATA* pRow : m_rows) {
        if (nColumn < static_cast<int>(pRow->cells.size()))
            pRow->cells.erase(pRow->cells.begin() + nColumn);
    }
    if (shown && physical == 0) {
        int first = PhysicalToLogical(0);
        if (first >= 0) {
            SetFirstColumnFormat(m_columns[first]->fmt);
            if (!IsOwnerData())
                RefreshColumnCells(first);
        }
    }
    return TRUE;
}

LRESULT CListBase::OnGetColumn(WPARAM wParam, LPARAM lParam)
{
    const int nColumn = static_cast<int>(wParam);
    LVCOLUMNW* pColumn = reinterpret_cast<LVCOLUMNW*>(lParam);
    if (pColumn == nullptr || nColumn < 0 || nColumn >= GetColumnCount())
        return FALSE;
    const COLUMN_DATA& column = *m_columns[nColumn];
    const UINT mask = pColumn->mask;
    if (column.bShown) {
        if (!Raw(LVM_GETCOLUMNW, LogicalToPhysical(nColumn), lParam))
            return FALSE;
    } else {
        if (mask & LVCF_FMT)
            pColumn->fmt = column.fmt;
        if (mask & LVCF_IMAGE)
            pColumn->iImage = (column.mask & LVCF_IMAGE) ? column.iImage : -1;
        if ((mask & LVCF_TEXT) && pColumn->pszText != nullptr && pColumn->cchTextMax > 0)
            lstrcpynW(pColumn->pszText, column.text.GetString(), pColumn->cchTextMax);
        if (mask & LVCF_WIDTH)
            pColumn->cx = column.nWidth;
    }
    if (mask & LVCF_ORDER)
        pColumn->iOrder = column.nPosition;
    if (mask & LVCF_SUBITEM)
        pColumn->iSubItem = nColumn;
    return TRUE;
}

LRESULT CListBase::OnSetColumn(WPARAM wParam, LPARAM lParam)
{
    const int nColumn = static_cast<int>(wParam);
    const LVCOLUMNW* pColumn = reinterpret_cast<const LVCOLUMNW*>(lParam);
    if (pColumn == nullptr || nColumn < 0 || nColumn >= GetColumnCount())
        return FALSE;
    COLUMN_DATA& column = *m_columns[nColumn];
    int newPosition = -1;
    if (pColumn->mask & LVCF_ORDER)
        newPosition = std::min(std::max(pColumn->iOrder, 0), GetColumnCount() - 1);
    if (column.bShown) {
        LVCOLUMNW control = *pColumn;
        control.mask &= ~LVCF_SUBITEM;
        if (newPosition >= 0) {
            // The column's place among the shown columns once it has moved.
            int order = 0;
            for (int i = 0; i < GetColumnCount(); ++i) {
                if (i == nColumn || !m_columns[i]->bShown)
                    continue;
                int position = m_columns[i]->nPosition;
                if (newPosition < column.nPosition && position >= newPosition && position < column.nPosition)
                    ++position;
                else if (newPosition > column.nPosition && position > column.nPosition &&
                         position <= newPosition)
                    --position;
                if (position < newPosition)
                    ++order;
            }
            control.iOrder = order;
        }
        if (!Raw(LVM_SETCOLUMNW, LogicalToPhysical(nColumn), reinterpret_cast<LPARAM>(&control)))
            return FALSE;
    } else if (pColumn->mask & LVCF_WIDTH) {
        column.nWidth = pColumn->cx;
    }
    if (pColumn->mask & LVCF_FMT) {
        column.fmt = pColumn->fmt;
        column.mask |= LVCF_FMT;
        if (column.bShown && LogicalToPhysical(nColumn) == 0)
            SetFirstColumnFormat(column.fmt);
    }
    if (pColumn->mask & LVCF_IMAGE) {
        column.iImage = pColumn->iImage;
        column.mask |= LVCF_IMAGE;
    }
    if ((pColumn->mask & LVCF_TEXT) && pColumn->pszText != nullptr &&
        pColumn->pszText != LPSTR_TEXTCALLBACKW) {
        column.text = pColumn->pszText;
        column.mask |= LVCF_TEXT;
    }
    if (newPosition >= 0)
        MoveColumn(nColumn, newPosition);
    return TRUE;
}

LRESULT CListBase::OnGetColumnWidth(WPARAM wParam, LPARAM)
{
    const int nColumn = static_cast<int>(wParam);
    if (!IsColumnShown(nColumn))
        return 0;
    return Raw(LVM_GETCOLUMNWIDTH, LogicalToPhysical(nColumn));
}

LRESULT CListBase::OnSetColumnWidth(WPARAM wParam, LPARAM lParam)
{
    const int nColumn = static_cast<int>(wParam);
    if (nColumn < 0 || nColumn >= GetColumnCount())
        return FALSE;
    if (m_columns[nColumn]->bShown)
        return Raw(LVM_SETCOLUMNWIDTH, LogicalToPhysical(nColumn), lParam);
    m_columns[nColumn]->nWidth = static_cast<short>(LOWORD(lParam));
    return TRUE;
}

LRESULT CListBase::OnGetColumnOrderArray(WPARAM wParam, LPARAM lParam)
{
    int count = static_cast<int>(wParam);
    int* pOrder = reinterpret_cast<int*>(lParam);
    if (count <= 0 || pOrder == nullptr)
        return 0;
    count = std::min(count, GetColumnCount());
    for (int position = 0; position < count; ++position)
        pOrder[position] = ColumnAtPosition(position);
    return TRUE;
}

LRESULT CListBase::OnSetColumnOrderArray(WPARAM wParam, LPARAM lParam)
{
    int count = static_cast<int>(wParam);
    const int* pOrder = reinterpret_cast<const int*>(lParam);
    if (count <= 0 || pOrder == nullptr)
        return FALSE;
    const int columns = GetColumnCount();
    count = std::min(count, columns);
    // The whole array is checked before anything changes: columns in range, none twice.
    std::vector<bool> listed(columns, false);
    for (int position = 0; position < count; ++position) {
        int column = pOrder[position];
        if (column < 0 || column >= columns || listed[column])
            return FALSE;
        listed[column] = true;
    }
    // New positions: each listed column is dragged to its place in turn.
    std::vector<int> positions(columns);
    for (int i = 0; i < columns; ++i)
        positions[i] = m_columns[i]->nPosition;
    for (int target = 0; target < count; ++target) {
        int column = pOrder[target];
        int old = positions[column];
        for (int& position : positions) {
            if (target < old && position >= target && position < old)
                ++position;
            else if (target > old && position > old && position <= target)
                --position;
        }
        positions[column] = target;
    }
    // The shown columns' physical indexes in display order.
    std::vector<int> physicalOrder;
    for (int position = 0; position < columns; ++position) {
        for (int i = 0; i < columns; ++i) {
            if (positions[i] == position && m_columns[i]->bShown)
                physicalOrder.push_back(LogicalToPhysical(i));
        }
    }
    if (!physicalOrder.empty() &&
        !Raw(LVM_SETCOLUMNORDERARRAY, physicalOrder.size(), reinterpret_cast<LPARAM>(physicalOrder.data())))
        return FALSE;
    for (int i = 0; i < columns; ++i)
        m_columns[i]->nPosition = positions[i];
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
// List-view messages: items

LRESULT CListBase::OnInsertItem(WPARAM, LPARAM lParam)
{
    const LVITEMW* pItem = reinterpret_cast<const LVITEMW*>(lParam);
    if (pItem == nullptr || pItem->iItem < 0)
        return -1;
    ROW_DATA* pRow = new ROW_DATA;
    pRow->dwData = (pItem->mask & LVIF_PARAM) ? pItem->lParam : 0;
    StoreCell(pRow, 0, *pItem);
    m_rows.insert(pRow);

    LVITEMW control = *pItem;
    control.iSubItem = 0;
    control.mask |= LVIF_PARAM | LVIF_TEXT;
    control.lParam = reinterpret_cast<LPARAM>(pRow);
    if (!SortsByText() || !(pItem->mask & LVIF_TEXT))
        control.pszText = LPSTR_TEXTCALLBACKW;
    LRESULT result = Raw(LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&control));
    if (result < 0) {
        FreeRow(pRow);
        return -1;
    }
    return result;
}

LRESULT CListBase::OnDeleteItem(WPARAM wParam, LPARAM lParam)
{
    ROW_DATA* pRow = GetRow(static_cast<int>(wParam));
    LRESULT result = Raw(LVM_DELETEITEM, wParam, lParam);
    if (result)
        FreeRow(pRow); // only a row whose item really went
    return result;
}

LRESULT CListBase::OnDeleteAllItems(WPARAM, LPARAM)
{
    BOOL all = TRUE;
    for (int nItem = static_cast<int>(Raw(LVM_GETITEMCOUNT)) - 1; nItem >= 0; --nItem) {
        ROW_DATA* pRow = GetRow(nItem);
        if (Raw(LVM_DELETEITEM, nItem))
            FreeRow(pRow);
        else
            all = FALSE;
    }
    return all;
}

LRESULT CListBase::OnGetItem(WPARAM, LPARAM lParam)
{
    LVITEMW* pItem = reinterpret_cast<LVITEMW*>(lParam);
    if (pItem == nullptr || pItem->iItem < 0 || pItem->iSubItem < 0 || pItem->iSubItem >= GetColumnCount())
        return FALSE;
    const int column = pItem->iSubItem;
    ROW_DATA* pRow = GetRow(pItem->iItem);
    if (m_columns[column]->bShown) {
        pItem->iSubItem = LogicalToPhysical(column);
        LRESULT result = Raw(LVM_GETITEMW, 0, lParam);
        pItem->iSubItem = column;
        if (!result)
            return FALSE;
    } else {
        LVITEMW control = {};
        control.mask = pItem->mask & LVIF_STATE;
        control.iItem = pItem->iItem;
        control.stateMask = pItem->stateMask;
        if (pRow == nullptr ||
            (control.mask != 0 && !Raw(LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&control))))
            return FALSE;
        if (pItem->mask & LVIF_STATE)
            pItem->state = control.state;
        const CELL* pCell = GetCell(pRow, column);
        if (pItem->mask & LVIF_IMAGE)
            pItem->iImage = pCell != nullptr && (pCell->mask & LVIF_IMAGE) ? pCell->iImage : 0;
        if (pItem->mask & LVIF_INDENT)
            pItem->iIndent = pCell != nullptr && (pCell->mask & LVIF_INDENT) ? pCell->iIndent : 0;
        if ((pItem->mask & LVIF_TEXT) && pItem->pszText != nullptr && pItem->cchTextMax > 0)
            lstrcpynW(pItem->pszText, pCell != nullptr ? pCell->text.GetString() : L"", pItem->cchTextMax);
    }
    if (pItem->mask & LVIF_PARAM)
        pItem->lParam = pRow != nullptr ? pRow->dwData : 0;
    return TRUE;
}

LRESULT CListBase::OnSetItem(WPARAM, LPARAM lParam)
{
    LVITEMW* pItem = reinterpret_cast<LVITEMW*>(lParam);
    return pItem != nullptr ? SetItemCell(pItem, false, pItem->iItem) : FALSE;
}

LRESULT CListBase::OnGetItemText(WPARAM wParam, LPARAM lParam)
{
    LVITEMW* pItem = reinterpret_cast<LVITEMW*>(lParam);
    const int nItem = static_cast<int>(wParam);
    if (pItem == nullptr || nItem < 0 || pItem->iSubItem < 0 || pItem->iSubItem >= GetColumnCount())
        return 0;
    const int column = pItem->iSubItem;
    if (m_columns[column]->bShown) {
        pItem->iSubItem = LogicalToPhysical(column);
        LRESULT length = Raw(LVM_GETITEMTEXTW, wParam, lParam);
        pItem->iSubItem = column;
        return length;
    }
    if (pItem->pszText == nullptr || pItem->cchTextMax <= 0)
        return 0;
    const CELL* pCell = GetCell(GetRow(nItem), column);
    lstrcpynW(pItem->pszText, pCell != nullptr ? pCell->text.GetString() : L"", pItem->cchTextMax);
    return lstrlenW(pItem->pszText);
}

LRESULT CListBase::OnSetItemText(WPARAM wParam, LPARAM lParam)
{
    return SetItemCell(reinterpret_cast<LVITEMW*>(lParam), true, static_cast<int>(wParam));
}

LRESULT CListBase::OnFindItem(WPARAM wParam, LPARAM lParam)
{
    const LVFINDINFOW* pFind = reinterpret_cast<const LVFINDINFOW*>(lParam);
    if (pFind == nullptr || !(pFind->flags & LVFI_PARAM))
        return Raw(LVM_FINDITEMW, wParam, lParam);
    // By the caller's value, never by the engine's row.
    const int start = static_cast<int>(wParam);
    const int count = static_cast<int>(Raw(LVM_GETITEMCOUNT));
    for (int nItem = std::max(start + 1, 0); nItem < count; ++nItem) {
        const ROW_DATA* pRow = GetRow(nItem);
        if (pRow != nullptr && pRow->dwData == pFind->lParam)
            return nItem;
    }
    if (pFind->flags & LVFI_WRAP) {
        for (int nItem = 0; nItem <= start && nItem < count; ++nItem) {
            const ROW_DATA* pRow = GetRow(nItem);
            if (pRow != nullptr && pRow->dwData == pFind->lParam)
                return nItem;
        }
    }
    return -1;
}

LRESULT CListBase::OnSortItems(WPARAM wParam, LPARAM lParam)
{
    PFNLVCOMPARE pfnCompare = reinterpret_cast<PFNLVCOMPARE>(lParam);
    if (pfnCompare == nullptr)
        return FALSE;
    PFNLVCOMPARE previousCompare = m_pfnCompare;
    LPARAM previousSort = m_lParamSort;
    m_pfnCompare = pfnCompare;
    m_lParamSort = static_cast<LPARAM>(wParam);
    LRESULT result =
        Raw(LVM_SORTITEMS, reinterpret_cast<WPARAM>(this), reinterpret_cast<LPARAM>(CompareRows));
    m_pfnCompare = previousCompare;
    m_lParamSort = previousSort;
    return result;
}

LRESULT CListBase::OnSetExtendedStyle(WPARAM wParam, LPARAM lParam)
{
    const DWORD previous = m_dwExtendedStyle;
    const DWORD mask = wParam != 0 ? static_cast<DWORD>(wParam) : 0xFFFFFFFF;
    m_dwExtendedStyle = (previous & ~mask) | (static_cast<DWORD>(lParam) & mask);
    const DWORD activation = LVS_EX_ONECLICKACTIVATE | LVS_EX_TWOCLICKACTIVATE | LVS_EX_UNDERLINEHOT;
    if (!m_bOwnerDrawn || !(mask & activation)) {
        if (m_bOwnerDrawn)
            m_hCursorCurrent = nullptr;
        Raw(LVM_SETEXTENDEDLISTVIEWSTYLE, wParam, lParam);
        return previous;
    }
    // An owner-drawn list does its activation itself: the control never gets those bits.
    Raw(LVM_SETEXTENDEDLISTVIEWSTYLE, 0, m_dwExtendedStyle & ~activation);
    if ((m_dwExtendedStyle & activation) && m_hCursorArrow == nullptr) {
        m_hCursorArrow = ::LoadCursorW(nullptr, IDC_ARROW);
        m_hCursorHand = ::LoadCursorW(nullptr, IDC_HAND);
        m_hCursorCurrent = m_hCursorArrow;
    }
    return previous;
}

LRESULT CListBase::OnGetExtendedStyle(WPARAM, LPARAM)
{
    return m_dwExtendedStyle;
}

LRESULT CListBase::OnSetBkColor(WPARAM wParam, LPARAM lParam)
{
    LRESULT result = Raw(LVM_SETBKCOLOR, wParam, lParam);
    if (m_bSortShading)
        ComputeSortColor();
    return result;
}

LRESULT CListBase::OnSetImageList(WPARAM wParam, LPARAM lParam)
{
    LRESULT result = Raw(LVM_SETIMAGELIST, wParam, lParam);
    if (wParam == LVSIL_SMALL && m_imglstSortArrows.m_hImageList != nullptr) {
        if (CHeaderCtrl* pHeader = GetHeader())
            pHeader->SetImageList(&m_imglstSortArrows);
    }
    return result;
}

// ---------------------------------------------------------------------------------------------
// Notifications of the control to its parent

BOOL CListBase::OnGetDispInfo(NMHDR* pNMHDR, LRESULT* pResult)
{
    *pResult = 0;
    // A request that comes back while one is being answered is the parent's.
    if (m_bInDispInfo)
        return FALSE;
    NMLVDISPINFOW* pInfo = reinterpret_cast<NMLVDISPINFOW*>(pNMHDR);
    const int physical = pInfo->item.iSubItem;
    const int column = PhysicalToLogical(physical);
    if (column < 0)
        return FALSE;
    m_bInDispInfo = true;
    pInfo->item.iSubItem = column;
    ROW_DATA* pRow = IsOwnerData() ? nullptr : GetRow(pInfo->item.iItem);
    const CELL* pCell = GetCell(pRow, column);
    if ((pInfo->item.mask & LVIF_TEXT) && pCell != nullptr && pCell->HasRealText()) {
        if (pInfo->item.pszText != nullptr && pInfo->item.cchTextMax > 0)
            lstrcpynW(pInfo->item.pszText, pCell->text.GetString(), pInfo->item.cchTextMax);
    } else if (CWnd* pParent = m_pListCtrl->GetParent()) {
        // The parent answers with the logical column and its own item value.
        LPARAM lParam = pInfo->item.lParam;
        if (pRow != nullptr)
            pInfo->item.lParam = pRow->dwData;
        pParent->SendMessage(WM_NOTIFY, pNMHDR->idFrom, reinterpret_cast<LPARAM>(pNMHDR));
        pInfo->item.lParam = lParam;
    }
    pInfo->item.iSubItem = physical;
    m_bInDispInfo = false;
    return TRUE;
}

BOOL CListBase::OnItemChanging(NMHDR* pNMHDR, LRESULT* pResult)
{
    // 0 lets the change happen: any other answer would refuse every selection and text change.
    *pResult = 0;
    NMLISTVIEW* pList = reinterpret_cast<NMLISTVIEW*>(pNMHDR);
    if (pList->iItem >= 0 && (pList->uChanged & LVIF_STATE) && (pList->uOldState & LVIS_DISABLED)) {
        const bool staysDisabled = (pList->uNewState & LVIS_DISABLED) != 0;
        const bool getsSelected = (pList->uNewState & LVIS_SELECTED) && !(pList->uOldState & LVIS_SELECTED);
        pList->uNewState = (pList->uNewState | LVIS_DISABLED) & ~(LVIS_SELECTED | LVIS_FOCUSED);
        // A disabled row is never selected; enabling it or taking its selection away is allowed.
        if (staysDisabled && getsSelected)
            *pResult = TRUE;
    }
    return TRUE;
}
