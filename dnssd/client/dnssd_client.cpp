// The DNS-SD client calls: each reference is one TCP connection to the daemon on the loopback
// interface, carrying one request. Ordinary heap (the tracked heap is the daemon's).
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include "dnssd/dns_sd.h"
#include "dnssd/responder.h"
#include "dnssd/core/ipc_frame.h"

#include <new>

struct Callbacks
{
    DNSServiceBrowseReply browse = nullptr;
    DNSServiceResolveReply resolve = nullptr;
    DNSServiceGetAddrInfoReply address = nullptr;
    DNSServiceRegisterReply registered = nullptr;
};

struct _DNSServiceRef_t
{
    SOCKET socket;
    uint8_t op;
    Callbacks callbacks; // the one of op
    void* context;
    bool broken;
};

namespace {

volatile LONG gDaemonPort = DNSSD_DAEMON_PORT;
const DWORD kStatusTimeoutMs = 10000;
// How long the rest of a reply whose first bytes arrived may take.
const DWORD kReplyTimeoutMs = 10000;

// Waits until the socket is readable (it may be non-blocking after WSAEventSelect).
bool WaitReadable(SOCKET s, DWORD timeoutMs)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval tv = {static_cast<long>(timeoutMs / 1000), static_cast<long>(timeoutMs % 1000) * 1000};
    return select(0, &readable, nullptr, nullptr, &tv) > 0;
}

// Reads exactly `size` bytes, never more: the socket stays readable while replies are queued.
bool ReadExactly(SOCKET s, uint8_t* data, size_t size, DWORD timeoutMs)
{
    size_t got = 0;
    while (got < size) {
        int n = recv(s, reinterpret_cast<char*>(data + got), static_cast<int>(size - got), 0);
        if (n > 0) {
            got += static_cast<size_t>(n);
        } else if (n == 0 || WSAGetLastError() != WSAEWOULDBLOCK || !WaitReadable(s, timeoutMs)) {
            return false;
        }
    }
    return true;
}

bool ReadFrame(SOCKET s, mdns::IpcReply& reply, DWORD timeoutMs)
{
    uint8_t prefix[4];
    if (!ReadExactly(s, prefix, 4, timeoutMs)) {
        return false;
    }
    const uint32_t length = mdns::FrameLength(prefix);
    if (length > mdns::kMaxFrameBody) {
        return false;
    }
    mdns::Bytes body(length);
    return ReadExactly(s, body.data(), length, timeoutMs) && mdns::DecodeReply(body.data(), length, reply);
}

const char* Text(const char* s)
{
    return s != nullptr ? s : "";
}

// Winsock is started once for the process and never cleaned up behind a reference. A start and a
// cleanup per reference, made by many threads at once, can lose a step of the start count where it
// is no atomic counter (Wine's is not), and the cleanup that takes it to zero closes every socket of
// the process: the gateway's SAP and RTSP sockets included.
bool WinsockStarted()
{
    static const bool started = [] {
        WSADATA wsa;
        return WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
    }();
    return started;
}

DNSServiceErrorType Call(DNSServiceRef* sdRef, mdns::IpcRequest& request, const Callbacks& callbacks,
                         void* context)
{
    if (sdRef == nullptr || (request.op != mdns::kOpRegister && callbacks.browse == nullptr &&
                             callbacks.resolve == nullptr && callbacks.address == nullptr)) {
        return kDNSServiceErr_BadParam;
    }
    if (!WinsockStarted()) {
        return kDNSServiceErr_ServiceNotRunning;
    }
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in daemon = {};
    daemon.sin_family = AF_INET;
    daemon.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    daemon.sin_port = htons(ResponderDaemonPort());
    if (s == INVALID_SOCKET || connect(s, reinterpret_cast<sockaddr*>(&daemon), sizeof(daemon)) != 0) {
        if (s != INVALID_SOCKET) {
            closesocket(s);
        }
        return kDNSServiceErr_ServiceNotRunning;
    }
    BOOL on = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof(on));
    mdns::Bytes frame;
    mdns::EncodeRequest(request, frame);
    mdns::IpcReply status;
    const bool sent = send(s, reinterpret_cast<const char*>(frame.data()), static_cast<int>(frame.size()),
                           0) == static_cast<int>(frame.size());
    DNSServiceErrorType result = kDNSServiceErr_ServiceNotRunning;
    if (sent && ReadFrame(s, status, kStatusTimeoutMs) && status.kind == mdns::kFrameStatus) {
        result = status.error;
    }
    _DNSServiceRef_t* ref = nullptr;
    if (result == kDNSServiceErr_NoError) {
        ref = new (std::nothrow) _DNSServiceRef_t{s, request.op, callbacks, context, false};
        result = ref != nullptr ? kDNSServiceErr_NoError : kDNSServiceErr_NoMemory;
    }
    if (ref == nullptr) {
        closesocket(s);
        return result;
    }
    *sdRef = ref;
    return kDNSServiceErr_NoError;
}

} // namespace

void ResponderSetDaemonPort(uint16_t port)
{
    InterlockedExchange(&gDaemonPort, port);
}

uint16_t ResponderDaemonPort()
{
    return static_cast<uint16_t>(gDaemonPort);
}

DNSServiceErrorType DNSSD_API DNSServiceBrowse(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                               uint32_t interfaceIndex, const char* regtype,
                                               const char* domain, DNSServiceBrowseReply callBack,
                                               void* context)
{
    mdns::IpcRequest r;
    r.op = mdns::kOpBrowse;
    r.flags = flags;
    r.ifIndex = interfaceIndex;
    r.regtype = Text(regtype);
    r.domain = Text(domain);
    Callbacks callbacks;
    callbacks.browse = callBack;
    return Call(sdRef, r, callbacks, context);
}

DNSServiceErrorType DNSSD_API DNSServiceResolve(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                                uint32_t interfaceIndex, const char* name,
                                                const char* regtype, const char* domain,
                                                DNSServiceResolveReply callBack, void* context)
{
    mdns::IpcRequest r;
    r.op = mdns::kOpResolve;
    r.flags = flags;
    r.ifIndex = interfaceIndex;
    r.name = Text(name);
    r.regtype = Text(regtype);
    r.domain = Text(domain);
    Callbacks callbacks;
    callbacks.resolve = callBack;
    return Call(sdRef, r, callbacks, context);
}

DNSServiceErrorType DNSSD_API DNSServiceGetAddrInfo(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                                    uint32_t interfaceIndex, DNSServiceProtocol protocol,
                                                    const char* hostname, DNSServiceGetAddrInfoReply callBack,
                                                    void* context)
{
    mdns::IpcRequest r;
    r.op = mdns::kOpGetAddrInfo;
    r.flags = flags;
    r.ifIndex = interfaceIndex;
    r.protocol = protocol;
    r.name = Text(hostname);
    Callbacks callbacks;
    callbacks.address = callBack;
    return Call(sdRef, r, callbacks, context);
}

DNSServiceErrorType DNSSD_API DNSServiceRegister(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                                 uint32_t interfaceIndex, const char* name,
                                                 const char* regtype, const char* domain, const char* host,
                                                 uint16_t port, uint16_t txtLen, const void* txtRecord,
                                                 DNSServiceRegisterReply callBack, void* context)
{
    mdns::IpcRequest r;
    r.op = mdns::kOpRegister;
    r.flags = flags;
    r.ifIndex = interfaceIndex;
    r.name = Text(name);
    r.regtype = Text(regtype);
    r.domain = Text(domain);
    r.host = Text(host);
    r.port = ntohs(port);
    if (txtLen > 0 && txtRecord != nullptr) {
        const uint8_t* txt = static_cast<const uint8_t*>(txtRecord);
        r.txt.assign(txt, txt + txtLen);
    }
    // A registration may have no callback: its replies are then read and dropped.
    Callbacks callbacks;
    callbacks.registered = callBack;
    return Call(sdRef, r, callbacks, context);
}

dnssd_sock_t DNSSD_API DNSServiceRefSockFD(DNSServiceRef sdRef)
{
    return sdRef != nullptr ? sdRef->socket : INVALID_SOCKET;
}

DNSServiceErrorType DNSSD_API DNSServiceProcessResult(DNSServiceRef sdRef)
{
    if (sdRef == nullptr) {
        return kDNSServiceErr_BadReference;
    }
    // Nothing queued (a socket event left over from reading the previous reply in two parts): no
    // callback, and no wait that would hold the caller's thread until some later reply.
    if (!sdRef->broken && !WaitReadable(sdRef->socket, 0)) {
        return kDNSServiceErr_NoError;
    }
    mdns::IpcReply reply;
    if (sdRef->broken || !ReadFrame(sdRef->socket, reply, kReplyTimeoutMs) ||
        reply.kind != mdns::kFrameReply) {
        sdRef->broken = true;
        return kDNSServiceErr_ServiceNotRunning;
    }
    const bool error = reply.error != kDNSServiceErr_NoError;
    const char* name = error ? "" : reply.name.c_str();
    const char* type = error ? "" : reply.type.c_str();
    const char* domain = error ? "" : reply.domain.c_str();
    switch (sdRef->op) {
    case mdns::kOpBrowse:
        sdRef->callbacks.browse(sdRef, reply.flags, reply.ifIndex, reply.error, name, type, domain,
                                sdRef->context);
        break;
    case mdns::kOpResolve:
        sdRef->callbacks.resolve(sdRef, reply.flags, reply.ifIndex, reply.error, name, type,
                                 error ? 0 : htons(reply.port),
                                 error ? 0 : static_cast<uint16_t>(reply.txt.size()),
                                 error ? nullptr : reply.txt.data(), sdRef->context);
        break;
    case mdns::kOpGetAddrInfo: {
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(reply.address);
        sdRef->callbacks.address(sdRef, reply.flags, reply.ifIndex, reply.error, name,
                                 error ? nullptr : reinterpret_cast<const sockaddr*>(&address), reply.ttl,
                                 sdRef->context);
        break;
    }
    case mdns::kOpRegister:
        if (sdRef->callbacks.registered != nullptr) {
            sdRef->callbacks.registered(sdRef, reply.flags, reply.error, name, type, domain, sdRef->context);
        }
        break;
    }
    return kDNSServiceErr_NoError;
}

void DNSSD_API DNSServiceRefDeallocate(DNSServiceRef sdRef)
{
    if (sdRef == nullptr) {
        return;
    }
    closesocket(sdRef->socket);
    delete sdRef;
}
