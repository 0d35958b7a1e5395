// DNS-SD client interface: the calls, flags, error codes and reply types of the standard
// DNS-SD API that the gateway uses.
//
// Every DNSServiceRef is one TCP connection to the in-process daemon on 127.0.0.1:5356. A call
// returns the daemon's status and sets *sdRef only on success. Replies are read one at a time by
// DNSServiceProcessResult on the caller's thread, which runs the reply's callback there; the
// socket of DNSServiceRefSockFD becomes readable once per queued reply. ProcessResult reads exactly
// one reply (waiting for the rest of one that has begun to arrive); with no reply queued it returns
// kDNSServiceErr_NoError at once without a callback, and on a broken connection
// kDNSServiceErr_ServiceNotRunning without a callback.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <stdint.h>

#define DNSSD_API __stdcall

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _DNSServiceRef_t* DNSServiceRef;
typedef uint32_t DNSServiceFlags;
typedef uint32_t DNSServiceProtocol;
typedef int32_t DNSServiceErrorType;
typedef SOCKET dnssd_sock_t;

enum
{
    kDNSServiceFlagsMoreComing = 0x1,
    kDNSServiceFlagsAdd = 0x2,
    kDNSServiceFlagsDefault = 0x4,
    kDNSServiceFlagsNoAutoRename = 0x8,
    kDNSServiceFlagsShared = 0x10,
    kDNSServiceFlagsUnique = 0x20,
    kDNSServiceFlagsTimeout = 0x10000
};

enum
{
    kDNSServiceProtocol_IPv4 = 0x01,
    kDNSServiceProtocol_IPv6 = 0x02
};

#define kDNSServiceInterfaceIndexAny 0

enum
{
    kDNSServiceErr_NoError = 0,
    kDNSServiceErr_Unknown = -65537,
    kDNSServiceErr_NoSuchName = -65538,
    kDNSServiceErr_NoMemory = -65539,
    kDNSServiceErr_BadParam = -65540,
    kDNSServiceErr_BadReference = -65541,
    kDNSServiceErr_BadState = -65542,
    kDNSServiceErr_BadFlags = -65543,
    kDNSServiceErr_Unsupported = -65544,
    kDNSServiceErr_NotInitialized = -65545,
    kDNSServiceErr_AlreadyRegistered = -65547,
    kDNSServiceErr_NameConflict = -65548,
    kDNSServiceErr_Invalid = -65549,
    kDNSServiceErr_Incompatible = -65551,
    kDNSServiceErr_BadInterfaceIndex = -65552,
    kDNSServiceErr_Refused = -65553,
    kDNSServiceErr_NoSuchRecord = -65554,
    kDNSServiceErr_ServiceNotRunning = -65563,
    kDNSServiceErr_Timeout = -65568
};

typedef void(DNSSD_API* DNSServiceBrowseReply)(DNSServiceRef sdRef, DNSServiceFlags flags,
                                               uint32_t interfaceIndex, DNSServiceErrorType errorCode,
                                               const char* serviceName, const char* regtype,
                                               const char* replyDomain, void* context);

// port is in network byte order.
typedef void(DNSSD_API* DNSServiceResolveReply)(DNSServiceRef sdRef, DNSServiceFlags flags,
                                                uint32_t interfaceIndex, DNSServiceErrorType errorCode,
                                                const char* fullname, const char* hosttarget, uint16_t port,
                                                uint16_t txtLen, const unsigned char* txtRecord,
                                                void* context);

typedef void(DNSSD_API* DNSServiceGetAddrInfoReply)(DNSServiceRef sdRef, DNSServiceFlags flags,
                                                    uint32_t interfaceIndex, DNSServiceErrorType errorCode,
                                                    const char* hostname, const struct sockaddr* address,
                                                    uint32_t ttl, void* context);

typedef void(DNSSD_API* DNSServiceRegisterReply)(DNSServiceRef sdRef, DNSServiceFlags flags,
                                                 DNSServiceErrorType errorCode, const char* name,
                                                 const char* regtype, const char* domain, void* context);

// regtype "_rtsp._tcp" browses a type, "_rtsp._tcp,_corvane_session" one of its subtypes, and
// "_services._dns-sd._udp" enumerates the service types.
DNSServiceErrorType DNSSD_API DNSServiceBrowse(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                               uint32_t interfaceIndex, const char* regtype,
                                               const char* domain, DNSServiceBrowseReply callBack,
                                               void* context);

DNSServiceErrorType DNSSD_API DNSServiceResolve(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                                uint32_t interfaceIndex, const char* name,
                                                const char* regtype, const char* domain,
                                                DNSServiceResolveReply callBack, void* context);

DNSServiceErrorType DNSSD_API DNSServiceGetAddrInfo(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                                    uint32_t interfaceIndex, DNSServiceProtocol protocol,
                                                    const char* hostname, DNSServiceGetAddrInfoReply callBack,
                                                    void* context);

// port in network byte order; regtype may name subtypes after a comma.
DNSServiceErrorType DNSSD_API DNSServiceRegister(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                                 uint32_t interfaceIndex, const char* name,
                                                 const char* regtype, const char* domain, const char* host,
                                                 uint16_t port, uint16_t txtLen, const void* txtRecord,
                                                 DNSServiceRegisterReply callBack, void* context);

dnssd_sock_t DNSSD_API DNSServiceRefSockFD(DNSServiceRef sdRef);
DNSServiceErrorType DNSSD_API DNSServiceProcessResult(DNSServiceRef sdRef);
void DNSSD_API DNSServiceRefDeallocate(DNSServiceRef sdRef);

#ifdef __cplusplus
}
#endif
