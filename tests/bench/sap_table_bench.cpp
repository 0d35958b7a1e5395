// The stream table under load: a manager (never started, no log file, no sockets) filled with N
// streams heard by SAP, for N = 100, 1000 and 5000; one in ten has a twin found by DNS-SD.
//   sap_table_bench
// Prints per N: the cost of a received announcement of a new stream (while the table fills) and of
// a known one, of one tick that includes the duplicate-stream check (also per stream), of the check
// alone, and the heap bytes per stream; then the per-stream figures at 5000 against those at 100.
// Repeated figures are the fastest of nine batches (fills: of five), so that other load on the
// machine weighs less.
#include "afx/afxplatform.h"
#include "bench_support.h"
#include "discovery/StreamInfo.h"
#include "gateway/SapPacket.h"
#include "gateway/SdpHelpers.h"
#include "gateway/VelmoraManager.h"
#include "gateway/VelmoraStream.h"

#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

// Bytes in use on the runtime's heap.
long long HeapInUse()
{
    _HEAPINFO info = {};
    long long used = 0;
    while (_heapwalk(&info) == _HEAPOK) {
        if (info._useflag == _USEDENTRY) {
            used += static_cast<long long>(info._size);
        }
    }
    return used;
}

std::string StreamSdp(int i)
{
    char text[512];
    std::snprintf(
        text, sizeof(text),
        "v=0\r\no=- %d 1 IN IP4 10.20.%d.%d\r\ns=Stream %05d\r\nc=IN IP4 239.%d.%d.%d/32\r\nt=0 0\r\n"
        "m=audio 5004 RTP/AVP 98\r\na=rtpmap:98 L24/48000/2\r\na=ptime:1\r\n",
        100000 + i, (i / 250) % 250, i % 250 + 1, i, 10 + (i / 62500) % 200, (i / 250) % 250, i % 250 + 1);
    return text;
}

std::vector<BYTE> Datagram(const std::string& sdp)
{
    return BuildSapPacket(CMfxString(sdp.c_str()), FALSE, L"10.77.0.1", &rand);
}

const int kBatches = 9;

// Seconds per call of the fastest of kBatches batches of `calls` calls.
template <typename Operation> double BestOfBatches(int calls, Operation operation)
{
    double best = 1e30;
    for (int batch = 0; batch < kBatches; ++batch) {
        const double start = Seconds();
        for (int call = 0; call < calls; ++call) {
            operation(call);
        }
        best = std::min(best, (Seconds() - start) / calls);
    }
    return best;
}

struct Figures
{
    int count;
    double newAnnouncementMicro;
    double knownAnnouncementMicro;
    double tickMilli;
    double checkMilli;
    double bytesPerStream;
};

Figures Measure(int count)
{
    Figures figures = {};
    figures.count = count;
    std::vector<std::vector<BYTE>> datagrams;
    datagrams.reserve(count);
    for (int i = 0; i < count; ++i) {
        datagrams.push_back(Datagram(StreamSdp(i)));
    }

    // Filling an empty table: the fastest of five fills, each into a new manager.
    std::unique_ptr<CVelmoraManager> manager;
    long long heapBefore = 0;
    figures.newAnnouncementMicro = 1e30;
    for (int fill = 0; fill < 5; ++fill) {
        manager.reset();
        heapBefore = HeapInUse();
        manager.reset(new CVelmoraManager(nullptr));
        manager->SetMilliSecSource(&BenchClock);
        g_RawClock += 10;
        const double start = Seconds();
        for (std::vector<BYTE>& datagram : datagrams) {
            manager->OnSAPPacket(static_cast<int>(datagram.size()), datagram.data());
        }
        figures.newAnnouncementMicro =
            std::min(figures.newAnnouncementMicro, (Seconds() - start) * 1e6 / count);
    }
    // One in ten streams has a twin found by DNS-SD whose SDP is in already (no retrieval starts).
    std::vector<Corvane::CStreamInfoRef> records;
    for (int i = 0; i < count; i += 10) {
        records.push_back(Corvane::CStreamInfoRef::Adopt(
            new Corvane::CStreamInfo(nullptr, Corvane::CStreamInfo::kSourceDiscovery)));
        records.back()->SetName(L"Found twin");
        manager->AddStream(new CVelmoraStream(manager.get(), records.back().get()));
        const CVelmoraStream* heard = manager->m_Streams[static_cast<size_t>(i)];
        CVelmoraStream* found = manager->m_Streams.back();
        found->m_SDP = heard->m_SDP;
        found->SetOriginLine(heard->GetOriginLine());
        found->SetConnectionAddress(GetSdpConnectionAddress(ParseSdpLines(heard->m_SDP)));
    }
    g_RawClock += 50;
    manager->OnTimer(); // takes the SDP values and links the twins
    const long long heapAfter = HeapInUse();
    figures.bytesPerStream = static_cast<double>(heapAfter - heapBefore) / (count + count / 10);

    figures.knownAnnouncementMicro =
        1e6 * BestOfBatches(2000, [&](int call) {
            std::vector<BYTE>& datagram = datagrams[(call * 7919) % count];
            manager->OnSAPPacket(static_cast<int>(datagram.size()), datagram.data());
        });
    // About the same number of stream steps in every batch, whatever N.
    const int ticks = std::max(10, 100000 / count);
    figures.tickMilli = 1e3 * BestOfBatches(ticks, [&](int) {
                            manager->RequestDuplicateCheck();
                            g_RawClock += 50; // the requested check runs on a tick at least 1 ms later
                            manager->OnTimer();
                        });
    figures.checkMilli = 1e3 * BestOfBatches(ticks, [&](int) {
                             BOOL changed = FALSE;
                             manager->CheckDuplicateStreams(changed);
                         });

    size_t linked = 0;
    for (CVelmoraStream* stream : manager->m_Streams) {
        linked += (stream->m_pTwinBonjour != nullptr ? 1 : 0) + (stream->m_pTwinSAP != nullptr ? 1 : 0);
    }
    const size_t twins = static_cast<size_t>((count + 9) / 10);
    if (manager->m_Streams.size() != count + twins || linked != 2 * twins) {
        std::printf("unexpected table: %u streams, %u twin links\n",
                    static_cast<unsigned>(manager->m_Streams.size()), static_cast<unsigned>(linked));
    }
    return figures;
}

} // namespace

int main()
{
    std::printf("%6s %14s %14s %10s %14s %10s %12s\n", "N", "new ann. us", "known ann. us", "tick ms",
                "tick us/strm", "check ms", "bytes/strm");
    std::vector<Figures> all;
    for (int count : {100, 1000, 5000}) {
        Figures f = Measure(count);
        all.push_back(f);
        std::printf("%6d %14.2f %14.2f %10.3f %14.3f %10.3f %12.0f\n", f.count, f.newAnnouncementMicro,
                    f.knownAnnouncementMicro, f.tickMilli, f.tickMilli * 1e3 / f.count, f.checkMilli,
                    f.bytesPerStream);
    }
    const Figures& small = all.front();
    const Figures& large = all.back();
    std::printf("5000 against 100, per stream: known announcement %.2fx, new announcement %.2fx, tick %.2fx, "
                "memory %.2fx\n",
                large.knownAnnouncementMicro / small.knownAnnouncementMicro,
                large.newAnnouncementMicro / small.newAnnouncementMicro,
                (large.tickMilli / large.count) / (small.tickMilli / small.count),
                large.bytesPerStream / small.bytesPerStream);
    return 0;
}
