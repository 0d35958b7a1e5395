// Corvane::CServiceThread: the worker of one open DNS-SD request of the stream browser.
//
// The worker waits on the request's socket and reads each reply with DNSServiceProcessResult, so
// every reply callback of the request runs on it. The browser marks the object done when the
// request has served its purpose; its housekeeping thread then stops and deletes it. The worker
// owns the reference and deallocates it as it ends. When the object may be deleted, what it holds
// and how the worker reaches the browser: the lifetimes in StreamBrowser.h.
#pragma once

#include "afx/afxmt.h"
#include "afx/afxplatform.h"
#include "discovery/StreamInfo.h"
#include "discovery/StartQueue.h"
#include "discovery/WorkerThread.h"
#include "dnssd/dns_sd.h"
#include "foundation/MfxString.h"

#include <functional>

namespace Corvane {

class CStreamBrowser;

class CServiceThread
{
public:
    static const int kStopRounds = 1000;
    static const DWORD kStopSleep = 10;

    // Starts the worker (on a small stack). The creator holds the browser's service-thread lock and
    // appends the object to the browser's list before it lets go, so the worker's first reply finds
    // it. When no worker can be started (IsStarted is FALSE) the reference is deallocated here and
    // the object is done at once; the creator says so and tries again later.
    CServiceThread(CStreamBrowser* pOwner, CMfxString threadName, CMfxString instanceName, int interfaceIndex,
                   DNSServiceRef reference);
    // Stops the worker and gives back its slot; the caller deletes only an object whose worker has
    // ended.
    virtual ~CServiceThread();
    CServiceThread(const CServiceThread&) = delete;
    CServiceThread& operator=(const CServiceThread&) = delete;

    // Asks the worker to end and waits up to kStopRounds x kStopSleep. TRUE when no worker runs
    // afterwards; FALSE when called on the worker itself (it ends once the callback returns) or when
    // it did not end in time.
    BOOL StopProcessingThread();
    DWORD GetThreadId() const { return m_Worker.GetThreadId(); }
    BOOL IsStarted() const { return m_Reference != nullptr; }

    static UINT __cdecl ThreadEntry(LPVOID param);
    UINT ProcessingThread();

    // The browser; null once it went first. Read once per use, through a CStreamBrowser::CUse.
    CStreamBrowser* volatile m_pOwner;
    // The record a resolve or address lookup is about (the reply's context); none for browses.
    CStreamInfoRef m_Record;
    // Opens the request again (a browse) or queues its instance's resolve again, when the daemon's end
    // of it goes away while it is still wanted; run by the browser on the worker. Empty: not again.
    std::function<void()> m_Reopen;
    // A browse opened again after its connection dropped: the instances it reports again are the
    // ones listed already, kept as they are.
    bool m_Replays = false;
    // A resolve opened again to follow a sender: when it started (the gateway's clock); else 0.
    ULONGLONG m_CheckStarted = 0;
    // A resolve or address lookup (one with a record): when it was opened (the gateway's clock).
    ULONGLONG m_Opened = 0;
    DNSServiceRef m_Reference;
    CMfxString m_ThreadName;
    CMfxString m_InstanceName;
    int m_InterfaceIndex;
    SOCKET m_Socket;
    // Written by the browser under its service-thread lock.
    volatile LONG m_Done = 0;
    CEvent m_StopEvent;
    CEvent m_SocketEvent;
    volatile LONG m_Run = 1;
    // The bounded wait of StopProcessingThread (tests shorten it).
    int m_StopRounds = kStopRounds;
    // The queue whose slot the worker holds, given back at destruction; null when it holds none or
    // the browser went first.
    CStartQueue* m_pSlots = nullptr;

private:
    void Log(const wchar_t* format, ...);

    CWorkerThread m_Worker;
};

} // namespace Corvane
