// Asynchronous sockets of the class library layer.
//
// A CAsyncSocket reports what happens on its socket through its virtual notifications
// (OnReceive, OnSend, OnConnect, OnClose, OnAccept, OnOutOfBandData). They arrive as window
// messages for a hidden message-only window of the thread that created the socket, so they run on
// that thread from whatever message loop it runs: a dialog's, a message box's or its own
// PeekMessage pump. Notifications of a socket that has been closed are dropped, and OnReceive is
// called only while data (or an error) is really waiting.
//
// A socket object belongs to the thread that created it: use and delete it there. When another
// thread closes it, the notifications still queued on the creating thread are dropped all the same.
#pragma once

#include "afx/afxplatform.h"
#include "afx/afxstr.h"

// Starts Windows Sockets 2.2 once for the process and readies the calling thread for socket
// notifications. May be called again, on any thread. FALSE when either fails.
BOOL AfxSocketInit(WSADATA* data = nullptr);

class CAsyncSocket : public CObject
{
public:
    static const long kAllEvents = FD_READ | FD_WRITE | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE;

    CAsyncSocket() = default;
    ~CAsyncSocket() override;

    // A socket of the given type for the given notifications, bound to `address` (dotted text or a
    // host name; null or empty: any address) and `port` (0: any). On failure nothing stays open
    // and GetLastError tells why.
    BOOL Create(UINT port = 0, int type = SOCK_STREAM, long events = kAllEvents, LPCWSTR address = nullptr);
    // An unbound IPv4 socket, non-blocking, whose notifications go to the calling thread.
    BOOL Socket(int type = SOCK_STREAM, long events = kAllEvents, int protocol = 0);
    // Changes the notifications asked for.
    BOOL AsyncSelect(long events = kAllEvents);
    BOOL Bind(UINT port, LPCWSTR address = nullptr);
    BOOL Bind(const SOCKADDR* address, int length);
    // Starts connecting to `host` (dotted text or a host name). The socket does not block: the
    // result is FALSE with WSAEWOULDBLOCK while the connection is made, and OnConnect reports the
    // outcome.
    BOOL Connect(LPCWSTR host, UINT port);
    BOOL Connect(const SOCKADDR* address, int length);

    // Bytes sent or received, or SOCKET_ERROR.
    int Send(const void* buffer, int length, int flags = 0);
    int Receive(void* buffer, int length, int flags = 0);
    // To `host` (null: the broadcast address) and `port`.
    int SendTo(const void* buffer, int length, UINT port, LPCWSTR host = nullptr, int flags = 0);
    int SendTo(const void* buffer, int length, const SOCKADDR* address, int addressLength, int flags = 0);
    // One datagram; the sender's dotted address and its port in host order. A datagram longer
    // than the buffer gives SOCKET_ERROR (WSAEMSGSIZE) and is dropped.
    int ReceiveFrom(void* buffer, int length, CString& address, UINT& port, int flags = 0);
    int ReceiveFrom(void* buffer, int length, SOCKADDR* address, int* addressLength, int flags = 0);

    // Closes the socket; notifications still on their way are dropped. Closing twice is harmless.
    virtual void Close();

    static int GetLastError() { return ::WSAGetLastError(); }
    operator SOCKET() const { return m_hSocket; }

    // Notifications; `errorCode` is the Windows Sockets error of the event, 0 when there is none.
    virtual void OnReceive(int errorCode);
    virtual void OnSend(int errorCode);
    virtual void OnOutOfBandData(int errorCode);
    virtual void OnAccept(int errorCode);
    virtual void OnConnect(int errorCode);
    virtual void OnClose(int errorCode);

    SOCKET m_hSocket = INVALID_SOCKET;

private:
    friend struct SocketNotifier;

    // The notification window and message of this socket, set by Socket.
    HWND m_notifyWindow = nullptr;
    UINT m_notifyMessage = 0;
};
