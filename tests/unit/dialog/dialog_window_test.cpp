// The dialog's windows against real windows under Wine, with the program's own resources: the log
// pane, the logo, the About box, the add-stream dialogs and the dialog templates.
#include "res/resource.h"
#include "ui/AboutDlg.h"
#include "ui/DialogAddStream.h"
#include "ui/GDIDrawStream.h"
#include "ui/LogText.h"

// After the program's headers, which include the socket headers before windows.h.
#include "screen_capture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

namespace {

const COLORREF kGreen = RGB(0, 127, 0);
const COLORREF kRed = RGB(195, 0, 0);

// A plain top-level window to hold child windows.
class CHostWnd : public CWnd
{
public:
    BOOL CreateHost(int width, int height)
    {
        return CreateEx(0, nullptr, L"host", WS_OVERLAPPEDWINDOW, CRect(0, 0, width, height), nullptr, 0);
    }
};

// A memory device context for measuring without a window.
class CMemoryDC : public CDC
{
public:
    CMemoryDC() { CreateCompatibleDC(nullptr); }
};

CMfxString Numbered(const wchar_t* prefix, int n)
{
    CMfxString text;
    text.Format(L"%s %d", prefix, n);
    return text;
}

// --- line store ------------------------------------------------------------------------------------

TEST(LogLineStore, LinesLieOneUnderTheOtherFromTheMargin)
{
    CLogtext store;
    CMemoryDC dc;
    store.AddLine(&dc, L"first line", kGreen, FALSE, 0, 0);
    store.AddLine(&dc, L"a somewhat longer second line", kRed, FALSE, 0, 0);
    store.AddLine(&dc, L"third", kGreen, FALSE, 0, 0);
    ASSERT_EQ(store.GetCount(), 3);
    CRect first = store.GetLineRect(0), second = store.GetLineRect(1), third = store.GetLineRect(2);
    EXPECT_EQ(first.left, 10);
    EXPECT_EQ(first.top, 10);
    EXPECT_GT(first.Height(), 0);
    EXPECT_EQ(second.top, first.bottom);
    EXPECT_EQ(third.top, second.bottom);
    EXPECT_EQ(second.left, 10);
    EXPECT_GT(second.Width(), first.Width());
    EXPECT_EQ(store.GetExtent(), CRect(0, 0, second.right + 10, third.bottom + 10));
    EXPECT_EQ(store.GetLineColour(1), kRed);
}

TEST(LogLineStore, AmpersandIsShownNotTakenAsPrefix)
{
    CLogtext store;
    CMemoryDC dc;
    store.AddLine(&dc, L"a&b", kGreen, FALSE, 0, 0);
    dc.SelectObject(&store.GetFont());
    EXPECT_EQ(store.GetLineRect(0).Width(), dc.GetTextExtent(L"a&b", 3).cx);
}

TEST(LogLineStore, ExtentShrinksWhenTheWidestLineGoes)
{
    CLogtext store(2);
    CMemoryDC dc;
    store.AddLine(&dc, L"a very very very long line at the start", kGreen, FALSE, 0, 0);
    store.AddLine(&dc, L"short", kGreen, FALSE, 0, 0);
    const int wide = store.GetExtent().right;
    store.AddLine(&dc, L"tiny", kGreen, FALSE, 0, 0);
    store.TrimToMaxLines();
    EXPECT_LT(store.GetExtent().right, wide);
    EXPECT_EQ(store.GetExtent().right, std::max(store.GetLineRect(0).right, store.GetLineRect(1).right) + 10);
}

TEST(LogLineStore, ExtentKeepsItsWidthWhileOneOfTheWidestLinesStays)
{
    CLogtext store(3);
    CMemoryDC dc;
    for (const wchar_t* text : {L"the widest line of all", L"short", L"the widest line of all"})
        store.AddLine(&dc, text, kGreen, FALSE, 0, 0);
    const int wide = store.GetExtent().right;
    for (int round = 1; round <= 3; ++round) {
        store.AddLine(&dc, L"tiny", kGreen, FALSE, 0, 0);
        store.TrimToMaxLines();
        if (round == 1) {
            EXPECT_EQ(store.GetExtent().right, wide) << "the second widest line stays";
        }
    }
    EXPECT_LT(store.GetExtent().right, wide);
    EXPECT_EQ(store.GetExtent().right, store.GetLineRect(0).right + 10);
}

// Busy blocks in all of the process's heaps.
long BusyHeapBlocks()
{
    HANDLE heaps[256];
    const DWORD count = std::min<DWORD>(::GetProcessHeaps(256, heaps), 256);
    long busy = 0;
    for (DWORD i = 0; i < count; ++i) {
        if (!::HeapLock(heaps[i]))
            continue;
        PROCESS_HEAP_ENTRY entry = {};
        while (::HeapWalk(heaps[i], &entry)) {
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
                ++busy;
        }
        ::HeapUnlock(heaps[i]);
    }
    return busy;
}

// A pane line as the gateway writes them at rest: about 60 characters.
CMfxString RestLine(int n)
{
    CMfxString line;
    line.Format(L"07.12.2026 15:%02d:%02d,%03d Send SAP announce for: Stream %04d", n / 60 % 60, n % 60,
                n % 1000, n % 10000);
    return line;
}

TEST(LogLineStore, AFullStoreTakesNoHeapBlockPerLine)
{
    // A full pane keeps its lines for as long as the program runs, while other code makes and frees
    // small blocks all the time: a heap block kept per line leaves the heap ever more fragmented, and
    // (under Wine) every allocation slower the longer the program runs.
    CLogtext store(2000);
    CMemoryDC dc;
    const long before = BusyHeapBlocks();
    for (int n = 0; n < 2000; ++n)
        store.AddLine(&dc, RestLine(n), kGreen, FALSE, 0, 0);
    const long full = BusyHeapBlocks();
    EXPECT_LT(full - before, 40) << "2000 lines";
    // Running on at its maximum: the oldest lines go as new ones come.
    for (int n = 2000; n < 8000; ++n) {
        store.AddLine(&dc, RestLine(n), kGreen, FALSE, 0, 0);
        if (n % 100 == 0)
            store.TrimToMaxLines();
    }
    store.TrimToMaxLines();
    EXPECT_EQ(store.GetCount(), 2000);
    EXPECT_LT(BusyHeapBlocks() - full, 20) << "6000 more lines";
    EXPECT_STREQ(store.GetLineText(0).GetString(), RestLine(6000).GetString());
    EXPECT_STREQ(store.GetLineText(1999).GetString(), RestLine(7999).GetString());
}

TEST(LogLineStore, MemoryStaysNearTheTextOfTheLinesKept)
{
    const int maxLines = 10000;
    CLogtext store(maxLines);
    CMemoryDC dc;
    size_t textBytes = 0;
    for (int n = 0; n < 3 * maxLines; ++n) {
        const CMfxString line = RestLine(n);
        if (n >= 2 * maxLines)
            textBytes += static_cast<size_t>(line.GetLength()) * sizeof(wchar_t);
        store.AddLine(&dc, line, kGreen, FALSE, 0, 0);
        if (n % 100 == 0)
            store.TrimToMaxLines();
    }
    store.TrimToMaxLines();
    const size_t held = store.GetStorageBytes();
    // The text itself and a small record per line; two partly used text blocks at most besides.
    const size_t bound = textBytes + maxLines * 48 + 3 * CLogtext::kTextBlockChars * sizeof(wchar_t);
    EXPECT_LE(held, bound) << "text " << textBytes;
    for (int n = 3 * maxLines; n < 5 * maxLines; ++n) {
        store.AddLine(&dc, RestLine(n), kGreen, FALSE, 0, 0);
        if (n % 100 == 0)
            store.TrimToMaxLines();
    }
    store.TrimToMaxLines();
    EXPECT_LE(store.GetStorageBytes(), held + CLogtext::kTextBlockChars * sizeof(wchar_t))
        << "a full store does not grow";
}

// --- log pane window ------------------------------------------------------------------------------

class LogPaneTest : public ::testing::Test
{
protected:
    void Create(int maxLines, int width, int height)
    {
        ASSERT_TRUE(m_host.CreateHost(800, 600));
        m_pane = std::make_unique<CWndLogText>(maxLines);
        ASSERT_TRUE(m_pane->Create(CRect(5, 5, 5 + width, 5 + height), &m_host));
    }
    void TearDown() override
    {
        m_pane.reset();
        if (m_host.m_hWnd != nullptr)
            m_host.DestroyWindow();
    }
    int VPos() const { return m_pane->GetScrollPos(SB_VERT); }
    SCROLLINFO VInfo() const
    {
        SCROLLINFO info = {};
        info.cbSize = sizeof(info);
        info.fMask = SIF_ALL;
        ::GetScrollInfo(m_pane->m_hWnd, SB_VERT, &info);
        return info;
    }

    CHostWnd m_host;
    std::unique_ptr<CWndLogText> m_pane;
};

TEST_F(LogPaneTest, ScrollBarsAppearOnlyWhenTheTextOutgrowsThePane)
{
    Create(100000, 400, 150);
    m_pane->AddText(L"one short line", kGreen);
    EXPECT_FALSE(m_pane->IsVScrollShown());
    EXPECT_FALSE(m_pane->IsHScrollShown());
    EXPECT_EQ(VPos(), 0);
    int i = 0;
    while (!m_pane->IsVScrollShown() && i < 100)
        m_pane->AddText(Numbered(L"line", ++i), kGreen);
    ASSERT_TRUE(m_pane->IsVScrollShown());
    // The view follows the newest line.
    for (int k = 0; k < 20; ++k) {
        m_pane->AddText(Numbered(L"more", k), kRed);
        SCROLLINFO info = VInfo();
        EXPECT_EQ(info.nMax, m_pane->GetStore().GetExtent().Height());
        EXPECT_EQ(info.nPos, info.nMax - static_cast<int>(info.nPage));
    }
    EXPECT_FALSE(m_pane->IsHScrollShown());
    CMfxString wide;
    for (int k = 0; k < 200; ++k)
        wide += L"w";
    m_pane->AddText(wide, kGreen);
    EXPECT_TRUE(m_pane->IsHScrollShown());
}

TEST_F(LogPaneTest, KeepsItsMaximumWithAndWithoutScrollBar)
{
    // A tall pane where the five kept lines fit, and a low one that scrolls to the newest of its 30.
    const struct
    {
        int maxLines, height;
        bool scrolls;
        const wchar_t* first;
    } panes[] = {{5, 400, false, L"line 96"}, {30, 100, true, L"line 71"}};
    for (const auto& pane : panes) {
        TearDown();
        Create(pane.maxLines, 400, pane.height);
        for (int i = 1; i <= 100; ++i)
            m_pane->AddText(Numbered(L"line", i), kGreen);
        EXPECT_EQ(m_pane->IsVScrollShown(), pane.scrolls);
        EXPECT_EQ(m_pane->GetStore().GetCount(), pane.maxLines);
        EXPECT_STREQ(m_pane->GetStore().GetLineText(0).GetString(), pane.first);
        EXPECT_EQ(m_pane->GetStore().GetLineRect(0).top, 10);
        SCROLLINFO info = VInfo();
        if (pane.scrolls) {
            EXPECT_EQ(info.nPos, info.nMax - static_cast<int>(info.nPage));
        }
    }
}

TEST_F(LogPaneTest, OwnScrollRequestsMoveTheView)
{
    Create(1000, 400, 100);
    for (int i = 1; i <= 40; ++i)
        m_pane->AddText(Numbered(L"line", i), kGreen);
    const SCROLLINFO atEnd = VInfo();
    m_pane->SendMessage(WM_VSCROLL, SB_PAGEUP, 0);
    EXPECT_EQ(VPos(), atEnd.nPos - static_cast<int>(atEnd.nPage));
    m_pane->SendMessage(WM_VSCROLL, SB_BOTTOM, 0);
    EXPECT_EQ(VPos(), atEnd.nPos);
    // A scroll-bar control's request is not the pane's.
    HWND hBar = ::CreateWindowExW(0, L"SCROLLBAR", L"", WS_CHILD, 0, 0, 10, 10, m_host.m_hWnd, nullptr,
                                  nullptr, nullptr);
    m_pane->SendMessage(WM_VSCROLL, SB_TOP, reinterpret_cast<LPARAM>(hBar));
    EXPECT_EQ(VPos(), atEnd.nPos);
    ::DestroyWindow(hBar);
}

// --- logo -----------------------------------------------------------------------------------------

// A memory picture to draw into: white, 32 bits, top-down.
class CCanvas
{
public:
    CCanvas(int width, int height) : m_width(width)
    {
        const BITMAPINFO info = TopDown32(width, height);
        m_hBitmap =
            ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&m_bits), nullptr, 0);
        m_dc.CreateCompatibleDC(nullptr);
        m_previous = m_dc.SelectObject(static_cast<HGDIOBJ>(m_hBitmap));
        memset(m_bits, 0xFF, static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    }
    ~CCanvas()
    {
        m_dc.SelectObject(m_previous);
        ::DeleteObject(m_hBitmap);
    }
    CDC* DC() { return &m_dc; }
    COLORREF Pixel(int x, int y)
    {
        ::GdiFlush();
        const BYTE* p =
            m_bits + (static_cast<size_t>(y) * static_cast<size_t>(m_width) + static_cast<size_t>(x)) * 4;
        return RGB(p[2], p[1], p[0]);
    }

private:
    int m_width;
    HBITMAP m_hBitmap = nullptr;
    BYTE* m_bits = nullptr;
    CDC m_dc;
    HGDIOBJ m_previous = nullptr;
};

TEST(Logo, DrawnScaledWithAlphaBlendWhenTheDrawEntryFailsOrIsMissing)
{
    for (bool withEntry : {true, false}) {
        CGDIDrawStreamGUI logo;
        if (!withEntry)
            logo.SetDrawEntry(nullptr);
        logo.LoadLogo();
        ASSERT_FALSE(logo.GetUnscaled().IsNull()) << "the picture resource loads";
        EXPECT_EQ(logo.GetUnscaled().GetWidth(), 303);
        CCanvas canvas(400, 300);
        logo.DrawScaledImage(canvas.DC(), CRect(20, 30, 20 + 151, 200));
        EXPECT_FLOAT_EQ(logo.GetScale(), 151.0f / 303.0f);
        EXPECT_EQ(logo.GetScaled().GetWidth(), 151);
        EXPECT_EQ(logo.GetScaled().GetHeight(), 80);
        const COLORREF blue = canvas.Pixel(20 + 100, 30 + 10);
        EXPECT_LT(GetRValue(blue), 60) << "the logo's blue background is drawn";
        EXPECT_GT(GetBValue(blue), 80) << "the logo's blue background is drawn";
        EXPECT_EQ(canvas.Pixel(20, 30), RGB(255, 255, 255)) << "its transparent corner is not";
        EXPECT_EQ(canvas.Pixel(20 + 75, 30 + 85), RGB(255, 255, 255)) << "nothing below its height";
        EXPECT_EQ(canvas.Pixel(10, 40), RGB(255, 255, 255)) << "nothing left of the target";
        // A wide, low target: the height decides, and the picture is never cut.
        logo.DrawScaledImage(canvas.DC(), CRect(20, 30, 20 + 380, 30 + 81));
        EXPECT_FLOAT_EQ(logo.GetScale(), 0.5f);
        EXPECT_EQ(logo.GetScaled().GetHeight(), 81);
    }
}

TEST(Logo, NothingIsDrawnWithoutPictureOrRoom)
{
    CCanvas canvas(100, 100);
    CGDIDrawStreamGUI empty; // never loaded: no picture
    empty.DrawScaledImage(canvas.DC(), CRect(0, 0, 100, 100));
    EXPECT_EQ(empty.GetRescaleCount(), 0);
    CGDIDrawStreamGUI logo;
    logo.LoadLogo();
    for (CRect target : {CRect(50, 50, 50, 90), CRect(50, 50, 10, 90)})
        logo.DrawScaledImage(canvas.DC(), target);
    logo.DrawScaledImage(nullptr, CRect(0, 0, 100, 100));
    EXPECT_EQ(logo.GetRescaleCount(), 0);
    for (int y = 0; y < 100; y += 7)
        for (int x = 0; x < 100; x += 7)
            ASSERT_EQ(canvas.Pixel(x, y), RGB(255, 255, 255));
}

// --- dialogs --------------------------------------------------------------------------------------

std::function<void(HWND)>* s_pModalStep = nullptr;

void CALLBACK RunModalStep(HWND hDialog, UINT, UINT_PTR id, DWORD)
{
    ::KillTimer(hDialog, id);
    auto* pStep = s_pModalStep;
    s_pModalStep = nullptr;
    if (pStep != nullptr)
        (*pStep)(hDialog);
}

// Starts the step on the dialog's own timer once the dialog has been initialised.
LRESULT CALLBACK WatchInitDialog(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPRETSTRUCT* pMessage = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION && pMessage->message == WM_INITDIALOG && s_pModalStep != nullptr)
        ::SetTimer(pMessage->hwnd, 1, 10, RunModalStep);
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

// Runs a dialog modally; `step` runs inside its message loop once it is up, and must end it.
void RunModal(CDialog& dialog, std::function<void(HWND)> step, INT_PTR expected)
{
    s_pModalStep = &step;
    HHOOK hHook = ::SetWindowsHookExW(WH_CALLWNDPROCRET, WatchInitDialog, nullptr, ::GetCurrentThreadId());
    EXPECT_EQ(dialog.DoModal(), expected);
    ::UnhookWindowsHookEx(hHook);
    s_pModalStep = nullptr;
}

CString WindowText(HWND hWnd)
{
    CString text;
    CWnd::FromHandle(hWnd)->GetWindowText(text);
    return text;
}

void Press(HWND hDialog, int id)
{
    ::PostMessageW(hDialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(hDialog, id)));
}

// The dialog's centre lies on its owner's centre (within a pixel of rounding).
void ExpectCentredOn(HWND hDialog, HWND hOwner)
{
    CRect dialog, owner;
    ::GetWindowRect(hDialog, &dialog);
    ::GetWindowRect(hOwner, &owner);
    EXPECT_NEAR(dialog.CenterPoint().x, owner.CenterPoint().x, 1);
    EXPECT_NEAR(dialog.CenterPoint().y, owner.CenterPoint().y, 1);
}

TEST(AddStreamDialogs, RtspUrlAsTypedAndEmptyUrlOnOk)
{
    // Opened from an owner away from the screen's corner: centred on it, the focus in the edit.
    CHostWnd owner;
    ASSERT_TRUE(owner.CreateHost(700, 500));
    owner.SetWindowPos(nullptr, 200, 150, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_SHOWWINDOW);
    CDialogAddRTSPStream dialog(&owner);
    RunModal(
        dialog,
        [&owner](HWND hDialog) {
            EXPECT_STREQ(WindowText(hDialog).GetString(), L"Add RTSP Stream");
            EXPECT_TRUE(WindowText(::GetDlgItem(hDialog, IDC_EDIT_URL)).IsEmpty());
            EXPECT_EQ(::GetFocus(), ::GetDlgItem(hDialog, IDC_EDIT_URL));
            ExpectCentredOn(hDialog, owner.m_hWnd);
            ::SetDlgItemTextW(hDialog, IDC_EDIT_URL, L"  rtsp://10.0.0.5:554/by-name/Studio A ");
            Press(hDialog, IDOK);
        },
        IDOK);
    owner.DestroyWindow();
    EXPECT_STREQ(dialog.m_URL.GetString(), L"  rtsp://10.0.0.5:554/by-name/Studio A ");

    CDialogAddRTSPStream empty;
    RunModal(
        empty, [](HWND hDialog) { Press(hDialog, IDOK); }, IDOK);
    EXPECT_TRUE(empty.m_URL.IsEmpty());
}

TEST(AddStreamDialogs, ListedStreamIsShownReadOnlyUnderItsName)
{
    CDialogAddSDPStream dialog(nullptr, L"Studio B", L"v=0\r\ns=Studio B\r\n", TRUE);
    RunModal(
        dialog,
        [](HWND hDialog) {
            EXPECT_STREQ(WindowText(hDialog).GetString(), L"Stream: Studio B");
            HWND hEdit = ::GetDlgItem(hDialog, IDC_EDIT_SDP);
            EXPECT_TRUE(::GetWindowLongW(hEdit, GWL_STYLE) & ES_READONLY);
            EXPECT_STREQ(WindowText(hEdit).GetString(), L"v=0\r\ns=Studio B\r\n");
            EXPECT_EQ(::GetFocus(), hEdit);
            Press(hDialog, IDOK);
        },
        IDOK);
    EXPECT_STREQ(dialog.m_SDP.GetString(), L"v=0\r\ns=Studio B\r\n");

    CDialogAddSDPStream cancelled(nullptr, L"Studio B", L"text", FALSE);
    RunModal(
        cancelled,
        [](HWND hDialog) {
            ::SetDlgItemTextW(hDialog, IDC_EDIT_SDP, L"changed");
            ::PostMessageW(hDialog, WM_CLOSE, 0, 0);
        },
        IDCANCEL);
    EXPECT_STREQ(cancelled.m_SDP.GetString(), L"text");
}

TEST(AboutBox, ShowsVersionAndEndsWithOk)
{
    CAboutDlg about;
    RunModal(
        about,
        [](HWND hDialog) {
            EXPECT_STREQ(WindowText(hDialog).GetString(), L"About Velmora");
            bool versionShown = false;
            for (HWND hChild = ::GetWindow(hDialog, GW_CHILD); hChild != nullptr;
                 hChild = ::GetWindow(hChild, GW_HWNDNEXT))
                versionShown = versionShown || WindowText(hChild) == L"Velmora, Version 1.0.0.27";
            EXPECT_TRUE(versionShown);
            Press(hDialog, IDOK);
        },
        IDOK);
}

// --- resources ------------------------------------------------------------------------------------

TEST(Resources, StringsIconArrowsAndVersion)
{
    CString text;
    EXPECT_TRUE(AfxLoadString(IDS_ABOUTBOX, text));
    EXPECT_STREQ(text.GetString(), L"&About Velmora...");
    const std::pair<UINT, const wchar_t*> columns[] = {
        {102, L"Streamname"}, {103, L"RTSP"}, {107, L"Multicast"}, {108, L"Source"},
        {109, L"COR"},        {110, L"SAP"},  {111, L"Origin"}};
    for (const auto& column : columns) {
        EXPECT_TRUE(AfxLoadString(column.first, text));
        EXPECT_STREQ(text.GetString(), column.second);
    }
    EXPECT_NE(::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME)), nullptr);

    // The sort arrows are palette bitmaps whose black maps to another colour.
    for (UINT id : {IDB_SORT_UP, IDB_SORT_DOWN}) {
        COLORMAP map = {RGB(0, 0, 0), RGB(10, 200, 30)};
        HBITMAP hMapped = ::CreateMappedBitmap(AfxGetResourceHandle(), id, 0, &map, 1);
        ASSERT_NE(hMapped, nullptr) << id;
        BITMAP info = {};
        ::GetObjectW(hMapped, sizeof(info), &info);
        EXPECT_EQ(info.bmWidth, 9);
        EXPECT_EQ(info.bmHeight, 5);
        CDC dc;
        dc.CreateCompatibleDC(nullptr);
        HGDIOBJ previous = dc.SelectObject(static_cast<HGDIOBJ>(hMapped));
        // The arrow's point: the top middle pixel of the up arrow, the bottom middle of the down one.
        EXPECT_EQ(::GetPixel(dc, 4, id == IDB_SORT_UP ? 0 : 4), RGB(10, 200, 30));
        EXPECT_EQ(::GetPixel(dc, 0, id == IDB_SORT_UP ? 0 : 4), RGB(255, 255, 255));
        dc.SelectObject(previous);
        ::DeleteObject(hMapped);
    }

    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    DWORD handle = 0;
    DWORD size = ::GetFileVersionInfoSizeW(path, &handle);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(::GetFileVersionInfoW(path, 0, size, block.data()));
    for (const auto& value :
         {std::make_pair(L"ProductName", L"Velmora"), std::make_pair(L"FileVersion", L"1.0.0.27")}) {
        CMfxString query;
        query.Format(L"\\StringFileInfo\\040904b0\\%s", value.first);
        wchar_t* pText = nullptr;
        UINT length = 0;
        ASSERT_TRUE(
            ::VerQueryValueW(block.data(), query.GetString(), reinterpret_cast<void**>(&pText), &length));
        EXPECT_STREQ(pText, value.second);
    }
}

} // namespace
