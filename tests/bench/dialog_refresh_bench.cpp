// The refresh of the dialog's lists at scale: a gateway manager (never started, no sockets) filled
// with N streams heard by SAP, for N = 100, 1000 and 5000, and the dialog's three owner-drawn lists in
// a visible window, refreshed from the manager's stream table as the dialog does it.
//   dialog_refresh_bench [N ...]
// Prints per N the time of one refresh (with the paint messages it causes): filling the empty SAP
// list, nothing changed, 1 row changed, 1 row added (the list is sorted again) and all rows changed;
// then the cost per row with all rows changed, at 5000 against 100. Each figure is the fastest of
// five runs, so that other load on the machine weighs less.
#include "bench_support.h"
#include "gateway/SapPacket.h"
#include "gateway/VelmoraManager.h"
#include "gateway/VelmoraStream.h"
#include "ui/DialogLists.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

void PumpMessages()
{
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

std::vector<BYTE> Announcement(int i)
{
    char sdp[512];
    std::snprintf(
        sdp, sizeof(sdp),
        "v=0\r\no=- %d 1 IN IP4 10.20.%d.%d\r\ns=Stream %05d\r\nc=IN IP4 239.%d.%d.%d/32\r\nt=0 0\r\n"
        "m=audio 5004 RTP/AVP 98\r\na=rtpmap:98 L24/48000/2\r\n",
        100000 + i, (i / 250) % 250, i % 250 + 1, (i * 7919) % 100000, 10 + (i / 62500) % 200,
        (i / 250) % 250, i % 250 + 1);
    return BuildSapPacket(CMfxString(sdp), FALSE, L"10.77.0.1", &rand);
}

// The dialog's three lists in a visible window.
struct Lists
{
    Lists()
    {
        window.CreateEx(0, nullptr, L"refresh", WS_POPUP | WS_VISIBLE, CRect(0, 0, 1200, 700), nullptr, 0);
        CMfxListCtrl* all[] = {&corvane, &sap, &local};
        for (int i = 0; i < 3; ++i) {
            HWND hWnd =
                ::CreateWindowExW(0, WC_LISTVIEWW, L"",
                                  WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_OWNERDRAWFIXED | LVS_SHOWSELALWAYS,
                                  i * 400, 0, 390, 650, window.m_hWnd, nullptr, nullptr, nullptr);
            all[i]->SubclassWindow(hWnd);
        }
        lists.AddColumns(96);
    }
    ~Lists() { window.DestroyWindow(); }
    CWnd window;
    CMfxListCtrl corvane, sap, local;
    CDialogLists lists{corvane, sap, local};
};

struct Figures
{
    int count;
    double fill, unchanged, oneChanged, oneAdded, allChanged;
};

Figures Measure(int count)
{
    Figures figures = {count, 1e30, 1e30, 1e30, 1e30, 1e30};
    for (int run = 0; run < 5; ++run) {
        CVelmoraManager manager(nullptr);
        manager.SetMilliSecSource(&BenchClock);
        g_RawClock += 10;
        for (int i = 0; i < count; ++i) {
            std::vector<BYTE> datagram = Announcement(i);
            manager.OnSAPPacket(static_cast<int>(datagram.size()), datagram.data());
        }
        g_RawClock += 60000; // past the wait for a young SDP: rows are not grey
        manager.OnTimer();
        CManagerStreamTable table(manager);
        Lists lists;
        PumpMessages();
        const StreamRules::AutoSwitches autos;
        auto timed = [&](double& best) {
            const double start = 1e3 * Seconds();
            lists.lists.Refresh(table, autos);
            PumpMessages();
            best = std::min(best, 1e3 * Seconds() - start);
        };
        timed(figures.fill);
        timed(figures.unchanged);
        manager.m_Streams[static_cast<size_t>(count / 2)]->SetConnectionAddress(L"239.254.0.1/32");
        timed(figures.oneChanged);
        std::vector<BYTE> added = Announcement(count);
        manager.OnSAPPacket(static_cast<int>(added.size()), added.data());
        timed(figures.oneAdded);
        for (CVelmoraStream* stream : manager.m_Streams)
            stream->SetConnectionAddress(L"239.253.0.1/32");
        timed(figures.allChanged);
        if (lists.sap.GetItemCount() != count + 1)
            std::printf("unexpected SAP list: %d rows\n", lists.sap.GetItemCount());
    }
    return figures;
}

} // namespace

int main(int argc, char** argv)
{
    // Other sizes may be given on the command line.
    std::vector<int> counts = {100, 1000, 5000};
    if (argc > 1) {
        counts.clear();
        for (int i = 1; i < argc; ++i)
            counts.push_back(std::max(1, std::atoi(argv[i])));
    }
    INITCOMMONCONTROLSEX init = {sizeof(init), ICC_LISTVIEW_CLASSES};
    ::InitCommonControlsEx(&init);
    std::printf("one refresh of the lists, ms (SAP list of N rows)\n");
    std::printf("%6s %10s %10s %12s %10s %12s %14s\n", "N", "fill", "unchanged", "1 changed", "1 added",
                "all changed", "us/row (all)");
    std::vector<Figures> all;
    for (int count : counts) {
        const Figures f = Measure(count);
        all.push_back(f);
        std::printf("%6d %10.2f %10.2f %12.2f %10.2f %12.2f %14.2f\n", f.count, f.fill, f.unchanged,
                    f.oneChanged, f.oneAdded, f.allChanged, f.allChanged * 1e3 / f.count);
    }
    const Figures& small = all.front();
    const Figures& large = all.back();
    std::printf("%d against %d, per row with all rows changed: %.2fx; per row filling: %.2fx\n", large.count,
                small.count, (large.allChanged / large.count) / (small.allChanged / small.count),
                (large.fill / large.count) / (small.fill / small.count));
    return 0;
}
