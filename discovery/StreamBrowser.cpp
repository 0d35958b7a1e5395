#include "discovery/StreamBrowser.h"

#include "discovery/CorvaneManager.h"
#include "discovery/ServiceThread.h"
#include "discovery/StreamInfo.h"
#include "foundation/NetworkInterfaces.h"
#include "gateway/DelayedMessage.h"
#include "gateway/VelmoraManager.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace Corvane {

namespace {

// The one browser of the process, for the reply callbacks and the service threads; its lock also
// guards every browser's count of holds.
CCriticalSection g_StreamBrowserLock;
CStreamBrowser* g_pStreamBrowser = nullptr;

const wchar_t kThreadNameTypes[] = L"IterateServiceTypes";
const char kTypesType[] = "_services._dns-sd._udp";
const wchar_t kThreadNameZint[] = L"IterateServiceInstances ZintSession on interface %d";
const wchar_t kThreadNameCorvane[] = L"IterateServiceInstances CorvaneSession on interface %d";

unsigned int PointerText(const void* pointer)
{
    return static_cast<unsigned int>(reinterpret_cast<std::uintptr_t>(pointer));
}

int ThreadId()
{
    return static_cast<int>(::GetCurrentThreadId());
}

// A name of a reply as the log shows it: nothing for a null text or for an error reply, whose texts
// are not to be trusted.
const char* ReplyText(DNSServiceErrorType errorCode, const char* text)
{
    return errorCode != kDNSServiceErr_NoError || text == nullptr ? "" : text;
}

CMfxString ThreadName(const wchar_t* format, uint32_t interfaceIndex)
{
    CMfxString name;
    name.Format(format, static_cast<int>(interfaceIndex));
    return name;
}

// The browser a reply about a record is for: the record's owner (the request's service thread holds
// the record; lifetimes in StreamBrowser.h).
const void* OwnerOf(void* record)
{
    return record != nullptr ? static_cast<CStreamInfo*>(record)->GetOwner() : nullptr;
}

} // namespace

CStreamBrowser::CUse::CUse(const void* expected)
{
    CSingleLock lock(&g_StreamBrowserLock, TRUE);
    if (expected != nullptr && expected == g_pStreamBrowser) {
        m_pBrowser = g_pStreamBrowser;
        ++m_pBrowser->m_Users;
    }
}

CStreamBrowser::CUse::~CUse()
{
    if (m_pBrowser != nullptr) {
        CSingleLock lock(&g_StreamBrowserLock, TRUE);
        --m_pBrowser->m_Users;
    }
}

CStreamBrowser::CStreamBrowser()
{
    CSingleLock lock(&g_StreamBrowserLock, TRUE);
    g_pStreamBrowser = this;
}

CStreamBrowser::~CStreamBrowser()
{
    // No callback or worker reaches the browser from here on; those that hold it now finish first
    // (lifetimes in StreamBrowser.h). Every wait of theirs is bounded.
    {
        CSingleLock lock(&g_StreamBrowserLock, TRUE);
        if (g_pStreamBrowser == this) {
            g_pStreamBrowser = nullptr;
        }
    }
    for (;;) {
        {
            CSingleLock lock(&g_StreamBrowserLock, TRUE);
            if (m_Users == 0) {
                break;
            }
        }
        ::SleepEx(5, TRUE);
    }
    {
        CSingleLock lock(&m_ServiceThreadsLock, TRUE);
        for (CServiceThread* thread : m_ServiceThreads) {
            thread->m_pOwner = nullptr;
        }
        for (CServiceThread* thread : m_StuckServiceThreads) {
            thread->m_pOwner = nullptr;
        }
    }
    Close();
    m_Run = 0;
    if (!m_Housekeeping.IsWorker() &&
        !m_Housekeeping.WaitForEnd(1001, 5, [this] { m_WakeEvent.SetEvent(); })) {
        Log(kLogDebug, L"CStreamBrowser::~CStreamBrowser() stop processing thread %d failed\n",
            static_cast<int>(m_Housekeeping.GetThreadId()));
        // Every wait of the housekeeping thread is bounded: its lists stay until it has ended.
        m_Housekeeping.Join();
    }
    // The stuck workers (lifetimes in StreamBrowser.h). The list may hold one too: the one the
    // housekeeping thread failed to stop and put back while Close ran.
    m_StuckServiceThreads.insert(m_StuckServiceThreads.end(), m_ServiceThreads.begin(),
                                 m_ServiceThreads.end());
    m_ServiceThreads.clear();
    for (CServiceThread* thread : m_StuckServiceThreads) {
        thread->m_pOwner = nullptr;
        if (thread->StopProcessingThread()) {
            delete thread;
        } else {
            // Its slot belongs to the browser's start queue, which goes with the browser.
            thread->m_pSlots = nullptr;
        }
    }
    m_StuckServiceThreads.clear();
}

CVelmoraManager* CStreamBrowser::GetManager() const
{
    return m_pOwner != nullptr ? m_pOwner->m_pOwner : nullptr;
}

void CStreamBrowser::Log(DWORD mask, const wchar_t* format, ...)
{
    CVelmoraManager* manager = GetManager();
    if (manager == nullptr) {
        return;
    }
    va_list args;
    va_start(args, format);
    manager->WriteLogFile(mask, format, args);
    va_end(args);
}

// --- Start, tick and end ---------------------------------------------------------------------

BOOL CStreamBrowser::Init(CCorvaneManager* pOwner)
{
    m_pOwner = pOwner;
    CVelmoraManager* manager = GetManager();
    if (!m_Housekeeping.Start(&CStreamBrowser::ThreadEntry, this)) {
        Log(kLogGlobal, L"CStreamBrowser::Init() start housekeeping thread failed");
        return FALSE;
    }
    const CMfxString interfaceIP = manager->GetInterfaceIP();
    if (manager->m_BonjourMode == L"APPLE") {
        // No interface of that address reads as index 65535, which the daemon refuses.
        return InitApple(static_cast<unsigned short>(GetInterfaceIndex(interfaceIP)));
    }
    if (manager->m_BonjourMode == L"DSA") {
        return InitEngine();
    }
    Log(kLogDebug, L"CStreamBrowser::Init() Bonjour is disabled, no service browser has been started");
    return TRUE;
}

BOOL CStreamBrowser::InitApple(unsigned short interfaceIndex)
{
    DNSServiceRef reference = nullptr;
    const DNSServiceErrorType result = DNSServiceBrowse(&reference, 0, interfaceIndex, kTypesType, "",
                                                        &CStreamBrowser::IterateServiceTypes, this);
    std::function<void()> again =
        BrowseAgain(interfaceIndex, kTypesType, &CStreamBrowser::IterateServiceTypes, kThreadNameTypes);
    if (result != kDNSServiceErr_NoError) {
        if (IsLastingError(result)) {
            Log(kLogDebug, L"CStreamBrowser::Init() errTypes = %d", static_cast<int>(result));
            return FALSE;
        }
        // The daemon is busy or not yet there: browsing starts once it answers.
        Log(kLogGlobal, L"CStreamBrowser::Init() errTypes = %d, trying again in 1 s",
            static_cast<int>(result));
        again();
        return TRUE;
    }
    AddServiceThread(kThreadNameTypes, CMfxString(), -1, reference, nullptr, std::move(again));
    return TRUE;
}

void CStreamBrowser::OnTimer()
{
    CVelmoraManager* manager = GetManager();
    if (manager != nullptr && manager->m_BonjourMode == L"DSA") {
        PollEngine();
    }
}

void CStreamBrowser::Close()
{
    if (GetManager() == nullptr) {
        return;
    }
    Log(kLogDebug, L"CStreamBrowser::Close( ThreadID = %d )", ThreadId());
    // Nothing more is opened: what waits is dropped, a start under way ends first.
    m_RequestStarts.Close();
    int running = 0;
    {
        CSingleLock lock(&m_ServiceThreadsLock, TRUE);
        m_Closing = 1;
        for (CServiceThread* thread : m_ServiceThreads) {
            thread->m_Done = 1;
        }
        running = static_cast<int>(m_ServiceThreads.size());
    }
    for (int round = 0; round < m_CloseRounds && running > 0; ++round) {
        Log(kLogDebug,
            L"CStreamBrowser::Close( ThreadID = %d ) NbServiceThreadsRunning = %d, NbWaitLoops = %d",
            ThreadId(), running, round);
        m_WakeEvent.SetEvent();
        ::SleepEx(kCloseSleep, TRUE);
        running = CountServiceThreads();
    }
    // What the housekeeping thread did not reap in time is stopped here; a worker that does not end
    // keeps its object.
    std::vector<CServiceThread*> left;
    {
        CSingleLock lock(&m_ServiceThreadsLock, TRUE);
        left.swap(m_ServiceThreads);
    }
    for (auto it = left.rbegin(); it != left.rend(); ++it) {
        if ((*it)->StopProcessingThread()) {
            delete *it;
        } else {
            Log(kLogGlobal, L"CStreamBrowser::Close( ThreadID = %d ) %s still running, kept until it ends",
                ThreadId(), (*it)->m_ThreadName.GetString());
            CSingleLock lock(&m_ServiceThreadsLock, TRUE);
            m_StuckServiceThreads.push_back(*it);
        }
    }
    {
        // The gateway's streams and queued messages hold their own references to these records.
        std::vector<CStreamInfo*> listed;
        {
            CSingleLock lock(&m_StreamInfosLock, TRUE);
            listed.swap(m_StreamInfos);
        }
        for (auto it = listed.rbegin(); it != listed.rend(); ++it) {
            (*it)->Release();
        }
    }
    if (m_EngineStarted) {
        StopEngine();
    }
    Log(kLogDebug, L"CStreamBrowser::Close( ThreadID = %d ) done", ThreadId());
}

int CStreamBrowser::CountServiceThreads()
{
    CSingleLock lock(&m_ServiceThreadsLock, TRUE);
    return static_cast<int>(m_ServiceThreads.size());
}

void CStreamBrowser::AddServiceThread(const CMfxString& threadName, const CMfxString& instanceName,
                                      int interfaceIndex, DNSServiceRef reference, CStreamInfo* record,
                                      std::function<void()> reopen)
{
    CSingleLock lock(&m_ServiceThreadsLock, TRUE);
    CServiceThread* thread = new CServiceThread(this, threadName, instanceName, interfaceIndex, reference);
    if (!thread->IsStarted()) {
        Log(kLogGlobal, L"CServiceThread::CServiceThread() %s, start thread failed\n",
            threadName.GetString());
    }
    thread->m_Record = record;
    thread->m_Reopen = std::move(reopen);
    if (m_Closing) {
        thread->m_Done = 1; // a re-check that was being opened as Close began
    }
    m_ServiceThreads.push_back(thread);
}

// --- Housekeeping --------------------------------------------------------------------------------

UINT __cdecl CStreamBrowser::ThreadEntry(LPVOID param)
{
    return param == nullptr ? 0 : static_cast<CStreamBrowser*>(param)->ProcessingThread();
}

UINT CStreamBrowser::ProcessingThread()
{
    Log(kLogDebug, L"CStreamBrowser::ProcessingThread() started");
    while (m_Run) {
        ::WaitForSingleObject(m_WakeEvent, kHousekeepingPeriod);
        if (!m_Run) {
            break;
        }
        int done = 0;
        {
            CSingleLock lock(&m_ServiceThreadsLock, TRUE);
            for (CServiceThread* thread : m_ServiceThreads) {
                done += thread->m_Done ? 1 : 0;
            }
        }
        for (int i = 0; i < done && m_Run; ++i) {
            CServiceThread* thread = nullptr;
            int left = 0;
            {
                CSingleLock lock(&m_ServiceThreadsLock, TRUE);
                for (auto it = m_ServiceThreads.begin(); it != m_ServiceThreads.end(); ++it) {
                    if ((*it)->m_Done) {
                        thread = *it;
                        m_ServiceThreads.erase(it);
                        break;
                    }
                }
                left = static_cast<int>(m_ServiceThreads.size());
            }
            if (thread == nullptr) {
                break;
            }
            if (thread->StopProcessingThread()) {
                Log(kLogDebug,
                    L"CStreamBrowser::ProcessingThread() StopProcessingThread = 0x%08x OK, %d threads "
                    L"running",
                    PointerText(thread), left);
                delete thread;
            } else {
                Log(kLogDebug,
                    L"CStreamBrowser::ProcessingThread() StopProcessingThread = 0x%08x failed, %d threads "
                    L"running",
                    PointerText(thread), left);
                CSingleLock lock(&m_ServiceThreadsLock, TRUE);
                m_ServiceThreads.push_back(thread);
            }
        }
        if (m_Run) {
            CheckLocations();
        }
    }
    Log(kLogDebug, L"CStreamBrowser::ProcessingThread() finished");
    return 0;
}

// A sender that moves (a new address lease, a restart on another port) announces its new SRV or A
// record but no new instance: the browse tells nothing, so each resolved instance is resolved again
// now and then, the one waiting longest first. The replies take the usual way (OnResolveReply,
// OnAddressReply), where a new port or address counts as a move of the record. The same round ends
// every resolve and lookup left unanswered past kCheckTimeLimit (its place in the start queue goes
// back) and submits the resolves of instances whose pause after going unanswered is over.
void CStreamBrowser::CheckLocations()
{
    CVelmoraManager* manager = GetManager();
    if (manager == nullptr || manager->m_BonjourMode != L"APPLE" || m_Closing) {
        return;
    }
    const ULONGLONG now = manager->GetMilliSec();
    int open = 0;
    std::vector<CStreamInfoRef> unanswered;
    {
        CSingleLock lock(&m_ServiceThreadsLock, TRUE);
        for (CServiceThread* thread : m_ServiceThreads) {
            if (thread->m_Record == nullptr || thread->m_Done) { // a browse stays open
                continue;
            }
            if (now > thread->m_Opened + kCheckTimeLimit) {
                thread->m_Done = 1; // no answer: reaped next round, its place given back
                m_WakeEvent.SetEvent();
                unanswered.emplace_back(thread->m_Record.get());
            } else if (thread->m_CheckStarted != 0) {
                ++open;
            }
        }
    }
    for (const CStreamInfoRef& record : unanswered) {
        GiveUpForNow(record);
    }
    std::vector<CStreamInfoRef> retries;
    std::vector<CStreamInfoRef> due;
    {
        // The records waiting longest go first, so that every record gets its turn in a round
        // however many there are.
        std::vector<CStreamInfo*> overdue;
        CSingleLock lock(&m_StreamInfosLock, TRUE);
        for (CStreamInfo* record : m_StreamInfos) {
            if (record->m_RetryWaiting && record->m_RetryDue <= now) {
                record->m_RetryWaiting = 0;
                retries.emplace_back(record);
            }
            if (!record->m_Resolved || record->GetWireName().empty()) {
                continue;
            }
            if (record->m_NextCheck == 0) {
                record->m_NextCheck = now + kCheckPeriod;
            } else if (record->m_NextCheck <= now) {
                overdue.push_back(record);
            }
        }
        const size_t free = static_cast<size_t>(std::max(0, kCheckParallel - open));
        const auto last = overdue.begin() + static_cast<std::ptrdiff_t>(std::min(free, overdue.size()));
        std::partial_sort(
            overdue.begin(), last, overdue.end(),
            [](const CStreamInfo* a, const CStreamInfo* b) { return a->m_NextCheck < b->m_NextCheck; });
        for (auto it = overdue.begin(); it != last; ++it) {
            (*it)->m_NextCheck = now + kCheckPeriod;
            due.emplace_back(*it);
        }
    }
    for (const CStreamInfoRef& record : retries) {
        SubmitRetry(record);
    }
    for (const CStreamInfoRef& record : due) {
        const CMfxString name = record->GetName();
        CMfxString regtype = record->GetRegType(); // service types and domains are ASCII
        CMfxString domain = record->GetReplyDomain();
        DNSServiceRef reference = nullptr;
        if (DNSServiceResolve(&reference, 0, static_cast<uint32_t>(record->m_InterfaceIndex),
                              record->GetWireName().c_str(), regtype.GetAnsi(), domain.GetAnsi(),
                              &CStreamBrowser::ResolveInstance, record.get()) != kDNSServiceErr_NoError) {
            continue;
        }
        CSingleLock threadsLock(&m_ServiceThreadsLock, TRUE);
        AddServiceThread(CMfxString(L"ResolveInstance ") + name, name, record->m_InterfaceIndex, reference,
                         record);
        m_ServiceThreads.back()->m_CheckStarted = now;
        m_ServiceThreads.back()->m_Opened = now;
    }
}

// --- Records -------------------------------------------------------------------------------------

CStreamInfo* CStreamBrowser::FindStreamInfo(CMfxString name, int interfaceIndex, DWORD sourceKind)
{
    CSingleLock lock(&m_StreamInfosLock, TRUE);
    for (CStreamInfo* record : m_StreamInfos) {
        if (record->m_InterfaceIndex == interfaceIndex && record->m_SourceKind == sourceKind &&
            record->GetName() == name) {
            return record;
        }
    }
    return nullptr;
}

BOOL CStreamBrowser::RemoveStreamInfoByName(CMfxString name, int interfaceIndex, DWORD sourceKind)
{
    CStreamInfoRef record;
    {
        CSingleLock lock(&m_StreamInfosLock, TRUE);
        record = FindStreamInfo(name, interfaceIndex, sourceKind);
    }
    return record != nullptr ? RemoveStreamInfo(record) : FALSE;
}

int CStreamBrowser::RemoveStreamInfos(const std::vector<CStreamInfoRef>& records)
{
    int removed = 0;
    for (const CStreamInfoRef& record : records) {
        removed += RemoveStreamInfo(record) ? 1 : 0;
    }
    return removed;
}

BOOL CStreamBrowser::IsValidStreamInfo(CStreamInfo* pStreamInfo)
{
    for (CStreamInfo* record : m_StreamInfos) {
        if (record == pStreamInfo) {
            return TRUE;
        }
    }
    Log(kLogDebug, L"CStreamBrowser::IsValidStreamInfo() pStreamInfo 0x%08x not found",
        PointerText(pStreamInfo));
    return FALSE;
}

BOOL CStreamBrowser::AddStreamInfo(CStreamInfo* pStreamInfo)
{
    CVelmoraManager* manager = GetManager();
    Log(kLogDebug,
        L"CStreamBrowser::AddStreamInfo( ThreadID = %d ) post delayed streaminfo %s, streaminfo = 0x%08x",
        ThreadId(), pStreamInfo->GetName().GetString(), PointerText(pStreamInfo));
    manager->AddDelayedMessage(CDelayedMessage::kAddStream, manager->GetMilliSec() + kAddDelay, pStreamInfo);
    return TRUE;
}

BOOL CStreamBrowser::RemoveStreamInfo(CStreamInfo* pStreamInfo)
{
    CVelmoraManager* manager = GetManager();
    BOOL removed = FALSE;
    CStreamInfoRef listed; // the list's reference, let go once the remove message holds its own
    CMfxString name = L"undefined";
    int interfaceIndex = -1;
    int sourceKind = -1;
    {
        CSingleLock lock(&m_StreamInfosLock, TRUE);
        for (auto it = m_StreamInfos.begin(); it != m_StreamInfos.end(); ++it) {
            if (*it != pStreamInfo) {
                continue;
            }
            removed = TRUE;
            name = pStreamInfo->GetName();
            interfaceIndex = pStreamInfo->m_InterfaceIndex;
            sourceKind = static_cast<int>(pStreamInfo->m_SourceKind);
            m_StreamInfos.erase(it);
            listed = CStreamInfoRef::Adopt(pStreamInfo);
            Log(kLogDebug,
                L"CStreamBrowser::RemoveStreamInfo() delete pStreamInfo 0x%08x, %d streaminfos running",
                PointerText(pStreamInfo), static_cast<int>(m_StreamInfos.size()));
            manager->AddDelayedMessage(CDelayedMessage::kRemoveStream, manager->GetMilliSec(), pStreamInfo);
            break;
        }
    }
    if (removed) {
        Log(kLogDebug, L"CStreamBrowser::RemoveStreamInfo() stream has been removed: %s, %d",
            name.GetString(), sourceKind);
    } else {
        Log(kLogDebug, L"CStreamBrowser::RemoveStreamInfo() stream remove failed: %s, %d", name.GetString(),
            sourceKind);
    }
    if (removed && sourceKind == static_cast<int>(CStreamInfo::kSourceDiscovery) && !name.IsEmpty()) {
        // The resolve and address lookups still open for the instance end with it.
        CSingleLock lock(&m_ServiceThreadsLock, TRUE);
        bool any = false;
        for (CServiceThread* thread : m_ServiceThreads) {
            if (thread->m_InstanceName == name && thread->m_InterfaceIndex == interfaceIndex) {
                Log(kLogDebug, L"CStreamBrowser::RemoveStreamInfo() thread has been set done, %s",
                    thread->m_ThreadName.GetString());
                thread->m_Done = 1;
                any = true;
            }
        }
        if (any) {
            m_WakeEvent.SetEvent();
        }
    }
    return removed;
}

BOOL CStreamBrowser::SetServiceThreadDone(DNSServiceRef reference)
{
    {
        CSingleLock lock(&m_ServiceThreadsLock, TRUE);
        for (CServiceThread* thread : m_ServiceThreads) {
            if (thread->m_Reference == reference) {
                thread->m_Done = 1;
                m_WakeEvent.SetEvent();
                return TRUE;
            }
        }
    }
    Log(kLogDebug, L"CStreamBrowser::SetServiceThreadDone( ThreadID = %d ) failed", ThreadId());
    return FALSE;
}

// --- Service types and subtype browses -----------------------------------------------------------

void DNSSD_API CStreamBrowser::IterateServiceTypes(DNSServiceRef /*reference*/, DNSServiceFlags flags,
                                                   uint32_t interfaceIndex, DNSServiceErrorType errorCode,
                                                   const char* serviceName, const char* regtype,
                                                   const char* replyDomain, void* context)
{
    CUse use(context);
    CStreamBrowser* browser = use.Get();
    if (browser == nullptr) {
        return;
    }
    browser->Log(kLogDebug,
                 L"CStreamBrowser::IterateServiceTypes( ThreadID = %d ) flags = 0x%08x, interfaceIndex = %d, "
                 L"serviceName = %S, regtype = %S, replyDomain = %S, context = 0x%08x\n",
                 ThreadId(), static_cast<unsigned int>(flags), static_cast<int>(interfaceIndex),
                 ReplyText(errorCode, serviceName), ReplyText(errorCode, regtype),
                 ReplyText(errorCode, replyDomain), PointerText(context));
    if (errorCode != kDNSServiceErr_NoError || serviceName == nullptr) {
        return;
    }
    browser->Log(kLogDebug,
                 L"CStreamBrowser::IterateServiceTypes( ThreadID = %d ) found service %S on interface %d, %s",
                 ThreadId(), serviceName, static_cast<int>(interfaceIndex),
                 GetInterfaceDescription(interfaceIndex).GetString());
    browser->StartServiceBrowse(flags, interfaceIndex, serviceName);
}

void CStreamBrowser::StartServiceBrowse(DNSServiceFlags flags, uint32_t interfaceIndex,
                                        const char* serviceName)
{
    if (strcmp(serviceName, "_rtsp") != 0) {
        return;
    }
    if ((flags & kDNSServiceFlagsAdd) == 0) {
        StopServiceBrowse(interfaceIndex);
        return;
    }
    const CMfxString corvaneName = ThreadName(kThreadNameCorvane, interfaceIndex);
    {
        // A second add for an interface already browsed would make every instance reply twice, and
        // each second reply would remove and add its stream again.
        CSingleLock lock(&m_ServiceThreadsLock, TRUE);
        for (CServiceThread* thread : m_ServiceThreads) {
            if (!thread->m_Done && thread->m_ThreadName == corvaneName) {
                Log(kLogGlobal, L"CStreamBrowser::StartServiceBrowse() interface %d is browsed already",
                    static_cast<int>(interfaceIndex));
                return;
            }
        }
    }
    const CMfxString description = GetInterfaceDescription(interfaceIndex);
    Log(kLogGlobal,
        L"CStreamBrowser::StartServiceBrowse() start browsing for ZintSessions on interface %d, %s",
        static_cast<int>(interfaceIndex), description.GetString());
    SubmitBrowse(interfaceIndex, m_ZintSessionType, &CStreamBrowser::IterateZintSessions,
                 ThreadName(kThreadNameZint, interfaceIndex));
    Log(kLogGlobal,
        L"CStreamBrowser::StartServiceBrowse() start browsing for CorvaneSessions on interface %d, %s",
        static_cast<int>(interfaceIndex), description.GetString());
    SubmitBrowse(interfaceIndex, m_CorvaneSessionType, &CStreamBrowser::IterateCorvaneSessions, corvaneName);
}

void CStreamBrowser::StopServiceBrowse(uint32_t interfaceIndex)
{
    const CMfxString zintName = ThreadName(kThreadNameZint, interfaceIndex);
    const CMfxString corvaneName = ThreadName(kThreadNameCorvane, interfaceIndex);
    for (int round = 0; round < kTypeLeftRounds; ++round) {
        bool found = false;
        {
            CSingleLock lock(&m_ServiceThreadsLock, TRUE);
            for (CServiceThread* thread : m_ServiceThreads) {
                if (thread->m_ThreadName != zintName && thread->m_ThreadName != corvaneName) {
                    continue;
                }
                found = true;
                if (!thread->m_Done) {
                    Log(kLogGlobal, L"CStreamBrowser::StartServiceBrowse() stop already running thread %s",
                        thread->m_ThreadName.GetString());
                    thread->m_Done = 1;
                }
            }
        }
        if (!found) {
            break;
        }
        m_WakeEvent.SetEvent();
        ::SleepEx(kTypeLeftSleep, TRUE);
    }
    // With the browses gone no remove would ever come for what they found: the senders are gone
    // from this interface as far as the gateway can tell. One that a browse reply removed meanwhile
    // is passed over.
    std::vector<CStreamInfoRef> found;
    {
        CSingleLock lock(&m_StreamInfosLock, TRUE);
        for (CStreamInfo* record : m_StreamInfos) {
            if (record->m_SourceKind == CStreamInfo::kSourceDiscovery &&
                record->m_InterfaceIndex == static_cast<int>(interfaceIndex)) {
                found.emplace_back(record);
            }
        }
    }
    RemoveStreamInfos(found);
}

// --- Instances, resolves and address lookups -----------------------------------------------------

void DNSSD_API CStreamBrowser::IterateCorvaneSessions(DNSServiceRef reference, DNSServiceFlags flags,
                                                      uint32_t interfaceIndex, DNSServiceErrorType errorCode,
                                                      const char* serviceName, const char* regtype,
                                                      const char* replyDomain, void* context)
{
    OnInstanceReply(context, reference, flags, interfaceIndex, errorCode, serviceName, regtype, replyDomain,
                    CStreamInfo::kSessionCorvane);
}

void DNSSD_API CStreamBrowser::IterateZintSessions(DNSServiceRef reference, DNSServiceFlags flags,
                                                   uint32_t interfaceIndex, DNSServiceErrorType errorCode,
                                                   const char* serviceName, const char* regtype,
                                                   const char* replyDomain, void* context)
{
    OnInstanceReply(context, reference, flags, interfaceIndex, errorCode, serviceName, regtype, replyDomain,
                    CStreamInfo::kSessionZint);
}

void CStreamBrowser::OnInstanceReply(void* context, DNSServiceRef reference, DNSServiceFlags flags,
                                     uint32_t interfaceIndex, DNSServiceErrorType errorCode,
                                     const char* serviceName, const char* regtype, const char* replyDomain,
                                     DWORD sessionKind)
{
    CUse use(context);
    if (CStreamBrowser* browser = use.Get()) {
        browser->IterateServiceInstances(reference, flags, interfaceIndex, errorCode, serviceName, regtype,
                                         replyDomain, sessionKind);
    }
}

bool CStreamBrowser::Replays(DNSServiceRef reference)
{
    CSingleLock lock(&m_ServiceThreadsLock, TRUE);
    return std::any_of(m_ServiceThreads.begin(), m_ServiceThreads.end(), [&](const CServiceThread* thread) {
        return thread->m_Reference == reference && thread->m_Replays;
    });
}

void CStreamBrowser::IterateServiceInstances(DNSServiceRef reference, DNSServiceFlags flags,
                                             uint32_t interfaceIndex, DNSServiceErrorType errorCode,
                                             const char* serviceName, const char* regtype,
                                             const char* replyDomain, DWORD sessionKind)
{
    Log(kLogDebug,
        L"CStreamBrowser::IterateServiceInstances( ThreadID = %d ) flags = 0x%08x, errorCode = %d, "
        L"interfaceIndex = "
        L"%d, serviceName = %S, regtype = %S, replyDomain = %S, context = 0x%08x\n",
        ThreadId(), static_cast<unsigned int>(flags), static_cast<int>(errorCode),
        static_cast<int>(interfaceIndex), ReplyText(errorCode, serviceName), ReplyText(errorCode, regtype),
        ReplyText(errorCode, replyDomain), PointerText(this));
    if (errorCode != kDNSServiceErr_NoError || serviceName == nullptr || regtype == nullptr ||
        replyDomain == nullptr) {
        return;
    }
    const CMfxString name = DecodeServiceName(serviceName);
    const int index = static_cast<int>(interfaceIndex);
    if ((flags & kDNSServiceFlagsAdd) == 0) {
        RemoveStreamInfoByName(name, index, CStreamInfo::kSourceDiscovery);
        return;
    }
    CStreamInfoRef known;
    {
        CSingleLock lock(&m_StreamInfosLock, TRUE);
        known = FindStreamInfo(name, index, CStreamInfo::kSourceDiscovery);
    }
    if (known != nullptr && Replays(reference)) {
        // The daemon tells a browse opened again what it knows: the stream stays as it is, and its
        // announcing with it.
        Log(kLogDebug,
            L"CStreamBrowser::IterateServiceInstances( ThreadID = %d ) stream already exists, kept: "
            L"its browse was opened again",
            ThreadId());
        return;
    }
    if (known != nullptr) {
        Log(kLogDebug,
            L"CStreamBrowser::IterateServiceInstances( ThreadID = %d ) stream already exists => remove "
            L"stream",
            ThreadId());
        RemoveStreamInfo(known);
        if (FindStreamInfo(name, index, CStreamInfo::kSourceDiscovery) != nullptr) {
            Log(kLogDebug, L"CStreamBrowser::IterateServiceInstances( ThreadID = %d ) stream still exists",
                ThreadId());
            return;
        }
    }
    // The creator's reference, kept until the resolve holds its own: a reply of the other subtype
    // may take the record out of the list as soon as the locks are let go.
    const CStreamInfoRef record = CStreamInfoRef::Adopt(new CStreamInfo(this, CStreamInfo::kSourceDiscovery));
    record->SetName(name);
    record->SetWireName(serviceName);
    record->m_InterfaceIndex = index;
    record->m_SessionKind = sessionKind;
    record->SetRegType(CMfxString(regtype));
    record->SetReplyDomain(CMfxString(replyDomain));

    // Listed before its resolve is open: the resolve may have to wait its turn or be tried again,
    // and the instance's remove must find it meanwhile.
    {
        CSingleLock threadsLock(&m_ServiceThreadsLock, TRUE);
        CSingleLock recordsLock(&m_StreamInfosLock, TRUE);
        record->AddRef(); // the list's reference
        m_StreamInfos.push_back(record);
        Log(kLogDebug,
            L"CStreamBrowser::IterateServiceInstances( ThreadID = %d ) stream added %s, streaminfo = 0x%08x, "
            L"%d streaminfos running, %d service threads running",
            ThreadId(), name.GetString(), PointerText(record), static_cast<int>(m_StreamInfos.size()),
            static_cast<int>(m_ServiceThreads.size()));
        AddStreamInfo(record);
    }
    SubmitResolve(record, interfaceIndex, serviceName, regtype, replyDomain);
}

void DNSSD_API CStreamBrowser::ResolveInstance(DNSServiceRef reference, DNSServiceFlags flags,
                                               uint32_t interfaceIndex, DNSServiceErrorType errorCode,
                                               const char* fullname, const char* hosttarget, uint16_t port,
                                               uint16_t /*txtLen*/, const unsigned char* /*txtRecord*/,
                                               void* context)
{
    CUse use(OwnerOf(context));
    if (CStreamBrowser* browser = use.Get()) {
        browser->OnResolveReply(reference, flags, interfaceIndex, errorCode, fullname, hosttarget, port,
                                static_cast<CStreamInfo*>(context));
    }
}

void CStreamBrowser::OnResolveReply(DNSServiceRef reference, DNSServiceFlags flags, uint32_t interfaceIndex,
                                    DNSServiceErrorType errorCode, const char* fullname,
                                    const char* hosttarget, uint16_t port, CStreamInfo* pStreamInfo)
{
    Log(kLogDebug,
        L"CStreamBrowser::ResolveInstance( ThreadID = %d ) flags = 0x%08x, errorCode = %d, fullname = %S, "
        L"hosttarget "
        L"= %S, port = %d, context = 0x%08x\n",
        ThreadId(), static_cast<unsigned int>(flags), static_cast<int>(errorCode),
        ReplyText(errorCode, fullname), ReplyText(errorCode, hosttarget), static_cast<int>(ntohs(port)),
        PointerText(pStreamInfo));
    BOOL finished = (flags & kDNSServiceFlagsMoreComing) == 0;
    const bool unanswered = errorCode != kDNSServiceErr_NoError;
    if (errorCode != kDNSServiceErr_NoError || hosttarget == nullptr) {
        finished = TRUE;
    } else {
        CSingleLock recordsLock(&m_StreamInfosLock, TRUE);
        if (!IsValidStreamInfo(pStreamInfo) ||
            !pStreamInfo->FetchInterfaceInfo(static_cast<int>(interfaceIndex))) {
            finished = TRUE;
        } else {
            if (pStreamInfo->SetLocation(pStreamInfo->GetClientIP(), ntohs(port))) {
                Log(kLogGlobal,
                    L"CStreamBrowser::ResolveInstance( ThreadID = %d ) stream %s moved to port %d",
                    ThreadId(), pStreamInfo->GetName().GetString(), static_cast<int>(ntohs(port)));
            }
            const CMfxString name = pStreamInfo->GetName();
            const int recordInterface = pStreamInfo->m_InterfaceIndex;
            const DWORD sequenceNumber = pStreamInfo->GetSequenceNumber();
            recordsLock.Unlock();
            SubmitAddressLookup(pStreamInfo, sequenceNumber, interfaceIndex, hosttarget, name,
                                recordInterface);
        }
    }
    if (finished) {
        SetServiceThreadDone(reference);
        Log(kLogDebug, L"CStreamBrowser::ResolveInstance( ThreadID = %d ) stop thread\n", ThreadId());
    }
    if (unanswered) {
        GiveUpForNow(pStreamInfo);
    }
}

void DNSSD_API CStreamBrowser::GetAddress(DNSServiceRef reference, DNSServiceFlags flags,
                                          uint32_t /*interfaceIndex*/, DNSServiceErrorType errorCode,
                                          const char* hostname, const struct sockaddr* address,
                                          uint32_t /*ttl*/, void* context)
{
    CUse use(OwnerOf(context));
    if (CStreamBrowser* browser = use.Get()) {
        browser->OnAddressReply(reference, flags, errorCode, hostname, address,
                                static_cast<CStreamInfo*>(context));
    }
}

void CStreamBrowser::OnAddressReply(DNSServiceRef reference, DNSServiceFlags flags,
                                    DNSServiceErrorType errorCode, const char* hostname,
                                    const struct sockaddr* address, CStreamInfo* pStreamInfo)
{
    Log(kLogDebug,
        L"CStreamBrowser::GetAddress( ThreadID = %d ) flags = 0x%08x, errorCode = %d, hostname = %S, context "
        L"= "
        L"0x%08x\n",
        ThreadId(), static_cast<unsigned int>(flags), static_cast<int>(errorCode),
        ReplyText(errorCode, hostname), PointerText(pStreamInfo));
    if (errorCode == kDNSServiceErr_NoError && address != nullptr && address->sa_family == AF_INET) {
        CSingleLock recordsLock(&m_StreamInfosLock, TRUE);
        if (IsValidStreamInfo(pStreamInfo)) {
            const CString clientIP =
                FormatIPv4(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr);
            const CMfxString host(hostname);
            const int dot = host.Find(L'.');
            const CString clientName = dot < 0 ? CString(host) : host.Left(dot);
            if (pStreamInfo->SetLocation(clientIP, pStreamInfo->m_Port)) {
                Log(kLogGlobal, L"CStreamBrowser::GetAddress( ThreadID = %d ) stream %s moved to %s",
                    ThreadId(), pStreamInfo->GetName().GetString(), clientIP.GetString());
            }
            pStreamInfo->SetClientName(clientName);
            pStreamInfo->m_Resolved = 1;
            pStreamInfo->m_RetryPause = 0;
            pStreamInfo->m_RetryDue = 0;
            pStreamInfo->m_RetryWaiting = 0;
            Log(kLogDebug,
                L"CStreamBrowser::GetAddress( ThreadID = %d ) stream resolved %s, ClientName = %s, ClientIP "
                L"= %s\n",
                ThreadId(), pStreamInfo->GetName().GetString(), clientName.GetString(), clientIP.GetString());
        }
    }
    SetServiceThreadDone(reference);
    Log(kLogDebug, L"CStreamBrowser::GetAddress( ThreadID = %d ) stop thread\n", ThreadId());
    if (errorCode != kDNSServiceErr_NoError) {
        GiveUpForNow(pStreamInfo); // a time-out of the lookup included
    }
}

// The "DSA" engine steps (InitEngine, PollEngine, StopEngine) are in DsaPoll.cpp.

} // namespace Corvane
