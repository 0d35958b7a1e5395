#include "discovery/ServiceThread.h"

#include "discovery/CorvaneManager.h"
#include "discovery/StreamBrowser.h"
#include "gateway/VelmoraManager.h"

#include <cstdint>

namespace Corvane {

namespace {

unsigned int PointerText(const void* pointer)
{
    return static_cast<unsigned int>(reinterpret_cast<std::uintptr_t>(pointer));
}

// The socket event may fire again for bytes that a reply read has taken meanwhile, and
// DNSServiceProcessResult waits for a whole reply: it is called only when one (or the end of the
// connection) is there.
bool HasSomethingToRead(SOCKET socket)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket, &readable);
    timeval immediately = {0, 0};
    return ::select(0, &readable, nullptr, nullptr, &immediately) > 0;
}

} // namespace

CServiceThread::CServiceThread(CStreamBrowser* pOwner, CMfxString threadName, CMfxString instanceName,
                               int interfaceIndex, DNSServiceRef reference)
    : m_pOwner(pOwner), m_Reference(reference), m_ThreadName(threadName), m_InstanceName(instanceName),
      m_InterfaceIndex(interfaceIndex), m_Socket(DNSServiceRefSockFD(reference))
{
    if (!m_Worker.Start(&CServiceThread::ThreadEntry, this, CWorkerThread::kSmallStack)) {
        DNSServiceRefDeallocate(m_Reference);
        m_Reference = nullptr;
        m_Run = 0;
        m_Done = 1;
    }
}

CServiceThread::~CServiceThread()
{
    StopProcessingThread();
    if (m_pSlots != nullptr) {
        m_pSlots->Release();
    }
}

void CServiceThread::Log(const wchar_t* format, ...)
{
    CStreamBrowser::CUse owner(m_pOwner);
    CVelmoraManager* manager = owner.Get() != nullptr ? owner.Get()->GetManager() : nullptr;
    if (manager == nullptr) {
        return;
    }
    va_list args;
    va_start(args, format);
    manager->WriteLogFile(kLogGlobal, format, args);
    va_end(args);
}

UINT __cdecl CServiceThread::ThreadEntry(LPVOID param)
{
    return param == nullptr ? 0 : static_cast<CServiceThread*>(param)->ProcessingThread();
}

UINT CServiceThread::ProcessingThread()
{
    const int threadId = static_cast<int>(::GetCurrentThreadId());
    Log(L"CServiceThread::ProcessingThread( ThreadID = %d, 0x%08x ) %s, started\n", threadId,
        PointerText(this), m_ThreadName.GetString());
    // Cleared when the daemon's end of the socket has gone: the socket would stay readable and every
    // read would fail again, so the worker only waits for its stop from then on.
    bool watching = true;
    while (m_Run) {
        if (watching) {
            ::WSAEventSelect(m_Socket, m_SocketEvent, FD_READ | FD_CLOSE);
        }
        HANDLE handles[2] = {m_StopEvent, m_SocketEvent};
        const DWORD woken = ::WaitForMultipleObjects(watching ? 2 : 1, handles, FALSE, INFINITE);
        m_StopEvent.ResetEvent();
        if (woken == WAIT_FAILED) {
            ::SleepEx(kStopSleep, TRUE);
        }
        if (woken != WAIT_OBJECT_0 + 1 || !m_Run || !HasSomethingToRead(m_Socket)) {
            continue;
        }
        const DNSServiceErrorType result = DNSServiceProcessResult(m_Reference);
        if (result != kDNSServiceErr_NoError) {
            Log(L"CServiceThread::ProcessingThread( ThreadID = %d, 0x%08x ) %s, DNSServiceProcessResult = "
                L"%d, "
                L"stop watching\n",
                threadId, PointerText(this), m_ThreadName.GetString(), static_cast<int>(result));
            ::WSAEventSelect(m_Socket, nullptr, 0);
            watching = false;
            CStreamBrowser::CUse owner(m_pOwner);
            if (owner.Get() != nullptr) {
                owner.Get()->OnRequestLost(*this);
            }
        }
    }
    Log(L"CServiceThread::ProcessingThread( ThreadID = %d, 0x%08x ) %s, finished\n", threadId,
        PointerText(this), m_ThreadName.GetString());
    DNSServiceRefDeallocate(m_Reference);
    return 0;
}

BOOL CServiceThread::StopProcessingThread()
{
    m_Run = 0;
    if (m_Worker.HasEnded()) {
        return TRUE;
    }
    if (m_Worker.IsWorker()) {
        return FALSE;
    }
    if (m_Worker.WaitForEnd(m_StopRounds + 1, kStopSleep, [this] { m_StopEvent.SetEvent(); })) {
        return TRUE;
    }
    Log(L"CServiceThread::StopProcessingThread( ThreadID = %d, 0x%08x ) %s, cannot stop processing ThreadID "
        L"= "
        L"%d\n",
        static_cast<int>(::GetCurrentThreadId()), PointerText(this), m_ThreadName.GetString(),
        static_cast<int>(m_Worker.GetThreadId()));
    return FALSE;
}

} // namespace Corvane
