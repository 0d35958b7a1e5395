// Corvane::CStreamBrowser: finds Corvane and Zint sessions and hands them to the gateway.
//
// Mode "APPLE": browses the service-type enumeration through the in-process DNS-SD daemon; on every
// interface where "_rtsp" is announced it browses the two session subtypes, resolves each instance
// and looks up its host's IPv4 address. Every open request is served by its own CServiceThread, on
// which its reply callbacks run. Mode "DSA" polls the program's own engine instead (the engine
// steps below); with discovery off Init starts nothing else.
//
// Found and vanished instances reach the gateway only as delayed messages (add due in 1000 ms,
// remove due now) carrying a CStreamInfo.
//
// Threads: Init, OnTimer, Close and destruction on the GUI thread; the housekeeping thread stops
// and deletes finished service threads; reply callbacks on the service threads. Locks: the
// service-thread lock before the record lock; neither is held while a record's texts are read by
// the gateway (a record has its own text lock).
//
// Lifetimes (written down here only; the other discovery files point here):
// - Records are counted (CStreamInfo::AddRef/Release) and freed by whichever holder lets go last;
//   nobody deletes one. One reference each is held by: the list, while the record is listed; each
//   queued add or remove message; each gateway stream built from it; its creator, until its resolve
//   is queued; a resolve or lookup request while it waits in the start queue; the service thread of
//   a resolve or lookup (the record is its replies' context), with what that thread does when its
//   request is lost. A record taken out of the list (a remove, "_rtsp" leaving, Close) lives on
//   while any of them holds it. A record is read only under the record lock while it is listed, or
//   with a reference held (CStreamInfoRef); the "DSA" poll, the one thread that changes the list on
//   that road, reads its records unlocked.
// - The browser: reply callbacks and service threads reach it through one process-wide pointer, set
//   at construction, and only while they hold a CUse of it. The destructor first clears that pointer
//   (under its lock), then waits for the holds given out before, so nothing reaches a browser that
//   is going; workers still running then lose their owner pointer.
// - Service threads belong to the list and are deleted, by the housekeeping thread or Close, only
//   once their worker has ended (StopProcessingThread returned TRUE). A worker that does not stop
//   (held in a callback) goes back to the list for a later round; one left at Close keeps its object
//   and its record in the stuck list until the destructor stops it, or, if it still runs, leaves it
//   to the end of the process without owner and without a slot to give back.
// - From the start of Close nothing is opened any more (the start queue is closed, no re-check,
//   no lost request opened again) and every open request is done, so Close waits only for the
//   workers to end.
#pragma once

#include "afx/afxmt.h"
#include "afx/afxplatform.h"
#include "discovery/StreamInfo.h"
#include "discovery/StartQueue.h"
#include "discovery/WorkerThread.h"
#include "dnssd/dns_sd.h"
#include "foundation/MfxString.h"

#include <functional>
#include <string>
#include <vector>

class CCorvaneManager;
class CVelmoraManager;

namespace Corvane {

class CServiceThread;

class CStreamBrowser
{
public:
    static const ULONGLONG kAddDelay = 1000;
    static const DWORD kHousekeepingPeriod = 1000;
    static const int kCloseRounds = 50;
    static const DWORD kCloseSleep = 100;
    static const int kTypeLeftRounds = 50;
    static const DWORD kTypeLeftSleep = 100;
    // "APPLE" road: a resolved instance is resolved again this long after its last resolve, to follow
    // a sender that moved; at most kCheckParallel such resolves are open at once, each for at most
    // kCheckTimeLimit.
    static const ULONGLONG kCheckPeriod = 30000;
    static const int kCheckParallel = 4;
    static const ULONGLONG kCheckTimeLimit = 10000;
    // "APPLE" road: a resolve or address lookup (a re-check or not) that is not answered within
    // kCheckTimeLimit gives its place back, and the instance is tried again after a pause that starts
    // at kFirstRetryPause and doubles up to kLongestRetryPause while it stays unanswered.
    static const ULONGLONG kFirstRetryPause = 30000;
    static const ULONGLONG kLongestRetryPause = 600000;

    // A hold on the live browser for a reply callback or a service thread; any thread, may nest.
    class CUse
    {
    public:
        // The browser when `expected` is the live one; none when it is null or the browser is going.
        explicit CUse(const void* expected);
        ~CUse();
        CUse(const CUse&) = delete;
        CUse& operator=(const CUse&) = delete;
        CStreamBrowser* Get() const { return m_pBrowser; }

    private:
        CStreamBrowser* m_pBrowser = nullptr;
    };
    // Resolves and address lookups open at once; more wait their turn (BrowserRequests.cpp).
    static const size_t kMaxInstanceRequests = 32;

    // Registers the process-wide pointer; starts nothing.
    CStreamBrowser();
    // Withdraws the process-wide pointer and waits for the holds on it, then Close; the housekeeping
    // thread ends (lifetimes above).
    virtual ~CStreamBrowser();
    CStreamBrowser(const CStreamBrowser&) = delete;
    CStreamBrowser& operator=(const CStreamBrowser&) = delete;

    BOOL Init(CCorvaneManager* pOwner);
    // The gateway's 50 ms tick, while the discovery manager is initialised.
    void OnTimer();
    // Stops every request and takes every record out of the list; runs again harmlessly.
    void Close();

    // The gateway manager behind the owner, or null before Init.
    CVelmoraManager* GetManager() const;

    CStreamInfo* FindStreamInfo(CMfxString name, int interfaceIndex, DWORD sourceKind);
    BOOL RemoveStreamInfoByName(CMfxString name, int interfaceIndex, DWORD sourceKind);
    // Removes each record, going on after one that is no longer listed; the number removed.
    int RemoveStreamInfos(const std::vector<CStreamInfoRef>& records);
    // Takes the record out of the list and queues its remove message; TRUE when it was listed.
    BOOL RemoveStreamInfo(CStreamInfo* pStreamInfo);
    // Queues the add message of a listed record.
    BOOL AddStreamInfo(CStreamInfo* pStreamInfo);
    // Marks the service thread of that request done and wakes the housekeeping thread.
    BOOL SetServiceThreadDone(DNSServiceRef reference);
    // The daemon's end of the thread's request went away (on its worker): the thread is done, and a
    // request still wanted is opened again a second later (BrowserRequests.cpp).
    void OnRequestLost(CServiceThread& thread);
    // The caller holds the record lock.
    BOOL IsValidStreamInfo(CStreamInfo* pStreamInfo);

    // Cuts an RTSP URL into user, password, host, port (554 when none) and the rest behind them;
    // a malformed URL gets a log line and FALSE (see SplitRTSPAddress).
    static BOOL ParseRTSPAddress(CMfxString url, CMfxString& user, CMfxString& password, CMfxString& host,
                                 unsigned short& port, CMfxString& rest);

    // DNS-SD reply callbacks; each runs on the service thread of its request.
    static void DNSSD_API IterateServiceTypes(DNSServiceRef reference, DNSServiceFlags flags,
                                              uint32_t interfaceIndex, DNSServiceErrorType errorCode,
                                              const char* serviceName, const char* regtype,
                                              const char* replyDomain, void* context);
    static void DNSSD_API IterateCorvaneSessions(DNSServiceRef reference, DNSServiceFlags flags,
                                                 uint32_t interfaceIndex, DNSServiceErrorType errorCode,
                                                 const char* serviceName, const char* regtype,
                                                 const char* replyDomain, void* context);
    static void DNSSD_API IterateZintSessions(DNSServiceRef reference, DNSServiceFlags flags,
                                              uint32_t interfaceIndex, DNSServiceErrorType errorCode,
                                              const char* serviceName, const char* regtype,
                                              const char* replyDomain, void* context);
    static void DNSSD_API ResolveInstance(DNSServiceRef reference, DNSServiceFlags flags,
                                          uint32_t interfaceIndex, DNSServiceErrorType errorCode,
                                          const char* fullname, const char* hosttarget, uint16_t port,
                                          uint16_t txtLen, const unsigned char* txtRecord, void* context);
    static void DNSSD_API GetAddress(DNSServiceRef reference, DNSServiceFlags flags, uint32_t interfaceIndex,
                                     DNSServiceErrorType errorCode, const char* hostname,
                                     const struct sockaddr* address, uint32_t ttl, void* context);

    static UINT __cdecl ThreadEntry(LPVOID param);
    // The housekeeping thread.
    UINT ProcessingThread();
    // One housekeeping round's re-checks of resolved instances, ends of unanswered resolves and
    // lookups, and resolves tried again ("APPLE" road).
    void CheckLocations();

    CCorvaneManager* m_pOwner = nullptr;
    const char* const m_CorvaneSessionType = "_rtsp._tcp,_corvane_session";
    const char* const m_ZintSessionType = "_rtsp._tcp,_zint_session";
    CCriticalSection m_ServiceThreadsLock;
    std::vector<CServiceThread*> m_ServiceThreads; // owned, in creation order
    CCriticalSection m_StreamInfosLock;
    std::vector<CStreamInfo*> m_StreamInfos; // one reference each, in creation order
    // "DSA" engine state, used by the engine steps.
    int m_EngineStarted = 0;
    ULONGLONG m_LastEnginePoll = 0;
    CEvent m_WakeEvent;
    volatile LONG m_Run = 1;
    // Set as Close begins (under the service-thread lock): nothing is opened from then on, re-checks
    // included, and a request opened meanwhile is done at once.
    volatile LONG m_Closing = 0;
    // Close's wait for the housekeeping thread to reap the service threads (tests shorten it).
    int m_CloseRounds = kCloseRounds;
    // The starts of subtype browses, resolves and address lookups: each opens its request and its
    // service thread, at most kMaxInstanceRequests resolves and lookups at once, and a start that
    // failed is tried again a second later (BrowserRequests.cpp).
    CStartQueue m_RequestStarts{kMaxInstanceRequests, [this] { return RequestClock(); }};

private:
    void Log(DWORD mask, const wchar_t* format, ...);
    BOOL InitApple(unsigned short interfaceIndex);
    void StartServiceBrowse(DNSServiceFlags flags, uint32_t interfaceIndex, const char* serviceName);
    // Ends the subtype browses of an interface whose "_rtsp" type went away and removes the records
    // they found.
    void StopServiceBrowse(uint32_t interfaceIndex);
    // Opens a browse through the start queue; again: a lost or failed one, a second later, its trouble
    // logged already.
    void SubmitBrowse(uint32_t interfaceIndex, const char* regtype, DNSServiceBrowseReply callback,
                      const CMfxString& threadName, bool again = false);
    // What a browse's service thread does when its request is lost.
    std::function<void()> BrowseAgain(uint32_t interfaceIndex, const std::string& regtype,
                                      DNSServiceBrowseReply callback, const CMfxString& threadName);
    // The instance replies of both subtype browses.
    static void OnInstanceReply(void* context, DNSServiceRef reference, DNSServiceFlags flags,
                                uint32_t interfaceIndex, DNSServiceErrorType errorCode,
                                const char* serviceName, const char* regtype, const char* replyDomain,
                                DWORD sessionKind);
    // Whether the browse of that reference was opened again after its connection dropped.
    bool Replays(DNSServiceRef reference);
    void IterateServiceInstances(DNSServiceRef reference, DNSServiceFlags flags, uint32_t interfaceIndex,
                                 DNSServiceErrorType errorCode, const char* serviceName, const char* regtype,
                                 const char* replyDomain, DWORD sessionKind);
    void OnResolveReply(DNSServiceRef reference, DNSServiceFlags flags, uint32_t interfaceIndex,
                        DNSServiceErrorType errorCode, const char* fullname, const char* hosttarget,
                        uint16_t port, CStreamInfo* pStreamInfo);
    void OnAddressReply(DNSServiceRef reference, DNSServiceFlags flags, DNSServiceErrorType errorCode,
                        const char* hostname, const struct sockaddr* address, CStreamInfo* pStreamInfo);
    // The requests of m_RequestStarts (BrowserRequests.cpp): submitted by the reply callbacks, made
    // at once or when their turn comes.
    struct CRequest;
    ULONGLONG RequestClock();
    void SubmitRequest(CRequest* request, ULONGLONG delayMs = 0);
    void SubmitResolve(CStreamInfo* pStreamInfo, uint32_t interfaceIndex, const char* serviceName,
                       const char* regtype, const char* replyDomain);
    // Whether the daemon would refuse the call the same way again.
    static bool IsLastingError(DNSServiceErrorType error);
    void SubmitAddressLookup(CStreamInfo* pStreamInfo, DWORD sequenceNumber, uint32_t interfaceIndex,
                             const char* hosttarget, const CMfxString& name, int recordInterface);
    // Resolves a listed record again delayMs from now (0: at once), behind the instances not yet
    // tried: the housekeeping thread puts it back into the start queue once it is due. Takes the
    // record lock; any thread.
    void ResolveLater(CStreamInfo* pStreamInfo, ULONGLONG delayMs);
    // Submits the resolve of a record that is due to be tried again (housekeeping thread).
    void SubmitRetry(CStreamInfo* pStreamInfo);
    // A resolve or lookup of the record went unanswered: a record not resolved yet is resolved again
    // after its next pause, a resolved one re-checked after it; one log line when the record starts
    // going unanswered. A second call before that pause is over changes nothing.
    void GiveUpForNow(CStreamInfo* pStreamInfo);
    CStartQueue::Result StartRequest(CRequest& request);
    // Whether the record is still listed as the one of that sequence number (takes the record lock).
    bool IsListed(CStreamInfo* pStreamInfo, DWORD sequenceNumber);
    // Appends a new service thread for an open request (takes the service-thread lock), with the
    // record its request is about, if any.
    void AddServiceThread(const CMfxString& threadName, const CMfxString& instanceName, int interfaceIndex,
                          DNSServiceRef reference, CStreamInfo* record = nullptr,
                          std::function<void()> reopen = nullptr);
    int CountServiceThreads();

    // The "DSA" engine steps: start, once-a-second poll and stop of the program's own engine.
    BOOL InitEngine();
    void PollEngine();
    void StopEngine();

    CWorkerThread m_Housekeeping;
    // The holds (CUse) given out on this browser; under the process-wide pointer's lock.
    LONG m_Users = 0;
    // Service threads that did not stop at Close: deleted at destruction once they have ended.
    std::vector<CServiceThread*> m_StuckServiceThreads;
};

} // namespace Corvane
