// The stream browser's once-a-second poll of the DSA engine's tables on the GUI thread, with N
// resolved remote streams in the engine (N = 100, 1000, 5000): the first poll (which creates N
// records and their add messages) and a poll that finds every record again. No engine threads, no
// sockets: the tables are filled directly and a manager that is never started owns the browser.
//   dsa_poll_bench
// Repeated figures are the fastest of nine polls; the last line compares the per-stream cost at
// 1000 and 5000 with that at 100.
#include "afx/afxplatform.h"
#include "discovery/CorvaneManager.h"
#include "discovery/StreamBrowser.h"
#include "dsa_mdns/corvane_mdns.h"
#include "foundation/NetworkInterfaces.h"
#include "gateway/VelmoraManager.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

DWORD g_RawClock = 1000;
DWORD WINAPI BenchClock()
{
    return g_RawClock;
}

void FillEngine(int count)
{
    corvane_core_reset_for_test();
    for (int n = 0; n < 50; ++n) {
        corvane_remote_node& node = corvane_remote_nodes[n];
        snprintf(node.name, sizeof(node.name), "host%02d", n);
        node.hash = corvane_name_hash(node.name, CORVANE_NAME_MAX);
        const uint8_t address[4] = {10, 77, 0, static_cast<uint8_t>(2 + n)};
        memcpy(node.address, address, 4);
    }
    for (int i = 0; i < count; ++i) {
        corvane_remote_stream& row = corvane_remote_streams[i];
        snprintf(row.name, sizeof(row.name), "service %04d", i);
        row.hash = corvane_name_hash(row.name, CORVANE_NAME_MAX);
        row.node = static_cast<uint8_t>(1 + i % 50);
        row.device = 1;
        row.kind = CORVANE_KIND_CORVANE;
        row.port = 8554;
    }
    corvane_device_config[0].active = 1;
    corvane_device_config[0].interface_index = static_cast<uint16_t>(GetInterfaceIndex(L"127.0.0.1"));
}

// Seconds of one poll.
double Poll(CVelmoraManager& manager)
{
    g_RawClock += 1001;
    const auto start = std::chrono::steady_clock::now();
    manager.m_CorvaneManager.m_StreamBrowser.OnTimer();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main()
{
    corvane_core_init();
    double per_stream_100 = 0;
    for (int count : {100, 1000, 5000}) {
        std::unique_ptr<CVelmoraManager> manager(new CVelmoraManager(nullptr));
        manager->SetMilliSecSource(&BenchClock);
        manager->m_BonjourMode = L"DSA";
        manager->m_CorvaneManager.m_pOwner = manager.get();
        manager->m_CorvaneManager.m_StreamBrowser.m_pOwner = &manager->m_CorvaneManager;
        FillEngine(count);
        const double first = Poll(*manager);
        double again = 1e9;
        for (int i = 0; i < 9; ++i) {
            again = std::min(again, Poll(*manager));
        }
        const size_t records = manager->m_CorvaneManager.m_StreamBrowser.m_StreamInfos.size();
        std::printf("%5d streams: first poll %8.2f ms (%6.2f us per stream, %u records), "
                    "poll finding all again %7.3f ms (%6.3f us per stream)\n",
                    count, first * 1e3, first * 1e6 / count, static_cast<unsigned>(records), again * 1e3,
                    again * 1e6 / count);
        if (count == 100) {
            per_stream_100 = again / count;
        } else {
            std::printf("       per-stream cost of a poll at %d against 100: %.2f times\n", count,
                        (again / count) / per_stream_100);
        }
        corvane_device_config[0].active = 0;
        manager->m_CorvaneManager.m_StreamBrowser.m_pOwner = nullptr;
    }
    corvane_core_reset_for_test();
    return 0;
}
