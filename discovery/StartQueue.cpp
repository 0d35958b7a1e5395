#include "discovery/StartQueue.h"

#include <algorithm>

namespace {

// Close waits this long at most for starts under way on other threads (a DNS-SD call gives up on
// an unresponsive daemon after 10 s).
const int kCloseRounds = 1500;
const DWORD kCloseSleep = 10;

// The order of waiting jobs: urgent ones, then the others, then those submitted for later.
int Rank(bool urgent, bool later)
{
    return urgent ? 0 : later ? 2 : 1;
}

} // namespace

CStartQueue::CStartQueue(size_t maxRunning, Clock clock) : m_MaxRunning(maxRunning), m_Clock(std::move(clock))
{
}

CStartQueue::~CStartQueue()
{
    Close();
    delete m_pPump;
}

void CStartQueue::SetLimit(size_t maxRunning)
{
    {
        CSingleLock lock(&m_Lock, TRUE);
        m_MaxRunning = maxRunning;
    }
    m_Wake.SetEvent();
}

size_t CStartQueue::Running()
{
    CSingleLock lock(&m_Lock, TRUE);
    return m_Running;
}

size_t CStartQueue::Waiting()
{
    CSingleLock lock(&m_Lock, TRUE);
    return m_Waiting.size();
}

bool CStartQueue::HasRoom(const CJob& job) const
{
    return !job.m_TakesSlot || m_Running < (job.m_Later ? m_MaxRunning - m_MaxRunning / 4 : m_MaxRunning);
}

bool CStartQueue::MayStart(const CJob& job, ULONGLONG now) const
{
    if (!job.m_TakesSlot) {
        return true;
    }
    if (!HasRoom(job)) {
        return false;
    }
    // An earlier start that is due goes first, unless it comes later in the order (urgent ones, the
    // others, those submitted for later).
    const int rank = Rank(job.m_Urgent, job.m_Later);
    return std::none_of(m_Waiting.begin(), m_Waiting.end(), [&](const CJob* waiting) {
        return waiting->m_TakesSlot && waiting->m_Due <= now &&
               Rank(waiting->m_Urgent, waiting->m_Later) <= rank;
    });
}

void CStartQueue::Enqueue(CJob* job)
{
    const int rank = Rank(job->m_Urgent, job->m_Later);
    const auto firstBehind = std::find_if(m_Waiting.begin(), m_Waiting.end(), [&](const CJob* waiting) {
        return Rank(waiting->m_Urgent, waiting->m_Later) > rank;
    });
    m_Waiting.insert(firstBehind, job);
}

void CStartQueue::Submit(CJob* job, ULONGLONG delayMs)
{
    Admit(job, delayMs);
}

void CStartQueue::SubmitLater(CJob* job, ULONGLONG delayMs)
{
    job->m_Later = true;
    Admit(job, delayMs);
}

void CStartQueue::Admit(CJob* job, ULONGLONG delayMs)
{
    {
        CSingleLock lock(&m_Lock, TRUE);
        const ULONGLONG now = m_Clock();
        job->m_Due = now + delayMs;
        if (m_Closed) {
            job->Forgotten();
            delete job;
            return;
        }
        if (delayMs > 0 || !MayStart(*job, now)) {
            Enqueue(job);
            m_Wake.SetEvent();
            return;
        }
        if (job->m_TakesSlot) {
            ++m_Running;
        }
        ++job->m_Attempts;
        m_Starting.push_back(job);
    }
    Run(job);
}

CStartQueue::CJob* CStartQueue::TakeNext(ULONGLONG now)
{
    for (auto it = m_Waiting.begin(); it != m_Waiting.end(); ++it) {
        CJob* job = *it;
        if (job->m_Due > now || !HasRoom(*job)) {
            continue;
        }
        m_Waiting.erase(it);
        if (job->m_TakesSlot) {
            ++m_Running;
        }
        ++job->m_Attempts;
        m_Starting.push_back(job);
        return job;
    }
    return nullptr;
}

void CStartQueue::Run(CJob* job)
{
    const Result result = job->Start();
    CSingleLock lock(&m_Lock, TRUE);
    m_Starting.erase(std::find(m_Starting.begin(), m_Starting.end(), job));
    if (result == kStarted) {
        delete job;
        return;
    }
    if (job->m_TakesSlot && m_Running > 0) {
        --m_Running;
    }
    m_Wake.SetEvent();
    if (result == kRetry && !job->m_Cancelled && !m_Closed) {
        job->m_Due = m_Clock() + kRetryDelayMs;
        Enqueue(job);
        return;
    }
    job->Forgotten();
    delete job;
}

void CStartQueue::Release()
{
    {
        CSingleLock lock(&m_Lock, TRUE);
        if (m_Running > 0) {
            --m_Running;
        }
    }
    m_Wake.SetEvent();
}

void CStartQueue::Pump()
{
    for (;;) {
        CJob* job = nullptr;
        {
            CSingleLock lock(&m_Lock, TRUE);
            if (m_Closed) {
                return;
            }
            job = TakeNext(m_Clock());
        }
        if (job == nullptr) {
            return;
        }
        Run(job);
    }
}

size_t CStartQueue::Cancel(const void* owner)
{
    size_t forgotten = 0;
    for (;;) {
        {
            CSingleLock lock(&m_Lock, TRUE);
            for (auto it = m_Waiting.begin(); it != m_Waiting.end();) {
                if ((*it)->m_Owner != owner) {
                    ++it;
                    continue;
                }
                (*it)->Forgotten();
                delete *it;
                it = m_Waiting.erase(it);
                ++forgotten;
            }
            bool underWay = false;
            for (CJob* job : m_Starting) {
                if (job->m_Owner == owner) {
                    job->m_Cancelled = true;
                    underWay = true;
                }
            }
            if (!underWay) {
                return forgotten;
            }
        }
        // Its start is short (a thread creation, one call to the daemon): wait it out.
        ::SleepEx(1, TRUE);
    }
}

DWORD CStartQueue::NextWait(ULONGLONG now) const
{
    if (m_Waiting.empty()) {
        return INFINITE;
    }
    ULONGLONG earliest = now + kLongestPumpWait;
    for (const CJob* job : m_Waiting) {
        if (HasRoom(*job)) {
            earliest = std::min(earliest, std::max(job->m_Due, now));
        }
    }
    return static_cast<DWORD>(earliest - now);
}

UINT __cdecl CStartQueue::PumpEntry(LPVOID param)
{
    CStartQueue* queue = static_cast<CStartQueue*>(param);
    while (queue->m_PumpRun) {
        queue->Pump();
        DWORD wait = INFINITE;
        {
            CSingleLock lock(&queue->m_Lock, TRUE);
            wait = queue->NextWait(queue->m_Clock());
        }
        ::WaitForSingleObject(queue->m_Wake, wait);
    }
    return 0;
}

BOOL CStartQueue::StartPump()
{
    CSingleLock lock(&m_Lock, TRUE);
    if (m_Closed) {
        return FALSE;
    }
    if (m_pPump != nullptr && !m_pPump->HasEnded()) {
        return TRUE;
    }
    delete m_pPump;
    m_pPump = new CWorkerThread;
    m_PumpRun = 1;
    if (!m_pPump->Start(&CStartQueue::PumpEntry, this, CWorkerThread::kSmallStack)) {
        m_PumpRun = 0;
        return FALSE;
    }
    return TRUE;
}

void CStartQueue::Close()
{
    std::deque<CJob*> waiting;
    {
        CSingleLock lock(&m_Lock, TRUE);
        m_Closed = true;
        waiting.swap(m_Waiting);
        for (CJob* job : waiting) {
            job->Forgotten();
            delete job;
        }
    }
    m_PumpRun = 0;
    m_Wake.SetEvent();
    if (m_pPump != nullptr && !m_pPump->IsWorker()) {
        m_pPump->Join();
    }
    for (int round = 0; round < kCloseRounds; ++round) {
        {
            CSingleLock lock(&m_Lock, TRUE);
            if (m_Starting.empty()) {
                return;
            }
        }
        ::SleepEx(kCloseSleep, TRUE);
    }
}
