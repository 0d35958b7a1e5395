#include "discovery/StreamProvider.h"

#include "discovery/CorvaneManager.h"
#include "dsa_mdns/corvane_mdns.h"
#include "foundation/NetworkInterfaces.h"
#include "gateway/VelmoraManager.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace Corvane {

namespace {

const wchar_t* const kGatewayTypes[] = {L"_http._tcp", L"_rtsp._tcp", L"_http._tcp,_corvane",
                                        L"_rtsp._tcp,_corvane"};
// The reply thread's wait for its end: rounds of 10 ms.
const int kReplyStopRounds = 500;
const DWORD kReplyStopSleep = 10;

DWORD HandleOf(DNSServiceRef reference)
{
    return static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(reference));
}

DNSServiceRef ReferenceOf(DWORD handle)
{
    return reinterpret_cast<DNSServiceRef>(static_cast<std::uintptr_t>(handle));
}

// The failure of a registration call as a log line shows it.
CMfxString RegisterFailureText(DNSServiceErrorType error)
{
    const wchar_t* meaning = L"";
    switch (error) {
    case kDNSServiceErr_ServiceNotRunning:
        meaning = L" (the daemon refused the connection or is busy)";
        break;
    case kDNSServiceErr_NoMemory:
        meaning = L" (the daemon is out of memory)";
        break;
    case kDNSServiceErr_BadParam:
        meaning = L" (the daemon refused the name or type)";
        break;
    case kDNSServiceErr_NameConflict:
        meaning = L" (name conflict)";
        break;
    default:
        break;
    }
    CMfxString text;
    text.Format(L"DNSServiceRegister error %d%s", static_cast<int>(error), meaning);
    return text;
}

} // namespace

CStreamProvider::~CStreamProvider()
{
    Exit();
}

CVelmoraManager* CStreamProvider::GetManager() const
{
    return m_pOwner != nullptr ? m_pOwner->m_pOwner : nullptr;
}

BOOL CStreamProvider::Log(CMfxString text)
{
    CVelmoraManager* manager = GetManager();
    if (manager == nullptr) {
        return FALSE;
    }
    manager->LogDebug(kLogGlobal, L"%s", text.GetString());
    return TRUE;
}

void CStreamProvider::LogDebug(const wchar_t* format, ...)
{
    CVelmoraManager* manager = GetManager();
    if (manager == nullptr) {
        return;
    }
    va_list args;
    va_start(args, format);
    manager->WriteLogFile(kLogDebug, format, args);
    va_end(args);
}

BOOL CStreamProvider::Init(CCorvaneManager* pOwner, CMfxString label, CMfxString interfaceIP)
{
    m_pOwner = pOwner;
    CVelmoraManager* manager = GetManager();
    LogDebug(L"CStreamProvider::Init() start, %s, %s", label.GetString(), interfaceIP.GetString());
    m_BonjourInterfaceIndex = 0;
    if (!interfaceIP.IsEmpty()) {
        m_BonjourInterfaceIndex = GetInterfaceIndex(interfaceIP);
        if (m_BonjourInterfaceIndex < 0) {
            m_BonjourInterfaceIndex = 0;
        }
    }
    LogDebug(L"CStreamProvider::Init() m_BonjourInterfaceIndex = %d", m_BonjourInterfaceIndex);
    CMfxString line;
    if (m_BonjourInterfaceIndex == 0) {
        line = L"Stream provider announces streams on all interfaces";
    } else {
        line.Format(L"Stream provider announces streams on interface %d, %s", m_BonjourInterfaceIndex,
                    GetInterfaceDescription(static_cast<DWORD>(m_BonjourInterfaceIndex)).GetString());
    }
    Log(line);
    m_ComputerName = GetLocalComputerName();
    m_ServiceName = CMfxString(L"Velmora (on ") + m_ComputerName + L")";

    if (manager->m_BonjourMode == L"APPLE") {
        m_ReplyRun = 1;
        if (!m_ReplyThread.Start(&CStreamProvider::ReplyThreadEntry, this)) {
            m_ReplyRun = 0;
            Log(L"CStreamProvider::Init() start reply thread failed, registration replies are not read");
        }
        BOOL result = TRUE;
        for (const wchar_t* type : kGatewayTypes) {
            DNSServiceRef reference = nullptr;
            const DNSServiceErrorType error =
                RegisterApple(reference, 0, m_BonjourInterfaceIndex, m_ServiceName, type, kGatewayPort);
            if (error != kDNSServiceErr_NoError) {
                LogDebug(L"CStreamProvider::Init() DNSServiceRegister %s, %s = %d", m_ServiceName.GetString(),
                         type, static_cast<int>(error));
                result = FALSE;
                CSingleLock lock(&m_RegistrationsLock, TRUE);
                m_FailedGatewayTypes.push_back(type);
                m_NextGatewayRetry = manager->GetMilliSec() + kRegisterRetryPeriod;
            }
        }
        if (!result && m_ReplyRun) {
            Log(L"CStreamProvider::Init() the failed registrations of the gateway are tried again every "
                L"second");
        }
        return result;
    }
    if (manager->m_BonjourMode != L"DSA") {
        LogDebug(L"CStreamProvider::Init() Bonjour is disabled, no services have been registered");
    }
    return TRUE;
}

DNSServiceErrorType CStreamProvider::RegisterApple(DNSServiceRef& reference, DNSServiceFlags flags,
                                                   int interfaceIndex, CMfxString name,
                                                   CMfxString serviceType, int port)
{
    CMfxString type = serviceType;
    // Names are UTF-8 on the wire (RFC 6763 section 4.1.1). The call waits for the daemon's answer:
    // made without the lock, so that a slow daemon holds up no other thread. Its replies are read
    // only once the reference is listed below.
    const std::string nameBytes = EncodeServiceName(name);
    const DNSServiceErrorType error = DNSServiceRegister(
        &reference, flags, static_cast<uint32_t>(interfaceIndex), nameBytes.c_str(), type.GetAnsi(), "", "",
        htons(static_cast<u_short>(port)), 0, nullptr, &CStreamProvider::DNSServiceRegisterReply, this);
    if (error == kDNSServiceErr_NoError) {
        CSingleLock lock(&m_RegistrationsLock, TRUE);
        m_Registrations[reference] = DNSServiceRefSockFD(reference);
        m_Names[reference] = CNames{name, name};
        m_ReplyWake.SetEvent();
    }
    return error;
}

BOOL CStreamProvider::RegisterStream(DWORD& handle, int port, CMfxString interfaceIP, CMfxString name,
                                     CMfxString serviceType, CMfxString* failure)
{
    CVelmoraManager* manager = GetManager();
    if (manager == nullptr) {
        return FALSE;
    }
    int interfaceIndex = m_BonjourInterfaceIndex;
    if (!interfaceIP.IsEmpty()) {
        const int index = GetInterfaceIndex(interfaceIP);
        if (index >= 0) {
            interfaceIndex = index;
        }
    }
    if (manager->m_BonjourMode == L"APPLE") {
        DNSServiceRef reference = nullptr;
        const DNSServiceErrorType error =
            RegisterApple(reference, kDNSServiceFlagsUnique, interfaceIndex, name, serviceType, port);
        if (error != kDNSServiceErr_NoError) {
            if (failure != nullptr) {
                *failure = RegisterFailureText(error);
            }
            return FALSE;
        }
        handle = HandleOf(reference);
        return TRUE;
    }
    if (manager->m_BonjourMode == L"DSA") {
        if (RegisterEngineStream(handle, port, interfaceIndex, name, serviceType)) {
            // The engine announces names of at most CORVANE_TEXT_SIZE - 1 bytes: longer ones cut.
            CSingleLock lock(&m_RegistrationsLock, TRUE);
            m_EngineNames[handle] = DecodeServiceName(EncodeServiceName(name, CORVANE_TEXT_SIZE - 1).c_str());
            return TRUE;
        }
        if (failure != nullptr) {
            failure->Format(L"the \"DSA\" engine did not register it on interface %d", interfaceIndex);
        }
        return FALSE;
    }
    return FALSE;
}

CMfxString CStreamProvider::GetRegisteredName(DWORD handle)
{
    CSingleLock lock(&m_RegistrationsLock, TRUE);
    auto found = m_Names.find(ReferenceOf(handle));
    if (found != m_Names.end()) {
        return found->second.registered;
    }
    auto engine = m_EngineNames.find(handle);
    return engine != m_EngineNames.end() ? engine->second : CMfxString();
}

BOOL CStreamProvider::UnregisterStream(DWORD handle)
{
    CVelmoraManager* manager = GetManager();
    if (manager == nullptr) {
        return FALSE;
    }
    if (manager->m_BonjourMode == L"APPLE") {
        CSingleLock lock(&m_RegistrationsLock, TRUE);
        auto found = m_Registrations.find(ReferenceOf(handle));
        if (found == m_Registrations.end()) {
            return FALSE;
        }
        DNSServiceRef reference = found->first;
        m_Registrations.erase(found);
        m_BrokenReplies.erase(reference);
        m_Names.erase(reference);
        DNSServiceRefDeallocate(reference);
        return TRUE;
    }
    if (manager->m_BonjourMode == L"DSA") {
        CSingleLock lock(&m_RegistrationsLock, TRUE);
        m_EngineNames.erase(handle);
        lock.Unlock();
        return UnregisterEngineStream(handle);
    }
    return FALSE;
}

void CStreamProvider::Exit()
{
    StopReplyThread();
    CSingleLock lock(&m_RegistrationsLock, TRUE);
    for (auto& registration : m_Registrations) {
        DNSServiceRefDeallocate(registration.first);
    }
    m_Registrations.clear();
    m_BrokenReplies.clear();
    m_Names.clear();
    m_EngineNames.clear();
    m_FailedGatewayTypes.clear();
}

// --- Registration replies ------------------------------------------------------------------------

void DNSSD_API CStreamProvider::DNSServiceRegisterReply(DNSServiceRef reference, DNSServiceFlags flags,
                                                        DNSServiceErrorType errorCode, const char* name,
                                                        const char* regtype, const char* domain,
                                                        void* context)
{
    CStreamProvider* provider = static_cast<CStreamProvider*>(context);
    if (provider == nullptr) {
        return;
    }
    const bool trusted = errorCode == kDNSServiceErr_NoError;
    CMfxString line;
    line.Format(
        L"DNSServiceRegisterReply( ThreadID = %d ) name = %S, regtype = %S, domain = %S, flags = 0x%08x, "
        L"errorCode = %d\n",
        static_cast<int>(::GetCurrentThreadId()), trusted && name != nullptr ? name : "",
        trusted && regtype != nullptr ? regtype : "", trusted && domain != nullptr ? domain : "",
        static_cast<unsigned int>(flags), static_cast<int>(errorCode));
    provider->Log(line);
    provider->OnRegisterReply(reference, flags, errorCode, name);
}

void CStreamProvider::OnRegisterReply(DNSServiceRef reference, DNSServiceFlags flags,
                                      DNSServiceErrorType errorCode, const char* name)
{
    if (errorCode != kDNSServiceErr_NoError || name == nullptr || (flags & kDNSServiceFlagsAdd) == 0) {
        return;
    }
    const CMfxString registered = DecodeServiceName(name);
    CMfxString before;
    {
        // The reply thread holds the lock while it reads replies; taken again here all the same.
        CSingleLock lock(&m_RegistrationsLock, TRUE);
        auto found = m_Names.find(reference);
        if (found == m_Names.end() || found->second.registered == registered) {
            return;
        }
        before = found->second.registered;
        found->second.registered = registered;
    }
    CVelmoraManager* manager = GetManager();
    if (manager != nullptr) {
        manager->AddLogText(kLogGreen, L"DNS-SD registration %s renamed to %s after a name conflict",
                            before.GetString(), registered.GetString());
    }
}

void CStreamProvider::RetryGatewayRegistrations()
{
    CVelmoraManager* manager = GetManager();
    std::vector<const wchar_t*> failed;
    {
        CSingleLock lock(&m_RegistrationsLock, TRUE);
        if (manager == nullptr || m_FailedGatewayTypes.empty() ||
            manager->GetMilliSec() < m_NextGatewayRetry) {
            return;
        }
        failed.swap(m_FailedGatewayTypes);
    }
    std::vector<const wchar_t*> stillFailed;
    for (const wchar_t* type : failed) {
        DNSServiceRef reference = nullptr;
        const DNSServiceErrorType error =
            RegisterApple(reference, 0, m_BonjourInterfaceIndex, m_ServiceName, type, kGatewayPort);
        if (error == kDNSServiceErr_NoError) {
            CMfxString line;
            line.Format(L"CStreamProvider::RetryGatewayRegistrations() %s, %s registered",
                        m_ServiceName.GetString(), type);
            Log(line);
        } else {
            stillFailed.push_back(type);
        }
    }
    CSingleLock lock(&m_RegistrationsLock, TRUE);
    m_FailedGatewayTypes.insert(m_FailedGatewayTypes.end(), stillFailed.begin(), stillFailed.end());
    m_NextGatewayRetry = manager->GetMilliSec() + kRegisterRetryPeriod;
}

UINT __cdecl CStreamProvider::ReplyThreadEntry(LPVOID param)
{
    if (param != nullptr) {
        static_cast<CStreamProvider*>(param)->ReadReplies();
    }
    return 0;
}

void CStreamProvider::ReadReplies()
{
    while (m_ReplyRun) {
        std::vector<std::pair<DNSServiceRef, SOCKET>> watched;
        {
            CSingleLock lock(&m_RegistrationsLock, TRUE);
            for (const auto& registration : m_Registrations) {
                if (m_BrokenReplies.count(registration.first) == 0) {
                    watched.push_back(registration);
                }
            }
        }
        // select takes at most FD_SETSIZE sockets at a time; none of them is waited for.
        for (size_t start = 0; start < watched.size() && m_ReplyRun; start += FD_SETSIZE) {
            fd_set readable;
            FD_ZERO(&readable);
            const size_t end = std::min(watched.size(), start + FD_SETSIZE);
            for (size_t i = start; i < end; ++i) {
                FD_SET(watched[i].second, &readable);
            }
            timeval immediately = {0, 0};
            if (select(0, &readable, nullptr, nullptr, &immediately) <= 0) {
                continue;
            }
            for (size_t i = start; i < end; ++i) {
                if (!FD_ISSET(watched[i].second, &readable)) {
                    continue;
                }
                // Under the lock, so that the reference is not deallocated meanwhile.
                CSingleLock lock(&m_RegistrationsLock, TRUE);
                if (m_Registrations.count(watched[i].first) == 0) {
                    continue;
                }
                const DNSServiceErrorType error = DNSServiceProcessResult(watched[i].first);
                if (error != kDNSServiceErr_NoError) {
                    m_BrokenReplies.insert(watched[i].first);
                    CMfxString line;
                    line.Format(
                        L"CStreamProvider::ReadReplies() DNSServiceProcessResult = %d, replies of this "
                        L"registration are not read any more",
                        static_cast<int>(error));
                    Log(line);
                }
            }
        }
        RetryGatewayRegistrations();
        ::WaitForSingleObject(m_ReplyWake, kReplyPollPeriod);
    }
}

void CStreamProvider::StopReplyThread()
{
    m_ReplyRun = 0;
    if (!m_ReplyThread.WaitForEnd(kReplyStopRounds, kReplyStopSleep, [this] { m_ReplyWake.SetEvent(); })) {
        CMfxString line;
        line.Format(L"CStreamProvider::Exit() reply thread %d does not end, waiting for it",
                    static_cast<int>(m_ReplyThread.GetThreadId()));
        Log(line);
        // Its waits are bounded; the registrations it reads stay until it has ended.
        m_ReplyThread.Join();
    }
}

// The "DSA" engine steps (RegisterEngineStream, UnregisterEngineStream) are in DsaPoll.cpp.

} // namespace Corvane
