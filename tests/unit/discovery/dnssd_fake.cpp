#include "dnssd_fake.h"

#include "dnssd/responder.h"
#include "test_support.h"

#include <deque>
#include <map>
#include <mutex>

struct _DNSServiceRef_t
{
    SOCKET ours = INVALID_SOCKET;   // the code's end
    SOCKET theirs = INVALID_SOCKET; // the test's end
    std::deque<std::function<void()>> replies;
    int processed = 0;
    int deallocated = 0;
    void* context = nullptr;
    DNSServiceBrowseReply browse = nullptr;
    DNSServiceResolveReply resolve = nullptr;
    DNSServiceGetAddrInfoReply address = nullptr;
    DNSServiceRegisterReply registration = nullptr;
};

volatile long gResponderReady = 0;
volatile long gResponderRunning = 0;

namespace dnssd_fake {

namespace {

std::recursive_mutex g_lock;
std::vector<Call> g_calls;
std::map<std::string, DNSServiceErrorType> g_failures;
std::map<std::string, int> g_attempts;
bool g_daemonReady = true;
HANDLE g_daemonStop = CreateEventW(nullptr, TRUE, FALSE, nullptr);

DNSServiceErrorType Open(DNSServiceRef* out, Call call)
{
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    ++g_attempts[call.function];
    auto failure = g_failures.find(call.function);
    if (failure != g_failures.end()) {
        const DNSServiceErrorType error = failure->second;
        g_failures.erase(failure);
        return error;
    }
    // The daemon refuses an interface that does not exist.
    if (call.interfaceIndex == 65535) {
        return kDNSServiceErr_BadInterfaceIndex;
    }
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    EXPECT_TRUE(started);
    DNSServiceRef reference = new _DNSServiceRef_t;
    UINT port = 0;
    SOCKET listener = LoopbackSocket(SOCK_STREAM, port);
    reference->ours = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<u_short>(port));
    connect(reference->ours, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    reference->theirs = accept(listener, nullptr, nullptr);
    closesocket(listener);
    reference->context = call.context;
    call.reference = reference;
    g_calls.push_back(call);
    *out = reference;
    return kDNSServiceErr_NoError;
}

void Queue(DNSServiceRef reference, std::function<void()> reply)
{
    {
        std::lock_guard<std::recursive_mutex> lock(g_lock);
        reference->replies.push_back(std::move(reply));
    }
    const char bytes[2] = {1, 2};
    send(reference->theirs, bytes, 2, 0);
}

} // namespace

void Reset()
{
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    g_calls.clear();
    g_failures.clear();
    g_attempts.clear();
}

std::vector<Call> Calls()
{
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    return g_calls;
}

Call Find(const std::string& function, const std::string& regtypeOrName)
{
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    for (auto it = g_calls.rbegin(); it != g_calls.rend(); ++it) {
        if (it->function == function && (it->regtype == regtypeOrName || it->name == regtypeOrName)) {
            return *it;
        }
    }
    Call none = {};
    return none;
}

int Attempts(const std::string& function)
{
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    auto found = g_attempts.find(function);
    return found != g_attempts.end() ? found->second : 0;
}

void FailNext(const std::string& function, DNSServiceErrorType error)
{
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    g_failures[function] = error;
}

void BrowseReply(DNSServiceRef reference, DNSServiceFlags flags, uint32_t interfaceIndex,
                 DNSServiceErrorType error, const char* name, const char* regtype, const char* domain)
{
    Queue(reference, [=] {
        reference->browse(reference, flags, interfaceIndex, error, name, regtype, domain, reference->context);
    });
}

void ResolveReply(DNSServiceRef reference, DNSServiceFlags flags, uint32_t interfaceIndex,
                  DNSServiceErrorType error, const char* fullname, const char* host, uint16_t port)
{
    Queue(reference, [=] {
        reference->resolve(reference, flags, interfaceIndex, error, fullname, host, htons(port), 0, nullptr,
                           reference->context);
    });
}

void AddressReply(DNSServiceRef reference, DNSServiceFlags flags, DNSServiceErrorType error, const char* host,
                  const char* ipv4, int family)
{
    Queue(reference, [=] {
        sockaddr_in6 storage = {};
        sockaddr* address = nullptr;
        if (ipv4 != nullptr) {
            if (family == AF_INET) {
                sockaddr_in* in = reinterpret_cast<sockaddr_in*>(&storage);
                in->sin_family = AF_INET;
                in->sin_addr.s_addr = inet_addr(ipv4);
            } else {
                storage.sin6_family = AF_INET6;
            }
            address = reinterpret_cast<sockaddr*>(&storage);
        }
        reference->address(reference, flags, 0, error, host, address, 120, reference->context);
    });
}

void RegisterReply(DNSServiceRef reference, DNSServiceFlags flags, DNSServiceErrorType error,
                   const char* name, const char* regtype)
{
    Queue(reference, [=] {
        reference->registration(reference, flags, error, name, regtype, "local.", reference->context);
    });
}

void Reply(DNSServiceRef reference, std::function<void()> reply)
{
    Queue(reference, std::move(reply));
}

void ClosePeer(DNSServiceRef reference)
{
    closesocket(reference->theirs);
}

int ProcessCount(DNSServiceRef reference)
{
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    return reference->processed;
}

int DeallocateCount(DNSServiceRef reference)
{
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    return reference != nullptr ? reference->deallocated : -1; // -1: no such request was opened
}

void SetDaemonReady(bool ready)
{
    g_daemonReady = ready;
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs)
{
    for (int waited = 0; waited < timeoutMs; waited += 5) {
        if (condition()) {
            return true;
        }
        Sleep(5);
    }
    return condition();
}

} // namespace dnssd_fake

using namespace dnssd_fake;

// --- The client interface ------------------------------------------------------------------------

DNSServiceErrorType DNSSD_API DNSServiceBrowse(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                               uint32_t interfaceIndex, const char* regtype,
                                               const char* /*domain*/, DNSServiceBrowseReply callBack,
                                               void* context)
{
    const DNSServiceErrorType error =
        Open(sdRef, {"Browse", nullptr, flags, interfaceIndex, "", regtype, 0, 0, context});
    if (error == kDNSServiceErr_NoError) {
        (*sdRef)->browse = callBack;
    }
    return error;
}

DNSServiceErrorType DNSSD_API DNSServiceResolve(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                                uint32_t interfaceIndex, const char* name,
                                                const char* regtype, const char* /*domain*/,
                                                DNSServiceResolveReply callBack, void* context)
{
    const DNSServiceErrorType error =
        Open(sdRef, {"Resolve", nullptr, flags, interfaceIndex, name, regtype, 0, 0, context});
    if (error == kDNSServiceErr_NoError) {
        (*sdRef)->resolve = callBack;
    }
    return error;
}

DNSServiceErrorType DNSSD_API DNSServiceGetAddrInfo(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                                    uint32_t interfaceIndex, DNSServiceProtocol protocol,
                                                    const char* hostname, DNSServiceGetAddrInfoReply callBack,
                                                    void* context)
{
    const DNSServiceErrorType error =
        Open(sdRef, {"GetAddrInfo", nullptr, flags, interfaceIndex, hostname, "", 0, protocol, context});
    if (error == kDNSServiceErr_NoError) {
        (*sdRef)->address = callBack;
    }
    return error;
}

DNSServiceErrorType DNSSD_API DNSServiceRegister(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                                 uint32_t interfaceIndex, const char* name,
                                                 const char* regtype, const char* /*domain*/,
                                                 const char* /*host*/, uint16_t port, uint16_t /*txtLen*/,
                                                 const void* /*txtRecord*/, DNSServiceRegisterReply callBack,
                                                 void* context)
{
    const DNSServiceErrorType error =
        Open(sdRef, {"Register", nullptr, flags, interfaceIndex, name, regtype, ntohs(port), 0, context});
    if (error == kDNSServiceErr_NoError) {
        (*sdRef)->registration = callBack;
    }
    return error;
}

dnssd_sock_t DNSSD_API DNSServiceRefSockFD(DNSServiceRef sdRef)
{
    return sdRef->ours;
}

DNSServiceErrorType DNSSD_API DNSServiceProcessResult(DNSServiceRef sdRef)
{
    std::function<void()> reply;
    {
        std::lock_guard<std::recursive_mutex> lock(g_lock);
        ++sdRef->processed;
    }
    // Like the real call: a reply of two bytes, read in two pieces, waited for when none is there.
    for (int piece = 0; piece < 2; ++piece) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(sdRef->ours, &readable);
        char byte = 0;
        if (select(0, &readable, nullptr, nullptr, nullptr) != 1 || recv(sdRef->ours, &byte, 1, 0) != 1) {
            return kDNSServiceErr_ServiceNotRunning;
        }
    }
    {
        std::lock_guard<std::recursive_mutex> lock(g_lock);
        if (sdRef->replies.empty()) {
            return kDNSServiceErr_NoError;
        }
        reply = std::move(sdRef->replies.front());
        sdRef->replies.pop_front();
    }
    reply();
    return kDNSServiceErr_NoError;
}

void DNSSD_API DNSServiceRefDeallocate(DNSServiceRef sdRef)
{
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    if (++sdRef->deallocated == 1) {
        closesocket(sdRef->ours);
    }
    // The record stays, so that tests can look at its counts.
}

// --- The daemon host -----------------------------------------------------------------------------

int ResponderServiceMain(int /*argc*/, wchar_t* /*argv*/[])
{
    gResponderRunning = 1;
    ResetEvent(g_daemonStop);
    if (g_daemonReady) {
        gResponderReady = 1;
    }
    WaitForSingleObject(g_daemonStop, INFINITE);
    gResponderRunning = 0;
    return 0;
}

int ResponderServiceStop()
{
    SetEvent(g_daemonStop);
    WaitFor([] { return gResponderRunning == 0; });
    gResponderReady = 0;
    return 0;
}

int ResponderServiceStopWithin(uint32_t /*graceMs*/)
{
    return ResponderServiceStop();
}

void ResponderSetDaemonPort(uint16_t /*port*/) {}

uint16_t ResponderDaemonPort()
{
    return DNSSD_DAEMON_PORT;
}

void* TrackedMemAlloc(size_t size)
{
    return malloc(size);
}

void* TrackedMemCalloc(size_t count, size_t size)
{
    return calloc(count, size);
}

void* TrackedMemRealloc(void* block, size_t size)
{
    return realloc(block, size);
}

void TrackedMemFree(void* block)
{
    free(block);
}

void TrackedMemFreeAll() {}

uint32_t TrackedMemBytes()
{
    return 0;
}

uint32_t TrackedMemBlocks()
{
    return 0;
}

void ResponderSetLogHook(ResponderLogHook /*hook*/) {}

void ResponderStartFailure(uint16_t* port, uint32_t* error)
{
    if (port != nullptr) {
        *port = 0;
    }
    if (error != nullptr) {
        *error = 0;
    }
}
