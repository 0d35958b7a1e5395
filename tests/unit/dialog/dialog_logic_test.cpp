// The dialog's rules without a window: the placement text, the log pane's scroll arithmetic, the
// draw-stream command and premultiplied alpha.
#include "ui/GDIDrawStream.h"
#include "ui/LogText.h"
#include "ui/WindowPlacement.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// --- window placement text -----------------------------------------------------------------------

TEST(WindowPlacementText, MaximizedWindowRoundTrip)
{
    CWindowPlacement placement;
    ASSERT_TRUE(placement.FromString(L"2,3,-1,-1,-8,-8,100,50,900,600"));
    const WINDOWPLACEMENT& p = placement.GetPlacement();
    EXPECT_EQ(p.length, 44u);
    EXPECT_EQ(p.flags, static_cast<UINT>(WPF_RESTORETOMAXIMIZED));
    EXPECT_EQ(p.showCmd, static_cast<UINT>(SW_SHOWMAXIMIZED));
    EXPECT_EQ(p.ptMinPosition.x, -1);
    EXPECT_EQ(p.ptMaxPosition.y, -8);
    EXPECT_EQ(p.rcNormalPosition.left, 100);
    EXPECT_EQ(p.rcNormalPosition.top, 50);
    EXPECT_EQ(p.rcNormalPosition.right, 900);
    EXPECT_EQ(p.rcNormalPosition.bottom, 600);
    EXPECT_STREQ(placement.ToString().GetString(), L"2,3,-1,-1,-8,-8,100,50,900,600");

    CWindowPlacement copy;
    ASSERT_TRUE(copy.FromString(placement.ToString()));
    EXPECT_EQ(0, memcmp(&copy.GetPlacement(), &placement.GetPlacement(), sizeof(WINDOWPLACEMENT)));
}

TEST(WindowPlacementText, IncompleteTextsAreNotTaken)
{
    CWindowPlacement placement;
    ASSERT_TRUE(placement.FromString(L"0,1,-1,-1,-1,-1,10,20,30,40"));
    const WINDOWPLACEMENT before = placement.GetPlacement();
    for (const wchar_t* text :
         {L"", L"0,1,2,3", L"0,1,-1,-1,-1,-1,10,20,30", L"garbage", L"0;1;2;3;4;5;6;7;8;9"}) {
        EXPECT_FALSE(placement.FromString(text)) << text;
        EXPECT_FALSE(placement.IsValid()) << text;
        EXPECT_TRUE(placement.ToString().IsEmpty()) << text;
        EXPECT_EQ(0, memcmp(&before, &placement.GetPlacement(), sizeof(WINDOWPLACEMENT))) << text;
    }
    CWindowPlacement fresh;
    EXPECT_FALSE(fresh.IsValid());
    EXPECT_EQ(fresh.GetPlacement().length, 44u);
    EXPECT_TRUE(fresh.ToString().IsEmpty());
}

TEST(WindowPlacementText, HiddenOrUnknownShowCommandsComeUpNormal)
{
    EXPECT_EQ(CWindowPlacement::VisibleShowCommand(SW_HIDE), static_cast<UINT>(SW_SHOWNORMAL));
    EXPECT_EQ(CWindowPlacement::VisibleShowCommand(4711), static_cast<UINT>(SW_SHOWNORMAL));
    for (UINT command : {SW_SHOWNORMAL, SW_SHOWMINIMIZED, SW_SHOWMAXIMIZED, SW_RESTORE})
        EXPECT_EQ(CWindowPlacement::VisibleShowCommand(command), command);
}

// --- log pane scroll arithmetic ------------------------------------------------------------------

SCROLLINFO Info(int max, int page, int pos, int track = 0)
{
    SCROLLINFO info = {};
    info.cbSize = sizeof(info);
    info.nMax = max;
    info.nPage = static_cast<UINT>(page);
    info.nPos = pos;
    info.nTrackPos = track;
    return info;
}

TEST(LogPaneScroll, RequestsMoveByPixelsAndPagesWithinRange)
{
    const SCROLLINFO info = Info(500, 100, 200, 321);
    EXPECT_EQ(LogScroll::RequestedPosition(SB_LINEUP, info), 199);
    EXPECT_EQ(LogScroll::RequestedPosition(SB_LINEDOWN, info), 201);
    EXPECT_EQ(LogScroll::RequestedPosition(SB_PAGEUP, info), 100);
    EXPECT_EQ(LogScroll::RequestedPosition(SB_PAGEDOWN, info), 300);
    EXPECT_EQ(LogScroll::RequestedPosition(SB_TOP, info), 0);
    EXPECT_EQ(LogScroll::RequestedPosition(SB_BOTTOM, info), 400);
    EXPECT_EQ(LogScroll::RequestedPosition(SB_ENDSCROLL, info), 200);
    // Dragging the thumb scrolls while it moves; releasing it does not move the view again.
    EXPECT_EQ(LogScroll::RequestedPosition(SB_THUMBTRACK, info), 321);
    EXPECT_EQ(LogScroll::RequestedPosition(SB_THUMBPOSITION, info), 200);
}

TEST(LogPaneScroll, PositionsAreClampedToTheLastPage)
{
    EXPECT_EQ(LogScroll::RequestedPosition(SB_LINEUP, Info(500, 100, 0)), 0);
    EXPECT_EQ(LogScroll::RequestedPosition(SB_PAGEUP, Info(500, 100, 50)), 0);
    EXPECT_EQ(LogScroll::RequestedPosition(SB_LINEDOWN, Info(500, 100, 400)), 400);
    EXPECT_EQ(LogScroll::RequestedPosition(SB_PAGEDOWN, Info(500, 100, 350)), 400);
    EXPECT_EQ(LogScroll::RequestedPosition(SB_THUMBTRACK, Info(500, 100, 0, 9999)), 400);
    // A page larger than the text leaves only position 0.
    EXPECT_EQ(LogScroll::RequestedPosition(SB_BOTTOM, Info(80, 100, 0)), 0);
    EXPECT_EQ(LogScroll::Clamp(-5, Info(500, 100, 0)), 0);
}

// --- logo drawing --------------------------------------------------------------------------------

TEST(LogoDrawing, DrawStreamCommandLayout)
{
    DrawStreamCommand command;
    HDC hDC = reinterpret_cast<HDC>(static_cast<UINT_PTR>(0x1234));
    HBITMAP hBitmap = reinterpret_cast<HBITMAP>(static_cast<UINT_PTR>(0x5678));
    const RECT destination = {664, 376, 952, 530};
    const RECT source = {0, 0, 288, 154};
    const RECT inner = {3, 4, 280, 150};
    command.Fill(hDC, destination, hBitmap, source, inner);
    EXPECT_EQ(command.Field(0), 0x44727753u);
    EXPECT_EQ(command.Field(4), 0u);
    EXPECT_EQ(command.Field(8), 0x1234u);
    EXPECT_EQ(command.Field(12), 664u);
    EXPECT_EQ(command.Field(24), 530u);
    EXPECT_EQ(command.Field(28), 1u);
    EXPECT_EQ(command.Field(32), 0x5678u);
    EXPECT_EQ(command.Field(36), 9u);
    EXPECT_EQ(command.Field(40), 664u);
    EXPECT_EQ(command.Field(52), 530u);
    EXPECT_EQ(command.Field(56), 0u);
    EXPECT_EQ(command.Field(64), 288u);
    EXPECT_EQ(command.Field(68), 154u);
    EXPECT_EQ(command.Field(72), 4u);
    EXPECT_EQ(command.Field(76), 3u); // left margin
    EXPECT_EQ(command.Field(80), 8u); // right margin
    EXPECT_EQ(command.Field(84), 4u); // top margin
    EXPECT_EQ(command.Field(88), 4u); // bottom margin
    EXPECT_EQ(command.Field(92), 0xFFu);
}

TEST(LogoDrawing, PremultipliedAlphaTruncatesAndKeepsAlpha)
{
    // Two rows of two pixels, blue green red alpha, walked from the top row with a negative pitch
    // as a bottom-up picture is stored.
    std::vector<BYTE> bottomUp = {// bottom row
                                  255, 255, 255, 0, 200, 100, 50, 255,
                                  // top row
                                  255, 128, 1, 128, 10, 20, 30, 254};
    BYTE* topRow = bottomUp.data() + 8;
    CGDIDrawStreamGUI::PremultiplyAlpha(topRow, 2, 2, -8);
    const std::vector<BYTE> expected = {0, 0, 0, 0, 200, 100, 50, 255, 128, 64, 0, 128, 9, 19, 29, 254};
    EXPECT_EQ(bottomUp, expected);
}

} // namespace
