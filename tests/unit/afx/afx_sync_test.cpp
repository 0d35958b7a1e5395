// The layer's locks and worker threads (its files are exercised by the log-file and string tests).
#include "afx/afxmt.h"
#include "afx/afxstr.h"
#include "afx/afxthread.h"

#include <atomic>
#include <gtest/gtest.h>

namespace {

template <typename Body> DWORD WINAPI RunBody(LPVOID argument)
{
    (*static_cast<Body*>(argument))();
    return 0;
}

// Runs `body` on a plain Win32 thread and waits for it.
template <typename Body> void OnOtherThread(Body body)
{
    HANDLE thread = ::CreateThread(nullptr, 0, RunBody<Body>, &body, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ::WaitForSingleObject(thread, INFINITE);
    ::CloseHandle(thread);
}

// Whether another thread could take the lock just now.
bool OtherThreadCanEnter(CCriticalSection& section)
{
    bool entered = false;
    OnOtherThread([&] {
        entered = ::TryEnterCriticalSection(section) != FALSE;
        if (entered) {
            ::LeaveCriticalSection(section);
        }
    });
    return entered;
}

TEST(Locks, CriticalSectionIsRecursiveAndScoped)
{
    CCriticalSection section;
    {
        CSingleLock outer(&section, TRUE);
        EXPECT_TRUE(outer.IsLocked());
        {
            CSingleLock inner(&section, TRUE);
            EXPECT_TRUE(inner.IsLocked());
        }
        // Still held once by this thread.
        EXPECT_FALSE(OtherThreadCanEnter(section));

        outer.Unlock();
        EXPECT_FALSE(outer.IsLocked());
        EXPECT_TRUE(OtherThreadCanEnter(section)) << "an early Unlock releases the lock";

        CSingleLock later(&section);
        EXPECT_FALSE(later.IsLocked());
        EXPECT_TRUE(later.Lock());
        EXPECT_TRUE(later.IsLocked());
    }
    // The destructor of the last lock released it.
    EXPECT_TRUE(OtherThreadCanEnter(section));
}

struct Waiter
{
    CEvent wake;
    CEvent done;
    std::atomic<DWORD> threadId{0};
    std::atomic<int> priority{0};
    std::atomic<BOOL> woken{FALSE};
};

UINT WaitForWake(LPVOID argument)
{
    Waiter* waiter = static_cast<Waiter*>(argument);
    waiter->threadId = ::GetCurrentThreadId();
    waiter->priority = ::GetThreadPriority(::GetCurrentThread());
    waiter->woken = waiter->wake.Lock(10000);
    waiter->done.SetEvent();
    return 42;
}

TEST(Threads, IdAndHandleAreKnownAtCreationAndAnEventWakesTheThread)
{
    Waiter waiter;
    CWinThread* thread = AfxBeginThread(WaitForWake, &waiter, THREAD_PRIORITY_BELOW_NORMAL);
    ASSERT_NE(thread, nullptr);
    // The thread waits for the event, so the self-deleting object is still there.
    DWORD id = thread->m_nThreadID;
    EXPECT_NE(id, 0u);
    EXPECT_NE(thread->m_hThread, nullptr);
    EXPECT_EQ(::GetThreadId(thread->m_hThread), id);

    waiter.wake.SetEvent();
    ASSERT_TRUE(waiter.done.Lock(10000));
    EXPECT_TRUE(waiter.woken.load());
    EXPECT_EQ(waiter.threadId.load(), id);
    EXPECT_EQ(waiter.priority.load(), THREAD_PRIORITY_BELOW_NORMAL);
}

TEST(Threads, SuspendedThreadKeptByItsCreator)
{
    Waiter waiter;
    waiter.wake.SetEvent();
    CWinThread* thread = AfxBeginThread(WaitForWake, &waiter, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
    ASSERT_NE(thread, nullptr);
    thread->m_bAutoDelete = FALSE;
    EXPECT_EQ(::WaitForSingleObject(*thread, 50), static_cast<DWORD>(WAIT_TIMEOUT)) << "not started yet";
    EXPECT_EQ(waiter.threadId.load(), 0u);
    thread->ResumeThread();
    ASSERT_EQ(::WaitForSingleObject(*thread, 10000), WAIT_OBJECT_0);
    DWORD exitCode = 0;
    EXPECT_TRUE(::GetExitCodeThread(*thread, &exitCode));
    EXPECT_EQ(exitCode, 42u);
    EXPECT_EQ(waiter.threadId.load(), thread->m_nThreadID);
    delete thread;

    EXPECT_EQ(AfxBeginThread(nullptr, nullptr), nullptr);
}

} // namespace
