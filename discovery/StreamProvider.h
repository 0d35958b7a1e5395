// Corvane::CStreamProvider: registers the gateway and its republished streams by DNS-SD.
//
// Mode "APPLE": Init registers the gateway itself as "Velmora (on <computer name>)" under four
// service types on port 8080; RegisterStream registers one stream as a unique service on the RTSP
// port; every registration is one DNS-SD reference kept with its socket until UnregisterStream or
// Exit deallocates it. A small thread reads the daemon's registration replies (renames show in the
// log). Mode "DSA" goes to the program's own engine (the engine steps below). With discovery off,
// or before Init ran (a failed chain), nothing is registered and every call returns FALSE.
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

class CCorvaneManager;
class CVelmoraManager;

namespace Corvane {

class CStreamProvider
{
public:
    // The gateway's own services are on this port whatever the RTSP port is.
    static const int kGatewayPort = 8080;
    static const DWORD kReplyPollPeriod = 100;

    CStreamProvider() = default;
    // Deallocates what is still registered.
    virtual ~CStreamProvider();
    CStreamProvider(const CStreamProvider&) = delete;
    CStreamProvider& operator=(const CStreamProvider&) = delete;

    // FALSE when one of the gateway's registrations failed (the others stay).
    BOOL Init(CCorvaneManager* pOwner, CMfxString label, CMfxString interfaceIP);
    // Registers one stream under its name; on success handle receives the registration.
    BOOL RegisterStream(DWORD& handle, int port, CMfxString interfaceIP, CMfxString name,
                        CMfxString serviceType);
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
};

} // namespace Corvane
