// The stream browser's requests of the daemon that follow its replies: the subtype browses of an
// interface, the resolve of each instance and the address lookup of its host. Each opens a DNS-SD
// request and a service thread for it. They go through the browser's start queue: at most
// kMaxInstanceRequests resolves and lookups are open at once (lookups first, as they finish what a
// resolve began), the others wait their turn, and a start that failed because the daemon refused the
// call or no thread could be created is tried again a second later, with one log line. A call the
// daemon can never accept is given up. A request whose connection to the daemon drops while it is
// still wanted goes the same way a second later, with one log line: a browse (the type enumeration
// too) is opened again, and the instance of a resolve or lookup is resolved again.
#include "discovery/ServiceThread.h"
#include "discovery/StreamBrowser.h"
#include "discovery/StreamInfo.h"
#include "gateway/VelmoraManager.h"

#include <algorithm>
#include <string>

namespace Corvane {

struct CStreamBrowser::CRequest : CStartQueue::CJob
{
    enum Kind
    {
        kBrowse, // a subtype browse, or the type enumeration opened again
        kResolve,
        kAddressLookup
    };

    CRequest(CStreamBrowser* browser, Kind kind, const CMfxString& threadName)
        : CJob(browser, kind != kBrowse, kind == kAddressLookup), m_pBrowser(browser), m_Kind(kind),
          m_ThreadName(threadName)
    {
    }
    // A resolve or an address lookup of a listed record: `name` is what the call asks for.
    CRequest(CStreamBrowser* browser, Kind kind, const wchar_t* threadPrefix, CStreamInfo* record,
             DWORD sequenceNumber, const CMfxString& instanceName, int recordInterface,
             uint32_t interfaceIndex, const char* name)
        : CRequest(browser, kind, CMfxString(threadPrefix) + instanceName)
    {
        m_InterfaceIndex = interfaceIndex;
        m_Name = name;
        m_pRecord = record;
        m_Sequence = sequenceNumber;
        m_InstanceName = instanceName;
        m_ThreadInterface = recordInterface;
    }
    CStartQueue::Result Start() override { return m_pBrowser->StartRequest(*this); }

    CStreamBrowser* m_pBrowser;
    Kind m_Kind;
    CMfxString m_ThreadName;
    // The call's interface and texts, as the reply gave them.
    uint32_t m_InterfaceIndex = 0;
    std::string m_Name; // instance name (resolve) or host name (address lookup)
    std::string m_RegType;
    std::string m_Domain;
    DNSServiceBrowseReply m_BrowseReply = nullptr;
    // The record a resolve or lookup is for (lifetimes in StreamBrowser.h): the request is dropped
    // once it is no longer listed.
    CStreamInfoRef m_pRecord;
    DWORD m_Sequence = 0;
    // What the service thread carries.
    CMfxString m_InstanceName;
    int m_ThreadInterface = -1;
    // Whether a failed start has been logged already (or the drop that made it).
    bool m_Told = false;
    // A browse opened again after its connection dropped: the daemon reports its instances again.
    bool m_Replays = false;
};

namespace {

int ThreadId()
{
    return static_cast<int>(::GetCurrentThreadId());
}

// Errors of a call that would fail the same way again; anything else (the daemon not reachable or
// busy, out of memory) may pass.
bool IsLasting(DNSServiceErrorType error)
{
    switch (error) {
    case kDNSServiceErr_BadParam:
    case kDNSServiceErr_BadFlags:
    case kDNSServiceErr_BadInterfaceIndex:
    case kDNSServiceErr_Unsupported:
    case kDNSServiceErr_Invalid:
    case kDNSServiceErr_Incompatible:
        return true;
    default:
        return false;
    }
}

} // namespace

bool CStreamBrowser::IsLastingError(DNSServiceErrorType error)
{
    return IsLasting(error);
}

ULONGLONG CStreamBrowser::RequestClock()
{
    CVelmoraManager* manager = GetManager();
    return manager != nullptr ? manager->GetMilliSec() : ::GetTickCount64();
}

void CStreamBrowser::SubmitRequest(CRequest* request, ULONGLONG delayMs)
{
    // The pump that runs waiting and retried starts; started again if it could not be before.
    m_RequestStarts.StartPump();
    m_RequestStarts.Submit(request, delayMs);
}

void CStreamBrowser::SubmitBrowse(uint32_t interfaceIndex, const char* regtype,
                                  DNSServiceBrowseReply callback, const CMfxString& threadName, bool again)
{
    CRequest* request = new CRequest(this, CRequest::kBrowse, threadName);
    request->m_InterfaceIndex = interfaceIndex;
    request->m_RegType = regtype;
    request->m_BrowseReply = callback;
    request->m_Told = again;
    request->m_Replays = again;
    SubmitRequest(request, again ? CStartQueue::kRetryDelayMs : 0);
}

std::function<void()> CStreamBrowser::BrowseAgain(uint32_t interfaceIndex, const std::string& regtype,
                                                  DNSServiceBrowseReply callback,
                                                  const CMfxString& threadName)
{
    return [this, interfaceIndex, regtype, callback, threadName] {
        SubmitBrowse(interfaceIndex, regtype.c_str(), callback, threadName, true);
    };
}

void CStreamBrowser::SubmitResolve(CStreamInfo* pStreamInfo, uint32_t interfaceIndex, const char* serviceName,
                                   const char* regtype, const char* replyDomain)
{
    CRequest* request = new CRequest(this, CRequest::kResolve, L"ResolveInstance ", pStreamInfo,
                                     pStreamInfo->GetSequenceNumber(), pStreamInfo->GetName(),
                                     pStreamInfo->m_InterfaceIndex, interfaceIndex, serviceName);
    request->m_RegType = regtype;
    request->m_Domain = replyDomain;
    SubmitRequest(request);
}

void CStreamBrowser::OnRequestLost(CServiceThread& thread)
{
    {
        CSingleLock lock(&m_ServiceThreadsLock, TRUE);
        const bool wanted = !thread.m_Done && !m_Closing;
        thread.m_Done = 1;
        m_WakeEvent.SetEvent();
        if (!wanted || !thread.m_Reopen) {
            return;
        }
    }
    Log(kLogGlobal,
        L"CStreamBrowser::OnRequestLost( ThreadID = %d ) %s, connection to the daemon lost, "
        L"opening it again in 1 s",
        ThreadId(), thread.m_ThreadName.GetString());
    thread.m_Reopen();
}

void CStreamBrowser::SubmitAddressLookup(CStreamInfo* pStreamInfo, DWORD sequenceNumber,
                                         uint32_t interfaceIndex, const char* hosttarget,
                                         const CMfxString& name, int recordInterface)
{
    SubmitRequest(new CRequest(this, CRequest::kAddressLookup, L"GetAddress ", pStreamInfo, sequenceNumber,
                               name, recordInterface, interfaceIndex, hosttarget));
}

void CStreamBrowser::ResolveLater(CStreamInfo* pStreamInfo, ULONGLONG delayMs)
{
    {
        CSingleLock lock(&m_StreamInfosLock, TRUE);
        pStreamInfo->m_RetryDue = RequestClock() + delayMs;
        pStreamInfo->m_RetryWaiting = 1;
    }
    m_WakeEvent.SetEvent();
}

void CStreamBrowser::SubmitRetry(CStreamInfo* pStreamInfo)
{
    CRequest* request = nullptr;
    {
        CSingleLock lock(&m_StreamInfosLock, TRUE);
        const std::string wireName = pStreamInfo->GetWireName();
        if (wireName.empty() ||
            std::find(m_StreamInfos.begin(), m_StreamInfos.end(), pStreamInfo) == m_StreamInfos.end()) {
            return;
        }
        const uint32_t interfaceIndex = static_cast<uint32_t>(pStreamInfo->m_InterfaceIndex);
        request = new CRequest(this, CRequest::kResolve, L"ResolveInstance ", pStreamInfo,
                               pStreamInfo->GetSequenceNumber(), pStreamInfo->GetName(),
                               pStreamInfo->m_InterfaceIndex, interfaceIndex, wireName.c_str());
        CMfxString regtype = pStreamInfo->GetRegType(); // service types and domains are ASCII
        CMfxString domain = pStreamInfo->GetReplyDomain();
        request->m_RegType = regtype.GetAnsi();
        request->m_Domain = domain.GetAnsi();
    }
    m_RequestStarts.StartPump();
    m_RequestStarts.SubmitLater(request, 0);
}

void CStreamBrowser::GiveUpForNow(CStreamInfo* pStreamInfo)
{
    const ULONGLONG now = RequestClock();
    ULONGLONG pause = 0;
    CMfxString name;
    {
        CSingleLock lock(&m_StreamInfosLock, TRUE);
        if (std::find(m_StreamInfos.begin(), m_StreamInfos.end(), pStreamInfo) == m_StreamInfos.end() ||
            pStreamInfo->m_RetryDue > now) {
            return;
        }
        const bool first = pStreamInfo->m_RetryPause == 0;
        pause = first ? kFirstRetryPause : std::min(2 * pStreamInfo->m_RetryPause, kLongestRetryPause);
        pStreamInfo->m_RetryPause = pause;
        pStreamInfo->m_RetryDue = now + pause;
        if (pStreamInfo->m_Resolved) {
            pStreamInfo->m_NextCheck = now + pause;
        } else {
            pStreamInfo->m_RetryWaiting = 1;
        }
        if (first) {
            name = pStreamInfo->GetName();
        }
    }
    if (!name.IsEmpty()) {
        Log(kLogGlobal,
            L"CStreamBrowser::GiveUpForNow( ThreadID = %d ) stream %s is not answered, tried again in %d s "
            L"and "
            L"less often while it stays silent",
            ThreadId(), name.GetString(), static_cast<int>(pause / 1000));
    }
}

bool CStreamBrowser::IsListed(CStreamInfo* pStreamInfo, DWORD sequenceNumber)
{
    CSingleLock lock(&m_StreamInfosLock, TRUE);
    return std::find(m_StreamInfos.begin(), m_StreamInfos.end(), pStreamInfo) != m_StreamInfos.end() &&
           pStreamInfo->GetSequenceNumber() == sequenceNumber;
}

CStartQueue::Result CStreamBrowser::StartRequest(CRequest& request)
{
    if (request.m_pRecord != nullptr && !IsListed(request.m_pRecord, request.m_Sequence)) {
        return CStartQueue::kDropped;
    }
    if (request.m_Kind == CRequest::kBrowse) {
        CSingleLock lock(&m_ServiceThreadsLock, TRUE);
        if (std::any_of(m_ServiceThreads.begin(), m_ServiceThreads.end(), [&](const CServiceThread* thread) {
                return !thread->m_Done && thread->m_ThreadName == request.m_ThreadName;
            })) {
            return CStartQueue::kDropped;
        }
    }
    DNSServiceRef reference = nullptr;
    DNSServiceErrorType error = kDNSServiceErr_NoError;
    const wchar_t* call = L"";
    switch (request.m_Kind) {
    case CRequest::kBrowse:
        call = L"DNSServiceBrowse";
        error = DNSServiceBrowse(&reference, 0, request.m_InterfaceIndex, request.m_RegType.c_str(), "",
                                 request.m_BrowseReply, this);
        break;
    case CRequest::kResolve:
        call = L"DNSServiceResolve";
        error = DNSServiceResolve(&reference, 0, request.m_InterfaceIndex, request.m_Name.c_str(),
                                  request.m_RegType.c_str(), request.m_Domain.c_str(),
                                  &CStreamBrowser::ResolveInstance, request.m_pRecord);
        break;
    case CRequest::kAddressLookup:
        call = L"DNSServiceGetAddrInfo";
        error = DNSServiceGetAddrInfo(&reference, kDNSServiceFlagsTimeout, request.m_InterfaceIndex,
                                      kDNSServiceProtocol_IPv4, request.m_Name.c_str(),
                                      &CStreamBrowser::GetAddress, request.m_pRecord);
        break;
    }
    if (error != kDNSServiceErr_NoError) {
        if (IsLasting(error)) {
            Log(kLogGlobal, L"CStreamBrowser::StartRequest( ThreadID = %d ) %s, %s = %d, given up",
                ThreadId(), request.m_ThreadName.GetString(), call, static_cast<int>(error));
            if (request.m_Kind == CRequest::kResolve) {
                // Without its resolve the instance would stay without an address: it goes.
                RemoveStreamInfo(request.m_pRecord);
            }
            return CStartQueue::kDropped;
        }
        if (!request.m_Told) {
            request.m_Told = true;
            Log(kLogGlobal, L"CStreamBrowser::StartRequest( ThreadID = %d ) %s, %s = %d, trying again in 1 s",
                ThreadId(), request.m_ThreadName.GetString(), call, static_cast<int>(error));
        }
        return CStartQueue::kRetry;
    }
    CSingleLock threadsLock(&m_ServiceThreadsLock, TRUE);
    CServiceThread* thread = new CServiceThread(this, request.m_ThreadName, request.m_InstanceName,
                                                request.m_ThreadInterface, reference);
    if (!thread->IsStarted()) {
        // Its reference has been given back with it.
        delete thread;
        threadsLock.Unlock();
        if (!request.m_Told) {
            request.m_Told = true;
            Log(kLogGlobal,
                L"CStreamBrowser::StartRequest( ThreadID = %d ) %s, start thread failed, trying again in 1 s",
                ThreadId(), request.m_ThreadName.GetString());
        }
        return CStartQueue::kRetry;
    }
    if (request.TakesSlot()) {
        thread->m_pSlots = &m_RequestStarts;
        thread->m_Opened = RequestClock();
    }
    thread->m_Record = request.m_pRecord;
    if (request.m_Kind == CRequest::kBrowse) {
        thread->m_Reopen = BrowseAgain(request.m_InterfaceIndex, request.m_RegType, request.m_BrowseReply,
                                       request.m_ThreadName);
        thread->m_Replays = request.m_Replays;
    } else {
        // A lookup lost goes back to the resolve: its host may have changed meanwhile.
        thread->m_Reopen = [this, record = request.m_pRecord] {
            ResolveLater(record, CStartQueue::kRetryDelayMs);
        };
    }
    m_ServiceThreads.push_back(thread);
    if (request.m_pRecord != nullptr && !IsListed(request.m_pRecord, request.m_Sequence)) {
        // Its instance went while the call was made: the remove did not see this thread.
        thread->m_Done = 1;
        m_WakeEvent.SetEvent();
    }
    if (request.m_Kind == CRequest::kAddressLookup) {
        Log(kLogDebug,
            L"CStreamBrowser::ResolveInstance( ThreadID = %d ) DNSServiceGetAddrInfo() added, %d service "
            L"threads "
            L"running",
            ThreadId(), static_cast<int>(m_ServiceThreads.size()));
    }
    return CStartQueue::kStarted;
}

} // namespace Corvane
