// The layer's asynchronous sockets on real loopback sockets (ephemeral ports only): stale read
// notifications. Datagrams, TCP on a worker thread and failed creation run through the SAP socket
// and SDP fetch tests, which derive from the same class.
#include "afx/afxsock.h"
#include "afx/afxthread.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// Dispatches the calling thread's messages until `done` holds or `timeoutMs` has passed.
template <typename Done> bool PumpUntil(Done done, DWORD timeoutMs = 10000)
{
    DWORD start = ::GetTickCount();
    while (!done()) {
        if (::GetTickCount() - start > timeoutMs) {
            return false;
        }
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
    return true;
}

void PumpFor(DWORD milliseconds)
{
    PumpUntil([] { return false; }, milliseconds);
}

UINT LocalPort(SOCKET socket)
{
    sockaddr_in address = {};
    int length = sizeof(address);
    ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

struct Reception
{
    std::string bytes;
    CString from;
    UINT fromPort;
};

// Reads one datagram of at most 1024 bytes per read notification, as the gateway's SAP socket does.
class DatagramReceiver : public CAsyncSocket
{
public:
    void OnReceive(int) override
    {
        char buffer[1024];
        Reception reception{{}, {}, 0};
        const int result = ReceiveFrom(buffer, sizeof(buffer), reception.from, reception.fromPort);
        reception.bytes.assign(buffer, static_cast<size_t>(result > 0 ? result : 0));
        receptions.push_back(reception);
    }

    std::vector<Reception> receptions;
};

class SocketTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(AfxSocketInit()); }

    // A datagram receiver on 127.0.0.1 and an ephemeral port.
    void CreateReceiver(DatagramReceiver& receiver)
    {
        ASSERT_TRUE(receiver.Create(0, SOCK_DGRAM, FD_READ, L"127.0.0.1")) << CAsyncSocket::GetLastError();
    }

    void SendDatagram(const std::string& bytes, UINT port)
    {
        if (!m_sender.IsOpen()) {
            ASSERT_TRUE(m_sender.Create(0, SOCK_DGRAM, FD_WRITE, L"127.0.0.1"));
        }
        EXPECT_EQ(m_sender.SendTo(bytes.data(), static_cast<int>(bytes.size()), port, L"127.0.0.1"),
                  static_cast<int>(bytes.size()));
    }

    class Sender : public CAsyncSocket
    {
    public:
        bool IsOpen() const { return m_hSocket != INVALID_SOCKET; }
    };
    Sender m_sender;
};

TEST_F(SocketTest, ReadNotificationsComeOnlyWhileDataWaits)
{
    DatagramReceiver receiver;
    CreateReceiver(receiver);
    UINT port = LocalPort(receiver.m_hSocket);
    SendDatagram("read early", port);
    ::Sleep(200); // the read notification is queued now
    // Read before the notification is handled: the queued notification finds nothing to read.
    char buffer[64];
    ASSERT_EQ(receiver.Receive(buffer, sizeof(buffer)), 10);
    PumpFor(200);
    EXPECT_TRUE(receiver.receptions.empty())
        << "a notification older than the receive that emptied the socket";

    // The receive asked for the next notification.
    SendDatagram("next", port);
    ASSERT_TRUE(PumpUntil([&] { return !receiver.receptions.empty(); }));
    EXPECT_EQ(receiver.receptions[0].bytes, "next");
    EXPECT_STREQ(receiver.receptions[0].from, L"127.0.0.1");
    EXPECT_EQ(receiver.receptions[0].fromPort, LocalPort(m_sender.m_hSocket));
}

TEST_F(SocketTest, NotificationsOfClosedSocketsAreDropped)
{
    // Deleted with a notification queued; a new socket (perhaps with the same handle) gets nothing.
    DatagramReceiver* deleted = new DatagramReceiver;
    CreateReceiver(*deleted);
    SendDatagram("for the deleted socket", LocalPort(deleted->m_hSocket));
    ::Sleep(200);
    delete deleted;
    DatagramReceiver successor;
    CreateReceiver(successor);
    PumpFor(300);
    EXPECT_TRUE(successor.receptions.empty());

    // Closed on another thread, so the queued message stays on this thread's queue.
    DatagramReceiver closed;
    CreateReceiver(closed);
    SendDatagram("for the closed socket", LocalPort(closed.m_hSocket));
    ::Sleep(200);
    CWinThread* closer = AfxBeginThread(
        [](LPVOID socket) -> UINT {
            static_cast<CAsyncSocket*>(socket)->Close();
            return 0;
        },
        &closed, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
    ASSERT_NE(closer, nullptr);
    closer->m_bAutoDelete = FALSE;
    closer->ResumeThread();
    ASSERT_EQ(::WaitForSingleObject(*closer, 10000), WAIT_OBJECT_0);
    delete closer;
    PumpFor(300);
    EXPECT_TRUE(closed.receptions.empty());
    EXPECT_EQ(closed.m_hSocket, INVALID_SOCKET);
    closed.Close(); // twice is harmless
}

} // namespace
