// Worker threads of the class library layer.
#pragma once

#include "afx/afxplatform.h"

typedef UINT(__cdecl* AFX_THREADPROC)(LPVOID);

// A thread started by AfxBeginThread. With m_bAutoDelete set (the default) the object deletes
// itself, closing the thread handle, when the thread procedure returns; the creator then must not
// use the pointer once the thread may have ended. To keep the object, start the thread suspended,
// clear m_bAutoDelete, resume it and delete the object after the thread has ended.
class CWinThread : public CObject
{
public:
    CWinThread() : CWinThread(nullptr, nullptr) {}
    CWinThread(AFX_THREADPROC proc, LPVOID param);
    ~CWinThread() override;

    DWORD ResumeThread();
    DWORD SuspendThread();
    BOOL SetThreadPriority(int priority);
    int GetThreadPriority();
    operator HANDLE() const { return m_hThread; }

    HANDLE m_hThread = nullptr;
    DWORD m_nThreadID = 0;
    BOOL m_bAutoDelete = TRUE;
    AFX_THREADPROC m_pfnThreadProc;
    LPVOID m_pThreadParams;
};

// Starts `proc(param)` on a new thread with the given priority, stack size (0: the default) and
// creation flags (CREATE_SUSPENDED, STACK_SIZE_PARAM_IS_A_RESERVATION or 0). Without
// STACK_SIZE_PARAM_IS_A_RESERVATION the size is what the thread commits at once, and its address
// space is still the executable's default reserve; with it the size is all it reserves. The returned
// object already carries the thread's id and handle. Null when the thread cannot be created.
CWinThread* AfxBeginThread(AFX_THREADPROC proc, LPVOID param, int priority = THREAD_PRIORITY_NORMAL,
                           UINT stackSize = 0, DWORD createFlags = 0,
                           LPSECURITY_ATTRIBUTES security = nullptr);

namespace afx_detail {
// Run on every thread started by AfxBeginThread when its procedure has returned; parts of the
// layer that keep per-thread state set it once.
typedef void (*ThreadCleanup)();
void SetThreadCleanup(ThreadCleanup cleanup);
// For tests: the next `count` starts of that procedure fail as when the system has no room for
// another thread (count 0 ends it).
void FailThreadStarts(AFX_THREADPROC proc, int count);
} // namespace afx_detail
