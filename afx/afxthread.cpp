#include "afx/afxthread.h"

#include <atomic>
#include <process.h>

namespace {

std::atomic<afx_detail::ThreadCleanup> g_threadCleanup{nullptr};
std::atomic<AFX_THREADPROC> g_failingProc{nullptr};
std::atomic<int> g_failingStarts{0};

// Whether a test has asked this start to fail; counts it off.
bool StartFails(AFX_THREADPROC proc)
{
    if (g_failingProc.load() != proc) {
        return false;
    }
    int left = g_failingStarts.load();
    while (left > 0 && !g_failingStarts.compare_exchange_weak(left, left - 1)) {
    }
    return left > 0;
}

unsigned __stdcall ThreadEntry(void* argument)
{
    CWinThread* thread = static_cast<CWinThread*>(argument);
    UINT result = thread->m_pfnThreadProc(thread->m_pThreadParams);
    afx_detail::ThreadCleanup cleanup = g_threadCleanup.load();
    if (cleanup != nullptr) {
        cleanup();
    }
    if (thread->m_bAutoDelete) {
        delete thread;
    }
    return result;
}

} // namespace

void afx_detail::SetThreadCleanup(ThreadCleanup cleanup)
{
    g_threadCleanup.store(cleanup);
}

void afx_detail::FailThreadStarts(AFX_THREADPROC proc, int count)
{
    g_failingStarts.store(0);
    g_failingProc.store(proc);
    g_failingStarts.store(count);
}

CWinThread::CWinThread(AFX_THREADPROC proc, LPVOID param) : m_pfnThreadProc(proc), m_pThreadParams(param) {}

CWinThread::~CWinThread()
{
    if (m_hThread != nullptr) {
        ::CloseHandle(m_hThread);
    }
}

DWORD CWinThread::ResumeThread()
{
    return ::ResumeThread(m_hThread);
}

DWORD CWinThread::SuspendThread()
{
    return ::SuspendThread(m_hThread);
}

BOOL CWinThread::SetThreadPriority(int priority)
{
    return ::SetThreadPriority(m_hThread, priority);
}

int CWinThread::GetThreadPriority()
{
    return ::GetThreadPriority(m_hThread);
}

CWinThread* AfxBeginThread(AFX_THREADPROC proc, LPVOID param, int priority, UINT stackSize, DWORD createFlags,
                           LPSECURITY_ATTRIBUTES security)
{
    if (proc == nullptr || StartFails(proc)) {
        return nullptr;
    }
    CWinThread* thread = new CWinThread(proc, param);
    // Start it suspended, so that id, handle and priority are in place before it runs.
    unsigned id = 0;
    const unsigned flags = CREATE_SUSPENDED | (createFlags & STACK_SIZE_PARAM_IS_A_RESERVATION);
    uintptr_t handle = _beginthreadex(security, stackSize, ThreadEntry, thread, flags, &id);
    if (handle == 0) {
        delete thread;
        return nullptr;
    }
    thread->m_hThread = reinterpret_cast<HANDLE>(handle);
    thread->m_nThreadID = id;
    if (priority != THREAD_PRIORITY_NORMAL) {
        thread->SetThreadPriority(priority);
    }
    if ((createFlags & CREATE_SUSPENDED) == 0) {
        thread->ResumeThread();
    }
    return thread;
}
