// The client calls' framing against a scripted daemon on an ephemeral loopback port, and the
// tracked heap.
#include "dnssd/dns_sd.h"
#include "dnssd/responder.h"
#include "dnssd/core/ipc_frame.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string Frame(const mdns::IpcReply& reply)
{
    mdns::Bytes frame;
    mdns::EncodeReply(reply, frame);
    return std::string(frame.begin(), frame.end());
}

std::string Status(int32_t status)
{
    mdns::IpcReply r;
    r.kind = mdns::kFrameStatus;
    r.error = status;
    return Frame(r);
}

std::string BrowseReply(const char* name, uint32_t flags)
{
    mdns::IpcReply r;
    r.flags = flags;
    r.ifIndex = 7;
    r.name = name;
    r.type = "_rtsp._tcp.";
    r.domain = "local.";
    return Frame(r);
}

// Accepts one connection, reads the request and runs the script on the connection.
class ScriptedDaemon
{
public:
    explicit ScriptedDaemon(std::function<void(SOCKET)> script)
    {
        UINT port = 0;
        m_Listener = LoopbackSocket(SOCK_STREAM, port);
        ResponderSetDaemonPort(static_cast<uint16_t>(port));
        m_Thread = std::thread([this, script] {
            SOCKET s = accept(m_Listener, nullptr, nullptr);
            char prefix[4];
            recv(s, prefix, 4, MSG_WAITALL);
            std::vector<char> body(mdns::FrameLength(reinterpret_cast<uint8_t*>(prefix)));
            recv(s, body.data(), static_cast<int>(body.size()), MSG_WAITALL);
            script(s);
            closesocket(s);
        });
    }
    ~ScriptedDaemon()
    {
        m_Thread.join();
        closesocket(m_Listener);
        ResponderSetDaemonPort(DNSSD_DAEMON_PORT);
    }

private:
    SOCKET m_Listener;
    std::thread m_Thread;
};

void Send(SOCKET s, const std::string& bytes)
{
    ASSERT_EQ(send(s, bytes.data(), static_cast<int>(bytes.size()), 0), static_cast<int>(bytes.size()));
}

struct Seen
{
    std::vector<std::string> names;
    std::vector<DNSServiceFlags> flags;
};

void DNSSD_API OnBrowse(DNSServiceRef, DNSServiceFlags flags, uint32_t ifIndex, DNSServiceErrorType err,
                        const char* name, const char* type, const char* domain, void* context)
{
    Seen* seen = static_cast<Seen*>(context);
    seen->names.push_back(std::string(name) + "|" + type + "|" + domain + "|" + std::to_string(ifIndex) +
                          "|" + std::to_string(err));
    seen->flags.push_back(flags);
}

struct Winsock
{
    Winsock()
    {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~Winsock() { WSACleanup(); }
};

// Every reply that arrives through WSAEventSelect within `ms` of the last one.
void Pump(DNSServiceRef ref, int ms, std::vector<DNSServiceErrorType>& results)
{
    WSAEVENT event = WSACreateEvent();
    WSAEventSelect(DNSServiceRefSockFD(ref), event, FD_READ | FD_CLOSE);
    while (WaitForSingleObject(event, ms) == WAIT_OBJECT_0 && results.size() < 10) {
        WSAResetEvent(event);
        results.push_back(DNSServiceProcessResult(ref));
        if (results.back() != kDNSServiceErr_NoError) {
            break;
        }
    }
    WSACloseEvent(event);
}

// A provider whose callback has the name of the reply type, as the program's provider has.
struct Provider
{
    static void DNSSD_API DNSServiceRegisterReply(DNSServiceRef, DNSServiceFlags, DNSServiceErrorType,
                                                  const char*, const char*, const char*, void*)
    {
    }
    DNSServiceErrorType Register(DNSServiceRef* ref)
    {
        return DNSServiceRegister(ref, 0, 0, "n", "_rtsp._tcp", "", "", htons(80), 0, nullptr,
                                  DNSServiceRegisterReply, this);
    }
};

} // namespace

TEST(DnssdClient, QueuedRepliesGiveOneCallbackEachThroughEventSelect)
{
    Winsock winsock;
    ScriptedDaemon daemon([](SOCKET s) {
        Send(s, Status(0) + BrowseReply("A", 3) + BrowseReply("B", 3) + BrowseReply("C", 2));
        Sleep(1500);
    });
    Seen seen;
    DNSServiceRef ref = nullptr;
    ASSERT_EQ(DNSServiceBrowse(&ref, 0, 0, "_rtsp._tcp", "", OnBrowse, &seen), kDNSServiceErr_NoError);
    std::vector<DNSServiceErrorType> results;
    Pump(ref, 1000, results);
    EXPECT_EQ(std::count(results.begin(), results.end(), kDNSServiceErr_NoError), int(results.size()));
    EXPECT_EQ(seen.names, (std::vector<std::string>{"A|_rtsp._tcp.|local.|7|0", "B|_rtsp._tcp.|local.|7|0",
                                                    "C|_rtsp._tcp.|local.|7|0"}));
    EXPECT_EQ(seen.flags, (std::vector<DNSServiceFlags>{3, 3, 2}));
    DNSServiceRefDeallocate(ref);
}

TEST(DnssdClient, ReplySplitAcrossSegmentsIsReadWholeAndAVanishedDaemonGivesNotRunning)
{
    Winsock winsock;
    ScriptedDaemon daemon([](SOCKET s) {
        const std::string reply = BrowseReply("Split", 2);
        Send(s, Status(0) + reply.substr(0, 7));
        Sleep(300);
        Send(s, reply.substr(7));
        Sleep(300);
    });
    Seen seen;
    DNSServiceRef ref = nullptr;
    ASSERT_EQ(DNSServiceBrowse(&ref, 0, 0, "_rtsp._tcp", "", OnBrowse, &seen), kDNSServiceErr_NoError);
    std::vector<DNSServiceErrorType> results;
    Pump(ref, 2000, results);
    // The split reply once, then the closed connection, without a callback; a later call fails the
    // same at once.
    ASSERT_FALSE(results.empty());
    EXPECT_EQ(results.back(), kDNSServiceErr_ServiceNotRunning);
    EXPECT_EQ(std::count(results.begin(), results.end(), kDNSServiceErr_ServiceNotRunning), 1);
    EXPECT_EQ(seen.names, (std::vector<std::string>{"Split|_rtsp._tcp.|local.|7|0"}));
    EXPECT_EQ(DNSServiceProcessResult(ref), kDNSServiceErr_ServiceNotRunning);
    DNSServiceRefDeallocate(ref);
}

TEST(DnssdClient, CallReturnsTheDaemonsStatusAndSetsTheReferenceOnlyOnSuccess)
{
    Winsock winsock;
    const DNSServiceRef untouched = reinterpret_cast<DNSServiceRef>(0x1234);
    {
        ScriptedDaemon daemon([](SOCKET s) { Send(s, Status(kDNSServiceErr_BadInterfaceIndex)); });
        DNSServiceRef ref = untouched;
        EXPECT_EQ(DNSServiceResolve(&ref, 0, 65535, "X", "_rtsp._tcp", "local.", nullptr, nullptr),
                  kDNSServiceErr_BadParam); // no callback
        Seen seen;
        EXPECT_EQ(DNSServiceBrowse(&ref, 0, 65535, "_rtsp._tcp", "", OnBrowse, &seen),
                  kDNSServiceErr_BadInterfaceIndex);
        EXPECT_EQ(ref, untouched);
    }
    UINT port = 0;
    SOCKET closed = LoopbackSocket(SOCK_STREAM, port);
    closesocket(closed);
    ResponderSetDaemonPort(static_cast<uint16_t>(port));
    DNSServiceRef ref = untouched;
    EXPECT_EQ(Provider().Register(&ref), kDNSServiceErr_ServiceNotRunning);
    EXPECT_EQ(ref, untouched);
    ResponderSetDaemonPort(DNSSD_DAEMON_PORT);
}

// A reference never ends the process's Winsock: its deallocation leaves the process's other sockets
// open even when the caller's own start of Winsock is gone. (The client starts Winsock once for the
// process: under Wine the start count is no atomic counter, so a start and a cleanup per reference on
// many threads at once can lose a step, and the cleanup that reaches zero closes every socket.)
TEST(DnssdClient, AReferenceNeverEndsTheProcessWinsock)
{
    DNSServiceRef ref = nullptr;
    {
        Winsock winsock;
        ScriptedDaemon daemon([](SOCKET s) { Send(s, Status(kDNSServiceErr_NoError)); });
        Seen seen;
        ASSERT_EQ(DNSServiceBrowse(&ref, 0, 0, "_rtsp._tcp", "", OnBrowse, &seen), kDNSServiceErr_NoError);
    }
    UINT port = 0;
    SOCKET keeper = LoopbackSocket(SOCK_DGRAM, port);
    ASSERT_NE(keeper, INVALID_SOCKET);
    DNSServiceRefDeallocate(ref);
    sockaddr_in bound = {};
    int length = sizeof(bound);
    EXPECT_EQ(getsockname(keeper, reinterpret_cast<sockaddr*>(&bound), &length), 0) << WSAGetLastError();
    closesocket(keeper);
}

TEST(TrackedHeap, TotalsShrinkZeroSizeForeignPointerAndFailedRealloc)
{
    const uint32_t bytes = TrackedMemBytes(), blocks = TrackedMemBlocks();
    char* a = static_cast<char*>(TrackedMemAlloc(100));
    char* b = static_cast<char*>(TrackedMemCalloc(10, 30));
    ASSERT_TRUE(a != nullptr && b != nullptr);
    EXPECT_EQ(b[299], 0);
    EXPECT_EQ(TrackedMemBytes(), bytes + 400);
    EXPECT_EQ(TrackedMemBlocks(), blocks + 2);
    std::memcpy(a, "0123456789", 10);
    a = static_cast<char*>(TrackedMemRealloc(a, 4)); // shrink keeps the first bytes
    EXPECT_EQ(std::string(a, 4), "0123");
    EXPECT_EQ(TrackedMemBytes(), bytes + 304);
    // A size that cannot be had: null, and the old block stays whole and tracked.
    EXPECT_EQ(TrackedMemRealloc(a, 0x7FFFFFF0u), nullptr);
    EXPECT_EQ(std::string(a, 4), "0123");
    EXPECT_EQ(TrackedMemBlocks(), blocks + 2);
    // Not from this heap: nothing happens.
    int local = 0;
    TrackedMemFree(&local);
    EXPECT_EQ(TrackedMemBytes(), bytes + 304);
    EXPECT_EQ(TrackedMemRealloc(b, 0), nullptr); // size 0 frees
    EXPECT_EQ(TrackedMemBytes(), bytes + 4);
    // Many blocks, freed in another order than allocated.
    std::vector<void*> many;
    for (int i = 0; i < 5000; ++i) {
        many.push_back(TrackedMemAlloc(static_cast<size_t>(i % 7)));
    }
    for (size_t i = 0; i < many.size(); i += 2) {
        TrackedMemFree(many[i]);
    }
    TrackedMemFreeAll();
    EXPECT_EQ(TrackedMemBytes(), 0u);
    EXPECT_EQ(TrackedMemBlocks(), 0u);
    EXPECT_EQ(gResponderReady, 0);
    TrackedMemFreeAll(); // again, with its lock gone: no crash
}
