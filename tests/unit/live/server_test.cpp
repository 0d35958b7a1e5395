// The RTSP server over loopback (ephemeral ports only), its sessions, and RTCP reports.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include "live/liveMedia.hh"
#include "live/rtcp_packets.hh"
#include "tests/tools/event_loop_thread.hh"
#include "tests/tools/stored_sdp_session.hh"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <cstring>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace {

// Collects the library's output.
class CaptureEnvironment : public BasicUsageEnvironment
{
public:
    static CaptureEnvironment* createNew(TaskScheduler& scheduler)
    {
        return new CaptureEnvironment(scheduler);
    }
    std::string text;

    UsageEnvironment& operator<<(char const* str) override
    {
        text += str ? str : "(NULL)";
        return *this;
    }
    UsageEnvironment& operator<<(int i) override { return *this << std::to_string(i).c_str(); }
    UsageEnvironment& operator<<(unsigned u) override { return *this << std::to_string(u).c_str(); }
    UsageEnvironment& operator<<(double d) override { return *this << std::to_string(d).c_str(); }
    UsageEnvironment& operator<<(void* p) override
    {
        return *this << std::to_string(reinterpret_cast<std::uintptr_t>(p)).c_str();
    }

protected:
    using BasicUsageEnvironment::BasicUsageEnvironment;
};

class TestServer : public RTSPServer
{
public:
    static TestServer* createNew(UsageEnvironment& env, Port port = 0)
    {
        const int s = setUpOurSocket(env, port);
        return s < 0 ? nullptr : new TestServer(env, s, port);
    }
    void setLimits(unsigned requestTimeoutMs, unsigned idleTimeoutMs, unsigned maxConnections,
                   unsigned maxPerAddress = 16)
    {
        fRequestTimeoutMs = requestTimeoutMs;
        fIdleTimeoutMs = idleTimeoutMs;
        fMaxConnections = maxConnections;
        fMaxConnectionsPerAddress = maxPerAddress;
    }

protected:
    using RTSPServer::RTSPServer;
};

class Client
{
public:
    // From 127.0.0.1, or from another loopback address.
    explicit Client(unsigned short port, std::uint32_t from = INADDR_LOOPBACK)
    {
        fSocket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in local = {};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(from);
        bind(fSocket, reinterpret_cast<sockaddr*>(&local), sizeof(local));
        DWORD timeout = 5000;
        setsockopt(fSocket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
                   sizeof(timeout));
        sockaddr_in to = {};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected = connect(fSocket, reinterpret_cast<sockaddr*>(&to), sizeof(to)) == 0;
    }
    ~Client() { closesocket(fSocket); }

    bool send(std::string const& text)
    {
        return ::send(fSocket, text.data(), static_cast<int>(text.size()), 0) ==
               static_cast<int>(text.size());
    }
    // One whole response (header block and Content-Length bytes of body); empty when the
    // connection closed or nothing came within 5 s.
    std::string response()
    {
        for (;;) {
            const std::size_t end = fBuffer.find("\r\n\r\n");
            if (end != std::string::npos) {
                std::size_t length = 0;
                const std::size_t at = fBuffer.find("Content-Length: ");
                if (at != std::string::npos && at < end)
                    length = std::strtoul(fBuffer.c_str() + at + 16, nullptr, 10);
                if (fBuffer.size() >= end + 4 + length) {
                    const std::string whole = fBuffer.substr(0, end + 4 + length);
                    fBuffer.erase(0, whole.size());
                    return whole;
                }
            }
            if (!readMore())
                return "";
        }
    }
    // True when the server closed the connection (within 5 s).
    bool closedByServer()
    {
        while (readMore()) {
        }
        return fClosed;
    }
    std::string const& pending() const { return fBuffer; }
    bool connected = false;

private:
    bool readMore()
    {
        char chunk[65536];
        const int n = recv(fSocket, chunk, sizeof(chunk), 0);
        if (n > 0) {
            fBuffer.append(chunk, n);
            return true;
        }
        fClosed = n == 0 || WSAGetLastError() != WSAETIMEDOUT;
        return false;
    }
    SOCKET fSocket;
    std::string fBuffer;
    bool fClosed = false;
};

// The Date header checked for its form and replaced by "Date: X".
std::string withoutDate(std::string const& response)
{
    static const std::regex date(
        "Date: (Mon|Tue|Wed|Thu|Fri|Sat|Sun), \\d\\d (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|"
        "Nov|Dec) \\d{4} \\d\\d:\\d\\d:\\d\\d GMT\r\n");
    return std::regex_replace(response, date, "Date: X\r\n", std::regex_constants::format_first_only);
}

class RtspServerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ReceivingInterfaceAddr = htonl(INADDR_LOOPBACK);
        scheduler = BasicTaskScheduler::createNew();
        env = CaptureEnvironment::createNew(*scheduler);
        server = TestServer::createNew(*env);
        ASSERT_NE(nullptr, server) << env->text;
        port = server->serverPort().hostOrder();
        ASSERT_NE(0, port);
    }
    void TearDown() override
    {
        pause();
        Medium::close(server);
        EXPECT_TRUE(env->reclaim());
        delete scheduler;
        ReceivingInterfaceAddr = INADDR_ANY;
    }
    // The event loop runs on its own thread between run() and pause(); library objects are
    // touched only while it is paused.
    void run() { loop.run(*scheduler); }
    void pause() { loop.pause(); }
    std::string url(char const* path) const
    {
        return "rtsp://127.0.0.1:" + std::to_string(port) + "/" + path;
    }
    std::string describe(char const* path, int cseq)
    {
        return "DESCRIBE " + url(path) + " RTSP/1.0\r\nCSeq: " + std::to_string(cseq) +
               "\r\nAccept: application/sdp\r\n\r\n";
    }

    BasicTaskScheduler* scheduler = nullptr;
    CaptureEnvironment* env = nullptr;
    TestServer* server = nullptr;
    unsigned short port = 0;
    EventLoopThread loop;
};

const std::string kSdp = "v=0\r\no=- 1 1 IN IP4 10.0.0.9\r\ns=Studio A\r\nc=IN IP4 239.1.2.3/32\r\nt=0 0\r\n"
                         "m=audio 5004 RTP/AVP 98\r\na=rtpmap:98 L24/48000/2\r\n";

TEST_F(RtspServerTest, OptionsAndDescribeRepliesAreExact)
{
    server->addServerMediaSession(StoredSdpSession::createNew(*env, "by-name/Studio A", kSdp));
    run();
    Client client(port);
    ASSERT_TRUE(client.connected);
    client.send("OPTIONS " + url("") + " RTSP/1.0\r\nCSeq: 1\r\n\r\n");
    EXPECT_EQ("RTSP/1.0 200 OK\r\nCSeq: 1\r\nDate: X\r\nPublic: OPTIONS, DESCRIBE\r\n\r\n",
              withoutDate(client.response()));

    client.send(describe("by-name/Studio%20A", 2));
    EXPECT_EQ("RTSP/1.0 200 OK\r\nCSeq: 2\r\nDate: X\r\nContent-Base: " + url("by-name/Studio%20A") +
                  "/\r\nContent-Type: application/sdp\r\nContent-Length: " + std::to_string(kSdp.size()) +
                  "\r\n\r\n" + kSdp,
              withoutDate(client.response()));

    client.send(describe("by-name/Nobody", 3));
    EXPECT_EQ("RTSP/1.0 404 Not Found\r\nCSeq: 3\r\nDate: X\r\n\r\n", withoutDate(client.response()));

    // Header names in any case; CSeq is echoed as sent.
    client.send("SETUP " + url("by-name/Studio%20A") + " RTSP/1.0\r\ncseq: 4a\r\nTransport: RTP/AVP\r\n\r\n");
    EXPECT_EQ("RTSP/1.0 405 Method Not Allowed\r\nCSeq: 4a\r\nDate: X\r\nAllow: OPTIONS, DESCRIBE\r\n\r\n",
              withoutDate(client.response()));
    client.send("BREW * RTSP/1.0\r\nCSEQ: 5\r\n\r\n");
    EXPECT_EQ("RTSP/1.0 501 Not Implemented\r\nCSeq: 5\r\nDate: X\r\nAllow: OPTIONS, DESCRIBE\r\n\r\n",
              withoutDate(client.response()));
    client.send("OPTIONS * RTSP/2.0\r\nCSeq: 6\r\n\r\n");
    EXPECT_EQ("RTSP/1.0 505 RTSP Version Not Supported\r\nCSeq: 6\r\nDate: X\r\n\r\n",
              withoutDate(client.response()));

    // Two requests in one packet (the second with a body) get two replies, in order.
    client.send("SET_PARAMETER * RTSP/1.0\r\nCSeq: 7\r\nContent-Length: 5\r\n\r\nhello" +
                describe("by-name/Studio", 8));
    EXPECT_NE(std::string::npos, client.response().find("CSeq: 7\r\n"));
    const std::string second = client.response();
    EXPECT_EQ(0u, second.find("RTSP/1.0 404 Not Found\r\nCSeq: 8\r\n")) << second;

    // A request that cannot be parsed gets 400, and the connection ends.
    {
        // A lone CR in a value: nothing of the request is echoed.
        Client injecting(port);
        injecting.send("OPTIONS * RTSP/1.0\r\nCSeq: 9\rX-Injected: yes\r\n\r\n");
        EXPECT_EQ("RTSP/1.0 400 Bad Request\r\nDate: X\r\nAllow: OPTIONS, DESCRIBE\r\n\r\n",
                  withoutDate(injecting.response()));
    }
    client.send("this is not rtsp\r\n\r\n");
    EXPECT_EQ("RTSP/1.0 400 Bad Request\r\nDate: X\r\nAllow: OPTIONS, DESCRIBE\r\n\r\n",
              withoutDate(client.response()));
    EXPECT_TRUE(client.closedByServer());

    pause();
    EXPECT_NE(std::string::npos, env->text.find("accept()ed connection from 127.0.0.1\n"));
    EXPECT_NE(std::string::npos,
              env->text.find("]::handleRequestBytes() parseRTSPRequestString() succeeded, returning cmdName "
                             "\"DESCRIBE\", urlPreSuffix \"by-name\", urlSuffix \"Studio%20A\", CSeq \"2\", "
                             "Content-Length 0\n"));
    EXPECT_NE(std::string::npos, env->text.find("]::handleRequestBytes() parseRTSPRequestString() failed\n"));
    EXPECT_NE(std::string::npos, env->text.find("]::handleRequestBytes() processing "));
    EXPECT_NE(std::string::npos, env->text.find("]::handleRequestBytes() sending response: RTSP/1.0 404"));
    EXPECT_NE(std::string::npos, env->text.find("setupStreamSocket bind at 127.0.0.1:0\n"));
}

TEST_F(RtspServerTest, LargeDescriptionIsSentWhole)
{
    std::string sdp = kSdp;
    while (sdp.size() < 300000)
        sdp += "a=x-filler:" + std::to_string(sdp.size()) + "\r\n";
    server->addServerMediaSession(StoredSdpSession::createNew(*env, "by-name/big", sdp));
    run();
    Client client(port);
    client.send(describe("by-name/big", 1));
    const std::string reply = client.response();
    ASSERT_GT(reply.size(), sdp.size());
    EXPECT_EQ(sdp, reply.substr(reply.size() - sdp.size()));
    EXPECT_NE(std::string::npos, reply.find("Content-Length: " + std::to_string(sdp.size()) + "\r\n"));
}

TEST_F(RtspServerTest, SessionsAreFoundByRawThenDecodedNameAndRemovedOnlyAsThemselves)
{
    ServerMediaSession* literal = StoredSdpSession::createNew(*env, "by-name/A%20B", "literal");
    ServerMediaSession* spaced = StoredSdpSession::createNew(*env, "by-name/C D", "spaced");
    ASSERT_TRUE(server->addServerMediaSession(literal));
    ASSERT_TRUE(server->addServerMediaSession(spaced));
    EXPECT_EQ(literal, server->lookupServerMediaSession("by-name/A%20B"));
    EXPECT_EQ(spaced, server->lookupServerMediaSession("by-name/C%20D"));
    EXPECT_EQ(spaced, server->lookupServerMediaSession("by-name/C D"));
    EXPECT_EQ(nullptr, server->lookupServerMediaSession("by-name/A B"));
    EXPECT_EQ(nullptr, server->lookupServerMediaSession(nullptr));

    char* address = server->rtspURL(spaced);
    EXPECT_EQ(url("by-name/C%20D"), address);
    delete[] address;

    // A second session of a taken name is refused and stays the caller's; removing it leaves the
    // listed one in place.
    ServerMediaSession* duplicate = StoredSdpSession::createNew(*env, "by-name/C D", "duplicate");
    EXPECT_FALSE(server->addServerMediaSession(duplicate));
    EXPECT_TRUE(server->addServerMediaSession(spaced));
    server->removeServerMediaSession(duplicate);
    EXPECT_EQ(spaced, server->lookupServerMediaSession("by-name/C D"));

    run();
    Client client(port);
    client.send(describe("by-name/A%20B", 1));
    EXPECT_NE(std::string::npos, client.response().find("\r\n\r\nliteral"));
    client.send(describe("by-name/C%20D", 2));
    EXPECT_NE(std::string::npos, client.response().find("\r\n\r\nspaced"));
    pause();

    server->removeServerMediaSession(spaced);
    EXPECT_EQ(nullptr, server->lookupServerMediaSession("by-name/C D"));
}

TEST_F(RtspServerTest, MisbehavingClientsCostOnlyTheirOwnConnections)
{
    server->setLimits(1500, 0, 256);
    server->addServerMediaSession(StoredSdpSession::createNew(*env, "by-name/Studio A", kSdp));
    run();

    Client partial(port);
    partial.send("DESCRIBE " + url("by-name/Studio%20A") + " RTSP/1.0\r\nCSeq: 1\r\n");
    Client leaving(port);
    leaving.send("DESCRIBE " + url("by-name/Studio%20A") + " RTSP/1.0\r\nCS");
    Client oversized(port);
    Client slow(port);
    std::atomic<bool> done{false};
    std::thread slowSender([&] {
        const std::string request = describe("by-name/Studio%20A", 1);
        for (std::size_t i = 0; i < request.size() && !done; ++i) {
            if (!slow.send(request.substr(i, 1)))
                break;
            Sleep(100);
        }
    });
    std::thread flooder([&] {
        std::string headers = "DESCRIBE " + url("x") + " RTSP/1.0\r\n";
        while (headers.size() < 1000000)
            headers += "X-Filler: " + std::string(100, 'f') + "\r\n";
        oversized.send(headers);
    });
    {
        Client gone(port);
        gone.send("OPTIONS * RTSP/1.0\r\nCSeq: 1\r\n");
    }

    // A well-behaved client is answered all along.
    Client good(port);
    for (int i = 1; i <= 30; ++i) {
        good.send(describe("by-name/Studio%20A", i));
        const std::string reply = good.response();
        ASSERT_EQ(0u, reply.find("RTSP/1.0 200 OK\r\nCSeq: " + std::to_string(i) + "\r\n")) << i;
    }

    EXPECT_TRUE(oversized.closedByServer());
    EXPECT_TRUE(partial.closedByServer()) << "an unfinished request ends after the time limit";
    EXPECT_TRUE(slow.closedByServer());
    done = true;
    slowSender.join();
    flooder.join();
    good.send("OPTIONS * RTSP/1.0\r\nCSeq: 99\r\n\r\n");
    EXPECT_EQ(0u, good.response().find("RTSP/1.0 200 OK\r\nCSeq: 99\r\n"));

    pause();
    EXPECT_NE(std::string::npos, env->text.find("new bytes (of ")) << "the oversized and the leaving client";
    EXPECT_NE(std::string::npos, env->text.find("]::handleRequestBytes() timed out with "));
}

TEST_F(RtspServerTest, ConnectionsBeyondTheLimitAreClosed)
{
    server->setLimits(20000, 0, 2);
    run();
    Client first(port);
    Client second(port);
    Client third(port);
    EXPECT_TRUE(third.closedByServer());
    first.send("OPTIONS * RTSP/1.0\r\nCSeq: 1\r\n\r\n");
    EXPECT_EQ(0u, first.response().find("RTSP/1.0 200 OK"));
    pause();
    EXPECT_NE(std::string::npos, env->text.find("too many connections (2)"));
}

TEST_F(RtspServerTest, OnePeerAddressCannotTakeEveryConnection)
{
    server->setLimits(20000, 0, 256, 3);
    server->addServerMediaSession(StoredSdpSession::createNew(*env, "by-name/Studio A", kSdp));
    run();
    std::vector<std::unique_ptr<Client>> idle;
    for (int i = 0; i < 3; ++i)
        idle.emplace_back(new Client(port));
    // Beyond the limit of its address a connection ends cleanly, at once and without a reply.
    for (int i = 0; i < 10; ++i) {
        Client refused(port);
        ASSERT_TRUE(refused.connected);
        EXPECT_TRUE(refused.closedByServer()) << i;
        EXPECT_TRUE(refused.pending().empty());
    }
    Client other(port, INADDR_LOOPBACK + 1);
    other.send(describe("by-name/Studio%20A", 1));
    EXPECT_EQ(0u, other.response().find("RTSP/1.0 200 OK\r\nCSeq: 1\r\n"));
    // A connection that ends makes room for another one from that address.
    idle.pop_back();
    Sleep(100);
    Client again(port);
    again.send(describe("by-name/Studio%20A", 2));
    EXPECT_EQ(0u, again.response().find("RTSP/1.0 200 OK\r\nCSeq: 2\r\n"));
    Sleep(1200); // the held-back lines are counted once their second has passed
    pause();

    // One line per address and second about refusals, then the count of those held back.
    const std::string refusal =
        "too many connections from this address (3); closing the connection from 127.0.0.1\n";
    std::size_t lines = 0;
    for (std::size_t at = env->text.find(refusal); at != std::string::npos;
         at = env->text.find(refusal, at + 1))
        ++lines;
    EXPECT_EQ(1u, lines) << env->text;
    EXPECT_NE(std::string::npos, env->text.find("held back 9 more lines about connections from 127.0.0.1\n"));
    EXPECT_EQ(std::string::npos, env->text.find("closing the connection from 127.0.0.2"));
}

// A group socket towards a loopback receiver on an ephemeral port; the receiver is bound to the
// exact address, so it (not the group socket on the wildcard address) gets the datagrams.
class RtcpTest : public RtspServerTest
{
protected:
    void SetUp() override
    {
        RtspServerTest::SetUp();
        receiver = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        BOOL reuse = TRUE;
        setsockopt(receiver, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof(reuse));
        DWORD timeout = 3000;
        setsockopt(receiver, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
                   sizeof(timeout));
        sockaddr_in local = {};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(0, bind(receiver, reinterpret_cast<sockaddr*>(&local), sizeof(local)));
        int length = sizeof(local);
        getsockname(receiver, reinterpret_cast<sockaddr*>(&local), &length);
        destination = local.sin_addr;
        rtcpPort = ntohs(local.sin_port);
        // Sockets of the library bind the wildcard address in these tests.
        ReceivingInterfaceAddr = INADDR_ANY;
    }
    void TearDown() override
    {
        closesocket(receiver);
        RtspServerTest::TearDown();
    }
    std::vector<unsigned char> receive()
    {
        unsigned char buffer[2048];
        const int n = recv(receiver, reinterpret_cast<char*>(buffer), sizeof(buffer), 0);
        return n > 0 ? std::vector<unsigned char>(buffer, buffer + n) : std::vector<unsigned char>();
    }
    static std::string cnameOf(std::vector<unsigned char> const& packet)
    {
        return packet.size() > 38 ? std::string(packet.begin() + 38, packet.begin() + 38 + packet[37]) : "";
    }
    SOCKET receiver = INVALID_SOCKET;
    in_addr destination = {};
    unsigned short rtcpPort = 0;
};

TEST_F(RtspServerTest, RtcpReadsABoundedNumberOfDatagramsPerStepIntoABoundedTable)
{
    // The instance's group socket receives on a loopback port: its own first report, then a flood
    // of receiver reports, each from a new member.
    ReceivingInterfaceAddr = INADDR_ANY;
    SOCKET probe = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(probe, reinterpret_cast<sockaddr*>(&to), sizeof(to));
    int length = sizeof(to);
    getsockname(probe, reinterpret_cast<sockaddr*>(&to), &length);
    closesocket(probe);
    SOCKET flooder = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);

    Groupsock rtcpGroupsock(*env, to.sin_addr, Port(ntohs(to.sin_port)), 255);
    Groupsock sameGroup(*env, to.sin_addr, Port(ntohs(to.sin_port)), 255);
    EXPECT_EQ(rtcpGroupsock.socketNum(), sameGroup.socketNum()) << "one socket for one destination";
    RTCPInstance* first = RTCPInstance::createNew(*env, &rtcpGroupsock, "a", nullptr);
    RTCPInstance* second = RTCPInstance::createNew(*env, &sameGroup, "b", nullptr);
    EXPECT_EQ(2u, first->numMembers());
    std::uint32_t ssrc = 1;
    auto flood = [&](unsigned count) {
        for (unsigned i = 0; i < count; ++i, ++ssrc) {
            const unsigned char report[8] = {0x80,
                                             201,
                                             0,
                                             1,
                                             static_cast<unsigned char>(ssrc >> 24),
                                             static_cast<unsigned char>(ssrc >> 16),
                                             static_cast<unsigned char>(ssrc >> 8),
                                             static_cast<unsigned char>(ssrc)};
            sendto(flooder, reinterpret_cast<const char*>(report), sizeof(report), 0,
                   reinterpret_cast<sockaddr*>(&to), sizeof(to));
        }
    };
    flood(100);
    Sleep(50);
    scheduler->SingleStep();
    // Both reports of our own came first; one step reads 16 datagrams.
    EXPECT_EQ(2u + 14u, first->numMembers());
    for (int step = 0; step < 20; ++step)
        scheduler->SingleStep();
    EXPECT_EQ(102u, first->numMembers());
    EXPECT_EQ(102u, second->numMembers()) << "one member table for both";
    for (int round = 0; round < 12; ++round) {
        flood(100);
        for (int step = 0; step < 10; ++step)
            scheduler->SingleStep(1000);
    }
    EXPECT_EQ(2u + rtcp::MemberTable::kMaxOthers, first->numMembers());
    closesocket(flooder);
    Medium::close(second);
    EXPECT_EQ(1u + rtcp::MemberTable::kMaxOthers, first->numMembers());
    Medium::close(first);
}

TEST_F(RtcpTest, ReportAtCreationAndByeAtClose)
{
    Groupsock rtpGroupsock(*env, destination, Port(0), 255);
    Groupsock rtcpGroupsock(*env, destination, Port(rtcpPort), 255);
    RTPSink* sink = SimpleRTPSink::createNew(*env, &rtpGroupsock, 98, 48000, "audio");
    RTCPInstance* rtcpInstance = RTCPInstance::createNew(*env, &rtcpGroupsock, "studio-gateway", sink);

    const std::vector<unsigned char> first = receive();
    std::vector<rtcp::PacketInfo> packets;
    ASSERT_TRUE(rtcp::parseCompound(first.data(), first.size(), packets));
    ASSERT_EQ(2u, packets.size());
    EXPECT_EQ(rtcp::kSenderReport, packets[0].type);
    EXPECT_EQ(sink->SSRC(), packets[0].ssrcs[0]);
    EXPECT_EQ(rtcp::kSourceDescription, packets[1].type);
    EXPECT_EQ("studio-gateway", cnameOf(first));
    // No media: the packet and octet counts are 0.
    EXPECT_EQ(std::vector<unsigned char>(8, 0),
              std::vector<unsigned char>(first.begin() + 20, first.begin() + 28));

    // A session with the placeholder subsession describes it by default.
    ServerMediaSession* session = ServerMediaSession::createNew(*env, "by-name/x", "info", "desc");
    session->addSubsession(PassiveServerMediaSubsession::createNew(*sink, rtcpInstance));
    char* sdp = session->generateSDPDescription();
    const std::string text = sdp;
    delete[] sdp;
    EXPECT_EQ(0u, text.find("v=0\r\no=- "));
    EXPECT_NE(std::string::npos,
              text.find("\r\ns=desc\r\ni=info\r\nt=0 0\r\nm=audio 0 RTP/AVP 98\r\nc=IN IP4 127.0.0.1\r\n"));
    Medium::close(session);

    Medium::close(rtcpInstance);
    const std::vector<unsigned char> last = receive();
    ASSERT_TRUE(rtcp::parseCompound(last.data(), last.size(), packets));
    ASSERT_EQ(3u, packets.size());
    EXPECT_EQ(rtcp::kBye, packets[2].type);
    EXPECT_EQ(sink->SSRC(), packets[2].ssrcs[0]);
    Medium::close(sink);
}

} // namespace

TEST_F(RtspServerTest, PortIsFreeAgainRightAfterTheServerCloses)
{
    // The server ends connections itself (here: at the request time limit), which leaves them in
    // TIME_WAIT on its side; a server started right after must still get the port.
    server->setLimits(100, 0, 256);
    run();
    {
        Client client(port);
        client.send("OPTIONS * RTSP/1.0\r\nCSeq: 1\r\n\r\nOPTIONS");
        EXPECT_EQ(0u, client.response().find("RTSP/1.0 200 OK"));
        EXPECT_TRUE(client.closedByServer());
    }
    pause();
    const Port samePort = server->serverPort();
    Medium::close(server);
    server = TestServer::createNew(*env, samePort);
    ASSERT_NE(nullptr, server) << env->text;
}
