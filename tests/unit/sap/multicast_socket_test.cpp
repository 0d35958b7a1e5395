// The SAP socket pair on the loopback address: datagrams up to the UDP maximum are handed on whole,
// and sends go to the group address. Loopback is no multicast interface,
// so the membership step fails here; the bound receiving socket still works, which is what these
// tests use (group behaviour itself is tested end to end).
#include <winsock2.h>
#include <ws2tcpip.h>

#include "gateway/MulticastSocket.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

class CRecordingSocket : public CMulticastSocket
{
public:
    std::vector<std::vector<BYTE>> m_Received;
    std::vector<DWORD> m_Senders;
    std::vector<int> m_Unreadable;

protected:
    void OnDatagram(BYTE* bytes, int length, DWORD sender) override
    {
        m_Received.emplace_back(bytes, bytes + length);
        m_Senders.push_back(sender);
    }
    void OnUnreadable(int error, DWORD) override { m_Unreadable.push_back(error); }
};

class MulticastSocketTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(AfxSocketInit()); }

    // A port that was free a moment ago.
    static UINT FreePort()
    {
        UINT port = 0;
        closesocket(LoopbackSocket(SOCK_DGRAM, port));
        return port;
    }

    static void SendFromOutside(UINT port, int length)
    {
        SOCKET sender = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in target = {};
        target.sin_family = AF_INET;
        target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        target.sin_port = htons(static_cast<u_short>(port));
        std::vector<char> bytes(length, 'b');
        sendto(sender, bytes.data(), length, 0, reinterpret_cast<sockaddr*>(&target), sizeof(target));
        closesocket(sender);
    }

    // Pumps this thread's messages until `count` datagrams have arrived or 5 s have passed.
    static void PumpUntil(const CRecordingSocket& socket, size_t count)
    {
        DWORD start = GetTickCount();
        while (socket.m_Received.size() < count && GetTickCount() - start < 5000) {
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                DispatchMessageW(&message);
            }
            Sleep(5);
        }
    }
};

} // namespace

TEST_F(MulticastSocketTest, DatagramsUpToTheUdpMaximumAreHandedOnWhole)
{
    const UINT port = FreePort();
    CRecordingSocket socket;
    // A unicast "group" cannot be joined; the socket stays bound all the same.
    EXPECT_FALSE(socket.JoinGroup(nullptr, L"127.0.0.1", L"127.0.0.1", port));

    // The largest datagram IPv4 carries (the gateway's own largest announcement), one just over the
    // old 1 KB buffer, and a small one.
    SendFromOutside(port, 65507);
    SendFromOutside(port, 1025);
    SendFromOutside(port, 3);
    PumpUntil(socket, 3);
    ASSERT_EQ(socket.m_Received.size(), 3u);
    EXPECT_EQ(socket.m_Received[0], std::vector<BYTE>(65507, 'b'));
    EXPECT_EQ(socket.m_Received[1], std::vector<BYTE>(1025, 'b'));
    EXPECT_EQ(socket.m_Received[2], std::vector<BYTE>(3, 'b'));
    EXPECT_EQ(socket.m_Senders[2], htonl(INADDR_LOOPBACK));

    // A notification with nothing left to read loses nothing and says nothing.
    socket.OnReceive(0);
    EXPECT_EQ(socket.m_Received.size(), 3u);
    EXPECT_TRUE(socket.m_Unreadable.empty());
}

TEST_F(MulticastSocketTest, SendingSocketSendsToTheGroupAddress)
{
    const UINT port = FreePort();
    CRecordingSocket socket;
    EXPECT_FALSE(socket.CreateReceivingSocket(port, L"127.0.0.1", L"127.0.0.1"));
    ASSERT_TRUE(socket.CreateSendingSocket(L"127.0.0.1"));

    const BYTE packet[] = {0x20, 0x00, 0x01, 0x02, 'v', '='};
    EXPECT_TRUE(socket.SendTo(packet, sizeof(packet)));
    PumpUntil(socket, 1);
    ASSERT_EQ(socket.m_Received.size(), 1u);
    EXPECT_EQ(socket.m_Received[0], std::vector<BYTE>(packet, packet + sizeof(packet)));
}

TEST_F(MulticastSocketTest, CreateFailsOnAnAddressTheMachineDoesNotOwn)
{
    CRecordingSocket socket;
    EXPECT_FALSE(socket.JoinGroup(nullptr, L"192.0.2.77", L"239.255.255.255", 0));
    // Without a sending socket every send fails quietly.
    const BYTE packet[] = {0x20};
    EXPECT_FALSE(socket.SendTo(packet, sizeof(packet)));
}

TEST_F(MulticastSocketTest, ReceivingSocketSharesThePortOnlyWithListenersThatShareIt)
{
    // Another program's listener holds the port first; the membership step fails on loopback, so
    // whether the receiving socket could be bound shows in its handle.
    struct Case
    {
        BOOL otherShares;
        bool bound;
    };
    for (const Case& c : {Case{TRUE, true}, Case{FALSE, false}}) {
        SCOPED_TRACE(c.otherShares ? "other listener with SO_REUSEADDR" : "other listener without it");
        const UINT port = FreePort();
        SOCKET other = socket(AF_INET, SOCK_DGRAM, 0);
        setsockopt(other, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&c.otherShares),
                   sizeof(c.otherShares));
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<u_short>(port));
        ASSERT_EQ(bind(other, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);

        CRecordingSocket shared;
        EXPECT_FALSE(shared.JoinGroup(nullptr, L"127.0.0.1", L"127.0.0.1", port));
        EXPECT_EQ(shared.m_hSocket != INVALID_SOCKET, c.bound);
        closesocket(other);
    }
}
