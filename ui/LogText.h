// The log pane: a child window that shows coloured text lines, newest at the bottom.
//
// CLogtext keeps the lines (at most its maximum, 100000; the oldest go first) with their colours
// and measured rectangles, and draws them; CWndLogText is the window with its own scroll bars
// that always follows the newest line. Lines are measured once, when they arrive; the lines lie
// one under the other from (10, 10), and the text's extent is 10 pixels larger than the text at
// the right and at the bottom. GUI thread only.
//
// A full pane holds its maximum of lines for as long as the program runs, while other code makes
// and frees small blocks all the time: the store takes no heap block of its own per line. The
// characters of the lines go one after the other into large text blocks, and the lines' records
// into one ring; a text block goes once its last line has gone.
#pragma once

#include "afx/afxwin.h"
#include "foundation/MfxString.h"

#include <deque>
#include <memory>
#include <vector>

class CWndLogText;

// One line: its text (in one of the store's text blocks), colour and place in the whole text.
struct CLogtextItem
{
    // Places the line at the running rectangle's top-left corner (measuring its text with
    // DrawText the first time) and moves the running rectangle down below it.
    void Measure(CDC* pDC, CRect& running);

    const wchar_t* m_pText = nullptr;
    int m_Length = 0;
    COLORREF m_Colour = 0;
    CRect m_Rect;
    BOOL m_NeedsMeasuring = TRUE;
};

// The line store.
class CLogtext : public CObject
{
public:
    static const int kDefaultMaxLines = 100000;
    // Lines start this far from the text's top-left corner, and the extent reaches this far past it.
    static const int kMargin = 10;
    // Lines starting this far or further below the pane's top edge are not drawn.
    static const int kDrawLimit = 2000;
    // Characters of one text block (a longer line gets a block of its own size).
    static const int kTextBlockChars = 32768;

    explicit CLogtext(int maxLines = kDefaultMaxLines);
    ~CLogtext() override;

    // Appends a line, measured in the device context; with drawNow it is drawn at once at the
    // given scroll positions.
    void AddLine(CDC* pDC, const CMfxString& text, COLORREF colour, BOOL drawNow, int hPos, int vPos);
    // Drops the oldest lines beyond the maximum; the remaining lines move up.
    void TrimToMaxLines();
    // Draws the lines visible at the given scroll positions.
    void Draw(CDC* pDC, int hPos, int vPos);

    int GetCount() const { return m_Count; }
    int GetMaxLines() const { return m_MaxLines; }
    // Size of the whole text: left and top 0, right and bottom kMargin past the text.
    const CRect& GetExtent() const { return m_Extent; }
    // The line's place in the whole text (index 0 is the oldest line).
    CRect GetLineRect(int index) const;
    CMfxString GetLineText(int index) const;
    COLORREF GetLineColour(int index) const;
    CFont& GetFont() { return m_Font; }
    // Bytes the store holds for its lines: text blocks and line records.
    size_t GetStorageBytes() const;

    CWndLogText* m_pOwner = nullptr;

private:
    struct CTextBlock
    {
        std::unique_ptr<wchar_t[]> chars;
        int size = 0;
        int used = 0;
        int lines = 0; // lines whose text lies in this block
    };

    CLogtextItem& Line(int index) { return m_Ring[(m_First + static_cast<size_t>(index)) % m_Ring.size()]; }
    const CLogtextItem& Line(int index) const
    {
        return m_Ring[(m_First + static_cast<size_t>(index)) % m_Ring.size()];
    }
    // Copies the text into the newest text block (a new one when it does not fit there).
    const wchar_t* StoreText(const wchar_t* text, int length);
    // Makes room for one more line record.
    void GrowRing();
    void DrawLine(CDC* pDC, const CLogtextItem& line, int hPos, int vPos);
    void UpdateExtent();

    // The lines' records, oldest first from m_First, wrapping around.
    std::vector<CLogtextItem> m_Ring;
    size_t m_First = 0;
    std::deque<CTextBlock> m_TextBlocks; // oldest first
    int m_MaxLines;
    int m_Count = 0;
    // Stored rectangles keep their place from the first line ever added; the lines dropped from the
    // front took this many pixels, so every line's place is its stored rectangle moved up by it.
    int m_DroppedHeight = 0;
    // Right edge of the widest stored line, in stored coordinates.
    int m_WidestRight = 0;
    int m_WidestCount = 0; // lines whose right edge is there
    CRect m_Extent;
    CFont m_Font;
};

// Scroll arithmetic of the pane, on one bar's SCROLLINFO (minimum 0, maximum, page, position).
namespace LogScroll {
// The position a scroll request (SB_LINEUP ... SB_ENDSCROLL) leads to, clamped to 0 .. max - page.
int RequestedPosition(UINT request, const SCROLLINFO& info);
// The position clamped to 0 .. max - page.
int Clamp(int position, const SCROLLINFO& info);
} // namespace LogScroll

class CWndLogText : public CWnd
{
public:
    explicit CWndLogText(int maxLines = CLogtext::kDefaultMaxLines);
    ~CWndLogText() override;

    // A visible child window without title on the rectangle (parent's client coordinates).
    BOOL Create(const RECT& rect, CWnd* pParentWnd, UINT nID = 0);
    // Appends a line and scrolls to it when the vertical scroll bar is shown.
    void AddText(CMfxString text, COLORREF colour);
    // Like AddText, but the scroll bars, the view and the drawing follow once, when the window's
    // message loop next turns, for all lines added until then: a burst of lines costs one update.
    void AddTextLater(CMfxString text, COLORREF colour);

    CLogtext& GetStore() { return m_Store; }
    BOOL IsVScrollShown() const { return m_VScrollShown; }
    BOOL IsHScrollShown() const { return m_HScrollShown; }

protected:
    BOOL PreCreateWindow(CREATESTRUCTW& cs) override;

    afx_msg void OnPaint();
    afx_msg void OnSize(UINT nType, int cx, int cy);
    afx_msg void OnHScroll(UINT nSBCode, UINT nPos, CScrollBar* pScrollBar);
    afx_msg void OnVScroll(UINT nSBCode, UINT nPos, CScrollBar* pScrollBar);
    afx_msg LRESULT OnFollowLines(WPARAM, LPARAM);
    afx_msg void OnTimer(UINT_PTR nIDEvent);

    DECLARE_MESSAGE_MAP()

private:
    void UpdateScrollBars();
    void UpdateScrollBar(int nBar, int extentSize, int clientSize, BOOL& shown);
    // Moves the view of one bar to the position: scrolls the content, stores the position.
    void ScrollTo(int nBar, SCROLLINFO& info, int position);
    void OnScroll(int nBar, UINT nSBCode);

    LPCWSTR m_CursorId;
    HCURSOR m_hCursor = nullptr;
    CLogtext m_Store;
    SCROLLINFO m_VScrollInfo;
    SCROLLINFO m_HScrollInfo;
    BOOL m_VScrollShown = FALSE;
    BOOL m_HScrollShown = FALSE;
    bool m_FollowPending = false;
    DWORD m_LastFollow = 0; // tick count of the last update of AddTextLater's lines
    CDC m_MeasureDC;
};
