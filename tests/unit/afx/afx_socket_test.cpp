// The layer's asynchronous sockets on real loopback sockets (ephemeral ports only).
#include "afx/afxmt.h"
#include "afx/afxsock.h"
#include "afx/afxthread.h"

#include <functional>
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
    int result;
    int error;
    int lastError;
    std::string bytes;
    CString from;
    UINT fromPort;
    DWORD thread;
};

// Reads one datagram of at most 1024 bytes per read notification, as the gateway's SAP socket does.
class DatagramReceiver : public CAsyncSocket
{
public:
    void OnReceive(int error) override
    {
        char buffer[1024];
        Reception reception{0, error, 0, {}, {}, 0, ::GetCurrentThreadId()};
        reception.result = ReceiveFrom(buffer, sizeof(buffer), reception.from, reception.fromPort);
        reception.lastError = reception.result == SOCKET_ERROR ? GetLastError() : 0;
        if (reception.result > 0) {
            reception.bytes.assign(buffer, static_cast<size_t>(reception.result));
        }
        receptions.push_back(reception);
        if (dialog != nullptr) {
            ::EndDialog(dialog, 1);
        }
    }

    std::vector<Reception> receptions;
    HWND dialog = nullptr;
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

struct DialogRun
{
    DatagramReceiver* receiver;
    std::function<void()> send;
};

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        DialogRun* run = reinterpret_cast<DialogRun*>(lParam);
        run->receiver->dialog = dialog;
        ::SetTimer(dialog, 1, 10000, nullptr);
        run->send();
        return TRUE;
    }
    case WM_TIMER:
        ::EndDialog(dialog, 0);
        return TRUE;
    default:
        return FALSE;
    }
}

TEST_F(SocketTest, DatagramArrivesThroughADialogsMessageLoop)
{
    DatagramReceiver receiver;
    CreateReceiver(receiver);
    UINT port = LocalPort(receiver.m_hSocket);
    ASSERT_NE(port, 0u);

    // A modal dialog's own loop dispatches the notification; nothing else pumps here.
    struct
    {
        DLGTEMPLATE header;
        WORD menu, windowClass, title;
    } dialogTemplate = {};
    dialogTemplate.header.style = WS_POPUP | DS_MODALFRAME;
    DialogRun run{&receiver, [&] { SendDatagram("announcement", port); }};
    INT_PTR ended = ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr), &dialogTemplate.header, nullptr,
                                              DialogProc, reinterpret_cast<LPARAM>(&run));
    EXPECT_EQ(ended, 1) << "ended by the notification, not by the time-out";
    ASSERT_EQ(receiver.receptions.size(), 1u);
    const Reception& reception = receiver.receptions[0];
    EXPECT_EQ(reception.error, 0);
    EXPECT_EQ(reception.bytes, "announcement");
    EXPECT_STREQ(reception.from, L"127.0.0.1");
    EXPECT_EQ(reception.fromPort, LocalPort(m_sender.m_hSocket));
    EXPECT_EQ(reception.thread, ::GetCurrentThreadId());
}

TEST_F(SocketTest, OversizedDatagramIsDroppedAndLaterOnesArrive)
{
    DatagramReceiver receiver;
    CreateReceiver(receiver);
    UINT port = LocalPort(receiver.m_hSocket);
    SendDatagram(std::string(1025, 'x'), port);
    SendDatagram(std::string(1024, 'y'), port);
    SendDatagram("after", port);
    ASSERT_TRUE(PumpUntil([&] { return receiver.receptions.size() >= 3; }));
    PumpFor(100);
    ASSERT_EQ(receiver.receptions.size(), 3u);
    EXPECT_EQ(receiver.receptions[0].result, SOCKET_ERROR);
    EXPECT_EQ(receiver.receptions[0].lastError, WSAEMSGSIZE);
    EXPECT_EQ(receiver.receptions[1].bytes, std::string(1024, 'y'));
    EXPECT_EQ(receiver.receptions[2].bytes, "after");
}

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

// What a client connection saw, written on the worker thread.
struct TcpRun
{
    UINT port = 0;
    const wchar_t* host = L"127.0.0.1";
    std::vector<std::string> events;
    std::vector<DWORD> threads;
    int connectError = -1;
    int closeError = -1;
    std::string received;
    bool finished = false;
    DWORD workerId = 0;
    CEvent done;
};

class Client : public CAsyncSocket
{
public:
    explicit Client(TcpRun& run) : m_run(run) {}

    void OnConnect(int error) override
    {
        Note("connect");
        m_run.connectError = error;
        if (error != 0) {
            m_run.finished = true;
        }
    }
    void OnReceive(int) override
    {
        Note("receive");
        ReadAll();
    }
    void OnClose(int error) override
    {
        Note("close");
        m_run.closeError = error;
        ReadAll();
        m_run.finished = true;
    }

private:
    void Note(const char* event)
    {
        m_run.events.push_back(event);
        m_run.threads.push_back(::GetCurrentThreadId());
    }
    void ReadAll()
    {
        char buffer[8192];
        int count;
        while ((count = Receive(buffer, sizeof(buffer))) > 0) {
            m_run.received.append(buffer, static_cast<size_t>(count));
        }
    }
    TcpRun& m_run;
};

// Connects on its own thread and pumps that thread's messages, as the SDP fetch does.
UINT ClientThread(LPVOID argument)
{
    TcpRun& run = *static_cast<TcpRun*>(argument);
    run.workerId = ::GetCurrentThreadId();
    if (AfxSocketInit()) {
        Client client(run);
        if (client.Create(0, SOCK_STREAM, CAsyncSocket::kAllEvents, L"127.0.0.1")) {
            BOOL connected = client.Connect(run.host, run.port);
            if (connected || CAsyncSocket::GetLastError() == WSAEWOULDBLOCK) {
                PumpUntil([&] { return run.finished; });
            }
            client.Close();
        }
    }
    run.done.SetEvent();
    return 0;
}

SOCKET Listener(UINT& port)
{
    SOCKET listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    ::listen(listener, 1);
    port = LocalPort(listener);
    return listener;
}

TEST_F(SocketTest, TcpConnectionOnAWorkerThatPumpsItsOwnMessages)
{
    TcpRun run;
    run.host = L"localhost"; // resolved by name
    SOCKET listener = Listener(run.port);
    ASSERT_NE(run.port, 0u);
    ASSERT_NE(AfxBeginThread(ClientThread, &run), nullptr);

    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(listener, &readable);
    timeval wait = {10, 0};
    ASSERT_EQ(::select(0, &readable, nullptr, nullptr, &wait), 1);
    SOCKET peer = ::accept(listener, nullptr, nullptr);
    ASSERT_NE(peer, INVALID_SOCKET);
    ::Sleep(100);
    ::send(peer, "DESCRIBE ", 9, 0);
    ::Sleep(100);
    ::send(peer, "reply", 5, 0);
    ::Sleep(100);
    ::closesocket(peer);
    ::closesocket(listener);

    ASSERT_TRUE(run.done.Lock(15000));
    EXPECT_EQ(run.connectError, 0);
    EXPECT_EQ(run.received, "DESCRIBE reply");
    EXPECT_EQ(run.closeError, 0);
    ASSERT_GE(run.events.size(), 3u);
    EXPECT_EQ(run.events.front(), "connect");
    EXPECT_EQ(run.events[1], "receive");
    EXPECT_EQ(run.events.back(), "close");
    for (DWORD thread : run.threads) {
        EXPECT_EQ(thread, run.workerId) << "every notification runs on the creating thread";
    }
}

TEST_F(SocketTest, RefusedConnectionIsReportedThroughOnConnect)
{
    TcpRun run;
    SOCKET unused = Listener(run.port);
    ::closesocket(unused); // nobody listens on this port any more
    ASSERT_NE(AfxBeginThread(ClientThread, &run), nullptr);
    ASSERT_TRUE(run.done.Lock(15000));
    ASSERT_EQ(run.events.size(), 1u);
    EXPECT_EQ(run.events[0], "connect");
    EXPECT_NE(run.connectError, 0);
    EXPECT_EQ(run.connectError, WSAECONNREFUSED);
}

TEST_F(SocketTest, CreateReportsFailures)
{
    CAsyncSocket socket;
    // An address this machine does not own cannot be bound; nothing stays open. (Wine lets a
    // datagram socket bind one, so this is a stream socket.)
    EXPECT_FALSE(socket.Create(0, SOCK_STREAM, CAsyncSocket::kAllEvents, L"192.0.2.55"));
    EXPECT_NE(CAsyncSocket::GetLastError(), 0);
    EXPECT_EQ(socket.m_hSocket, INVALID_SOCKET);
    ASSERT_TRUE(socket.Create(0, SOCK_STREAM, CAsyncSocket::kAllEvents));
    EXPECT_FALSE(socket.Socket(SOCK_STREAM)) << "already open";
}

} // namespace
