// CWorkerThread: one worker thread of the discovery side (daemon, housekeeping, DNS-SD service
// threads, registration replies), started through AfxBeginThread.
//
// The thread's id is known as soon as Start returns, before the thread runs, so a stop asked for
// at once is never mistaken for "no worker". Its end is the real end of the thread (its handle is
// signalled), so an object the worker uses may be deleted once WaitForEnd said so. The object never
// stops its thread by itself; the destructor only closes the handle.
#pragma once

#include "afx/afxplatform.h"
#include "afx/afxthread.h"

class CWorkerThread
{
public:
    static const DWORD kNoThread = static_cast<DWORD>(-1);
    // The address space a short-lived worker reserves for its stack (the executable's default is
    // 2 MB): enough for a reply callback, a log line and a socket notification.
    static const UINT kSmallStack = 64 * 1024;

    CWorkerThread() = default;
    ~CWorkerThread();
    CWorkerThread(const CWorkerThread&) = delete;
    CWorkerThread& operator=(const CWorkerThread&) = delete;

    // Starts proc(param) (normal priority) with a stack that reserves `stackReserve` bytes (0: the
    // executable's default). FALSE when no thread could be created. Creator's thread only, once.
    BOOL Start(AFX_THREADPROC proc, LPVOID param, UINT stackReserve = 0);
    // The worker's id while it runs; kNoThread before Start and once the thread has ended. Any thread.
    DWORD GetThreadId() const;
    // TRUE on the worker itself.
    BOOL IsWorker() const { return m_ThreadId != kNoThread && m_ThreadId == ::GetCurrentThreadId(); }
    BOOL HasEnded() const;
    // Up to `rounds` times while the thread runs: wake(), then an alertable wait of at most `sleepMs`
    // that ends as soon as the thread does. TRUE when the thread has ended.
    template <class Wake> BOOL WaitForEnd(int rounds, DWORD sleepMs, Wake wake)
    {
        for (int round = 0; round < rounds && !HasEnded(); ++round) {
            wake();
            ::WaitForSingleObjectEx(m_hThread, sleepMs, TRUE);
        }
        return HasEnded();
    }
    // Waits without bound for the thread's end (for a worker whose own waits are all bounded).
    void Join() const;

private:
    HANDLE m_hThread = nullptr;
    DWORD m_ThreadId = kNoThread;
};
