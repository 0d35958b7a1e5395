// CMfxListCtrl: the stream lists of the main dialog. A CListCtrlEx with a small table model: rows
// (CTableLine) keyed by the caller's objects, cells (CTableLineItem) addressed by row number and
// column string id, columns (CTableColumn) whose header texts come from the string table. The
// caller changes the model and then brings the list view up to date with UpdateFromTable; the
// list view's item value of a row is its CTableLine.
#pragma once

#include "foundation/MfxString.h"
#include "ui/ListCtrlEx.h"

#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class CMfxListCtrl;

// One cell.
class CTableLineItem : public CObject
{
public:
    explicit CTableLineItem(CMfxListCtrl* pList) : m_pList(pList) {}
    ~CTableLineItem() override = default;

    // Stores the text and its sort key: upper case, then the first Ä, Ö, Ü become A, O, U and the
    // first ß becomes s.
    void SetText(CMfxString text);
    // The text as shown: white space removed at both ends, each "¦¦¦" shown as three spaces.
    CMfxString GetDisplayText() const;
    bool IsText() const { return m_nType == kText; }

    static const int kEmpty = -1;
    static const int kText = 1;

    CMfxListCtrl* m_pList;
    int m_nColumn = -1; // logical column; -1 before the cell is placed
    int m_nType = kEmpty;
    CMfxString m_Text;
    CMfxString m_SortKey;
};

// One row.
class CTableLine : public CObject
{
public:
    CTableLine(CMfxListCtrl* pList, int nNumber, void* pKey)
        : m_pList(pList), m_nNumber(nNumber), m_pKey(pKey)
    {
    }
    ~CTableLine() override = default;

    CTableLineItem* FindCell(int nColumn) const;

    CMfxListCtrl* m_pList;
    int m_nNumber;
    void* m_pKey;
    std::vector<std::unique_ptr<CTableLineItem>> m_Cells; // in insertion order
    int m_bEnabled = 1;
    // The list item of the row: whether it has one, and its index when last known (checked against
    // the item's value before use, since sorting moves items).
    bool m_bHasItem = false;
    int m_nItem = -1;
    // Cells added or changed since the list view was last brought up to date with the row.
    bool m_bDirty = true;
};

// One column.
class CTableColumn : public CObject
{
public:
    CTableColumn(CMfxListCtrl* pList, int nIndex, UINT nStringId)
        : m_pList(pList), m_nIndex(nIndex), m_nStringId(nStringId)
    {
    }
    ~CTableColumn() override = default;

    CMfxListCtrl* m_pList;
    int m_nIndex;     // logical column index
    UINT m_nStringId; // header text; cells are addressed by it
};

// A font that may own a private font resource added from memory.
class CMfxFont : public CFont
{
public:
    CMfxFont() = default;
    ~CMfxFont() override;

    HANDLE m_hMemoryFont = nullptr; // from AddFontMemResourceEx, removed with the font
};

class CMfxListCtrl : public CListCtrlEx
{
public:
    CMfxListCtrl() = default;
    ~CMfxListCtrl() override;

    // Adds logical column nIndex with the header text of string nStringId; column 0 sets up the
    // whole list (full-row selection, header drag, sort arrows, shading, sorted by column 0) and can
    // never be hidden. Returns nIndex, or -1.
    int AddColumn(int nIndex, UINT nStringId, int nWidth);
    // Appends a row (enabled, no cells) and returns its number: one more than the highest number.
    int NewLine(void* pKey);
    // 1 when a cell was added or its text changed; the list view is not touched.
    int AddCell(UINT nStringId, int nLine, CMfxString text);
    // 1 when the shown text changed; the list item follows at once.
    int SetCell(UINT nStringId, int nLine, CMfxString text);
    // 1 when the row existed; its list item goes with it.
    int DeleteLine(int nLine);
    void SetLineEnabled(int nLine, BOOL bEnabled);
    // Brings the list view up to date with the rows: items for new rows, the cells of rows changed
    // by AddCell; items of unchanged rows are not touched.
    void UpdateFromTable();
    // Sorts the items by the sort column (LVM_SORTITEMS with CompareFunc).
    void Sort();

    // Rows for the caller: the number of the first row with the key (0 when none), the key of the row
    // behind a list item (null when none), and the rows' numbers in insertion order.
    int FindLine(const void* pKey) const;
    void* GetItemKey(int nItem) const;
    std::vector<int> GetLineNumbers() const;

    // The sort callback (LVM_SORTITEMS); the list itself is the sort value.
    static int CALLBACK CompareFunc(LPARAM lParam1, LPARAM lParam2, LPARAM lParamSort);
    // The header texts and the selected rows as comma-separated lines.
    CMfxString GetSelectionText();
    // Copies the selection text to the clipboard; false when nothing was copied.
    bool CopySelectionToClipboard();

    // After the header's handling, releasing the header's mouse capture sorts the list again.
    BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;

protected:
    afx_msg void OnKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags);

    DECLARE_MESSAGE_MAP()

private:
    CTableLine* FindLineByNumber(int nLine) const;
    CTableColumn* FindColumnByString(UINT nStringId) const;
    // The row that a list item's value names, when it is one of this list's rows.
    CTableLine* LineFromValue(LPARAM lParam) const;
    // The list item of a row, -1 when it has none. Cached per row; a stale index (items sorted or
    // moved by anyone) is noticed and all indexes are read again, once.
    int FindItemOfLine(CTableLine* pLine);
    void ReadItemIndexes();
    // Item indexes at and after nItem move by delta (an item was inserted or deleted there).
    void ShiftItemIndexes(int nItem, int delta);

    std::vector<std::unique_ptr<CTableLine>> m_Lines;     // in insertion order
    std::vector<std::unique_ptr<CTableColumn>> m_Columns; // in insertion order
    // Direct ways to a row: by number, by address.
    std::unordered_map<int, CTableLine*> m_LineByNumber;
    std::unordered_set<const CTableLine*> m_LineSet;
};
