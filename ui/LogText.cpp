#include "ui/LogText.h"

#include <algorithm>
#include <stdexcept>

// ---------------------------------------------------------------------------------------------
// CLogtextItem

void CLogtextItem::Measure(CDC* pDC, CRect& running)
{
    if (m_NeedsMeasuring) {
        CRect rect(running.left, running.top, running.left, running.top);
        pDC->DrawText(m_pText, m_Length, &rect, DT_CALCRECT | DT_NOPREFIX);
        m_Rect = rect;
        m_NeedsMeasuring = FALSE;
    } else {
        m_Rect.OffsetRect(running.left - m_Rect.left, running.top - m_Rect.top);
    }
    running = m_Rect;
    running.OffsetRect(0, m_Rect.Height());
}

// ---------------------------------------------------------------------------------------------
// CLogtext

CLogtext::CLogtext(int maxLines) : m_MaxLines(std::max(maxLines, 1))
{
    // 12 pixels at 96 dots per inch, larger on a finer screen.
    HDC hScreen = ::GetDC(nullptr);
    const int dpi = hScreen != nullptr ? ::GetDeviceCaps(hScreen, LOGPIXELSY) : 96;
    if (hScreen != nullptr)
        ::ReleaseDC(nullptr, hScreen);
    m_Font.CreateFont(-::MulDiv(12, dpi > 0 ? dpi : 96, 96), 0, 0, 0, FW_LIGHT, FALSE, FALSE, FALSE,
                      DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, PROOF_QUALITY,
                      FF_MODERN | DEFAULT_PITCH, L"Courier New");
}

CLogtext::~CLogtext() = default;

const wchar_t* CLogtext::StoreText(const wchar_t* text, int length)
{
    if (m_TextBlocks.empty() || m_TextBlocks.back().size - m_TextBlocks.back().used < length) {
        // The newest block is full: a block whose lines have all gone is taken again, else a new one.
        CTextBlock block;
        if (m_TextBlocks.size() > 1 && m_TextBlocks.front().lines == 0 &&
            m_TextBlocks.front().size >= length) {
            block = std::move(m_TextBlocks.front());
            m_TextBlocks.pop_front();
            block.used = 0;
        } else {
            block.size = std::max(length, kTextBlockChars);
            block.chars.reset(new wchar_t[static_cast<size_t>(block.size)]);
        }
        m_TextBlocks.push_back(std::move(block));
    }
    CTextBlock& block = m_TextBlocks.back();
    wchar_t* stored = block.chars.get() + block.used;
    std::copy(text, text + length, stored);
    block.used += length;
    ++block.lines;
    return stored;
}

void CLogtext::GrowRing()
{
    if (static_cast<size_t>(m_Count) < m_Ring.size())
        return;
    // Doubled, up to a quarter more than the maximum: a burst may run past the maximum until the
    // next trim.
    const size_t roomy = static_cast<size_t>(m_MaxLines) + static_cast<size_t>(m_MaxLines) / 4 + 64;
    size_t size = std::max<size_t>(64, m_Ring.size() * 2);
    if (m_Ring.size() < roomy && size > roomy)
        size = roomy;
    std::vector<CLogtextItem> ring;
    ring.reserve(size);
    for (int i = 0; i < m_Count; ++i)
        ring.push_back(Line(i));
    ring.resize(size);
    m_Ring.swap(ring);
    m_First = 0;
}

void CLogtext::AddLine(CDC* pDC, const CMfxString& text, COLORREF colour, BOOL drawNow, int hPos, int vPos)
{
    // Every earlier line keeps its measured place, so only the new one is placed: below the last.
    CRect running(kMargin, kMargin + m_DroppedHeight, 0, 0);
    if (m_Count > 0)
        running.top = Line(m_Count - 1).m_Rect.bottom;
    GrowRing();
    CLogtextItem& line = Line(m_Count);
    line = CLogtextItem();
    line.m_Length = text.GetLength();
    line.m_pText = StoreText(text.GetString(), line.m_Length);
    line.m_Colour = colour;
    ++m_Count;

    int savedDC = pDC->SaveDC();
    pDC->SetBkMode(TRANSPARENT);
    pDC->SelectObject(&m_Font);
    pDC->SetTextColor(RGB(0, 0, 0));
    line.Measure(pDC, running);
    if (line.m_Rect.right > m_WidestRight) {
        m_WidestRight = line.m_Rect.right;
        m_WidestCount = 1;
    } else if (line.m_Rect.right == m_WidestRight) {
        ++m_WidestCount;
    }
    UpdateExtent();
    if (drawNow)
        DrawLine(pDC, line, hPos, vPos);
    pDC->RestoreDC(savedDC);
}

void CLogtext::TrimToMaxLines()
{
    if (m_Count <= m_MaxLines)
        return;
    while (m_Count > m_MaxLines) {
        CLogtextItem& oldest = Line(0);
        if (oldest.m_Rect.right >= m_WidestRight)
            --m_WidestCount;
        // The oldest line's text lies in the oldest block that still holds lines.
        for (CTextBlock& block : m_TextBlocks) {
            if (block.lines > 0) {
                --block.lines;
                break;
            }
        }
        oldest = CLogtextItem();
        m_First = (m_First + 1) % m_Ring.size();
        --m_Count;
    }
    // Blocks whose lines have all gone are freed, but for one kept to be taken again.
    while (m_TextBlocks.size() > 2 && m_TextBlocks[0].lines == 0 && m_TextBlocks[1].lines == 0)
        m_TextBlocks.pop_front();
    m_DroppedHeight = Line(0).m_Rect.top - kMargin;
    if (m_DroppedHeight > 0x20000000) {
        // Bring the stored places back near zero long before they could overflow.
        for (int i = 0; i < m_Count; ++i)
            Line(i).m_Rect.OffsetRect(0, -m_DroppedHeight);
        m_DroppedHeight = 0;
    }
    // The lines are walked for the new widest one only when the last of the widest has gone.
    if (m_WidestCount <= 0) {
        m_WidestRight = 0;
        m_WidestCount = 0;
        for (int i = 0; i < m_Count; ++i) {
            const int right = Line(i).m_Rect.right;
            if (right > m_WidestRight) {
                m_WidestRight = right;
                m_WidestCount = 1;
            } else if (right == m_WidestRight) {
                ++m_WidestCount;
            }
        }
    }
    UpdateExtent();
}

void CLogtext::UpdateExtent()
{
    if (m_Count == 0) {
        m_Extent.SetRectEmpty();
        return;
    }
    m_Extent.SetRect(0, 0, m_WidestRight + kMargin,
                     Line(m_Count - 1).m_Rect.bottom - m_DroppedHeight + kMargin);
}

CRect CLogtext::GetLineRect(int index) const
{
    if (index < 0 || index >= m_Count)
        throw std::out_of_range("CLogtext::GetLineRect");
    CRect rect = Line(index).m_Rect;
    rect.OffsetRect(0, -m_DroppedHeight);
    return rect;
}

CMfxString CLogtext::GetLineText(int index) const
{
    if (index < 0 || index >= m_Count)
        throw std::out_of_range("CLogtext::GetLineText");
    const CLogtextItem& line = Line(index);
    return CMfxString(CString(line.m_pText, line.m_Length));
}

COLORREF CLogtext::GetLineColour(int index) const
{
    if (index < 0 || index >= m_Count)
        throw std::out_of_range("CLogtext::GetLineColour");
    return Line(index).m_Colour;
}

size_t CLogtext::GetStorageBytes() const
{
    size_t bytes = m_Ring.capacity() * sizeof(CLogtextItem);
    for (const CTextBlock& block : m_TextBlocks)
        bytes += static_cast<size_t>(block.size) * sizeof(wchar_t);
    return bytes;
}

void CLogtext::DrawLine(CDC* pDC, const CLogtextItem& line, int hPos, int vPos)
{
    CRect rect = line.m_Rect;
    rect.OffsetRect(-hPos, -(vPos + m_DroppedHeight));
    if (rect.bottom <= 0 || rect.top >= kDrawLimit)
        return;
    pDC->SetTextColor(line.m_Colour);
    pDC->DrawText(line.m_pText, line.m_Length, &rect, DT_NOPREFIX);
}

void CLogtext::Draw(CDC* pDC, int hPos, int vPos)
{
    int savedDC = pDC->SaveDC();
    pDC->SetBkMode(TRANSPARENT);
    pDC->SelectObject(&m_Font);
    // The lines lie in order from top to bottom: start at the first one that reaches into the pane.
    const int firstVisibleBottom = vPos + m_DroppedHeight;
    int first = 0;
    int count = m_Count;
    while (count > 0) {
        const int half = count / 2;
        if (Line(first + half).m_Rect.bottom <= firstVisibleBottom) {
            first += half + 1;
            count -= half + 1;
        } else {
            count = half;
        }
    }
    for (int i = first; i < m_Count; ++i) {
        const CLogtextItem& line = Line(i);
        if (line.m_Rect.top - firstVisibleBottom >= kDrawLimit)
            break;
        DrawLine(pDC, line, hPos, vPos);
    }
    pDC->RestoreDC(savedDC);
}

// ---------------------------------------------------------------------------------------------
// Scroll arithmetic

int LogScroll::Clamp(int position, const SCROLLINFO& info)
{
    const int last = std::max(0, info.nMax - static_cast<int>(info.nPage));
    return std::min(std::max(position, 0), last);
}

int LogScroll::RequestedPosition(UINT request, const SCROLLINFO& info)
{
    int position = info.nPos;
    switch (request) {
    case SB_LINEUP:
        position = info.nPos - 1;
        break;
    case SB_LINEDOWN:
        position = info.nPos + 1;
        break;
    case SB_PAGEUP:
        position = info.nPos - static_cast<int>(info.nPage);
        break;
    case SB_PAGEDOWN:
        position = info.nPos + static_cast<int>(info.nPage);
        break;
    case SB_THUMBTRACK:
        position = info.nTrackPos;
        break;
    case SB_TOP:
        position = 0;
        break;
    case SB_BOTTOM:
        position = info.nMax - static_cast<int>(info.nPage);
        break;
    default: // SB_THUMBPOSITION (the drag has already moved the view), SB_ENDSCROLL and the rest
        break;
    }
    return Clamp(position, info);
}

// ---------------------------------------------------------------------------------------------
// CWndLogText

namespace {

// Posted by the pane to itself: lines added later are to be shown.
const UINT kFollowLinesMessage = WM_APP + 7;
const UINT_PTR kFollowTimer = 1;
const DWORD kFollowIntervalMs = 200;

} // namespace

BEGIN_MESSAGE_MAP(CWndLogText, CWnd)
ON_WM_PAINT()
ON_WM_SIZE()
ON_WM_HSCROLL()
ON_WM_VSCROLL()
ON_MESSAGE(kFollowLinesMessage, &CWndLogText::OnFollowLines)
ON_WM_TIMER()
END_MESSAGE_MAP()

namespace {

SCROLLINFO EmptyScrollInfo()
{
    SCROLLINFO info = {};
    info.cbSize = sizeof(SCROLLINFO);
    return info;
}

} // namespace

CWndLogText::CWndLogText(int maxLines)
    : m_CursorId(IDC_ARROW), m_Store(maxLines), m_VScrollInfo(EmptyScrollInfo()),
      m_HScrollInfo(EmptyScrollInfo())
{
}

CWndLogText::~CWndLogText()
{
    // The window goes while this object is still whole.
    if (m_hWnd != nullptr)
        DestroyWindow();
}

BOOL CWndLogText::Create(const RECT& rect, CWnd* pParentWnd, UINT nID)
{
    return CreateEx(0, nullptr, L"", WS_CHILD | WS_VISIBLE, rect, pParentWnd, nID);
}

BOOL CWndLogText::PreCreateWindow(CREATESTRUCTW& cs)
{
    cs.style |= WS_BORDER;
    m_hCursor = ::LoadCursorW(nullptr, m_CursorId);
    cs.lpszClass = AfxRegisterWndClass(CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW, m_hCursor,
                                       reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1), nullptr);
    m_Store.m_pOwner = this;
    return cs.lpszClass != nullptr;
}

void CWndLogText::AddText(CMfxString text, COLORREF colour)
{
    if (m_hWnd == nullptr)
        return;
    {
        CClientDC dc(this);
        m_Store.AddLine(&dc, text, colour, TRUE, GetScrollPos(SB_HORZ), GetScrollPos(SB_VERT));
    }
    UpdateScrollBars();
    if (m_VScrollShown) {
        SCROLLINFO info = EmptyScrollInfo();
        GetScrollInfo(SB_VERT, &info);
        ScrollTo(SB_VERT, info, info.nMax - static_cast<int>(info.nPage));
    }
    // The store keeps its maximum of lines whatever the scroll bars show. The remaining lines move
    // up; the pane is redrawn only when the view could not follow them (the newest line stays).
    if (m_Store.GetCount() > m_Store.GetMaxLines()) {
        const int shownTopBefore = m_Store.GetLineRect(m_Store.GetCount() - 1).top - GetScrollPos(SB_VERT);
        m_Store.TrimToMaxLines();
        UpdateScrollBars();
        if (m_Store.GetLineRect(m_Store.GetCount() - 1).top - GetScrollPos(SB_VERT) != shownTopBefore)
            Invalidate(FALSE);
    }
}

void CWndLogText::AddTextLater(CMfxString text, COLORREF colour)
{
    if (m_hWnd == nullptr)
        return;
    // Measured on a memory device context: taking the window's own costs a round trip to the display
    // for every line.
    if (m_MeasureDC.GetSafeHdc() == nullptr)
        m_MeasureDC.CreateCompatibleDC(nullptr);
    m_Store.AddLine(&m_MeasureDC, text, colour, FALSE, 0, 0);
    if (m_FollowPending)
        return;
    m_FollowPending = true;
    // At most one update in kFollowIntervalMs: showing lines costs a repaint of the pane each time.
    const DWORD since = ::GetTickCount() - m_LastFollow;
    if (since < kFollowIntervalMs)
        SetTimer(kFollowTimer, kFollowIntervalMs - since, nullptr);
    else
        PostMessage(kFollowLinesMessage);
}

void CWndLogText::OnTimer(UINT_PTR nIDEvent)
{
    if (nIDEvent != kFollowTimer) {
        Default();
        return;
    }
    KillTimer(kFollowTimer);
    OnFollowLines(0, 0);
}

LRESULT CWndLogText::OnFollowLines(WPARAM, LPARAM)
{
    if (!m_FollowPending)
        return 0;
    m_FollowPending = false;
    m_Store.TrimToMaxLines();
    UpdateScrollBars();
    if (m_VScrollShown) {
        // The view follows the newest line.
        SCROLLINFO info = EmptyScrollInfo();
        info.fMask = SIF_ALL;
        GetScrollInfo(SB_VERT, &info);
        const int end = info.nMax - static_cast<int>(info.nPage);
        if (info.nPos != end) {
            info.fMask = SIF_POS;
            info.nPos = end;
            SetScrollInfo(SB_VERT, &info, TRUE);
            m_VScrollInfo.nPos = end;
        }
    }
    Invalidate(FALSE);
    UpdateWindow();
    m_LastFollow = ::GetTickCount();
    return 0;
}

void CWndLogText::OnPaint()
{
    CPaintDC dc(this);
    CRect client;
    GetClientRect(&client);
    dc.FillRect(&client, CBrush::FromHandle(static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH))));
    m_Store.Draw(&dc, GetScrollPos(SB_HORZ), GetScrollPos(SB_VERT));
}

void CWndLogText::OnSize(UINT, int, int)
{
    Default();
    UpdateScrollBars();
}

void CWndLogText::UpdateScrollBars()
{
    CRect client;
    GetClientRect(&client);
    if (client.Width() == 0)
        return;
    const CRect& extent = m_Store.GetExtent();
    UpdateScrollBar(SB_VERT, extent.Height(), client.Height(), m_VScrollShown);
    // Showing or hiding one bar changes the room of the other.
    GetClientRect(&client);
    UpdateScrollBar(SB_HORZ, extent.Width(), client.Width(), m_HScrollShown);
}

void CWndLogText::UpdateScrollBar(int nBar, int extentSize, int clientSize, BOOL& shown)
{
    SCROLLINFO& info = nBar == SB_VERT ? m_VScrollInfo : m_HScrollInfo;
    if (extentSize > clientSize) {
        GetScrollInfo(nBar, &info);
        info.fMask = SIF_ALL;
        info.nMin = 0;
        info.nMax = extentSize;
        info.nPage = static_cast<UINT>(clientSize);
        info.nPos = LogScroll::Clamp(info.nPos, info);
        info.nTrackPos = 0;
        if (!shown) {
            shown = TRUE;
            SetScrollInfo(nBar, &info, FALSE);
            ShowScrollBar(static_cast<UINT>(nBar), TRUE);
        } else {
            SetScrollInfo(nBar, &info, TRUE);
        }
    } else {
        info.fMask = SIF_POS;
        info.nPos = 0;
        SetScrollInfo(nBar, &info, FALSE);
        if (shown) {
            shown = FALSE;
            ShowScrollBar(static_cast<UINT>(nBar), FALSE);
        }
    }
}

void CWndLogText::ScrollTo(int nBar, SCROLLINFO& info, int position)
{
    if (position == info.nPos)
        return;
    const int difference = info.nPos - position;
    if (nBar == SB_VERT)
        ScrollWindow(0, difference);
    else
        ScrollWindow(difference, 0);
    info.fMask = SIF_POS;
    info.nPos = position;
    SetScrollInfo(nBar, &info, TRUE);
    (nBar == SB_VERT ? m_VScrollInfo : m_HScrollInfo).nPos = position;
    UpdateWindow();
}

void CWndLogText::OnScroll(int nBar, UINT nSBCode)
{
    SCROLLINFO info = EmptyScrollInfo();
    info.fMask = SIF_ALL;
    if (GetScrollInfo(nBar, &info))
        ScrollTo(nBar, info, LogScroll::RequestedPosition(nSBCode, info));
}

void CWndLogText::OnHScroll(UINT nSBCode, UINT, CScrollBar* pScrollBar)
{
    if (pScrollBar == nullptr)
        OnScroll(SB_HORZ, nSBCode);
    Default();
}

void CWndLogText::OnVScroll(UINT nSBCode, UINT, CScrollBar* pScrollBar)
{
    if (pScrollBar == nullptr)
        OnScroll(SB_VERT, nSBCode);
    Default();
}
