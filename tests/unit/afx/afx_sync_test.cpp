// The layer's files, locks, events and worker threads.
#include "afx/afxfile.h"
#include "afx/afxmt.h"
#include "afx/afxstr.h"
#include "afx/afxthread.h"

#include <atomic>
#include <gtest/gtest.h>

namespace {

// A file name in the temporary folder that no other test uses; removed at the end.
class TempFile
{
public:
    explicit TempFile(const wchar_t* tag)
    {
        wchar_t folder[MAX_PATH];
        ::GetTempPathW(MAX_PATH, folder);
        wchar_t name[MAX_PATH];
        swprintf(name, MAX_PATH, L"%lsafx_%ls_%lu.bin", folder, tag, ::GetCurrentProcessId());
        m_path = name;
        ::DeleteFileW(m_path);
    }
    ~TempFile() { ::DeleteFileW(m_path); }
    const wchar_t* Path() const { return m_path.GetString(); }

private:
    CString m_path;
};

const UINT kShared = CFile::modeReadWrite | CFile::shareDenyNone;

TEST(File, CreateAppendAndLength)
{
    TempFile temp(L"append");
    CFile file;
    // Opening a missing file without modeCreate fails by its result and names the cause.
    CFileException error;
    EXPECT_FALSE(file.Open(temp.Path(), kShared, &error));
    EXPECT_EQ(error.m_cause, CFileException::fileNotFound);
    EXPECT_EQ(error.m_lOsError, ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(file.IsOpen());

    ASSERT_TRUE(file.Open(temp.Path(), kShared | CFile::modeCreate));
    EXPECT_TRUE(file.Write("abc", 3));
    file.Close();

    // Reopened keeping the content: appending at the end.
    ASSERT_TRUE(file.Open(temp.Path(), kShared));
    EXPECT_EQ(file.GetLength(), 3u);
    EXPECT_EQ(file.SeekToEnd(), 3u);
    EXPECT_TRUE(file.Write("defg", 4));
    EXPECT_EQ(file.GetLength(), 7u);
    file.SeekToBegin();
    char text[16] = {};
    EXPECT_EQ(file.Read(text, sizeof(text)), 7u);
    EXPECT_STREQ(text, "abcdefg");
    EXPECT_EQ(file.Read(text, sizeof(text)), 0u) << "end of file";
    file.Close();

    ASSERT_TRUE(file.Open(temp.Path(), kShared | CFile::modeCreate | CFile::modeNoTruncate));
    EXPECT_EQ(file.GetLength(), 7u) << "modeNoTruncate keeps the content";
    file.Close();
    ASSERT_TRUE(file.Open(temp.Path(), kShared | CFile::modeCreate));
    EXPECT_EQ(file.GetLength(), 0u) << "modeCreate alone empties the file";
}

TEST(File, WriteErrorsAreReportedNotThrown)
{
    TempFile temp(L"error");
    CFile writer;
    ASSERT_TRUE(writer.Open(temp.Path(), kShared | CFile::modeCreate));
    writer.Close();

    CFile reader;
    ASSERT_TRUE(reader.Open(temp.Path(), CFile::modeRead | CFile::shareDenyNone));
    bool written = true;
    EXPECT_NO_THROW(written = reader.Write("x", 1));
    EXPECT_FALSE(written);
    EXPECT_NE(::GetLastError(), 0u);

    CFile closed;
    EXPECT_NO_THROW(written = closed.Write("x", 1));
    EXPECT_FALSE(written);
    EXPECT_EQ(closed.Read(&written, 1), 0u);
    EXPECT_EQ(closed.GetLength(), 0u);
}

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

TEST(Locks, EventsAutoAndManualReset)
{
    CEvent autoReset;
    EXPECT_FALSE(autoReset.Lock(0));
    EXPECT_TRUE(autoReset.SetEvent());
    EXPECT_EQ(::WaitForSingleObject(autoReset, 0), WAIT_OBJECT_0) << "usable as a handle";
    EXPECT_FALSE(autoReset.Lock(0)) << "a wait cleared it";

    CEvent manual(FALSE, TRUE);
    manual.SetEvent();
    EXPECT_TRUE(manual.Lock(0));
    EXPECT_TRUE(manual.Lock(0));
    manual.ResetEvent();
    EXPECT_FALSE(manual.Lock(0));

    CEvent initiallySet(TRUE, FALSE);
    CSingleLock lock(&initiallySet, TRUE);
    EXPECT_TRUE(lock.IsLocked());
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
