// DESCRIBE round trips against the RTSP library's server on loopback, with 1, 10 and 100
// clients at once, each on its own connection sending its next request when the reply is in.
//   rtsp_describe_bench [seconds per round, default 3] [gateway | gateway-nolog]
// With "gateway" the server is the gateway's own: its server and session classes, and its logging
// environment writing every trace line to a log file (in the temporary folder, deleted at the end);
// "gateway-nolog" is the same without a log file, as when none is configured.
// Prints round trips per second, median and 99th-percentile latency, and requests without a
// correct reply (which must be 0).
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include "gateway/LoggingUsageEnvironment.h"
#include "gateway/VelmoraManager.h"
#include "gateway/VelmoraRTSPServer.h"
#include "gateway/VelmoraServerMediaSession.h"
#include "live/liveMedia.hh"
#include "tests/tools/stored_sdp_session.hh"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

// Output of the library is dropped: the benchmark measures the server, not a console.
class QuietEnvironment : public BasicUsageEnvironment
{
public:
    static QuietEnvironment* createNew(TaskScheduler& scheduler) { return new QuietEnvironment(scheduler); }
    UsageEnvironment& operator<<(char const*) override { return *this; }
    UsageEnvironment& operator<<(int) override { return *this; }
    UsageEnvironment& operator<<(unsigned) override { return *this; }
    UsageEnvironment& operator<<(double) override { return *this; }
    UsageEnvironment& operator<<(void*) override { return *this; }

protected:
    using BasicUsageEnvironment::BasicUsageEnvironment;
};

const std::string kSdp =
    "v=0\r\no=- 1311738121 1311738121 IN IP4 10.0.0.9\r\ns=Studio A\r\n"
    "c=IN IP4 239.69.1.2/32\r\nt=0 0\r\nm=audio 5004 RTP/AVP 98\r\n"
    "a=rtpmap:98 L24/48000/2\r\na=ptime:1\r\na=ts-refclk:ptp=IEEE1588-2008:00-00-00-00-00-00-00-00:0\r\n"
    "a=mediaclk:direct=0\r\n";

double nowMicroseconds()
{
    static const double frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart * 1e6 / frequency;
}

struct ClientResult
{
    std::vector<double> latencies;
    unsigned lost = 0;
};

// Sends DESCRIBE after DESCRIBE until `stop`; a request without a correct, whole reply counts
// as lost and ends the client (its connection is then unusable).
void runClient(unsigned short port, std::atomic<bool> const& stop, ClientResult& result)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    DWORD timeout = 10000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
    BOOL noDelay = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof(noDelay));
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr*>(&to), sizeof(to)) != 0) {
        ++result.lost;
        closesocket(s);
        return;
    }
    const std::string url = "rtsp://127.0.0.1:" + std::to_string(port) + "/by-name/Studio%20A";
    std::string buffer;
    char chunk[8192];
    for (unsigned cseq = 1; !stop; ++cseq) {
        const std::string request = "DESCRIBE " + url + " RTSP/1.0\r\nCSeq: " + std::to_string(cseq) +
                                    "\r\nAccept: application/sdp\r\n\r\n";
        const double start = nowMicroseconds();
        bool ok =
            send(s, request.data(), static_cast<int>(request.size()), 0) == static_cast<int>(request.size());
        std::size_t whole = 0;
        while (ok) {
            const std::size_t end = buffer.find("\r\n\r\n");
            if (end != std::string::npos) {
                const std::size_t at = buffer.find("Content-Length: ");
                const std::size_t length = at < end ? std::strtoul(buffer.c_str() + at + 16, nullptr, 10) : 0;
                if (buffer.size() >= end + 4 + length) {
                    whole = end + 4 + length;
                    ok = buffer.compare(0, 15, "RTSP/1.0 200 OK") == 0 &&
                         buffer.find("CSeq: " + std::to_string(cseq) + "\r\n") < end &&
                         buffer.compare(end + 4, length, kSdp) == 0 && length == kSdp.size();
                    break;
                }
            }
            const int n = recv(s, chunk, sizeof(chunk), 0);
            if (n <= 0)
                ok = false;
            else
                buffer.append(chunk, n);
        }
        if (!ok) {
            ++result.lost;
            break;
        }
        result.latencies.push_back(nowMicroseconds() - start);
        buffer.erase(0, whole);
    }
    closesocket(s);
}

double percentile(std::vector<double>& values, double fraction)
{
    if (values.empty())
        return 0;
    const std::size_t index = std::min(values.size() - 1, static_cast<std::size_t>(fraction * values.size()));
    std::nth_element(values.begin(), values.begin() + index, values.end());
    return values[index];
}

} // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);

    const std::string mode = argc > 2 ? argv[2] : "library";
    const bool gateway = mode == "gateway" || mode == "gateway-nolog";
    ReceivingInterfaceAddr = htonl(INADDR_LOOPBACK);
    TaskScheduler* scheduler = BasicTaskScheduler::createNew();
    std::unique_ptr<CVelmoraManager> manager;
    UsageEnvironment* env = nullptr;
    RTSPServer* server = nullptr;
    CMfxString logFolder;
    if (gateway) {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        logFolder.Format(L"%sdescribe_bench_%lu", temp, GetCurrentProcessId());
        CreateDirectoryW(logFolder, nullptr);
        manager.reset(new CVelmoraManager(nullptr));
        if (mode == "gateway")
            manager->m_LogFile.Open(0, 3, 0, logFolder, L"bench", L"bench ");
        env = new CLoggingUsageEnvironment(*scheduler, manager.get());
        server = CVelmoraRTSPServer::createNew(*env, Port(0));
        if (server) {
            CVelmoraServerMediaSession* session =
                CVelmoraServerMediaSession::createNew(*env, "by-name/Studio A", "Studio A", "Studio A", "");
            session->SetSDP(CMfxString(kSdp.c_str()));
            server->addServerMediaSession(session);
        }
    } else {
        env = QuietEnvironment::createNew(*scheduler);
        server = RTSPServer::createNew(*env, Port(0));
        if (server)
            server->addServerMediaSession(StoredSdpSession::createNew(*env, "by-name/Studio A", kSdp));
    }
    if (!server) {
        std::printf("server failed: %s\n", env->getResultMsg());
        return 1;
    }
    const unsigned short port = server->serverPort().hostOrder();
    std::atomic<bool> serverStop{false};
    std::thread serverThread([&] {
        while (!serverStop)
            scheduler->SingleStep();
    });

    std::printf("DESCRIBE round trips on loopback (%s server), %.1f s per round, reply %u bytes of SDP\n",
                mode.c_str(), seconds, static_cast<unsigned>(kSdp.size()));
    std::printf("%8s %10s %12s %10s %10s %6s\n", "clients", "requests", "per second", "p50 us", "p99 us",
                "lost");
    unsigned totalLost = 0;
    for (unsigned clients : {1u, 10u, 100u}) {
        std::atomic<bool> stop{false};
        std::vector<ClientResult> results(clients);
        std::vector<std::thread> threads;
        const double start = nowMicroseconds();
        for (unsigned i = 0; i < clients; ++i)
            threads.emplace_back(runClient, port, std::cref(stop), std::ref(results[i]));
        Sleep(static_cast<DWORD>(seconds * 1000));
        stop = true;
        for (std::thread& t : threads)
            t.join();
        const double elapsed = (nowMicroseconds() - start) / 1e6;
        std::vector<double> all;
        unsigned lost = 0;
        for (ClientResult& r : results) {
            all.insert(all.end(), r.latencies.begin(), r.latencies.end());
            lost += r.lost;
        }
        totalLost += lost;
        const std::size_t count = all.size();
        std::printf("%8u %10u %12.0f %10.0f %10.0f %6u\n", clients, static_cast<unsigned>(count),
                    count / elapsed, percentile(all, 0.50), percentile(all, 0.99), lost);
        std::fflush(stdout);
    }
    serverStop = true;
    serverThread.join();
    Medium::close(server);
    env->reclaim();
    delete scheduler;
    if (gateway) {
        const CMfxString logPath = manager->m_LogFile.GetFilePath();
        manager.reset(); // writes out the log's queue
        WIN32_FILE_ATTRIBUTE_DATA attributes = {};
        if (GetFileAttributesExW(logPath, GetFileExInfoStandard, &attributes))
            std::printf("log file: %lu bytes\n", attributes.nFileSizeLow);
        DeleteFileW(logPath);
        RemoveDirectoryW(logFolder);
    }
    return totalLost == 0 ? 0 : 1;
}
