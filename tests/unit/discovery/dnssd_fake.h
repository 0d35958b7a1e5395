// A DNS-SD client interface and daemon host in place of the real layer, for the discovery tests.
//
// Every reference is a real loopback socket pair: the code under test waits on its end, the test
// queues a reply and writes two bytes to the other end, and DNSServiceProcessResult (on whatever
// thread the code calls it, the service threads included) reads them in two pieces, waiting for
// them as the real call does, and runs the reply's callback. Closing the test's end makes every later
// DNSServiceProcessResult fail, as when the daemon has gone. Calls are recorded in order; the next call of a
// function can be made to fail.
#pragma once

#include "dnssd/dns_sd.h"

#include <functional>
#include <string>
#include <vector>

namespace dnssd_fake {

struct Call
{
    std::string function; // "Browse", "Resolve", "GetAddrInfo", "Register"
    DNSServiceRef reference;
    DNSServiceFlags flags;
    uint32_t interfaceIndex;
    std::string name;    // instance name (Resolve, Register) or host name (GetAddrInfo)
    std::string regtype; // service type (Browse, Resolve, Register)
    uint16_t port;       // Register, host order
    uint32_t protocol;   // GetAddrInfo
    void* context;
};

// Forgets every call and failure (references made earlier stay valid).
void Reset();
std::vector<Call> Calls();
// The last call of that function whose regtype (or, when regtype is empty, name) matches; null
// reference when there is none.
Call Find(const std::string& function, const std::string& regtypeOrName);
// The next call of the function returns the error instead of a reference.
void FailNext(const std::string& function, DNSServiceErrorType error);
// Calls of the function since Reset, failed ones included.
int Attempts(const std::string& function);

// Replies, queued on the reference and made readable.
void BrowseReply(DNSServiceRef reference, DNSServiceFlags flags, uint32_t interfaceIndex,
                 DNSServiceErrorType error, const char* name, const char* regtype, const char* domain);
void ResolveReply(DNSServiceRef reference, DNSServiceFlags flags, uint32_t interfaceIndex,
                  DNSServiceErrorType error, const char* fullname, const char* host, uint16_t port);
// address null for no address; family other than AF_INET gives an IPv6 address.
void AddressReply(DNSServiceRef reference, DNSServiceFlags flags, DNSServiceErrorType error, const char* host,
                  const char* ipv4, int family = AF_INET);
void RegisterReply(DNSServiceRef reference, DNSServiceFlags flags, DNSServiceErrorType error,
                   const char* name, const char* regtype);
// Any reply: runs on the thread that reads it.
void Reply(DNSServiceRef reference, std::function<void()> reply);
// The test's end goes away.
void ClosePeer(DNSServiceRef reference);

int ProcessCount(DNSServiceRef reference);
int DeallocateCount(DNSServiceRef reference);

// The daemon: ready or not when its service main runs; whether it runs now.
void SetDaemonReady(bool ready);

// Polls the condition every 5 ms for at most timeoutMs.
bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 5000);

} // namespace dnssd_fake
