// The in-process DNS-SD daemon: the loopback listener of the client calls, one multicast socket per
// IPv4 interface, and the multicast-DNS engine, all on the thread that runs ResponderServiceMain.
// Every socket signals one network event; the thread waits on it and the stop event, so it sleeps
// until there is input, due work of the engine, or a stop.
#define FD_SETSIZE 1024
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>

#include "dnssd/responder.h"
#include "dnssd/core/ipc_frame.h"
#include "dnssd/core/mdns_engine.h"

#include <cstdio>
#include <new>

volatile long gResponderReady = 0;
volatile long gResponderRunning = 0;

namespace {

// Manual-reset; exists before any thread runs the service main, so a stop asked for before it
// starts is not lost.
HANDLE gStopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
ResponderLogHook volatile gLogHook = nullptr;

const size_t kMaxConnections = 900;
const size_t kMaxQueuedBytes = 256 * 1024;
const size_t kMaxInterfaces = 32;
const uint64_t kRequestTimeout = 10000; // a client's request must be complete this long after it connects
const uint64_t kClientLinePeriod = 10000;

// Why the last start failed: the loopback port that could not be used (0: another step) and the
// system's error number.
volatile long gStartFailedPort = 0;
volatile long gStartError = 0;

void Log(const char* line)
{
    ResponderLogHook hook = gLogHook;
    if (hook != nullptr) {
        hook(line);
    }
}

// The lines about clients that misbehave, one kind each: at most one line of a kind every 10 s,
// the next one saying how many were held back, so a local program cannot flood the log.
enum ClientLine
{
    kLineTooMany,
    kLineMalformedRequest,
    kLineMalformedFrame,
    kLineNotReading,
    kLineTimedOut,
    kClientLineKinds
};

const char* const kClientLineText[kClientLineKinds] = {
    "mDNS: too many client connections, one refused",
    "mDNS: a malformed client request; its connection is closed",
    "mDNS: a malformed client frame; its connection is closed",
    "mDNS: a client does not read its replies; its connection is closed",
    "mDNS: a client request not complete within 10 s; its connection is closed",
};

class ClientLines
{
public:
    void Log(ClientLine kind, uint64_t now)
    {
        Slot& slot = m_Slots[kind];
        if (slot.logged && now - slot.at < kClientLinePeriod) {
            ++slot.heldBack;
            return;
        }
        char line[160];
        if (slot.heldBack > 0) {
            std::snprintf(line, sizeof(line), "%s (%lu more since the last such line)", kClientLineText[kind],
                          static_cast<unsigned long>(slot.heldBack));
        } else {
            std::snprintf(line, sizeof(line), "%s", kClientLineText[kind]);
        }
        slot.logged = true;
        slot.at = now;
        slot.heldBack = 0;
        ::Log(line);
    }

private:
    struct Slot
    {
        bool logged = false;
        uint64_t at = 0;
        unsigned long heldBack = 0;
    };
    Slot m_Slots[kClientLineKinds];
};

template <class T, class... A> T* New(A&&... args)
{
    void* block = mdns::CoreAlloc(sizeof(T));
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return new (block) T(static_cast<A&&>(args)...);
}

template <class T> void Delete(T* object)
{
    if (object != nullptr) {
        object->~T();
        mdns::CoreFree(object);
    }
}

struct Connection
{
    SOCKET socket = INVALID_SOCKET;
    mdns::Bytes in;
    mdns::Bytes out;
    mdns::Vector<mdns::Bytes> batch; // replies of this round, MoreComing set on all but the last
    bool hasRequest = false;
    uint64_t deadline = UINT64_MAX; // for the request (or a frame begun) to be complete
    bool waitingToWrite = false;
    bool dead = false;
};

struct McastSocket
{
    mdns::Interface itf;
    SOCKET socket = INVALID_SOCKET;
};

class Daemon : public mdns::Environment, public mdns::Listener
{
public:
    Daemon() : m_Engine(*this, *this)
    {
        m_Random = GetTickCount() ^ (GetCurrentProcessId() << 16) ^ 0x9E3779B9u;
    }
    ~Daemon()
    {
        for (Connection* c : m_Connections) {
            closesocket(c->socket);
            Delete(c);
        }
        for (McastSocket& m : m_Sockets) {
            closesocket(m.socket);
        }
        if (m_Listener != INVALID_SOCKET) {
            closesocket(m_Listener);
        }
        if (m_NetEvent != WSA_INVALID_EVENT) {
            WSACloseEvent(m_NetEvent);
        }
    }

    bool Start();
    void Loop();
    void Shutdown() { m_Engine.Shutdown(); }

    // Environment
    uint64_t Now() override { return GetTickCount64(); }
    uint32_t Random(uint32_t below) override
    {
        m_Random ^= m_Random << 13;
        m_Random ^= m_Random >> 17;
        m_Random ^= m_Random << 5;
        return below == 0 ? 0 : m_Random % below;
    }
    void Send(uint32_t ifIndex, const uint8_t* data, size_t size, uint32_t address, uint16_t port) override
    {
        for (McastSocket& m : m_Sockets) {
            if (m.itf.index == ifIndex) {
                sockaddr_in to = {};
                to.sin_family = AF_INET;
                to.sin_addr.s_addr = htonl(address);
                to.sin_port = htons(port);
                sendto(m.socket, reinterpret_cast<const char*>(data), static_cast<int>(size), 0,
                       reinterpret_cast<sockaddr*>(&to), sizeof(to));
            }
        }
    }
    void Log(const char* line) override { ::Log(line); }

    // Listener
    void OnReply(void* owner, const mdns::Reply& reply) override
    {
        Connection* c = static_cast<Connection*>(owner);
        mdns::IpcReply r;
        r.flags = reply.flags;
        r.ifIndex = reply.ifIndex;
        r.error = reply.error;
        r.name = reply.name;
        r.type = reply.type;
        r.domain = reply.domain;
        r.port = reply.port;
        r.txt = reply.txt;
        r.address = reply.address;
        r.ttl = reply.ttl;
        c->batch.emplace_back();
        mdns::EncodeReply(r, c->batch.back());
    }

private:
    bool OpenInterfaces();
    void Accept();
    void ReadMulticast(McastSocket& m);
    void ReadClient(Connection& c);
    void HandleRequest(Connection& c, const uint8_t* body, size_t size);
    void Queue(Connection& c, const mdns::Bytes& frame);
    void Flush(Connection& c);
    void Sweep();
    void CloseUnfinished(uint64_t now);
    uint64_t NextDeadline() const;

    mdns::Engine m_Engine;
    ClientLines m_ClientLines;
    uint32_t m_Random;
    SOCKET m_Listener = INVALID_SOCKET;
    WSAEVENT m_NetEvent = WSA_INVALID_EVENT;
    mdns::Vector<McastSocket> m_Sockets;
    mdns::Vector<Connection*> m_Connections;
    uint8_t m_Datagram[mdns::kMaxMessageSize + 1];
};

bool Daemon::OpenInterfaces()
{
    ULONG size = 0;
    GetIpAddrTable(nullptr, &size, FALSE);
    mdns::Bytes buffer(size + sizeof(MIB_IPADDRTABLE));
    MIB_IPADDRTABLE* table = reinterpret_cast<MIB_IPADDRTABLE*>(buffer.data());
    size = static_cast<ULONG>(buffer.size());
    const DWORD tableError = GetIpAddrTable(table, &size, FALSE);
    if (tableError != NO_ERROR) {
        InterlockedExchange(&gStartError, static_cast<long>(tableError));
        Log("mDNS: no interface table");
        return false;
    }
    mdns::Vector<mdns::Interface> interfaces;
    for (DWORD i = 0; i < table->dwNumEntries && interfaces.size() < kMaxInterfaces; ++i) {
        const MIB_IPADDRROW& row = table->table[i];
        MIB_IFROW ifRow = {};
        ifRow.dwIndex = row.dwIndex;
        if (row.dwAddr == 0 || GetIfEntry(&ifRow) != NO_ERROR || ifRow.dwType == MIB_IF_TYPE_LOOPBACK ||
            ifRow.dwOperStatus < IF_OPER_STATUS_CONNECTED) {
            continue;
        }
        McastSocket m;
        m.itf.index = row.dwIndex;
        m.itf.address = ntohl(row.dwAddr);
        m.itf.mask = ntohl(row.dwMask);
        m.socket = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        BOOL on = TRUE;
        DWORD ttl = 255;
        int receiveBuffer = 512 * 1024; // a burst of announcements from a large network
        sockaddr_in bound = {};
        bound.sin_family = AF_INET;
        bound.sin_port = htons(mdns::kMdnsPort);
        bound.sin_addr.s_addr = row.dwAddr;
        ip_mreq mreq = {};
        mreq.imr_multiaddr.s_addr = htonl(mdns::kMdnsGroup);
        mreq.imr_interface.s_addr = row.dwAddr;
        in_addr ifAddr;
        ifAddr.s_addr = row.dwAddr;
        if (m.socket == INVALID_SOCKET ||
            setsockopt(m.socket, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof(on)) !=
                0 ||
            bind(m.socket, reinterpret_cast<sockaddr*>(&bound), sizeof(bound)) != 0 ||
            setsockopt(m.socket, IPPROTO_IP, IP_ADD_MEMBERSHIP, reinterpret_cast<const char*>(&mreq),
                       sizeof(mreq)) != 0 ||
            setsockopt(m.socket, IPPROTO_IP, IP_MULTICAST_IF, reinterpret_cast<const char*>(&ifAddr),
                       sizeof(ifAddr)) != 0 ||
            setsockopt(m.socket, IPPROTO_IP, IP_MULTICAST_TTL, reinterpret_cast<const char*>(&ttl),
                       sizeof(ttl)) != 0 ||
            setsockopt(m.socket, IPPROTO_IP, IP_TTL, reinterpret_cast<const char*>(&ttl), sizeof(ttl)) != 0 ||
            setsockopt(m.socket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveBuffer),
                       sizeof(receiveBuffer)) != 0 ||
            WSAEventSelect(m.socket, m_NetEvent, FD_READ) != 0) {
            char line[96];
            std::snprintf(line, sizeof(line), "mDNS: interface %lu not usable, error %d",
                          static_cast<unsigned long>(row.dwIndex), WSAGetLastError());
            Log(line);
            if (m.socket != INVALID_SOCKET) {
                closesocket(m.socket);
            }
            continue;
        }
        m_Sockets.push_back(m);
        interfaces.push_back(m.itf);
    }
    m_Engine.SetInterfaces(interfaces);
    return true;
}

bool Daemon::Start()
{
    char host[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD hostSize = sizeof(host);
    if (GetComputerNameA(host, &hostSize)) {
        m_Engine.SetHostLabel(host);
    }
    m_NetEvent = WSACreateEvent();
    m_Listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    BOOL on = TRUE;
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    local.sin_port = htons(ResponderDaemonPort());
    if (m_NetEvent == WSA_INVALID_EVENT || m_Listener == INVALID_SOCKET) {
        InterlockedExchange(&gStartError, WSAGetLastError());
        Log("mDNS: no socket for the client listener");
        return false;
    }
    setsockopt(m_Listener, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof(on));
    if (bind(m_Listener, reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0 ||
        listen(m_Listener, 64) != 0 || WSAEventSelect(m_Listener, m_NetEvent, FD_ACCEPT) != 0) {
        const int error = WSAGetLastError();
        InterlockedExchange(&gStartError, error);
        InterlockedExchange(&gStartFailedPort, ResponderDaemonPort());
        char line[96];
        std::snprintf(line, sizeof(line), "mDNS: client port %u not available, error %d",
                      static_cast<unsigned>(ResponderDaemonPort()), error);
        Log(line);
        return false;
    }
    return OpenInterfaces();
}

void Daemon::Accept()
{
    for (;;) {
        SOCKET s = accept(m_Listener, nullptr, nullptr);
        if (s == INVALID_SOCKET) {
            return;
        }
        if (m_Connections.size() >= kMaxConnections) {
            m_ClientLines.Log(kLineTooMany, Now());
            closesocket(s);
            continue;
        }
        BOOL on = TRUE;
        setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof(on));
        WSAEventSelect(s, m_NetEvent, FD_READ | FD_CLOSE);
        Connection* c = New<Connection>();
        c->socket = s;
        c->deadline = Now() + kRequestTimeout;
        m_Connections.push_back(c);
    }
}

void Daemon::ReadMulticast(McastSocket& m)
{
    for (int i = 0; i < 256; ++i) {
        sockaddr_in from = {};
        int fromSize = sizeof(from);
        int n = recvfrom(m.socket, reinterpret_cast<char*>(m_Datagram), sizeof(m_Datagram), 0,
                         reinterpret_cast<sockaddr*>(&from), &fromSize);
        if (n < 0) {
            if (WSAGetLastError() == WSAEMSGSIZE) {
                continue; // over 9000 bytes: not a datagram of ours to read
            }
            return;
        }
        if (static_cast<size_t>(n) <= mdns::kMaxMessageSize) {
            m_Engine.Receive(m.itf.index, m_Datagram, static_cast<size_t>(n), ntohl(from.sin_addr.s_addr),
                             ntohs(from.sin_port));
        }
    }
}

void Daemon::Queue(Connection& c, const mdns::Bytes& frame)
{
    if (c.out.size() + frame.size() > kMaxQueuedBytes) {
        m_ClientLines.Log(kLineNotReading, Now());
        c.dead = true;
        return;
    }
    c.out.insert(c.out.end(), frame.begin(), frame.end());
}

void Daemon::HandleRequest(Connection& c, const uint8_t* body, size_t size)
{
    mdns::IpcRequest r;
    if (c.hasRequest || !mdns::DecodeRequest(body, size, r)) {
        m_ClientLines.Log(kLineMalformedRequest, Now());
        c.dead = true;
        return;
    }
    c.hasRequest = true;
    int32_t status = mdns::kErrBadParam;
    switch (r.op) {
    case mdns::kOpBrowse:
        status = m_Engine.Browse(&c, r.ifIndex, r.regtype.c_str(), r.domain.c_str());
        break;
    case mdns::kOpResolve:
        status = m_Engine.Resolve(&c, r.ifIndex, r.name.c_str(), r.regtype.c_str(), r.domain.c_str());
        break;
    case mdns::kOpGetAddrInfo:
        status = m_Engine.LookUpAddress(&c, r.flags, r.ifIndex, r.protocol, r.name.c_str());
        break;
    case mdns::kOpRegister:
        status = m_Engine.Register(&c, r.flags, r.ifIndex, r.name.c_str(), r.regtype.c_str(),
                                   r.domain.c_str(), r.host.c_str(), r.port, r.txt.data(), r.txt.size());
        break;
    }
    mdns::IpcReply reply;
    reply.kind = mdns::kFrameStatus;
    reply.error = status;
    mdns::Bytes frame;
    mdns::EncodeReply(reply, frame);
    Queue(c, frame);
}

void Daemon::ReadClient(Connection& c)
{
    uint8_t buffer[4096];
    for (;;) {
        int n = recv(c.socket, reinterpret_cast<char*>(buffer), sizeof(buffer), 0);
        if (n == 0 || (n < 0 && WSAGetLastError() != WSAEWOULDBLOCK)) {
            c.dead = true;
            return;
        }
        if (n < 0) {
            break;
        }
        if (c.in.empty() && c.hasRequest) {
            c.deadline = Now() + kRequestTimeout; // a further frame begins
        }
        c.in.insert(c.in.end(), buffer, buffer + n);
        if (c.in.size() > mdns::kMaxFrameBody + 4) {
            break;
        }
    }
    while (!c.dead && c.in.size() >= 4) {
        const uint32_t length = mdns::FrameLength(c.in.data());
        if (length > mdns::kMaxFrameBody) {
            m_ClientLines.Log(kLineMalformedFrame, Now());
            c.dead = true;
            return;
        }
        if (c.in.size() < 4 + length) {
            return;
        }
        HandleRequest(c, c.in.data() + 4, length);
        c.in.erase(c.in.begin(), c.in.begin() + 4 + length);
    }
    if (c.in.empty()) {
        mdns::Bytes().swap(c.in);
        if (c.hasRequest) {
            c.deadline = UINT64_MAX;
        }
    }
}

// A connection whose request (or a frame it began after it) is not complete in time is closed, so
// connections that stop half-way cannot hold the daemon's places.
void Daemon::CloseUnfinished(uint64_t now)
{
    for (Connection* c : m_Connections) {
        if (!c->dead && c->deadline <= now) {
            m_ClientLines.Log(kLineTimedOut, now);
            c->dead = true;
        }
    }
}

uint64_t Daemon::NextDeadline() const
{
    uint64_t next = UINT64_MAX;
    for (const Connection* c : m_Connections) {
        next = c->deadline < next ? c->deadline : next;
    }
    return next;
}

void Daemon::Flush(Connection& c)
{
    for (size_t i = 0; i < c.batch.size(); ++i) {
        if (i + 1 < c.batch.size()) {
            c.batch[i][mdns::kReplyFlagsOffset + 3] |= mdns::kReplyMoreComing;
        }
        Queue(c, c.batch[i]);
    }
    mdns::Vector<mdns::Bytes>().swap(c.batch);
    while (!c.dead && !c.out.empty()) {
        int n =
            send(c.socket, reinterpret_cast<const char*>(c.out.data()), static_cast<int>(c.out.size()), 0);
        if (n <= 0) {
            if (WSAGetLastError() != WSAEWOULDBLOCK) {
                c.dead = true;
            } else if (!c.waitingToWrite) {
                // Told when the connection takes more; only then, as an idle one would wake us.
                c.waitingToWrite = true;
                WSAEventSelect(c.socket, m_NetEvent, FD_READ | FD_CLOSE | FD_WRITE);
            }
            return;
        }
        c.out.erase(c.out.begin(), c.out.begin() + n);
    }
    if (c.out.empty()) {
        mdns::Bytes().swap(c.out); // an idle connection keeps no buffer
        if (c.waitingToWrite) {
            c.waitingToWrite = false;
            WSAEventSelect(c.socket, m_NetEvent, FD_READ | FD_CLOSE);
        }
    }
}

void Daemon::Sweep()
{
    for (size_t i = 0; i < m_Connections.size(); ++i) {
        Connection* c = m_Connections[i];
        if (c->dead) {
            m_Engine.Cancel(c);
            closesocket(c->socket);
            Delete(c);
            m_Connections.erase(m_Connections.begin() + static_cast<ptrdiff_t>(i));
            --i;
        }
    }
}

void Daemon::Loop()
{
    for (;;) {
        uint64_t next = m_Engine.Run();
        CloseUnfinished(Now());
        for (Connection* c : m_Connections) {
            Flush(*c);
        }
        Sweep();
        const uint64_t deadline = NextDeadline();
        next = deadline < next ? deadline : next;
        const uint64_t now = Now();
        DWORD wait = next <= now ? 0 : (next - now > 60000 ? 60000 : static_cast<DWORD>(next - now));
        HANDLE handles[2] = {gStopEvent, m_NetEvent};
        DWORD woke = WaitForMultipleObjects(2, handles, FALSE, wait);
        if (woke == WAIT_OBJECT_0 || woke == WAIT_FAILED) {
            return;
        }
        WSAResetEvent(m_NetEvent);
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(m_Listener, &readable);
        for (McastSocket& m : m_Sockets) {
            FD_SET(m.socket, &readable);
        }
        for (Connection* c : m_Connections) {
            FD_SET(c->socket, &readable);
        }
        timeval zero = {0, 0};
        if (select(0, &readable, nullptr, nullptr, &zero) <= 0) {
            continue;
        }
        if (FD_ISSET(m_Listener, &readable)) {
            Accept();
        }
        for (McastSocket& m : m_Sockets) {
            if (FD_ISSET(m.socket, &readable)) {
                ReadMulticast(m);
            }
        }
        for (size_t i = 0; i < m_Connections.size(); ++i) {
            if (FD_ISSET(m_Connections[i]->socket, &readable)) {
                ReadClient(*m_Connections[i]);
            }
        }
    }
}

void* CoreTrackedAlloc(size_t size)
{
    return TrackedMemAlloc(size);
}

} // namespace

int ResponderServiceMain(int argc, wchar_t* argv[])
{
    (void)argc;
    (void)argv;
    InterlockedExchange(&gResponderRunning, 1);
    InterlockedExchange(&gStartFailedPort, 0);
    InterlockedExchange(&gStartError, 0);
    WSADATA wsa;
    const int winsockError = WSAStartup(MAKEWORD(2, 2), &wsa);
    const bool winsock = winsockError == 0;
    if (!winsock) {
        InterlockedExchange(&gStartError, winsockError);
    }
    // Creates the tracked heap's lock before the first tracked allocation.
    TrackedMemFree(nullptr);
    mdns::SetCoreHeap(CoreTrackedAlloc, TrackedMemFree);
    Daemon* daemon = nullptr;
    try {
        if (winsock && WaitForSingleObject(gStopEvent, 0) != WAIT_OBJECT_0) {
            daemon = New<Daemon>();
            if (daemon->Start()) {
                InterlockedExchange(&gResponderReady, 1);
                Log("mDNS: daemon ready");
                daemon->Loop();
                daemon->Shutdown();
            }
        }
    } catch (const std::bad_alloc&) {
        Log("mDNS: out of memory, daemon stops");
    }
    Delete(daemon);
    mdns::SetCoreHeap(nullptr, nullptr);
    if (winsock) {
        WSACleanup();
    }
    Log("mDNS: daemon stopped");
    // The stop is consumed: a later start runs again.
    ResetEvent(gStopEvent);
    InterlockedExchange(&gResponderRunning, 0);
    return 0;
}

int ResponderServiceStopWithin(uint32_t graceMs)
{
    Sleep(graceMs);
    SetEvent(gStopEvent);
    if (gResponderRunning != 0) {
        for (int i = 0; i < 200 && gResponderRunning != 0; ++i) {
            Sleep(50);
        }
        if (gResponderRunning == 0) {
            TrackedMemFreeAll();
        }
    } else {
        TrackedMemFreeAll();
    }
    return 0;
}

int ResponderServiceStop()
{
    return ResponderServiceStopWithin(5000);
}

void ResponderSetLogHook(ResponderLogHook hook)
{
    gLogHook = hook;
}

void ResponderStartFailure(uint16_t* port, uint32_t* error)
{
    if (port != nullptr) {
        *port = static_cast<uint16_t>(gStartFailedPort);
    }
    if (error != nullptr) {
        *error = static_cast<uint32_t>(gStartError);
    }
}
