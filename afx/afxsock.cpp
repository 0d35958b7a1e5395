#include "afx/afxsock.h"

#include "afx/afxmt.h"
#include "afx/afxthread.h"

#include <cwchar>
#include <unordered_map>

namespace {

// Each open socket gets a window message of its own from this range, so that notifications
// still queued for a closed socket can never be taken for those of a later socket that happens
// to get the same handle.
constexpr UINT kFirstMessage = WM_APP + 0x1000;
constexpr UINT kLastMessage = 0xBFFF;

const wchar_t kWindowClass[] = L"VelmoraSocketNotify";

// The notification window of the calling thread; null until the thread needs one.
thread_local HWND t_notifyWindow = nullptr;

struct Registration
{
    CAsyncSocket* socket;
    SOCKET handle;
    int type;
};

// Open sockets by notification message, shared by all threads.
class Registry
{
public:
    static Registry& Get()
    {
        static Registry registry;
        return registry;
    }

    UINT Add(CAsyncSocket* socket, SOCKET handle, int type)
    {
        CSingleLock lock(&m_lock, TRUE);
        const UINT count = kLastMessage - kFirstMessage + 1;
        for (UINT attempt = 0; attempt < count; ++attempt) {
            UINT message = kFirstMessage + (m_next++ % count);
            if (m_sockets.find(message) == m_sockets.end()) {
                m_sockets[message] = Registration{socket, handle, type};
                return message;
            }
        }
        return 0;
    }

    void Remove(UINT message)
    {
        CSingleLock lock(&m_lock, TRUE);
        m_sockets.erase(message);
    }

    bool Find(UINT message, SOCKET handle, Registration& found)
    {
        CSingleLock lock(&m_lock, TRUE);
        auto it = m_sockets.find(message);
        if (it == m_sockets.end() || it->second.handle != handle) {
            return false;
        }
        found = it->second;
        return true;
    }

private:
    CCriticalSection m_lock;
    std::unordered_map<UINT, Registration> m_sockets;
    UINT m_next = 0;
};

// Whether a read notification still has something to read: a stream socket needs data waiting;
// a datagram socket is readable also for an empty datagram or a pending error.
bool HasSomethingToRead(SOCKET handle, int type)
{
    if (type == SOCK_STREAM) {
        u_long waiting = 0;
        return ::ioctlsocket(handle, FIONREAD, &waiting) == 0 && waiting > 0;
    }
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(handle, &readable);
    timeval noWait = {0, 0};
    return ::select(0, &readable, nullptr, nullptr, &noWait) > 0;
}

void DestroyThreadWindow()
{
    if (t_notifyWindow != nullptr) {
        ::DestroyWindow(t_notifyWindow);
        t_notifyWindow = nullptr;
    }
}

// Text in the ANSI code page, for the address functions of Windows Sockets.
bool ToAnsi(LPCWSTR text, char* out, int size)
{
    return ::WideCharToMultiByte(CP_ACP, 0, text, -1, out, size, nullptr, nullptr) > 0;
}

// The IPv4 address of dotted text or a host name. On failure the socket error says why.
bool ResolveIPv4(LPCWSTR text, in_addr& address)
{
    char host[NI_MAXHOST];
    if (text == nullptr || !ToAnsi(text, host, sizeof(host))) {
        ::WSASetLastError(WSAEINVAL);
        return false;
    }
    if (::inet_pton(AF_INET, host, &address) == 1) {
        return true;
    }
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    int error = ::getaddrinfo(host, nullptr, &hints, &found);
    if (error != 0 || found == nullptr) {
        ::WSASetLastError(error != 0 ? error : WSAHOST_NOT_FOUND);
        return false;
    }
    address = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
    ::freeaddrinfo(found);
    return true;
}

sockaddr_in IPv4Address(in_addr address, UINT port)
{
    sockaddr_in result = {};
    result.sin_family = AF_INET;
    result.sin_port = htons(static_cast<u_short>(port));
    result.sin_addr = address;
    return result;
}

} // namespace

// Delivers the notifications of the thread's sockets.
struct SocketNotifier
{
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message < kFirstMessage || message > kLastMessage) {
            return ::DefWindowProcW(window, message, wParam, lParam);
        }
        Registration registration;
        if (!Registry::Get().Find(message, static_cast<SOCKET>(wParam), registration)) {
            return 0; // closed meanwhile
        }
        CAsyncSocket* socket = registration.socket;
        int error = WSAGETSELECTERROR(lParam);
        switch (WSAGETSELECTEVENT(lParam)) {
        case FD_READ:
            // The message may be older than a receive that emptied the socket.
            if (error != 0 || HasSomethingToRead(registration.handle, registration.type)) {
                socket->OnReceive(error);
            }
            break;
        case FD_WRITE:
            socket->OnSend(error);
            break;
        case FD_OOB:
            socket->OnOutOfBandData(error);
            break;
        case FD_ACCEPT:
            socket->OnAccept(error);
            break;
        case FD_CONNECT:
            socket->OnConnect(error);
            break;
        case FD_CLOSE:
            socket->OnClose(error);
            break;
        default:
            break;
        }
        return 0;
    }

    // The calling thread's notification window, created at its first use.
    static HWND ThreadWindow()
    {
        if (t_notifyWindow != nullptr) {
            return t_notifyWindow;
        }
        static const ATOM windowClass = [] {
            afx_detail::SetThreadCleanup(DestroyThreadWindow);
            WNDCLASSEXW description = {};
            description.cbSize = sizeof(description);
            description.lpfnWndProc = WindowProc;
            description.hInstance = ::GetModuleHandleW(nullptr);
            description.lpszClassName = kWindowClass;
            return ::RegisterClassExW(&description);
        }();
        if (windowClass == 0) {
            return nullptr;
        }
        t_notifyWindow = ::CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                           ::GetModuleHandleW(nullptr), nullptr);
        return t_notifyWindow;
    }
};

BOOL AfxSocketInit(WSADATA* data)
{
    static WSADATA started;
    static const int startResult = ::WSAStartup(MAKEWORD(2, 2), &started);
    if (startResult != 0) {
        return FALSE;
    }
    if (data != nullptr) {
        *data = started;
    }
    return SocketNotifier::ThreadWindow() != nullptr;
}

CAsyncSocket::~CAsyncSocket()
{
    if (m_hSocket != INVALID_SOCKET) {
        CAsyncSocket::Close();
    }
}

BOOL CAsyncSocket::Create(UINT port, int type, long events, LPCWSTR address)
{
    if (!Socket(type, events)) {
        return FALSE;
    }
    if (!Bind(port, address)) {
        int error = ::WSAGetLastError();
        Close();
        ::WSASetLastError(error);
        return FALSE;
    }
    return TRUE;
}

BOOL CAsyncSocket::Socket(int type, long events, int protocol)
{
    if (m_hSocket != INVALID_SOCKET) {
        ::WSASetLastError(WSAEISCONN);
        return FALSE;
    }
    HWND window = SocketNotifier::ThreadWindow();
    if (window == nullptr) {
        ::WSASetLastError(WSAENOBUFS);
        return FALSE;
    }
    SOCKET handle = ::socket(AF_INET, type, protocol);
    if (handle == INVALID_SOCKET) {
        return FALSE;
    }
    UINT message = Registry::Get().Add(this, handle, type);
    if (message == 0) {
        ::closesocket(handle);
        ::WSASetLastError(WSAEMFILE);
        return FALSE;
    }
    m_hSocket = handle;
    m_notifyWindow = window;
    m_notifyMessage = message;
    if (!AsyncSelect(events)) {
        int error = ::WSAGetLastError();
        Close();
        ::WSASetLastError(error);
        return FALSE;
    }
    return TRUE;
}

BOOL CAsyncSocket::AsyncSelect(long events)
{
    return ::WSAAsyncSelect(m_hSocket, m_notifyWindow, m_notifyMessage, events) == 0;
}

BOOL CAsyncSocket::Bind(UINT port, LPCWSTR address)
{
    in_addr local;
    local.s_addr = htonl(INADDR_ANY);
    if (address != nullptr && *address != L'\0' && !ResolveIPv4(address, local)) {
        return FALSE;
    }
    sockaddr_in target = IPv4Address(local, port);
    return Bind(reinterpret_cast<const SOCKADDR*>(&target), sizeof(target));
}

BOOL CAsyncSocket::Bind(const SOCKADDR* address, int length)
{
    return ::bind(m_hSocket, address, length) == 0;
}

BOOL CAsyncSocket::Connect(LPCWSTR host, UINT port)
{
    in_addr remote;
    if (!ResolveIPv4(host, remote)) {
        return FALSE;
    }
    sockaddr_in target = IPv4Address(remote, port);
    return Connect(reinterpret_cast<const SOCKADDR*>(&target), sizeof(target));
}

BOOL CAsyncSocket::Connect(const SOCKADDR* address, int length)
{
    return ::connect(m_hSocket, address, length) == 0;
}

int CAsyncSocket::Send(const void* buffer, int length, int flags)
{
    return ::send(m_hSocket, static_cast<const char*>(buffer), length, flags);
}

int CAsyncSocket::Receive(void* buffer, int length, int flags)
{
    return ::recv(m_hSocket, static_cast<char*>(buffer), length, flags);
}

int CAsyncSocket::SendTo(const void* buffer, int length, UINT port, LPCWSTR host, int flags)
{
    in_addr remote;
    remote.s_addr = htonl(INADDR_BROADCAST);
    if (host != nullptr && !ResolveIPv4(host, remote)) {
        return SOCKET_ERROR;
    }
    sockaddr_in target = IPv4Address(remote, port);
    return SendTo(buffer, length, reinterpret_cast<const SOCKADDR*>(&target), sizeof(target), flags);
}

int CAsyncSocket::SendTo(const void* buffer, int length, const SOCKADDR* address, int addressLength,
                         int flags)
{
    return ::sendto(m_hSocket, static_cast<const char*>(buffer), length, flags, address, addressLength);
}

int CAsyncSocket::ReceiveFrom(void* buffer, int length, CString& address, UINT& port, int flags)
{
    sockaddr_in sender = {};
    int senderLength = sizeof(sender);
    int result = ReceiveFrom(buffer, length, reinterpret_cast<SOCKADDR*>(&sender), &senderLength, flags);
    if (result != SOCKET_ERROR) {
        const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&sender.sin_addr);
        wchar_t text[16];
        _snwprintf(text, 16, L"%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
        text[15] = L'\0';
        address = text;
        port = ntohs(sender.sin_port);
    }
    return result;
}

int CAsyncSocket::ReceiveFrom(void* buffer, int length, SOCKADDR* address, int* addressLength, int flags)
{
    return ::recvfrom(m_hSocket, static_cast<char*>(buffer), length, flags, address, addressLength);
}

void CAsyncSocket::Close()
{
    if (m_hSocket == INVALID_SOCKET) {
        return;
    }
    Registry::Get().Remove(m_notifyMessage);
    ::closesocket(m_hSocket);
    m_hSocket = INVALID_SOCKET;
    // Drop what is already queued for this socket when the queue is this thread's.
    if (m_notifyWindow == t_notifyWindow) {
        MSG stale;
        while (::PeekMessageW(&stale, m_notifyWindow, m_notifyMessage, m_notifyMessage, PM_REMOVE)) {
        }
    }
    m_notifyWindow = nullptr;
    m_notifyMessage = 0;
}

void CAsyncSocket::OnReceive(int) {}

void CAsyncSocket::OnSend(int) {}

void CAsyncSocket::OnOutOfBandData(int) {}

void CAsyncSocket::OnAccept(int) {}

void CAsyncSocket::OnConnect(int) {}

void CAsyncSocket::OnClose(int) {}
