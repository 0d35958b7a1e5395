// What the owner-drawn lists put on the screen (24-bit display): the shaded sort column down to
// the bottom of the list, disabled rows, selected rows with and without the focus.
#include "list_fixture.h"
#include "screen_capture.h"

namespace {

class ListDrawing : public ListTest<CMfxListCtrl>
{
protected:
    void SetUp() override
    {
        ListTest<CMfxListCtrl>::SetUp();
        ASSERT_EQ(list.AddColumn(0, IDS_STREAMNAME, 100), 0);
        ASSERT_EQ(list.AddColumn(1, IDS_ORIGIN, 100), 1);
        ASSERT_EQ(list.AddColumn(2, IDS_MULTICAST, 100), 2);
        for (const wchar_t* name : {L"alpha", L"beta"}) {
            int line = list.NewLine(nullptr);
            list.AddCell(IDS_STREAMNAME, line, name);
            list.AddCell(IDS_ORIGIN, line, L"10.0.0.1");
            list.AddCell(IDS_MULTICAST, line, L"239.1.1.1");
        }
        list.UpdateFromTable();
        list.SetSortColumn(2); // ascending by Origin
    }
    void Repaint()
    {
        list.RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        PumpMessages();
    }
    COLORREF Pixel(int x, int y)
    {
        HDC hDC = ::GetDC(list.m_hWnd);
        COLORREF color = ::GetPixel(hDC, x, y);
        ::ReleaseDC(list.m_hWnd, hDC);
        return color;
    }
    // A column's cell in a row, in the list's client coordinates.
    CRect Cell(int nItem, int physical)
    {
        CRect header;
        list.GetHeaderCtrl()->GetItemRect(physical, &header);
        CRect row;
        list.GetItemRect(nItem, &row, LVIR_BOUNDS);
        return CRect(header.left, row.top, header.right, row.bottom);
    }
    // How many pixels of the rectangle have the colour.
    int Count(const CRect& rect, COLORREF color)
    {
        HDC hDC = ::GetDC(list.m_hWnd);
        int count = 0;
        for (int y = rect.top; y < rect.bottom; ++y) {
            for (int x = rect.left; x < rect.right; ++x)
                count += ::GetPixel(hDC, x, y) == color ? 1 : 0;
        }
        ::ReleaseDC(list.m_hWnd, hDC);
        return count;
    }
    int Bottom()
    {
        CRect client;
        list.GetClientRect(&client);
        return client.bottom - 3;
    }
    // A point in a cell away from its text.
    CPoint Blank(int nItem, int physical)
    {
        CRect cell = Cell(nItem, physical);
        return CPoint(cell.right - 4, cell.CenterPoint().y);
    }
};

const COLORREF kWhite = RGB(255, 255, 255);

// The pixels of a rectangle of a window, as a screen capture reads them.
std::vector<BYTE> Capture(HWND hWnd, const CRect& rect)
{
    HDC hDC = ::GetDC(hWnd);
    std::vector<BYTE> pixels = CaptureBgra(hDC, rect.left, rect.top, rect.Width(), rect.Height());
    ::ReleaseDC(hWnd, hDC);
    return pixels;
}

TEST_F(ListDrawing, HidingAColumnOfAReorderedListRepaintsEveryCell)
{
    // Displayed as Multicast, Streamname, Origin; then Origin or Multicast is hidden from the header
    // menu, and only the pending paint messages are handled.
    for (int hidden : {1, 2}) {
        int order[] = {2, 0, 1};
        list.ShowColumn(1, true);
        list.ShowColumn(2, true);
        ASSERT_TRUE(list.SetColumnOrderArray(3, order));
        Repaint();
        list.SendMessage(WM_COMMAND, static_cast<WPARAM>(hidden), 0);
        ASSERT_EQ(list.GetColumnWidth(hidden), 0) << "column " << hidden << " is hidden";
        PumpMessages();
        CRect client;
        list.GetClientRect(&client);
        CRect rows(0, 0, client.right, Cell(1, 0).bottom);
        const std::vector<BYTE> pumped = Capture(list.m_hWnd, rows);
        const std::vector<BYTE> header = Capture(list.GetHeaderCtrl()->m_hWnd, CRect(0, 0, client.right, 20));
        // A full repaint draws the same: nothing of the old columns is left under the headers.
        Repaint();
        EXPECT_TRUE(Capture(list.m_hWnd, rows) == pumped) << "rows, column " << hidden << " hidden";
        EXPECT_TRUE(Capture(list.GetHeaderCtrl()->m_hWnd, CRect(0, 0, client.right, 20)) == header)
            << "header, column " << hidden << " hidden";
    }
}

TEST_F(ListDrawing, TheSortColumnIsShadedDownToTheBottomOfTheList)
{
    ASSERT_EQ(list.GetSortColor(), RGB(247, 247, 247)) << "a white background gives a light grey shade";
    Repaint();
    const int x1 = Cell(0, 1).CenterPoint().x;
    const int x0 = Cell(0, 0).CenterPoint().x;
    EXPECT_EQ(Pixel(x1, Bottom()), RGB(247, 247, 247));
    EXPECT_EQ(Pixel(x0, Bottom()), kWhite);
    EXPECT_EQ(Pixel(Cell(0, 2).right + 20, Bottom()), kWhite);
    CPoint blank = Blank(1, 1);
    EXPECT_EQ(Pixel(blank.x, blank.y), RGB(247, 247, 247)) << "in the rows too";
    blank = Blank(1, 0);
    EXPECT_EQ(Pixel(blank.x, blank.y), kWhite);

    // A hidden sort column shades nothing.
    list.ShowColumn(1, false);
    Repaint();
    EXPECT_EQ(Pixel(x1, Bottom()), kWhite);
    EXPECT_EQ(Pixel(x0, Bottom()), kWhite);
}

TEST_F(ListDrawing, TheShadeFollowsTheBackground)
{
    list.SetBkColor(RGB(100, 200, 235));
    EXPECT_EQ(list.GetSortColor(), RGB(110, 220, 255));
    Repaint();
    EXPECT_EQ(Pixel(Cell(0, 1).CenterPoint().x, Bottom()), RGB(110, 220, 255));
    EXPECT_EQ(Pixel(Cell(0, 0).CenterPoint().x, Bottom()), RGB(100, 200, 235));
    list.SetSortColumn(3); // the shade moves with the sort column
    Repaint();
    EXPECT_EQ(Pixel(Cell(0, 2).CenterPoint().x, Bottom()), RGB(110, 220, 255));
    EXPECT_EQ(Pixel(Cell(0, 1).CenterPoint().x, Bottom()), RGB(100, 200, 235));
}

TEST_F(ListDrawing, ADisabledRowIsGrey)
{
    list.SetLineEnabled(2, FALSE);
    Repaint();
    const COLORREF background = ::GetSysColor(COLOR_INACTIVEBORDER);
    const COLORREF grey = ::GetSysColor(COLOR_GRAYTEXT);
    for (int physical = 0; physical < 3; ++physical) {
        CPoint blank = Blank(1, physical);
        EXPECT_EQ(Pixel(blank.x, blank.y), background) << "column " << physical;
    }
    const CRect text = Cell(1, 0);
    EXPECT_GT(Count(text, grey), 0) << "grey text";
    EXPECT_EQ(Count(text, ::GetSysColor(COLOR_WINDOWTEXT)), 0);
    EXPECT_GT(Count(Cell(0, 0), ::GetSysColor(COLOR_WINDOWTEXT)), 0) << "the enabled row's text";
}

TEST_F(ListDrawing, ASelectedRowWithAndWithoutTheFocus)
{
    ::SetForegroundWindow(TestWindow().m_hWnd);
    list.SetFocus();
    ASSERT_EQ(::GetFocus(), list.m_hWnd);
    list.SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
    Repaint();
    const COLORREF highlight = ::GetSysColor(COLOR_HIGHLIGHT);
    for (int physical = 0; physical < 3; ++physical) {
        CPoint blank = Blank(0, physical);
        EXPECT_EQ(Pixel(blank.x, blank.y), highlight) << "full-row selection, column " << physical;
    }
    EXPECT_GT(Count(Cell(0, 0), ::GetSysColor(COLOR_HIGHLIGHTTEXT)), 0);
    CPoint other = Blank(1, 2);
    EXPECT_EQ(Pixel(other.x, other.y), kWhite);

    TestWindow().SetFocus();
    Repaint();
    const COLORREF face = ::GetSysColor(COLOR_BTNFACE);
    for (int physical = 0; physical < 3; ++physical) {
        CPoint blank = Blank(0, physical);
        EXPECT_EQ(Pixel(blank.x, blank.y), face) << "without the focus, column " << physical;
    }

    // A selected row that becomes disabled keeps its highlight, with grey text.
    list.SetFocus();
    list.SetLineEnabled(1, FALSE);
    Repaint();
    CPoint blank = Blank(0, 2);
    EXPECT_EQ(Pixel(blank.x, blank.y), highlight);
    EXPECT_GT(Count(Cell(0, 0), ::GetSysColor(COLOR_GRAYTEXT)), 0);
    EXPECT_EQ(Count(Cell(0, 0), ::GetSysColor(COLOR_HIGHLIGHTTEXT)), 0);
}

} // namespace
