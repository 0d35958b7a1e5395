// DESCRIBE round trips against the gateway's RTSP server on loopback, with 1, 10 and 100 clients
// at once (each on its own connection and its own loopback address, sending its next request when
// the reply is in), with 1, 100 and 1,000 streams published and the log file off and on; then the
// process's CPU use at rest with 1,000 streams published.
//   rtsp_describe_bench [seconds per round, default 2] [library]
// Each publication is made as the gateway makes it (session, placeholder sink and RTCP instance on
// one group socket), except that the RTCP destination is a loopback port instead of the multicast
// group, so that nothing leaves the host. The log file (in the temporary folder, deleted at the
// end) receives every trace line. "library" measures the library's own server without the
// gateway's classes or a log, 1 stream.
// Prints round trips per second, median and 99th-percentile latency, requests without a correct
// reply (which must be 0), and CPU time per second of wall time at rest (the process only; Wine's
// server process is not counted).
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
// Client `index` connects from its own loopback address (the server takes at most 16 connections
// from one address).
void runClient(unsigned short port, unsigned index, std::atomic<bool> const& stop, ClientResult& result)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in from = {};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(INADDR_LOOPBACK + 10 + index);
    bind(s, reinterpret_cast<sockaddr*>(&from), sizeof(from));
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

// A free UDP port on loopback, for the placeholder RTCP destination.
unsigned short freeUdpPort()
{
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&local), sizeof(local));
    int length = sizeof(local);
    getsockname(s, reinterpret_cast<sockaddr*>(&local), &length);
    closesocket(s);
    return ntohs(local.sin_port);
}

double processCpuSeconds()
{
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](FILETIME const& t) {
        return (std::uint64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

// One server with its publications, its event loop on a thread of its own.
class Setup
{
public:
    Setup(bool gateway, bool log, unsigned streams, unsigned short rtcpPort)
    {
        ReceivingInterfaceAddr = htonl(INADDR_LOOPBACK);
        SendingInterfaceAddr = htonl(INADDR_LOOPBACK);
        fScheduler = BasicTaskScheduler::createNew();
        if (!gateway) {
            fEnv = QuietEnvironment::createNew(*fScheduler);
            fServer = RTSPServer::createNew(*fEnv, Port(0));
            if (fServer)
                fServer->addServerMediaSession(StoredSdpSession::createNew(*fEnv, "by-name/Studio A", kSdp));
            start();
            return;
        }
        fManager.reset(new CVelmoraManager(nullptr));
        if (log) {
            wchar_t temp[MAX_PATH] = {};
            GetTempPathW(MAX_PATH, temp);
            fLogFolder.Format(L"%sdescribe_bench_%lu", temp, GetCurrentProcessId());
            CreateDirectoryW(fLogFolder, nullptr);
            fManager->m_LogFile.Open(0, 3, 0, fLogFolder, L"bench", L"bench ");
        }
        CLoggingUsageEnvironment* env = new CLoggingUsageEnvironment(*fScheduler, fManager.get());
        fEnv = env;
        fServer = CVelmoraRTSPServer::createNew(*fEnv, Port(0));
        in_addr destination;
        destination.s_addr = htonl(INADDR_LOOPBACK);
        for (unsigned i = 0; fServer && i < streams; ++i) {
            // As the gateway publishes a stream, with a loopback RTCP destination.
            Publication p;
            const std::string name = i == 0 ? "Studio A" : "Stream " + std::to_string(i);
            p.rtp = new Groupsock(*fEnv, destination, Port(rtcpPort - 1), 255);
            p.rtcp = new Groupsock(*fEnv, destination, Port(rtcpPort), 255);
            p.sink = SimpleRTPSink::createNew(*fEnv, p.rtp, 98, 48000, "audio");
            p.rtcpInstance = RTCPInstance::createNew(*fEnv, p.rtcp, "bench", p.sink);
            CVelmoraServerMediaSession* session = CVelmoraServerMediaSession::createNew(
                *fEnv, ("by-name/" + name).c_str(), name.c_str(), name.c_str(), "");
            session->SetSDP(CMfxString(kSdp.c_str()));
            session->addSubsession(PassiveServerMediaSubsession::createNew(*p.sink, p.rtcpInstance));
            fServer->addServerMediaSession(session);
            fPublications.push_back(p);
        }
        start();
    }
    ~Setup()
    {
        fStop = true;
        if (fLoop.joinable())
            fLoop.join();
        Medium::close(fServer);
        for (Publication& p : fPublications) {
            Medium::close(p.rtcpInstance);
            Medium::close(p.sink);
            delete p.rtcp;
            delete p.rtp;
        }
        fEnv->reclaim();
        delete fScheduler;
        if (!fLogFolder.IsEmpty()) {
            const CMfxString logPath = fManager->m_LogFile.GetFilePath();
            fManager.reset(); // writes out the log's queue
            WIN32_FILE_ATTRIBUTE_DATA attributes = {};
            if (GetFileAttributesExW(logPath, GetFileExInfoStandard, &attributes))
                logBytes = attributes.nFileSizeLow;
            DeleteFileW(logPath);
            RemoveDirectoryW(fLogFolder);
        }
    }
    bool ok() const { return fServer != nullptr; }
    unsigned short port() const { return fServer->serverPort().hostOrder(); }
    unsigned long logBytes = 0;

private:
    struct Publication
    {
        Groupsock* rtp;
        Groupsock* rtcp;
        RTPSink* sink;
        RTCPInstance* rtcpInstance;
    };
    void start()
    {
        CLoggingUsageEnvironment* logging = dynamic_cast<CLoggingUsageEnvironment*>(fEnv);
        fLoop = std::thread([this, logging] {
            // As the RTSP-server thread: a step, then the step's log lines handed over.
            while (!fStop) {
                fScheduler->SingleStep();
                if (logging)
                    logging->FlushLog();
            }
        });
    }

    TaskScheduler* fScheduler = nullptr;
    std::unique_ptr<CVelmoraManager> fManager;
    UsageEnvironment* fEnv = nullptr;
    RTSPServer* fServer = nullptr;
    CMfxString fLogFolder;
    std::vector<Publication> fPublications;
    std::atomic<bool> fStop{false};
    std::thread fLoop;
};

// One round per client count; returns the requests per second at 1 client.
double runRounds(unsigned short port, double seconds, char const* label, unsigned& totalLost)
{
    double single = 0;
    for (unsigned clients : {1u, 10u, 100u}) {
        std::atomic<bool> stop{false};
        std::vector<ClientResult> results(clients);
        std::vector<std::thread> threads;
        const double start = nowMicroseconds();
        for (unsigned i = 0; i < clients; ++i)
            threads.emplace_back(runClient, port, i, std::cref(stop), std::ref(results[i]));
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
        if (clients == 1)
            single = count / elapsed;
        std::printf("%-22s %8u %10u %12.0f %10.0f %10.0f %6u\n", label, clients, static_cast<unsigned>(count),
                    count / elapsed, percentile(all, 0.50), percentile(all, 0.99), lost);
        std::fflush(stdout);
    }
    return single;
}

} // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
    const bool libraryOnly = argc > 2 && std::string(argv[2]) == "library";
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    const unsigned short rtcpPort = freeUdpPort();

    std::printf("DESCRIBE round trips on loopback, %.1f s per round, reply %u bytes of SDP\n", seconds,
                static_cast<unsigned>(kSdp.size()));
    std::printf("%-22s %8s %10s %12s %10s %10s %6s\n", "server", "clients", "requests", "per second",
                "p50 us", "p99 us", "lost");
    unsigned totalLost = 0;
    if (libraryOnly) {
        Setup setup(false, false, 1, rtcpPort);
        if (!setup.ok())
            return 1;
        runRounds(setup.port(), seconds, "library, 1 stream", totalLost);
        return totalLost == 0 ? 0 : 1;
    }
    double single[2][3] = {};
    const unsigned streamCounts[] = {1, 100, 1000};
    for (int log = 0; log < 2; ++log) {
        for (int k = 0; k < 3; ++k) {
            Setup setup(true, log != 0, streamCounts[k], rtcpPort);
            if (!setup.ok()) {
                std::printf("server failed\n");
                return 1;
            }
            char label[64];
            std::snprintf(label, sizeof(label), "log %s, %u streams", log ? "on " : "off", streamCounts[k]);
            single[log][k] = runRounds(setup.port(), seconds, label, totalLost);
        }
    }
    std::printf("1 client, 1000 streams / 1 stream: log off %.2f, log on %.2f\n", single[0][2] / single[0][0],
                single[1][2] / single[1][0]);
    std::printf("1 client, log on / log off: 1 stream %.2f, 100 streams %.2f, 1000 streams %.2f\n",
                single[1][0] / single[0][0], single[1][1] / single[0][1], single[1][2] / single[0][2]);

    {
        Setup setup(true, true, 1000, rtcpPort);
        Sleep(3000); // the first reports of 1000 publications settle
        const double cpuStart = processCpuSeconds();
        const double start = nowMicroseconds();
        Sleep(10000);
        const double cpu = processCpuSeconds() - cpuStart;
        const double wall = (nowMicroseconds() - start) / 1e6;
        std::printf(
            "at rest with 1000 streams published (log on): %.2f %% of a core (%.3f s CPU in %.1f s)\n",
            100 * cpu / wall, cpu, wall);
    }
    return totalLost == 0 ? 0 : 1;
}
