// Stand-in for the DNS-SD layer while it carries only its headers: no daemon ever becomes ready and
// every client call fails with "service not running".
#include "dnssd/dns_sd.h"
#include "dnssd/responder.h"

volatile long gResponderReady = 0;
volatile long gResponderRunning = 0;

int ResponderServiceMain(int /*argc*/, wchar_t* /*argv*/[])
{
    return 0;
}

int ResponderServiceStop()
{
    return 0;
}

void* TrackedMemAlloc(size_t /*size*/)
{
    return nullptr;
}

void* TrackedMemCalloc(size_t /*count*/, size_t /*size*/)
{
    return nullptr;
}

void* TrackedMemRealloc(void* /*block*/, size_t /*size*/)
{
    return nullptr;
}

void TrackedMemFree(void* /*block*/) {}

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

DNSServiceErrorType DNSSD_API DNSServiceBrowse(DNSServiceRef* /*sdRef*/, DNSServiceFlags /*flags*/,
                                               uint32_t /*interfaceIndex*/, const char* /*regtype*/,
                                               const char* /*domain*/, DNSServiceBrowseReply /*callBack*/,
                                               void* /*context*/)
{
    return kDNSServiceErr_ServiceNotRunning;
}

DNSServiceErrorType DNSSD_API DNSServiceResolve(DNSServiceRef* /*sdRef*/, DNSServiceFlags /*flags*/,
                                                uint32_t /*interfaceIndex*/, const char* /*name*/,
                                                const char* /*regtype*/, const char* /*domain*/,
                                                DNSServiceResolveReply /*callBack*/, void* /*context*/)
{
    return kDNSServiceErr_ServiceNotRunning;
}

DNSServiceErrorType DNSSD_API DNSServiceGetAddrInfo(DNSServiceRef* /*sdRef*/, DNSServiceFlags /*flags*/,
                                                    uint32_t /*interfaceIndex*/,
                                                    DNSServiceProtocol /*protocol*/, const char* /*hostname*/,
                                                    DNSServiceGetAddrInfoReply /*callBack*/,
                                                    void* /*context*/)
{
    return kDNSServiceErr_ServiceNotRunning;
}

DNSServiceErrorType DNSSD_API DNSServiceRegister(DNSServiceRef* /*sdRef*/, DNSServiceFlags /*flags*/,
                                                 uint32_t /*interfaceIndex*/, const char* /*name*/,
                                                 const char* /*regtype*/, const char* /*domain*/,
                                                 const char* /*host*/, uint16_t /*port*/, uint16_t /*txtLen*/,
                                                 const void* /*txtRecord*/,
                                                 DNSServiceRegisterReply /*callBack*/, void* /*context*/)
{
    return kDNSServiceErr_ServiceNotRunning;
}

dnssd_sock_t DNSSD_API DNSServiceRefSockFD(DNSServiceRef /*sdRef*/)
{
    return INVALID_SOCKET;
}

DNSServiceErrorType DNSSD_API DNSServiceProcessResult(DNSServiceRef /*sdRef*/)
{
    return kDNSServiceErr_ServiceNotRunning;
}

void DNSSD_API DNSServiceRefDeallocate(DNSServiceRef /*sdRef*/) {}
