// CMfxListCtrl: the table model of the stream lists, sorting, and copying the selection.
#include "ui/MfxListCtrl.h"

#include <algorithm>
#include <cstring>

// ---------------------------------------------------------------------------------------------
// Cells, rows, fonts

void CTableLineItem::SetText(CMfxString text)
{
    m_Text = text;
    m_nType = kText;
    m_SortKey = text.UpperCopy()
                    .ReplaceFirst(L"\u00c4", L"A")
                    .ReplaceFirst(L"\u00d6", L"O")
                    .ReplaceFirst(L"\u00dc", L"U")
                    .ReplaceFirst(L"\u00df", L"s");
}

CMfxString CTableLineItem::GetDisplayText() const
{
    if (m_nType != kText)
        return CMfxString();
    CMfxString text = m_Text;
    text.Trim();
    return text.Replace(L"\u00a6\u00a6\u00a6", L"   ");
}

CTableLineItem* CTableLine::FindCell(int nColumn) const
{
    for (const auto& cell : m_Cells) {
        if (cell->m_nColumn == nColumn)
            return cell.get();
    }
    return nullptr;
}

CMfxFont::~CMfxFont()
{
    if (m_hMemoryFont != nullptr)
        ::RemoveFontMemResourceEx(m_hMemoryFont);
    DeleteObject();
}

// ---------------------------------------------------------------------------------------------
// The list

BEGIN_MESSAGE_MAP(CMfxListCtrl, CListCtrlEx)
ON_WM_KEYDOWN()
ON_WM_CHARTOITEM()
END_MESSAGE_MAP()

CMfxListCtrl::~CMfxListCtrl()
{
    // The window goes first, so that no item is left pointing at a destroyed row.
    if (m_hWnd != nullptr)
        DestroyWindow();
    m_Lines.clear();
    m_Columns.clear();
}

CTableLine* CMfxListCtrl::FindLineByNumber(int nLine) const
{
    auto found = m_LineByNumber.find(nLine);
    return found != m_LineByNumber.end() ? found->second : nullptr;
}

CTableColumn* CMfxListCtrl::FindColumnByString(UINT nStringId) const
{
    for (const auto& column : m_Columns) {
        if (column->m_nStringId == nStringId)
            return column.get();
    }
    return nullptr;
}

CTableLine* CMfxListCtrl::LineFromValue(LPARAM lParam) const
{
    CTableLine* pLine = reinterpret_cast<CTableLine*>(lParam);
    return m_LineSet.count(pLine) != 0 ? pLine : nullptr;
}

int CMfxListCtrl::FindItemOfLine(CTableLine* pLine)
{
    if (!pLine->m_bHasItem)
        return -1;
    const int nItem = pLine->m_nItem;
    if (nItem < 0 || nItem >= GetItemCount() || GetItemData(nItem) != reinterpret_cast<DWORD_PTR>(pLine)) {
        ReadItemIndexes();
        return pLine->m_bHasItem ? pLine->m_nItem : -1;
    }
    return nItem;
}

void CMfxListCtrl::ReadItemIndexes()
{
    for (const auto& line : m_Lines)
        line->m_nItem = -1;
    const int count = GetItemCount();
    for (int nItem = 0; nItem < count; ++nItem) {
        if (CTableLine* pLine = LineFromValue(static_cast<LPARAM>(GetItemData(nItem))))
            pLine->m_nItem = nItem;
    }
    // A row whose item went behind the table's back has none now.
    for (const auto& line : m_Lines)
        line->m_bHasItem = line->m_nItem >= 0;
}

void CMfxListCtrl::ShiftItemIndexes(int nItem, int delta)
{
    for (const auto& line : m_Lines) {
        if (line->m_bHasItem && line->m_nItem >= nItem)
            line->m_nItem += delta;
    }
}

int CMfxListCtrl::FindLine(const void* pKey) const
{
    // For callers outside a refresh (which keeps its own map of rows): a walk is good enough.
    for (const auto& line : m_Lines) {
        if (line->m_pKey == pKey)
            return line->m_nNumber;
    }
    return 0;
}

void* CMfxListCtrl::GetItemKey(int nItem) const
{
    const CTableLine* pLine = nItem >= 0 ? LineFromValue(static_cast<LPARAM>(GetItemData(nItem))) : nullptr;
    return pLine != nullptr ? pLine->m_pKey : nullptr;
}

std::vector<int> CMfxListCtrl::GetLineNumbers() const
{
    std::vector<int> numbers;
    for (const auto& line : m_Lines)
        numbers.push_back(line->m_nNumber);
    return numbers;
}

int CMfxListCtrl::AddColumn(int nIndex, UINT nStringId, int nWidth)
{
    for (const auto& column : m_Columns) {
        if (column->m_nIndex == nIndex)
            return -1;
    }
    CString heading;
    heading.LoadString(nStringId);
    if (InsertColumn(nIndex, heading.GetString(), LVCFMT_LEFT, nWidth) < 0)
        return -1;
    m_Columns.emplace_back(new CTableColumn(this, nIndex, nStringId));
    if (nIndex != 0) {
        SetColumnHideable(nIndex, true);
        return nIndex;
    }
    SetExtendedStyle(LVS_EX_FULLROWSELECT | LVS_EX_HEADERDRAGDROP);
    ShowSortArrows();
    ShadeSortColumn(true);
    SetSortColumn(1);
    SetOwnerDrawn((GetStyle() & LVS_OWNERDRAWFIXED) != 0);
    return nIndex;
}

int CMfxListCtrl::NewLine(void* pKey)
{
    // Numbers grow with insertion: the last row has the highest.
    const int number = m_Lines.empty() ? 1 : m_Lines.back()->m_nNumber + 1;
    CTableLine* pLine = new CTableLine(this, number, pKey);
    m_Lines.emplace_back(pLine);
    m_LineByNumber[number] = pLine;
    m_LineSet.insert(pLine);
    return number;
}

int CMfxListCtrl::AddCell(UINT nStringId, int nLine, CMfxString text)
{
    const CTableColumn* pColumn = FindColumnByString(nStringId);
    CTableLine* pLine = FindLineByNumber(nLine);
    if (pColumn == nullptr || pColumn->m_nIndex < 0 || pLine == nullptr)
        return 0;
    if (CTableLineItem* pCell = pLine->FindCell(pColumn->m_nIndex)) {
        if (pCell->GetDisplayText() == text)
            return 0;
        pCell->SetText(text);
        pLine->m_bDirty = true;
        return 1;
    }
    std::unique_ptr<CTableLineItem> cell(new CTableLineItem(this));
    cell->m_nColumn = pColumn->m_nIndex;
    cell->SetText(text);
    pLine->m_Cells.push_back(std::move(cell));
    pLine->m_bDirty = true;
    return 1;
}

int CMfxListCtrl::SetCell(UINT nStringId, int nLine, CMfxString text)
{
    const CTableColumn* pColumn = FindColumnByString(nStringId);
    CTableLine* pLine = FindLineByNumber(nLine);
    CTableLineItem* pCell =
        pColumn != nullptr && pLine != nullptr ? pLine->FindCell(pColumn->m_nIndex) : nullptr;
    if (pCell == nullptr || pCell->GetDisplayText() == text)
        return 0;
    pCell->SetText(text);
    const int nItem = FindItemOfLine(pLine);
    if (nItem >= 0)
        SetItemText(nItem, pColumn->m_nIndex, pCell->GetDisplayText().GetString());
    return 1;
}

int CMfxListCtrl::DeleteLine(int nLine)
{
    auto it = std::find_if(m_Lines.begin(), m_Lines.end(), [nLine](const std::unique_ptr<CTableLine>& line) {
        return line->m_nNumber == nLine;
    });
    if (it == m_Lines.end())
        return 0;
    CTableLine* pLine = it->get();
    const int nItem = FindItemOfLine(pLine);
    // An item that cannot be deleted must at least stop naming the row.
    if (nItem >= 0) {
        if (DeleteItem(nItem))
            ShiftItemIndexes(nItem + 1, -1);
        else
            SetItemData(nItem, 0);
    }
    m_LineByNumber.erase(nLine);
    m_LineSet.erase(pLine);
    m_Lines.erase(it);
    return 1;
}

void CMfxListCtrl::SetLineEnabled(int nLine, BOOL bEnabled)
{
    CTableLine* pLine = FindLineByNumber(nLine);
    if (pLine == nullptr)
        return;
    pLine->m_bEnabled = bEnabled ? 1 : 0;
    const int nItem = FindItemOfLine(pLine);
    if (nItem >= 0)
        SetItemState(nItem, bEnabled ? 0 : LVIS_DISABLED, LVIS_DISABLED);
}

void CMfxListCtrl::UpdateFromTable()
{
    int position = 0;
    for (const auto& line : m_Lines) {
        const CTableLineItem* pFirst = line->FindCell(0);
        if (pFirst == nullptr)
            continue; // a row without a cell in column 0 gets no item
        if (line->m_bHasItem && !line->m_bDirty) {
            ++position;
            continue;
        }
        const CMfxString firstText = pFirst->GetDisplayText();
        int nItem = FindItemOfLine(line.get());
        if (nItem < 0) {
            nItem = InsertItem(LVIF_TEXT | LVIF_PARAM, position, firstText.GetString(), 0, 0, 0,
                               reinterpret_cast<LPARAM>(line.get()));
            if (nItem >= 0) {
                ShiftItemIndexes(nItem, 1);
                line->m_bHasItem = true;
                line->m_nItem = nItem;
            }
        } else {
            SetItemText(nItem, 0, firstText.GetString());
        }
        if (nItem < 0)
            continue;
        line->m_bDirty = false;
        if (!line->m_bEnabled)
            SetItemState(nItem, LVIS_DISABLED, LVIS_DISABLED);
        for (const auto& cell : line->m_Cells) {
            if (cell->m_nColumn != 0)
                SetItemText(nItem, cell->m_nColumn, cell->GetDisplayText().GetString());
        }
        ++position;
    }
}

void CMfxListCtrl::Sort()
{
    SortItems(CompareFunc, reinterpret_cast<DWORD_PTR>(this));
}

int CALLBACK CMfxListCtrl::CompareFunc(LPARAM lParam1, LPARAM lParam2, LPARAM lParamSort)
{
    const CMfxListCtrl* pList = reinterpret_cast<const CMfxListCtrl*>(lParamSort);
    const int sortColumn = pList != nullptr ? pList->GetSortColumn() : 0;
    const CTableLine* pLine1 = pList != nullptr ? pList->LineFromValue(lParam1) : nullptr;
    const CTableLine* pLine2 = pList != nullptr ? pList->LineFromValue(lParam2) : nullptr;
    if (sortColumn == 0 || pLine1 == nullptr || pLine2 == nullptr)
        return 0;
    const int column = std::abs(sortColumn) - 1;
    const CTableLineItem* pCell1 = pLine1->FindCell(column);
    const CTableLineItem* pCell2 = pLine2->FindCell(column);
    if (pCell1 == nullptr || pCell2 == nullptr || !pCell1->IsText() || !pCell2->IsText())
        return 0;
    // Code unit by code unit, unsigned; a key that is a prefix of the other comes first.
    const wchar_t* key1 = pCell1->m_SortKey.GetString();
    const wchar_t* key2 = pCell2->m_SortKey.GetString();
    const int length1 = pCell1->m_SortKey.GetLength();
    const int length2 = pCell2->m_SortKey.GetLength();
    int result = 0;
    for (int i = 0; i < std::min(length1, length2) && result == 0; ++i) {
        const unsigned short unit1 = static_cast<unsigned short>(key1[i]);
        const unsigned short unit2 = static_cast<unsigned short>(key2[i]);
        result = unit1 < unit2 ? -1 : (unit1 > unit2 ? 1 : 0);
    }
    if (result == 0)
        result = length1 < length2 ? -1 : (length1 > length2 ? 1 : 0);
    return sortColumn < 0 ? -result : result;
}

CMfxString CMfxListCtrl::GetSelectionText()
{
    CMfxString text;
    for (size_t i = 0; i < m_Columns.size(); ++i) {
        CString heading;
        heading.LoadString(m_Columns[i]->m_nStringId);
        if (i > 0)
            text += L",";
        text += heading;
    }
    for (int nItem = GetNextItem(-1, LVNI_SELECTED); nItem >= 0; nItem = GetNextItem(nItem, LVNI_SELECTED)) {
        if (!text.IsEmpty())
            text += L"\r\n";
        for (size_t i = 0; i < m_Columns.size(); ++i) {
            if (i > 0)
                text += L",";
            text += GetItemText(nItem, m_Columns[i]->m_nIndex);
        }
    }
    return text;
}

bool CMfxListCtrl::CopySelectionToClipboard()
{
    const CMfxString text = GetSelectionText();
    if (text.IsEmpty())
        return false;
    const size_t bytes = (static_cast<size_t>(text.GetLength()) + 1) * sizeof(wchar_t);
    HGLOBAL hMemory = ::GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (hMemory == nullptr)
        return false;
    void* pMemory = ::GlobalLock(hMemory);
    if (pMemory == nullptr) {
        ::GlobalFree(hMemory);
        return false;
    }
    std::memcpy(pMemory, text.GetString(), bytes);
    ::GlobalUnlock(hMemory);
    if (!::OpenClipboard(m_hWnd)) {
        ::GlobalFree(hMemory);
        return false;
    }
    const bool copied = ::EmptyClipboard() && ::SetClipboardData(CF_UNICODETEXT, hMemory) != nullptr;
    ::CloseClipboard();
    if (!copied)
        ::GlobalFree(hMemory); // the clipboard did not take it
    return copied;
}

void CMfxListCtrl::OnKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags)
{
    if (nChar == 'C' && (::GetAsyncKeyState(VK_CONTROL) & 0x8000))
        CopySelectionToClipboard();
    CListCtrlEx::OnKeyDown(nChar, nRepCnt, nFlags);
}

BOOL CMfxListCtrl::OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    const BOOL handled = CListCtrlEx::OnNotify(wParam, lParam, pResult);
    const NMHDR* pNMHDR = reinterpret_cast<const NMHDR*>(lParam);
    CHeaderCtrl* pHeader = GetHeaderCtrl();
    if (pHeader != nullptr && pNMHDR->hwndFrom == pHeader->m_hWnd &&
        pNMHDR->code == static_cast<UINT>(NM_RELEASEDCAPTURE))
        Sort();
    return handled;
}
