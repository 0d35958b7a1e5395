// CListBase: the engine behind the dialog's lists.
//
// It serves a report-style list-view control and handles the control's own messages (routed here by
// CListCtrlEx) so that callers see a list whose columns can be hidden, moved and sorted while the
// real control only ever holds the shown columns. Callers always name a column by its logical
// index: its place among all columns, hidden ones included. The physical index is its place in the
// real control (the number of shown columns before it). Display positions are logical too.
//
// Every cell text is kept here; the control holds text callbacks. Each item's value in the control
// is a ROW_DATA of this engine; callers only ever see their own item value. A row whose item state
// carries bit 0x80 is disabled: drawn grey and never selected by the user.
#pragma once

#include "afx/afxcmn.h"
#include "foundation/MfxString.h"

#include <memory>
#include <unordered_set>
#include <vector>

// Item state bit of a disabled row.
#define LVIS_DISABLED 0x0080

class CListBase
{
public:
    CListBase();
    ~CListBase();

    // Drawing of the parts of one cell; an owner may draw them its own way.
    virtual void DrawSmallIcon(CDC* pDC, LVITEMW* pItem, LPRECT pRect);
    virtual void DrawStateIcon(CDC* pDC, LVITEMW* pItem, LPRECT pRect);
    virtual void DrawSubItemText(CDC* pDC, LVITEMW* pItem, LVCOLUMNW* pColumn, LPRECT pRect);

    // Columns, by logical index.
    int GetColumnCount() const { return static_cast<int>(m_columns.size()); }
    // Shows or hides a column that may be hidden; others are left alone.
    void ShowColumn(int nColumn, bool bShow);
    bool IsColumnShown(int nColumn) const;
    void SetColumnHideable(int nColumn, bool bHideable);

    // The column layout as a text (shown columns, widths, positions, sort column) and back. A text
    // that does not fit the list in every part changes nothing and gives false.
    bool GetColumnState(BYTE** ppState, int* pLength = nullptr);
    CMfxString GetColumnStateString();
    bool SetColumnStateString(CMfxString text);
    bool ApplyColumnState(const BYTE* pState, int length);

    // Sort column: 0 none; k ascending by logical column k - 1; -k descending by it.
    int GetSortColumn() const { return m_nSortColumn; }
    void SetSortColumn(int nColumn);
    void ShowSortArrows();
    void ShadeSortColumn(bool bOn);
    void UpdateSortArrows();
    COLORREF GetSortColor() const { return m_clrSortColumn; }
    bool IsSortColumnShaded() const { return m_bSortShading; }

    // Owner-drawn lists (LVS_OWNERDRAWFIXED) are drawn row by row by DrawItem.
    void SetOwnerDrawn(bool bOwnerDrawn) { m_bOwnerDrawn = bOwnerDrawn; }
    bool IsOwnerDrawn() const { return m_bOwnerDrawn; }
    void DrawItem(LPDRAWITEMSTRUCT lpDrawItemStruct);

    // The header's pop-up menu: one item per logical column (id = its index), checked when shown,
    // greyed when it cannot be hidden. FALSE when no column can be hidden.
    BOOL CreateHeaderMenu(CMenu& menu) const;

protected:
    struct CELL
    {
        UINT mask = 0; // LVIF_TEXT, LVIF_IMAGE, LVIF_INDENT as set
        bool textCallback = false;
        CMfxString text;
        int iImage = 0;
        int iIndent = 0;

        bool HasRealText() const { return (mask & LVIF_TEXT) && !textCallback; }
    };
    struct ROW_DATA
    {
        LPARAM dwData = 0;                        // the caller's item value
        std::vector<std::unique_ptr<CELL>> cells; // by logical column; null: no cell
    };
    struct COLUMN_DATA
    {
        BYTE bHideable = 0;
        BYTE bShown = 1;
        int nWidth = 0;    // remembered width of a hidden column
        int nPosition = 0; // display position among all columns
        UINT mask = 0;     // LVCF_FMT, LVCF_IMAGE, LVCF_TEXT as given
        int fmt = LVCFMT_LEFT;
        int iImage = 0;
        CMfxString text;
    };

    // Handlers of the control's own messages (list-view messages; wide forms).
    LRESULT OnDeleteAllItems(WPARAM wParam, LPARAM lParam);
    LRESULT OnDeleteColumn(WPARAM wParam, LPARAM lParam);
    LRESULT OnDeleteItem(WPARAM wParam, LPARAM lParam);
    LRESULT OnFindItem(WPARAM wParam, LPARAM lParam);
    LRESULT OnGetColumn(WPARAM wParam, LPARAM lParam);
    LRESULT OnGetColumnOrderArray(WPARAM wParam, LPARAM lParam);
    LRESULT OnGetColumnWidth(WPARAM wParam, LPARAM lParam);
    LRESULT OnGetExtendedStyle(WPARAM wParam, LPARAM lParam);
    LRESULT OnGetItem(WPARAM wParam, LPARAM lParam);
    LRESULT OnGetItemText(WPARAM wParam, LPARAM lParam);
    LRESULT OnHitTest(WPARAM wParam, LPARAM lParam);
    LRESULT OnInsertColumn(WPARAM wParam, LPARAM lParam);
    LRESULT OnInsertItem(WPARAM wParam, LPARAM lParam);
    LRESULT OnSetBkColor(WPARAM wParam, LPARAM lParam);
    LRESULT OnSetColumn(WPARAM wParam, LPARAM lParam);
    LRESULT OnSetColumnOrderArray(WPARAM wParam, LPARAM lParam);
    LRESULT OnSetColumnWidth(WPARAM wParam, LPARAM lParam);
    LRESULT OnSetExtendedStyle(WPARAM wParam, LPARAM lParam);
    LRESULT OnSetImageList(WPARAM wParam, LPARAM lParam);
    LRESULT OnSetItem(WPARAM wParam, LPARAM lParam);
    LRESULT OnSetItemText(WPARAM wParam, LPARAM lParam);
    LRESULT OnSortItems(WPARAM wParam, LPARAM lParam);

    // Notifications of the control to its parent, reflected to the list. TRUE: handled here only.
    BOOL OnGetDispInfo(NMHDR* pNMHDR, LRESULT* pResult);
    BOOL OnColumnClick(NMHDR* pNMHDR, LRESULT* pResult);
    BOOL OnItemChanging(NMHDR* pNMHDR, LRESULT* pResult);
    void OnCustomDraw(NMHDR* pNMHDR, LRESULT* pResult);

    // Header notifications, which reach the list itself. TRUE when handled.
    BOOL OnHeaderNotify(WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    // Menu commands: the header menu's column ids. TRUE when handled.
    BOOL OnCommand(WPARAM wParam, LPARAM lParam);

    // Window messages.
    void OnSysColorChange();
    BOOL OnEraseBkgnd(CDC* pDC);
    void OnHScroll(UINT nSBCode, UINT nPos, CScrollBar* pScrollBar);
    void OnKillFocus(CWnd* pNewWnd);
    void OnSetFocus(CWnd* pOldWnd);
    void OnLButtonDown(UINT nFlags, CPoint point);
    void OnLButtonDblClk(UINT nFlags, CPoint point);
    void OnLButtonUp(UINT nFlags, CPoint point);
    void OnMouseMove(UINT nFlags, CPoint point);
    void OnKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags);
    // Arrow keys, Home, End, PgUp and PgDn that would land on a disabled row move the focus and the
    // selection on to the next enabled row that way instead. False when the control's own handling
    // is right.
    bool MoveFocusPastDisabledRows(UINT nChar);
    void OnKeyUp(UINT nChar, UINT nRepCnt, UINT nFlags);
    void OnDestroy();
    void OnContextMenu(CWnd* pWnd, CPoint point);

    CListCtrl* m_pListCtrl = nullptr; // the control served; set by the owning control

private:
    // The control's own procedure, bypassing this engine.
    LRESULT Raw(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    bool IsOwnerData() const;
    bool SortsByText() const;

    // Index mapping; every helper skips hidden columns.
    int LogicalToPhysical(int nColumn) const;
    int PhysicalToLogical(int nPhysical) const;
    int PositionToPhysicalOrder(int nPosition) const;
    int PhysicalOrderToPosition(int nOrder) const;
    int ColumnAtPosition(int nPosition) const;
    // The dragged column takes the new position; columns between move one place towards the old one.
    void MoveColumn(int nColumn, int nNewPosition);

    // Rows: the engine's row behind an item, checked against the rows it owns.
    ROW_DATA* GetRow(int nItem) const;
    ROW_DATA* CheckRow(LPARAM lParam) const;
    void FreeRow(ROW_DATA* pRow);
    CELL* GetCell(const ROW_DATA* pRow, int nColumn) const;
    CELL& MakeCell(ROW_DATA* pRow, int nColumn);
    // Keeps the image, indent and text that the item gives; true when the cell changed.
    bool StoreCell(ROW_DATA* pRow, int nColumn, const LVITEMW& item);
    LRESULT SetItemCell(LVITEMW* pItem, bool bTextOnly, int nItem);
    void RefreshColumnCells(int nColumn);
    static int CALLBACK CompareRows(LPARAM lParam1, LPARAM lParam2, LPARAM lParamSort);

    // Header and drawing helpers.
    CHeaderCtrl* GetHeader() const;
    // Invalidates the whole list and its header.
    void RepaintAll();
    // A header item's rectangle in the list's client coordinates.
    bool GetHeaderItemRect(int nPhysical, RECT* pRect) const;
    void SetFirstColumnFormat(int fmt);
    void CreateSortArrows();
    void ComputeSortColor();
    int ShownSortColumn() const;
    void InvalidateNonItemArea();
    void UpdateHotItem(CPoint point);
    void SetCurrentCursor() const;
    bool IsPhysicalZeroDisplayedFirst() const;
    void AutoSizeColumn(int nColumn, bool bLabelIndent);
    int GetLabelIndent(int nPhysical) const;
    void ToggleCheckBox(int nItem);
    // The rectangles of an item's parts in column 0, taken from the header's item rectangles.
    void GetRowLayout(int nItem, const LVITEMW& item, RECT* pRow, RECT* pStateIcon, RECT* pSmallIcon,
                      RECT* pLabel);
    int GetStateIconMargin();
    COLORREF RowBackground(bool bDisabled, bool bSortColumn) const;
    void DrawListImage(CDC* pDC, int nImageList, int nImage, const LVITEMW* pItem, LPRECT pRect);

    int m_nStateIconMargin = 4;
    bool m_bStateIconMarginFixed = false;
    std::vector<std::unique_ptr<COLUMN_DATA>> m_columns;
    std::unordered_set<ROW_DATA*> m_rows;
    int m_nHideableColumns = 0;
    bool m_bSortArrows = false;
    bool m_bSortShading = false;
    CImageList m_imglstSortArrows;
    CBitmap m_bmpUpArrow;
    CBitmap m_bmpDownArrow;
    int m_iUpArrow = -1;
    int m_iDownArrow = -1;
    COLORREF m_clrSortColumn = RGB(255, 255, 255);
    int m_nSortColumn = 0;
    int m_nFormatOfSubItem0 = LVCFMT_LEFT;
    bool m_bOwnerDrawn = false;
    bool m_bCtrlDown = false;
    DWORD m_dwExtendedStyle = 0;
    int m_nHotItem = -1;
    COLORREF m_clrHotItem;
    HCURSOR m_hCursorCurrent = nullptr;
    HCURSOR m_hCursorArrow = nullptr;
    HCURSOR m_hCursorHand = nullptr;
    PFNLVCOMPARE m_pfnCompare = nullptr;
    LPARAM m_lParamSort = 0;
    bool m_bInDispInfo = false;

    // Common controls 6 or newer draw sort arrows in the header themselves.
    static bool s_bComCtl6;
    static bool s_bVersionChecked;
};
