// The SDP checker against a loopback listener: one worker at a time, a fresh start clears the last
// result, and destruction ends a worker that waits for an answer.
#include "afx/afxplatform.h"
#include "afx/afxsock.h"
#include "afx/afxthread.h"
#include "discovery/CheckStreamInfoURL.h"
#include "discovery/StreamInfo.h"
#include "gateway/VelmoraManager.h"
#include "test_support.h"

#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <string>

using Corvane::CCheckStreamInfoURL;

namespace {

const char kReply[] =
    "RTSP/1.0 200 OK\r\nCSeq: 0\r\nContent-Type: application/sdp\r\nContent-Length: 9\r\n\r\n"
    "v=0\r\ns=x\r\n";

// A listening socket on 127.0.0.1 with an ephemeral port.
class Listener
{
public:
    Listener()
    {
        EXPECT_TRUE(AfxSocketInit());
        m_socket = LoopbackSocket(SOCK_STREAM, m_port);
    }
    ~Listener() { closesocket(m_socket); }

    UINT Port() const { return m_port; }

    CMfxString URL() const
    {
        CMfxString url;
        url.Format(L"rtsp://127.0.0.1:%u/by-name/x", m_port);
        return url;
    }

    // The next connection, or INVALID_SOCKET when none comes within the time.
    SOCKET Accept(int milliseconds)
    {
        if (!Readable(m_socket, milliseconds)) {
            return INVALID_SOCKET;
        }
        return accept(m_socket, nullptr, nullptr);
    }

    static bool Readable(SOCKET s, int milliseconds)
    {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(s, &set);
        timeval wait = {milliseconds / 1000, (milliseconds % 1000) * 1000};
        return select(0, &set, nullptr, nullptr, &wait) == 1;
    }

    // Reads until the request's blank line; the bytes read.
    static std::string ReadRequest(SOCKET s)
    {
        std::string request;
        char buffer[1024];
        while (request.find("\r\n\r\n") == std::string::npos && Readable(s, 5000)) {
            const int count = recv(s, buffer, sizeof(buffer), 0);
            if (count <= 0) {
                break;
            }
            request.append(buffer, count);
        }
        return request;
    }

private:
    SOCKET m_socket = INVALID_SOCKET;
    UINT m_port = 0;
};

bool WaitForEnd(CCheckStreamInfoURL& checker, int milliseconds)
{
    for (int waited = 0; checker.IsRunning() && waited < milliseconds; waited += 10) {
        Sleep(10);
    }
    return !checker.IsRunning();
}

} // namespace

TEST(CheckStreamInfoURL, OneWorkerAtATimeAndAFreshStartClearsTheResult)
{
    Listener listener;
    CVelmoraManager manager(nullptr);
    CCheckStreamInfoURL checker(&manager, nullptr, L"127.0.0.1", listener.URL());

    checker.Start();
    EXPECT_TRUE(checker.IsRunning()) << "busy from the moment Start returns";
    checker.Start();
    SOCKET first = listener.Accept(5000);
    ASSERT_NE(first, INVALID_SOCKET);
    const std::string request = Listener::ReadRequest(first);
    EXPECT_EQ(request.rfind("DESCRIBE " + std::string(listener.URL().GetAnsi()) + " RTSP/1.0\r\n", 0), 0u);
    EXPECT_EQ(listener.Accept(300), INVALID_SOCKET) << "a second Start made a second worker";

    send(first, kReply, static_cast<int>(strlen(kReply)), 0);
    ASSERT_TRUE(WaitForEnd(checker, 5000));
    EXPECT_EQ(checker.m_Done, 1);
    EXPECT_EQ(std::string(checker.GetReplyText().GetAnsi()), kReply);
    closesocket(first);

    checker.Start();
    EXPECT_EQ(checker.m_Done, 0);
    EXPECT_TRUE(checker.GetReplyText().IsEmpty());
    SOCKET second = listener.Accept(5000);
    ASSERT_NE(second, INVALID_SOCKET);
    Listener::ReadRequest(second);
    // A failure reply: the fetch ends when the peer closes, without done.
    const char notFound[] = "RTSP/1.0 404 Not Found\r\nCSeq: 0\r\n\r\n";
    send(second, notFound, static_cast<int>(strlen(notFound)), 0);
    closesocket(second);
    ASSERT_TRUE(WaitForEnd(checker, 5000));
    EXPECT_EQ(checker.m_Done, 0);
    EXPECT_EQ(std::string(checker.GetReplyText().GetAnsi()), notFound);
}

TEST(CheckStreamInfoURL, DestructionEndsAWorkerThatWaitsForAnAnswer)
{
    Listener listener;
    CVelmoraManager manager(nullptr);
    auto checker = std::make_unique<CCheckStreamInfoURL>(&manager, nullptr, L"127.0.0.1", listener.URL());
    checker->Start();
    SOCKET connection = listener.Accept(5000);
    ASSERT_NE(connection, INVALID_SOCKET);
    Listener::ReadRequest(connection);

    const auto before = std::chrono::steady_clock::now();
    checker.reset();
    const auto took = std::chrono::steady_clock::now() - before;
    EXPECT_LT(took, std::chrono::seconds(2));
    // The worker closed its connection on its way out.
    ASSERT_TRUE(Listener::Readable(connection, 2000));
    char byte;
    EXPECT_LE(recv(connection, &byte, 1, 0), 0);
    closesocket(connection);
}

TEST(CheckStreamInfoURL, MalformedURLStartsNoWorker)
{
    CVelmoraManager manager(nullptr);
    CCheckStreamInfoURL checker(&manager, nullptr, L"127.0.0.1", L"http://127.0.0.1/x");
    checker.Start();
    EXPECT_FALSE(checker.IsRunning());
    checker.SetURL(L"rtsp://127.0.0.1:0/x");
    checker.Start();
    EXPECT_FALSE(checker.IsRunning());
}

namespace {

DWORD g_FetchClock = 1000;
DWORD WINAPI FetchClock()
{
    return g_FetchClock;
}

// A resolver that answers only when the test lets it.
HANDLE g_ResolverGate = nullptr;
bool SilentResolver(const std::string&, in_addr&)
{
    WaitForSingleObject(g_ResolverGate, INFINITE);
    return false;
}

} // namespace

TEST(CheckStreamInfoURL, TheTimeLimitNeverCompletesAReply)
{
    Listener listener;
    CVelmoraManager manager(nullptr);
    manager.SetMilliSecSource(&FetchClock);
    CCheckStreamInfoURL checker(&manager, nullptr, L"127.0.0.1", listener.URL());
    // Without a Content-Length only the end of the connection ends the body.
    const char stalled[] = "RTSP/1.0 200 OK\r\nContent-Type: application/sdp\r\n\r\nv=0\r\ns=H p";
    for (bool close : {false, true}) {
        checker.Start();
        SOCKET connection = listener.Accept(5000);
        ASSERT_NE(connection, INVALID_SOCKET);
        Listener::ReadRequest(connection);
        send(connection, stalled, static_cast<int>(strlen(stalled)), 0);
        if (close) {
            closesocket(connection);
        } else {
            Sleep(200);
            g_FetchClock += static_cast<DWORD>(CCheckStreamInfoURL::kFetchTimeLimitMs) + 1;
        }
        ASSERT_TRUE(WaitForEnd(checker, 5000));
        EXPECT_EQ(checker.m_Done, close ? 1 : 0) << (close ? "closed" : "stalled");
        if (!close) {
            closesocket(connection);
        }
    }
}

TEST(CheckStreamInfoURL, AResolverThatNeverAnswersHoldsUpNobody)
{
    g_ResolverGate = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    CCheckStreamInfoURL::SetHostResolver(&SilentResolver);
    {
        CVelmoraManager manager(nullptr);
        manager.SetMilliSecSource(&FetchClock);
        // Given up at the time limit, with the lookup still unanswered.
        CCheckStreamInfoURL checker(&manager, nullptr, L"127.0.0.1", L"rtsp://silent.invalid/x");
        checker.Start();
        Sleep(100);
        EXPECT_TRUE(checker.IsRunning());
        g_FetchClock += static_cast<DWORD>(CCheckStreamInfoURL::kFetchTimeLimitMs) + 1;
        EXPECT_TRUE(WaitForEnd(checker, 2000));
        EXPECT_EQ(checker.m_Done, 0);

        // Destroyed while its lookup waits: at once.
        auto waiting = std::make_unique<CCheckStreamInfoURL>(&manager, nullptr, L"127.0.0.1",
                                                             L"rtsp://silent.invalid/y");
        waiting->Start();
        Sleep(100);
        const auto before = std::chrono::steady_clock::now();
        waiting.reset();
        EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));
    }
    CCheckStreamInfoURL::SetHostResolver(nullptr);
    SetEvent(g_ResolverGate); // the lookups end on their own, touching only what they share
    Sleep(100);
}

// A found name goes into the request line escaped, as UTF-8: the sender receives exactly one request
// line, whatever control characters or non-ASCII letters the name holds.
TEST(CheckStreamInfoURL, AFoundNameGoesIntoTheRequestLineEscaped)
{
    struct Row
    {
        const wchar_t* name;
        const char* path;
    };
    const Row rows[] = {
        {L"HX\r\nInjected: 1", "HX%0d%0aInjected%3a%201"},
        {L"Tab\there", "Tab%09here"},
        {L"B\u00fchne S\u00fcd", "B%c3%bchne%20S%c3%bc"
                                 "d"},
    };
    Listener listener;
    CVelmoraManager manager(nullptr);
    for (const Row& row : rows) {
        Corvane::CStreamInfo record(nullptr, Corvane::CStreamInfo::kSourceDiscovery);
        record.SetName(row.name);
        record.SetClientIP(L"127.0.0.1");
        record.m_Port = static_cast<int>(listener.Port());
        record.m_Resolved = 1;
        CCheckStreamInfoURL checker(&manager, nullptr, L"127.0.0.1", record.GetStreamRTSPURL());
        checker.Start();
        SOCKET peer = listener.Accept(5000);
        ASSERT_NE(peer, INVALID_SOCKET);
        const std::string request = Listener::ReadRequest(peer);
        const std::string expected = "DESCRIBE rtsp://127.0.0.1:" + std::to_string(listener.Port()) +
                                     "/by-name/" + row.path +
                                     " RTSP/1.0\r\nconnection: Keep-Alive\r\nCSeq: 0\r\nUser-Agent: CORVANE "
                                     "VELMORA \r\nAccept: application/sdp\r\n\r\n";
        EXPECT_EQ(request, expected);
        send(peer, kReply, static_cast<int>(strlen(kReply)), 0);
        EXPECT_TRUE(WaitForEnd(checker, 5000));
        EXPECT_EQ(checker.m_Done, 1);
        closesocket(peer);
    }
}

TEST(CheckStreamInfoURL, AWorkerThatCannotStartIsTriedAgainASecondLater)
{
    Listener listener;
    CVelmoraManager manager(nullptr);
    CCheckStreamInfoURL checker(&manager, nullptr, L"127.0.0.1", listener.URL());
    afx_detail::FailThreadStarts(&CCheckStreamInfoURL::ThreadEntry, 2);
    const auto started = std::chrono::steady_clock::now();
    checker.Start();
    EXPECT_TRUE(checker.IsRunning()) << "its start waits for another try";
    checker.Start(); // no second worker, now or later
    SOCKET connection = listener.Accept(10000);
    ASSERT_NE(connection, INVALID_SOCKET);
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1900))
        << "two tries failed";
    Listener::ReadRequest(connection);
    send(connection, kReply, static_cast<int>(strlen(kReply)), 0);
    ASSERT_TRUE(WaitForEnd(checker, 5000));
    EXPECT_EQ(checker.m_Done, 1);
    EXPECT_EQ(listener.Accept(300), INVALID_SOCKET);
    closesocket(connection);
}

TEST(CheckStreamInfoURL, AtMostABoundedNumberOfFetchesRunTheOthersWaitTheirTurn)
{
    CCheckStreamInfoURL::FetchStarts().SetLimit(1);
    Listener listener;
    CVelmoraManager manager(nullptr);
    CCheckStreamInfoURL first(&manager, nullptr, L"127.0.0.1", listener.URL());
    CCheckStreamInfoURL second(&manager, nullptr, L"127.0.0.1", listener.URL());
    auto third = std::make_unique<CCheckStreamInfoURL>(&manager, nullptr, L"127.0.0.1", listener.URL());
    for (CCheckStreamInfoURL* checker : {&first, &second, third.get()}) {
        checker->Start();
        EXPECT_TRUE(checker->IsRunning());
    }
    SOCKET connection = listener.Accept(5000);
    ASSERT_NE(connection, INVALID_SOCKET);
    Listener::ReadRequest(connection);
    EXPECT_EQ(listener.Accept(500), INVALID_SOCKET) << "a second fetch ran";

    // One that waits its turn is given up at once when its checker goes.
    const auto before = std::chrono::steady_clock::now();
    third.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));

    for (CCheckStreamInfoURL* checker : {&first, &second}) {
        send(connection, kReply, static_cast<int>(strlen(kReply)), 0);
        ASSERT_TRUE(WaitForEnd(*checker, 5000));
        EXPECT_EQ(checker->m_Done, 1);
        closesocket(connection);
        connection = listener.Accept(checker == &first ? 5000 : 500);
        if (checker == &first) {
            ASSERT_NE(connection, INVALID_SOCKET) << "the waiting fetch never ran";
            Listener::ReadRequest(connection);
        }
    }
    EXPECT_EQ(connection, INVALID_SOCKET) << "the given-up fetch ran";
    CCheckStreamInfoURL::FetchStarts().SetLimit(CCheckStreamInfoURL::kMaxFetches);
}
