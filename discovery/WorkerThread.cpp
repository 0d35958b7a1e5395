#include "discovery/WorkerThread.h"

CWorkerThread::~CWorkerThread()
{
    if (m_hThread != nullptr) {
        ::CloseHandle(m_hThread);
    }
}

BOOL CWorkerThread::Start(AFX_THREADPROC proc, LPVOID param, UINT stackReserve)
{
    const DWORD flags = CREATE_SUSPENDED | (stackReserve != 0 ? STACK_SIZE_PARAM_IS_A_RESERVATION : 0);
    CWinThread* thread = AfxBeginThread(proc, param, THREAD_PRIORITY_NORMAL, stackReserve, flags);
    if (thread == nullptr) {
        return FALSE;
    }
    // The thread object deletes itself when the thread ends: keep a handle of our own.
    HANDLE handle = nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), thread->m_hThread, ::GetCurrentProcess(), &handle,
                           SYNCHRONIZE, FALSE, 0)) {
        // Without a handle its end could not be seen: the thread never runs.
        thread->m_bAutoDelete = FALSE;
        ::TerminateThread(thread->m_hThread, 0);
        delete thread;
        return FALSE;
    }
    m_hThread = handle;
    m_ThreadId = thread->m_nThreadID;
    thread->ResumeThread();
    return TRUE;
}

DWORD CWorkerThread::GetThreadId() const
{
    return HasEnded() ? kNoThread : m_ThreadId;
}

BOOL CWorkerThread::HasEnded() const
{
    return m_hThread == nullptr || ::WaitForSingleObject(m_hThread, 0) != WAIT_TIMEOUT;
}

void CWorkerThread::Join() const
{
    if (m_hThread != nullptr) {
        ::WaitForSingleObject(m_hThread, INFINITE);
    }
}
