// CStartQueue: the starts of short-lived worker threads (and of the requests they serve), with at most
// a bounded number running at once. A start that finds every slot taken waits its turn, in order; a
// start that failed (no thread could be created, the DNS-SD daemon refused) is tried again a second
// later, so nothing asked for is lost to a burst.
//
// A job is one start: its Start makes one attempt and says whether its thread now runs (holding a
// slot, given back with Release once that thread has ended), should be tried again, or is no longer
// wanted. Starts run on the thread that submits (when a slot is free and no earlier start is due) or
// on the queue's pump thread; they run outside the queue's lock, which is taken by nothing else, so a
// job may take any lock of its own, as long as nobody calls into the queue while holding it.
//
// A job submitted for later (SubmitLater: something that went unanswered, tried again after a pause)
// waits behind every other job, and such jobs never take the last quarter of the slots, so they
// cannot keep newcomers waiting.
//
// Threads: Submit, Release and Cancel from any thread; Close (or the destructor) from the owner's.
#pragma once

#include "afx/afxmt.h"
#include "afx/afxplatform.h"
#include "discovery/WorkerThread.h"

#include <deque>
#include <functional>
#include <vector>

class CStartQueue
{
public:
    enum Result
    {
        kStarted, // a thread of the job runs now
        kRetry,   // tried again kRetryDelayMs later
        kDropped  // no longer wanted
    };
    static const ULONGLONG kRetryDelayMs = 1000;
    // The pump thread looks at the clock at least this often (the clock may be a test's).
    static const DWORD kLongestPumpWait = 250;

    class CJob
    {
    public:
        // owner: what Cancel finds the job by. A job that takes a slot counts against the limit;
        // an urgent one goes before the others that wait (it finishes work already begun).
        CJob(const void* owner, bool takesSlot, bool urgent = false)
            : m_Owner(owner), m_TakesSlot(takesSlot), m_Urgent(urgent)
        {
        }
        virtual ~CJob() = default;
        CJob(const CJob&) = delete;
        CJob& operator=(const CJob&) = delete;

        virtual Result Start() = 0;
        // The job is given up without having started (dropped, cancelled, closed). Runs under the
        // queue's lock: it takes no lock.
        virtual void Forgotten() {}

        bool TakesSlot() const { return m_TakesSlot; }
        // Attempts made so far, the running one included: 1 on the first.
        int Attempts() const { return m_Attempts; }

    private:
        friend class CStartQueue;
        const void* m_Owner;
        bool m_TakesSlot;
        bool m_Urgent;
        int m_Attempts = 0;
        bool m_Later = false;
        ULONGLONG m_Due = 0;
        bool m_Cancelled = false;
    };

    using Clock = std::function<ULONGLONG()>;

    CStartQueue(size_t maxRunning, Clock clock);
    // Close.
    ~CStartQueue();
    CStartQueue(const CStartQueue&) = delete;
    CStartQueue& operator=(const CStartQueue&) = delete;

    // Takes the job: starts it at once when it may, else it waits its turn; with a delay it waits at
    // least that long. After Close the job is forgotten at once.
    void Submit(CJob* job, ULONGLONG delayMs = 0);
    // Takes the job as one to be tried again after a pause: it falls due delayMs from now and then
    // waits behind every job submitted with Submit.
    void SubmitLater(CJob* job, ULONGLONG delayMs);
    // The thread of a started job that takes a slot has ended.
    void Release();
    // Starts the waiting jobs that are due while slots are free (the pump thread does this).
    void Pump();
    // Forgets the waiting jobs of that owner; waits for a start of it that is under way to end.
    // The number forgotten.
    size_t Cancel(const void* owner);
    // A thread of its own that runs Pump whenever a slot is given back, a job waits and is due, or
    // a start is to be tried again. TRUE when it runs.
    BOOL StartPump();
    // Forgets every waiting job, ends the pump thread, and forgets every later Submit.
    void Close();

    size_t Running();
    size_t Waiting();
    void SetLimit(size_t maxRunning);

private:
    static UINT __cdecl PumpEntry(LPVOID param);
    // Under the lock: whether the job may start now, and the first waiting job that may.
    bool MayStart(const CJob& job, ULONGLONG now) const;
    // Under the lock: whether a slot is free for the job (a later one leaves a quarter of them).
    bool HasRoom(const CJob& job) const;
    CJob* TakeNext(ULONGLONG now);
    void Admit(CJob* job, ULONGLONG delayMs);
    void Run(CJob* job);
    void Enqueue(CJob* job);
    // Under the lock: how long the pump may wait before something falls due.
    DWORD NextWait(ULONGLONG now) const;

    CCriticalSection m_Lock;
    size_t m_MaxRunning;
    Clock m_Clock;
    size_t m_Running = 0;
    std::deque<CJob*> m_Waiting;
    std::vector<CJob*> m_Starting;
    bool m_Closed = false;
    CEvent m_Wake;
    volatile LONG m_PumpRun = 0;
    CWorkerThread* m_pPump = nullptr;
};
