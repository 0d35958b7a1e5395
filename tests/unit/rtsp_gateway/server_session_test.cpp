// The gateway's session and server: DESCRIBE answered with the stored SDP byte for byte, the
// lookup by escaped name, and the server's start-up failure written through the logging
// environment. Loopback and ephemeral ports only.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include "gateway/LoggingUsageEnvironment.h"
#include "gateway/VelmoraRTSPServer.h"
#include "gateway/VelmoraServerMediaSession.h"
#include "rtsp_gateway/line_catcher.h"
#include "tests/tools/event_loop_thread.hh"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

std::string Description(CVelmoraServerMediaSession& session)
{
    char* text = session.generateSDPDescription();
    std::string copy = text ? text : "(null)";
    delete[] text;
    return copy;
}

const wchar_t kSdp[] = L"v=0\r\no=- 1311738121 1311738121 IN IP4 10.77.0.9\r\ns=Caf\x00E9 A\r\n"
                       L"c=IN IP4 239.69.1.2/32\r\nt=0 0\r\nm=audio 5004 RTP/AVP 98\r\n"
                       L"a=rtpmap:98 L24/48000/2\r\n";
const char kSdpAnsi[] = "v=0\r\no=- 1311738121 1311738121 IN IP4 10.77.0.9\r\ns=Caf\xE9 A\r\n"
                        "c=IN IP4 239.69.1.2/32\r\nt=0 0\r\nm=audio 5004 RTP/AVP 98\r\n"
                        "a=rtpmap:98 L24/48000/2\r\n";

class GatewayServerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ReceivingInterfaceAddr = htonl(INADDR_LOOPBACK);
        scheduler.reset(BasicTaskScheduler::createNew());
        env = new LineCatcher(*scheduler);
    }
    void TearDown() override
    {
        pause();
        Medium::close(server);
        EXPECT_TRUE(env->reclaim());
        ReceivingInterfaceAddr = INADDR_ANY;
    }
    void run() { loop.run(*scheduler); }
    void pause() { loop.pause(); }
    bool loggedLineStartingWith(const std::wstring& start) const
    {
        for (const std::wstring& line : env->lines) {
            if (line.compare(0, start.size(), start) == 0)
                return true;
        }
        return false;
    }

    std::unique_ptr<BasicTaskScheduler> scheduler;
    LineCatcher* env = nullptr;
    CVelmoraRTSPServer* server = nullptr;
    EventLoopThread loop;
};

// One request on a new connection; returns the whole response (header and Content-Length bytes).
std::string Exchange(unsigned short port, const std::string& request)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    DWORD timeout = 5000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string response;
    if (connect(s, reinterpret_cast<sockaddr*>(&to), sizeof(to)) == 0 &&
        send(s, request.data(), static_cast<int>(request.size()), 0) == static_cast<int>(request.size())) {
        std::vector<char> chunk(65536);
        for (;;) {
            const std::size_t end = response.find("\r\n\r\n");
            if (end != std::string::npos) {
                const std::size_t at = response.find("Content-Length: ");
                const std::size_t length =
                    at < end ? std::strtoul(response.c_str() + at + 16, nullptr, 10) : 0;
                if (response.size() >= end + 4 + length)
                    break;
            }
            const int n = recv(s, chunk.data(), static_cast<int>(chunk.size()), 0);
            if (n <= 0)
                break;
            response.append(chunk.data(), n);
        }
    }
    closesocket(s);
    return response;
}

TEST_F(GatewayServerTest, DescriptionIsTheStoredSdpInTheAnsiCodePage)
{
    CVelmoraServerMediaSession* session =
        CVelmoraServerMediaSession::createNew(*env, "by-name/Caf\xE9 A", "Caf\xE9 A", "Caf\xE9 A", "");
    EXPECT_STREQ("by-name/Caf\xE9 A", session->streamName());
    EXPECT_EQ("", Description(*session)); // nothing stored yet

    session->SetSDP(kSdp);
    EXPECT_EQ(kSdpAnsi, Description(*session));

    // The placeholder subsession adds nothing to the description: no control, tool or range line.
    Groupsock rtp(*env, in_addr{}, Port(0), 1);
    SimpleRTPSink* sink = SimpleRTPSink::createNew(*env, &rtp, 98, 48000, "audio");
    ASSERT_TRUE(session->addSubsession(PassiveServerMediaSubsession::createNew(*sink, nullptr)));
    EXPECT_EQ(kSdpAnsi, Description(*session));

    // Characters outside the code page become "?"; line ends stay exactly as stored.
    session->SetSDP(L"v=0\ns=\x0416\x4E2D\r\n\r\n");
    EXPECT_EQ("v=0\ns=??\r\n\r\n", Description(*session));

    Medium::close(session);
    Medium::close(sink);
}

TEST_F(GatewayServerTest, DescribeFindsTheSessionByEscapedNameAndSendsTheWholeSdp)
{
    server = CVelmoraRTSPServer::createNew(*env, Port(0));
    ASSERT_NE(nullptr, server);
    const unsigned short port = server->serverPort().hostOrder();
    const std::string base = "rtsp://127.0.0.1:" + std::to_string(port) + "/";

    CVelmoraServerMediaSession* session =
        CVelmoraServerMediaSession::createNew(*env, "by-name/Studio A", "Studio A", "Studio A", "");
    // Far larger than any reply buffer: the reply carries all of it, and Content-Length says so.
    CMfxString sdp(kSdp);
    for (int i = 0; i < 3000; ++i)
        sdp.AppendFormat(L"a=x-filler:%04d 0123456789abcdefghijklmnopqrstuvwxyz\r\n", i);
    session->SetSDP(sdp);
    ASSERT_TRUE(server->addServerMediaSession(session));
    char* url = server->rtspURL(session);
    EXPECT_EQ(base + "by-name/Studio%20A", url);
    delete[] url;
    const std::string expectedBody = Description(*session);
    ASSERT_GT(expectedBody.size(), 150000u);

    run();
    const std::string reply =
        Exchange(port, "DESCRIBE " + base + "by-name/Studio%20A RTSP/1.0\r\nCSeq: 7\r\n\r\n");
    const std::size_t end = reply.find("\r\n\r\n");
    ASSERT_NE(std::string::npos, end) << reply.substr(0, 200);
    EXPECT_EQ(0u, reply.find("RTSP/1.0 200 OK\r\nCSeq: 7\r\n"));
    EXPECT_NE(std::string::npos, reply.find("\r\nContent-Base: " + base + "by-name/Studio%20A/\r\n"));
    EXPECT_NE(std::string::npos,
              reply.find("\r\nContent-Length: " + std::to_string(expectedBody.size()) + "\r\n"));
    EXPECT_TRUE(reply.compare(end + 4, std::string::npos, expectedBody) == 0);

    EXPECT_EQ(0u, Exchange(port, "DESCRIBE " + base + "by-name/Nobody RTSP/1.0\r\nCSeq: 8\r\n\r\n")
                      .find("RTSP/1.0 404 Not Found\r\nCSeq: 8\r\n"));
    pause();

    // The library's trace reached the environment as whole lines.
    EXPECT_TRUE(loggedLineStartingWith(L"setupStreamSocket bind at 127.0.0.1:0"));
    EXPECT_TRUE(loggedLineStartingWith(L"accept()ed connection from 127.0.0.1"));
}

TEST_F(GatewayServerTest, PortInUseGivesNoServerAndALoggedCause)
{
    SOCKET holder = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, bind(holder, reinterpret_cast<sockaddr*>(&local), sizeof(local)));
    ASSERT_EQ(0, listen(holder, 1));
    int length = sizeof(local);
    ASSERT_EQ(0, getsockname(holder, reinterpret_cast<sockaddr*>(&local), &length));
    const unsigned short port = ntohs(local.sin_port);

    EXPECT_EQ(nullptr, CVelmoraRTSPServer::createNew(*env, Port(port)));
    closesocket(holder);
    EXPECT_TRUE(
        loggedLineStartingWith(L"socketErr() bind() error (port number: " + std::to_wstring(port) + L"): "))
        << (env->lines.empty() ? L"" : env->lines.back()).c_str();
}

} // namespace
