#include "discovery/CheckStreamInfoURL.h"

#include "afx/afxthread.h"
#include "discovery/RTSPAddress.h"
#include "discovery/StreamBrowser.h"
#include "discovery/StreamInfo.h"
#include "discovery/WorkerThread.h"
#include "gateway/VelmoraManager.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <system_error>
#include <thread>

namespace Corvane {

namespace {

const int kReceiveBlock = 8192;
// A stream record that holds a URL typed in by the operator in its name.
const DWORD kSourceTypedURL = 4;
// The failure line shows no more of a reply than a log line can hold.
const int kLabelReplyChars = 2048;

unsigned Address(const void* object)
{
    return static_cast<unsigned>(reinterpret_cast<uintptr_t>(object));
}

// One Global line of the log file, formatted here so that any argument list can be used.
void LogGlobalV(CVelmoraManager* owner, const wchar_t* format, va_list args)
{
    CMfxString text;
    text.FormatV(format, args);
    owner->LogDebug(kLogGlobal, L"%s", text.GetString());
}

void LogGlobal(CVelmoraManager* owner, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    LogGlobalV(owner, format, args);
    va_end(args);
}

// Text on one log line: every CR and LF becomes a blank.
CMfxString OneLine(const CMfxString& text)
{
    return text.Replace(L"\n", L" ").Replace(L"\r", L" ");
}

bool SystemResolveHost(const std::string& host, in_addr& address)
{
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
        return false;
    }
    address = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
    ::freeaddrinfo(found);
    return true;
}

std::atomic<CCheckStreamInfoURL::ResolveHostFunction> g_ResolveHost{&SystemResolveHost};

// One host-name lookup, shared by the worker that waits for it and the thread that makes it: the
// last of the two to let go frees it, so a worker that gives up leaves it behind safely.
struct CHostLookup
{
    enum
    {
        kPending,
        kFound,
        kFailed
    };
    std::atomic<int> m_State{kPending};
    in_addr m_Address = {};
};

std::shared_ptr<CHostLookup> StartHostLookup(const std::string& host)
{
    auto lookup = std::make_shared<CHostLookup>();
    in_addr address = {};
    if (::inet_pton(AF_INET, host.c_str(), &address) == 1) {
        lookup->m_Address = address;
        lookup->m_State = CHostLookup::kFound;
        return lookup;
    }
    const CCheckStreamInfoURL::ResolveHostFunction resolve = g_ResolveHost.load();
    try {
        std::thread([lookup, host, resolve] {
            in_addr found = {};
            const bool ok = resolve(host, found);
            lookup->m_Address = found;
            lookup->m_State = ok ? CHostLookup::kFound : CHostLookup::kFailed;
        }).detach();
    } catch (const std::system_error&) {
        lookup->m_State = CHostLookup::kFailed;
    }
    return lookup;
}

} // namespace

void CCheckStreamInfoURL::SetHostResolver(ResolveHostFunction resolve)
{
    g_ResolveHost = resolve != nullptr ? resolve : &SystemResolveHost;
}

// --- URLs -----------------------------------------------------------------------------------------

BOOL CStreamBrowser::ParseRTSPAddress(CMfxString url, CMfxString& user, CMfxString& password,
                                      CMfxString& host, unsigned short& port, CMfxString& rest)
{
    const wchar_t* failure = SplitRTSPAddress(url, user, password, host, port, rest);
    if (failure == nullptr) {
        return TRUE;
    }
    if (g_pManager != nullptr) {
        g_pManager->LogDebug(kLogDebug, L"CStreamBrowser::ParseRTSPAddress( ThreadID = %d ) URL = %s => %s\n",
                             static_cast<int>(::GetCurrentThreadId()), url.GetString(), failure);
    }
    return FALSE;
}

CMfxString CStreamInfo::GetStreamRTSPURL()
{
    CMfxString url;
    if (m_SourceKind == kSourceDiscovery) {
        // Until its resolve and address lookup have answered, a record has no address to describe.
        const CString clientIP = GetClientIP();
        const int port = m_Port;
        if (m_Resolved && !clientIP.IsEmpty() && port > 0 && port <= 65535) {
            url.Format(L"rtsp://%s:%d/by-name/%s", clientIP.GetString(), port,
                       GetName().UrlEscape().GetString());
        }
    } else if (m_SourceKind == kSourceTypedURL && IsRTSPURL(GetName())) {
        // The name holds the URL as typed: only its path is escaped.
        const CMfxString name = GetName();
        CMfxString user, password, host, path;
        unsigned short port = 0;
        url = name;
        if (SplitRTSPAddress(name, user, password, host, port, path) == nullptr) {
            url = name.Left(name.GetLength() - path.GetLength()) + path.UrlEscape();
        }
    }
    return url;
}

// --- CCheckStreamInfo ---------------------------------------------------------------------------

CCheckStreamInfo::CCheckStreamInfo(CVelmoraManager* owner, CStreamBrowser* browser, CMfxString interfaceIP)
    : m_pOwner(owner), m_pBrowser(browser), m_Interface(interfaceIP)
{
}

CCheckStreamInfo::~CCheckStreamInfo()
{
    StopWorker();
}

void CCheckStreamInfo::StopWorker()
{
    m_Run = 0;
    // A worker that waits its turn is simply not started.
    CCheckStreamInfoURL::FetchStarts().Cancel(this);
    if (m_WorkerThreadId == kNoWorker) {
        return;
    }
    m_StopEvent.SetEvent();
    ::SleepEx(5, TRUE);
    for (int round = 0; round < 1000 && m_WorkerThreadId != kNoWorker; ++round) {
        m_StopEvent.SetEvent();
        ::SleepEx(5, TRUE);
    }
    if (m_WorkerThreadId == kNoWorker) {
        return;
    }
    m_pOwner->LogDebug(kLogDebug, L"CCheckStreamInfo::~CCheckStreamInfo() stop processing thread %d failed\n",
                       static_cast<int>(m_WorkerThreadId));
    // The worker still uses this object, so it is not freed before the worker has let go of it. Its
    // loop looks at the stop flag every 10 ms and waits for no peer (host-name lookups run on threads
    // of their own), so this is a last guard, not a wait that a peer or a resolver can stretch.
    while (m_WorkerThreadId != kNoWorker) {
        ::SleepEx(10, TRUE);
    }
}

// --- CCheckStreamInfoURL ------------------------------------------------------------------------

CCheckStreamInfoURL::CCheckStreamInfoURL(CVelmoraManager* owner, CStreamBrowser* browser,
                                         CMfxString interfaceIP, CMfxString url)
    : CCheckStreamInfo(owner, browser, interfaceIP), m_URL(url)
{
}

CCheckStreamInfoURL::~CCheckStreamInfoURL()
{
    StopWorker();
}

void CCheckStreamInfoURL::SetURL(CMfxString url)
{
    CSingleLock lock(&m_DataLock, TRUE);
    m_URL = url;
}

CMfxString CCheckStreamInfoURL::GetURL()
{
    CSingleLock lock(&m_DataLock, TRUE);
    return m_URL;
}

CMfxString CCheckStreamInfoURL::GetReplyText()
{
    CSingleLock lock(&m_DataLock, TRUE);
    return m_Reply.GetText();
}

void CCheckStreamInfoURL::SetReplyText(CMfxString text)
{
    CSingleLock lock(&m_DataLock, TRUE);
    m_Reply.SetText(text);
}

CMfxString CCheckStreamInfoURL::GetReplySDP(bool& utf8)
{
    CSingleLock lock(&m_DataLock, TRUE);
    return m_Reply.GetSDP(utf8);
}

bool CCheckStreamInfoURL::IsReplyTooLong()
{
    CSingleLock lock(&m_DataLock, TRUE);
    return m_Reply.IsTooLong();
}

void CCheckStreamInfoURL::AddReceiveData(const char* data, int count)
{
    const CMfxString block(data, count);
    bool accepted;
    {
        CSingleLock lock(&m_DataLock, TRUE);
        m_Reply.Append(data, count);
        accepted = m_Reply.IsAccepted(false);
    }
    LogGlobal(m_pOwner, L"CCheckStreamInfoURL::AddReceiveData( ThreadID = %d, 0x%08x ) received: %s\n",
              static_cast<int>(::GetCurrentThreadId()), Address(this), OneLine(block).GetString());
    if (accepted) {
        m_Accepted = true;
    }
}

void CCheckStreamInfoURL::EndReceiveData()
{
    CSingleLock lock(&m_DataLock, TRUE);
    if (m_Reply.IsAccepted(true)) {
        m_Accepted = true;
    }
}

// The start of one fetch's worker. The checker's worker slot stays claimed while it waits.
class CCheckStreamInfoURL::CFetchStart : public CStartQueue::CJob
{
public:
    CFetchStart(CCheckStreamInfoURL* checker, const CMfxString& url)
        : CJob(static_cast<CCheckStreamInfo*>(checker), true), m_pChecker(checker), m_URL(url)
    {
    }

    CStartQueue::Result Start() override
    {
        if (!m_pChecker->m_Run) {
            return CStartQueue::kDropped;
        }
        if (AfxBeginThread(ThreadEntry, m_pChecker, THREAD_PRIORITY_NORMAL, CWorkerThread::kSmallStack,
                           STACK_SIZE_PARAM_IS_A_RESERVATION) != nullptr) {
            return CStartQueue::kStarted;
        }
        if (Attempts() == 1) {
            LogGlobal(m_pChecker->m_pOwner,
                      L"CCheckStreamInfoURL::Start() %s, start thread failed, trying again in 1 s\n",
                      m_URL.GetString());
        }
        return CStartQueue::kRetry;
    }
    // Never started: the checker may start again (or be destroyed).
    void Forgotten() override
    {
        m_pChecker->m_Run = 0;
        m_pChecker->m_WorkerThreadId = kNoWorker;
    }

private:
    CCheckStreamInfoURL* m_pChecker;
    CMfxString m_URL;
};

void CCheckStreamInfoURL::Start()
{
    // Claim the worker slot first: a second Start, or the destructor, sees it taken from here on.
    if (::InterlockedCompareExchange(&m_WorkerThreadId, kWorkerStarting, kNoWorker) != kNoWorker) {
        return;
    }
    CMfxString url;
    {
        CSingleLock lock(&m_DataLock, TRUE);
        url = m_URL;
        m_Reply.Clear();
    }
    m_Done = 0;
    m_Accepted = false;
    if (!CStreamBrowser::ParseRTSPAddress(url, m_User, m_Password, m_Host, m_Port, m_Path)) {
        m_pOwner->AddLogText(kLogRed, L"Parse RTSP address failed: %s", url.GetString());
        m_WorkerThreadId = kNoWorker;
        return;
    }
    m_Run = 1;
    CStartQueue& starts = FetchStarts();
    starts.StartPump();
    starts.Submit(new CFetchStart(this, url));
}

CStartQueue& CCheckStreamInfoURL::FetchStarts()
{
    // Never destroyed: a worker may give its slot back while the process ends.
    static CStartQueue* starts = new CStartQueue(kMaxFetches, [] { return ::GetTickCount64(); });
    return *starts;
}

UINT __cdecl CCheckStreamInfoURL::ThreadEntry(LPVOID param)
{
    if (param == nullptr) {
        return 0;
    }
    const UINT result = static_cast<CCheckStreamInfoURL*>(param)->ProcessingThread();
    // The checker may be gone from here on; the slot belongs to the queue.
    FetchStarts().Release();
    return result;
}

UINT CCheckStreamInfoURL::ProcessingThread()
{
    if (!AfxSocketInit()) {
        m_WorkerThreadId = kNoWorker;
        return 0;
    }
    const int threadId = static_cast<int>(::GetCurrentThreadId());
    m_WorkerThreadId = threadId;
    CMfxString url;
    {
        CSingleLock lock(&m_DataLock, TRUE);
        url = m_URL;
    }
    LogGlobal(m_pOwner, L"CCheckStreamInfoURL::ProcessingThread( ThreadID = %d, 0x%08x ) %s => start\n",
              threadId, Address(this), url.GetString());

    CCheckStreamInfoURLSocket* socket = nullptr;
    {
        CSingleLock lock(&m_pOwner->m_SocketCreateLock, TRUE);
        socket = new CCheckStreamInfoURLSocket(m_pOwner, this);
        if (!socket->Create(0, SOCK_STREAM, CAsyncSocket::kAllEvents, m_Interface.GetString())) {
            delete socket;
            socket = nullptr;
            LogGlobal(
                m_pOwner,
                L"CCheckStreamInfoURL::ProcessingThread( ThreadID = %d, 0x%08x ) %s, create socket failed\n",
                threadId, Address(this), url.GetString());
        }
    }
    const ULONGLONG startTime = m_pOwner->GetMilliSec();

    UINT finalState = 0;
    std::shared_ptr<CHostLookup> lookup;
    if (socket != nullptr) {
        while (m_Run) {
            const DWORD wake =
                ::MsgWaitForMultipleObjects(1, &m_StopEvent.m_hObject, FALSE, 10, QS_ALLEVENTS);
            if (wake == WAIT_OBJECT_0 + 1) {
                MSG msg;
                while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                    ::TranslateMessage(&msg);
                    ::DispatchMessageW(&msg);
                }
            }
            if (socket->m_State == CCheckStreamInfoURLSocket::kUnconnected) {
                socket->m_State = CCheckStreamInfoURLSocket::kConnecting;
                LogGlobal(
                    m_pOwner,
                    L"CCheckStreamInfoURL::ProcessingThread( ThreadID = %d, 0x%08x ) Connect( %s, %d )\n",
                    threadId, Address(this), m_Host.GetString(), static_cast<unsigned>(m_Port));
                CMfxString target = m_Host;
                if (target.LowerCopy() == L"localhost") {
                    target = m_Interface;
                }
                lookup = StartHostLookup(target.GetAnsi());
            }
            if (lookup && lookup->m_State != CHostLookup::kPending) {
                if (lookup->m_State == CHostLookup::kFound) {
                    sockaddr_in remote = {};
                    remote.sin_family = AF_INET;
                    remote.sin_port = htons(m_Port);
                    remote.sin_addr = lookup->m_Address;
                    socket->Connect(reinterpret_cast<const SOCKADDR*>(&remote), sizeof(remote));
                } else {
                    LogGlobal(
                        m_pOwner,
                        L"CCheckStreamInfoURL::ProcessingThread( ThreadID = %d, 0x%08x ) host %s not found\n",
                        threadId, Address(this), m_Host.GetString());
                    // Like a connection that never comes: the fetch ends at its time limit.
                }
                lookup.reset();
            } else if (socket->m_State == CCheckStreamInfoURLSocket::kConnected) {
                socket->m_State = CCheckStreamInfoURLSocket::kSending;
                CMfxString request = L"DESCRIBE " + url +
                                     L" RTSP/1.0\r\nconnection: Keep-Alive\r\nCSeq: 0\r\n"
                                     L"User-Agent: CORVANE VELMORA \r\nAccept: application/sdp\r\n\r\n";
                LogGlobal(m_pOwner,
                          L"CCheckStreamInfoURL::ProcessingThread( ThreadID = %d, 0x%08x ) sending: %s\n",
                          threadId, Address(this), OneLine(request).GetString());
                const char* bytes = request.GetAnsi();
                socket->Send(bytes, static_cast<int>(strlen(bytes)));
            }
            if (IsReplyTooLong()) {
                LogGlobal(
                    m_pOwner,
                    L"CCheckStreamInfoURL::ProcessingThread( ThreadID = %d, 0x%08x ) reply longer than %d "
                    L"bytes, giving up\n",
                    threadId, Address(this), CDescribeReply::kMaxBytes);
                m_Run = 0;
            }
            if (m_Accepted || socket->m_State == CCheckStreamInfoURLSocket::kClosed) {
                m_Run = 0;
            }
            if (m_pOwner->GetMilliSec() > startTime + kFetchTimeLimitMs) {
                m_Run = 0;
            }
        }
        socket->Close();
        finalState = socket->m_State;
        delete socket;
    }
    LogGlobal(m_pOwner, L"CCheckStreamInfoURL::ProcessingThread( ThreadID = %d, 0x%08x ) %s => finished\n",
              threadId, Address(this), url.GetString());
    if (m_Accepted) {
        m_Done = 1;
    } else {
        const CMfxString label = CCheckStreamInfoURLSocket::StateLabel(finalState, GetReplyText());
        m_pOwner->AddLogText(kLogRed, L"Get SDP on Interface %s for %s failed, State = %s",
                             m_Interface.GetString(), url.GetString(), label.GetString());
    }
    // The last touch of this object: from here on it may be restarted or destroyed.
    m_WorkerThreadId = kNoWorker;
    return 0;
}

// --- CCheckStreamInfoURLSocket ------------------------------------------------------------------

CCheckStreamInfoURLSocket::CCheckStreamInfoURLSocket(CVelmoraManager* owner, CCheckStreamInfoURL* checker)
    : m_pOwner(owner), m_pChecker(checker)
{
}

CCheckStreamInfoURLSocket::~CCheckStreamInfoURLSocket() = default;

CMfxString CCheckStreamInfoURLSocket::StateLabel(UINT state, const CMfxString& reply)
{
    switch (state) {
    case kUnconnected:
        return L"unconnected";
    case kConnecting:
        return L"connecting";
    case kConnected:
        return L"connected";
    case kSending:
        return L"sending";
    case kReceived:
        return L"received data: " + CMfxString(reply.Left(kLabelReplyChars)).ReplaceLineBreaks(L", ");
    case kClosed:
        return L"closed: " + CMfxString(reply.Left(kLabelReplyChars)).ReplaceLineBreaks(L", ");
    default:
        return L"unknown";
    }
}

int CCheckStreamInfoURLSocket::ReceiveBlock(int errorCode)
{
    char buffer[kReceiveBlock] = {};
    const int count = Receive(buffer, kReceiveBlock);
    LogGlobal(
        m_pOwner,
        L"CCheckStreamInfoURLSocket::OnReceive( ThreadID = %d, 0x%08x ) nErrorCode = %d, DataLength = %d\n",
        static_cast<int>(::GetCurrentThreadId()), Address(this), errorCode, count);
    if (count != 0) {
        m_State = kReceived;
        m_pChecker->AddReceiveData(buffer, count > 0 ? count : 0);
    }
    return count;
}

void CCheckStreamInfoURLSocket::OnReceive(int errorCode)
{
    // Past its limit the reply is not read any further: the worker gives up on it.
    if (m_pChecker->IsReplyTooLong()) {
        return;
    }
    if (ReceiveBlock(errorCode) == 0) {
        // The peer has closed and everything it sent has been read.
        Close();
        m_State = kClosed;
        m_pChecker->EndReceiveData();
    }
    CAsyncSocket::OnReceive(errorCode);
}

void CCheckStreamInfoURLSocket::OnConnect(int errorCode)
{
    LogGlobal(m_pOwner, L"CCheckStreamInfoURLSocket::OnConnect( ThreadID = %d, 0x%08x ) nErrorCode = %d\n",
              static_cast<int>(::GetCurrentThreadId()), Address(this), errorCode);
    m_State = kConnected;
}

void CCheckStreamInfoURLSocket::OnClose(int errorCode)
{
    LogGlobal(m_pOwner, L"CCheckStreamInfoURLSocket::OnClose( ThreadID = %d, 0x%08x ) nErrorCode = %d\n",
              static_cast<int>(::GetCurrentThreadId()), Address(this), errorCode);
    // What the peer sent before closing may still wait in the socket: read it first.
    u_long waiting = 0;
    while (errorCode == 0 && !m_pChecker->IsReplyTooLong() &&
           ::ioctlsocket(m_hSocket, FIONREAD, &waiting) == 0 && waiting > 0 && ReceiveBlock(0) > 0) {
    }
    m_State = kClosed;
    m_pChecker->EndReceiveData();
}

} // namespace Corvane
