// Corvane::CStreamProvider: registers the gateway and its republished streams by DNS-SD.
//
// Mode "APPLE": Init registers the gateway itself as "Velmora (on <computer name>)" under four
// service types on port 8080; RegisterStream registers one stream as a unique service on the RTSP
// port; every registration is one DNS-SD reference kept with its socket until UnregisterStream or
// Exit deallocates it. A small thread reads the daemon's registration replies: a registration
// renamed after a conflict is logged with both names and its name is known (GetRegisteredName).
// A gateway registration the daemon refused or was too busy for is tried again by that thread once a
// second. Names go out as UTF-8 (RFC 6763 section 4.1.1). Mode "DSA" goes to the program's own engine (the
// engine steps below). With discovery off, or before Init ran (a failed chain), nothing is registered and
// every call returns FALSE.
//
// Init, RegisterStream, UnregisterStream and Exit run on the GUI thread; the reply thread shares the
// registrations with them under m_RegistrationsLock.
#pragma once

#include "afx/afxmt.h"
#include "afx/afxplatform.h"
#include "discovery/WorkerThread.h"
#include "dnssd/dns_sd.h"
#include "foundation/MfxString.h"

#include <unordered_map>
#include <unordered_set>
#include <vector>

class CCorvaneManager;
class CVelmoraManager;

namespace Corvane {

class CStreamProvider
{
public:
    // The gateway's own services are on this port whatever the RTSP port is.
    static const int kGatewayPort = 8080;
    static const DWORD kReplyPollPeriod = 100;
    // A gateway registration that failed is tried again this long after.
    static const ULONGLONG kRegisterRetryPeriod = 1000;

    CStreamProvider() = default;
    // Deallocates what is still registered.
    virtual ~CStreamProvider();
    CStreamProvider(const CStreamProvider&) = delete;
    CStreamProvider& operator=(const CStreamProvider&) = delete;

    // FALSE when one of the gateway's registrations failed (the others stay).
    BOOL Init(CCorvaneManager* pOwner, CMfxString label, CMfxString interfaceIP);
    // Registers one stream under its name; on success handle receives the registration. On failure
    // `failure` (when given) says why, and stays empty when nothing is to be registered at all
    // (discovery off or not started).
    BOOL RegisterStream(DWORD& handle, int port, CMfxString interfaceIP, CMfxString name,
                        CMfxString serviceType, CMfxString* failure = nullptr);
    // The name a registration has now: "APPLE": the name asked for until the daemon's reply tells
    // another (a rename after a conflict); "DSA": the name as the engine announces it (cut to its
    // length). Empty for a handle that is no open registration.
    CMfxString GetRegisteredName(DWORD handle);
    // TRUE when the handle was registered and is now withdrawn.
    BOOL UnregisterStream(DWORD handle);
    // Withdraws every registration still open (the discovery manager's exit).
    void Exit();
    // A Global log line through the gateway manager; FALSE when there is none.
    BOOL Log(CMfxString text);

    static void DNSSD_API DNSServiceRegisterReply(DNSServiceRef reference, DNSServiceFlags flags,
                                                  DNSServiceErrorType errorCode, const char* name,
                                                  const char* regtype, const char* domain, void* context);
    static UINT __cdecl ReplyThreadEntry(LPVOID param);

    CCorvaneManager* m_pOwner = nullptr;
    int m_BonjourInterfaceIndex = 0;
    CMfxString m_ComputerName;
    CMfxString m_ServiceName;
    CCriticalSection m_RegistrationsLock;
    // Every open registration with its socket.
    std::unordered_map<DNSServiceRef, SOCKET> m_Registrations;

private:
    CVelmoraManager* GetManager() const;
    void LogDebug(const wchar_t* format, ...);
    // One DNS-SD registration without TXT record; the reference is kept on success.
    DNSServiceErrorType RegisterApple(DNSServiceRef& reference, DNSServiceFlags flags, int interfaceIndex,
                                      CMfxString name, CMfxString serviceType, int port);
    void ReadReplies();
    void OnRegisterReply(DNSServiceRef reference, DNSServiceFlags flags, DNSServiceErrorType errorCode,
                         const char* name);
    // The reply thread's retry of the gateway registrations that failed.
    void RetryGatewayRegistrations();
    void StopReplyThread();
    // The "DSA" engine steps: registration of a stream with the program's own engine.
    BOOL RegisterEngineStream(DWORD& handle, int port, int interfaceIndex, CMfxString name,
                              CMfxString serviceType);
    BOOL UnregisterEngineStream(DWORD handle);

    // Every "DSA" registration: engine handle -> engine device it was made on.
    std::unordered_map<uint8_t, uint8_t> m_EngineRegistrations;
    CWorkerThread m_ReplyThread;
    CEvent m_ReplyWake;
    volatile LONG m_ReplyRun = 0;
    // Registrations whose socket failed (the daemon is gone): not read again. Under the lock.
    std::unordered_set<DNSServiceRef> m_BrokenReplies;
    // Every open "APPLE" registration's name: as asked for, and as the daemon last reported it.
    // Under the lock.
    struct CNames
    {
        CMfxString requested;
        CMfxString registered;
    };
    std::unordered_map<DNSServiceRef, CNames> m_Names;
    // Every "DSA" registration's name as the engine announces it. Under the lock.
    std::unordered_map<DWORD, CMfxString> m_EngineNames;
    // Gateway service types whose registration failed, and the earliest time of the next try (the
    // manager's clock). Under the lock.
    std::vector<const wchar_t*> m_FailedGatewayTypes;
    ULONGLONG m_NextGatewayRetry = 0;
};

} // namespace Corvane
