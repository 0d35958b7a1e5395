// The gateway's session and server: the description is the stored SDP byte for byte, and the
// server's start-up failure is written through the logging environment. Loopback only.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include "gateway/LoggingUsageEnvironment.h"
#include "gateway/VelmoraRTSPServer.h"
#include "gateway/VelmoraServerMediaSession.h"
#include "rtsp_gateway/line_catcher.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

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
        EXPECT_TRUE(env->reclaim());
        ReceivingInterfaceAddr = INADDR_ANY;
    }
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
};

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

TEST_F(GatewayServerTest, PortInUseGivesNoServerAndALoggedCause)
{
    UINT port = 0;
    SOCKET holder = LoopbackSocket(SOCK_STREAM, port);

    EXPECT_EQ(nullptr, CVelmoraRTSPServer::createNew(*env, Port(static_cast<unsigned short>(port))));
    closesocket(holder);
    EXPECT_TRUE(
        loggedLineStartingWith(L"socketErr() bind() error (port number: " + std::to_wstring(port) + L"): "))
        << (env->lines.empty() ? L"" : env->lines.back()).c_str();
}

} // namespace
