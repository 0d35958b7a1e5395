// The start queue on a test clock: the bound on what runs at once, the order of waiting starts,
// failed starts tried again a second later, and what is forgotten.
#include "discovery/StartQueue.h"
#include "dnssd_fake.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

ULONGLONG g_now = 0;

// A start that plays its outcomes in turn (the last one repeats) and notes when it was tried.
class ScriptedJob : public CStartQueue::CJob
{
public:
    ScriptedJob(std::vector<std::string>& log, std::string name, std::vector<CStartQueue::Result> outcomes,
                const void* owner = nullptr, bool urgent = false)
        : CJob(owner, true, urgent), m_Log(log), m_Name(std::move(name)), m_Outcomes(std::move(outcomes))
    {
    }
    CStartQueue::Result Start() override
    {
        const size_t turn = static_cast<size_t>(Attempts() - 1);
        const CStartQueue::Result result = m_Outcomes[std::min(turn, m_Outcomes.size() - 1)];
        m_Log.push_back(m_Name + "@" + std::to_string(g_now) + (result == CStartQueue::kStarted ? "" : "x"));
        return result;
    }
    void Forgotten() override { m_Log.push_back(m_Name + " forgotten"); }

private:
    std::vector<std::string>& m_Log;
    std::string m_Name;
    std::vector<CStartQueue::Result> m_Outcomes;
};

CStartQueue::Clock TestClock()
{
    return [] { return g_now; };
}

const CStartQueue::Result kStarted = CStartQueue::kStarted;
const CStartQueue::Result kRetry = CStartQueue::kRetry;
const CStartQueue::Result kDropped = CStartQueue::kDropped;

} // namespace

TEST(StartQueue, AtMostTheLimitRunsTheOthersWaitInOrderUrgentOnesFirst)
{
    g_now = 0;
    std::vector<std::string> log;
    CStartQueue queue(2, TestClock());
    for (const char* name : {"a", "b", "c", "d"}) {
        queue.Submit(new ScriptedJob(log, name, {kStarted}));
    }
    queue.Submit(new ScriptedJob(log, "u", {kStarted}, nullptr, true));
    EXPECT_EQ(log, (std::vector<std::string>{"a@0", "b@0"}));
    EXPECT_EQ(queue.Running(), 2u);
    EXPECT_EQ(queue.Waiting(), 3u);
    queue.Pump();
    EXPECT_EQ(log.size(), 2u) << "no slot was free";
    for (int released = 0; released < 3; ++released) {
        queue.Release();
        queue.Pump();
        EXPECT_EQ(queue.Running(), 2u);
    }
    EXPECT_EQ(log, (std::vector<std::string>{"a@0", "b@0", "u@0", "c@0", "d@0"}));
    EXPECT_EQ(queue.Waiting(), 0u);
}

TEST(StartQueue, AFailedStartIsTriedAgainASecondLaterAndGivesItsSlotBackMeanwhile)
{
    struct Case
    {
        std::vector<CStartQueue::Result> outcomes;
        std::vector<std::string> expected;
        size_t runningAfter;
    };
    const Case cases[] = {
        {{kStarted}, {"j@0"}, 1},
        {{kRetry, kStarted}, {"j@0x", "j@1000"}, 1},
        {{kRetry, kRetry, kStarted}, {"j@0x", "j@1000x", "j@2000"}, 1},
        {{kDropped}, {"j@0x", "j forgotten"}, 0},
        {{kRetry, kDropped}, {"j@0x", "j@1000x", "j forgotten"}, 0},
        {{kRetry}, {"j@0x", "j@1000x", "j@2000x", "j@3000x"}, 0},
    };
    for (const Case& c : cases) {
        g_now = 0;
        std::vector<std::string> log;
        CStartQueue queue(1, TestClock());
        queue.Submit(new ScriptedJob(log, "j", c.outcomes));
        for (g_now = 0; g_now <= 3000; g_now += 100) {
            queue.Pump();
            if (g_now == 500 && log[0] == "j@0x") {
                // The failed start holds no slot: another one starts at once.
                std::vector<std::string> other;
                queue.Submit(new ScriptedJob(other, "o", {kStarted}));
                EXPECT_EQ(other, (std::vector<std::string>{"o@500"}));
                queue.Release();
            }
        }
        EXPECT_EQ(log, c.expected) << c.expected.back();
        EXPECT_EQ(queue.Running(), c.runningAfter) << c.expected.back();
    }
}

TEST(StartQueue, JobsSubmittedForLaterWaitTheirPauseGoBehindTheOthersAndLeaveAQuarterOfTheSlots)
{
    g_now = 0;
    std::vector<std::string> log;
    CStartQueue queue(4, TestClock());
    queue.SubmitLater(new ScriptedJob(log, "late1", {kStarted}), 1000);
    EXPECT_EQ(queue.Waiting(), 1u);
    g_now = 999;
    queue.Pump();
    EXPECT_TRUE(log.empty()) << "before its pause is over";
    g_now = 1000;
    queue.Pump();
    EXPECT_EQ(log, (std::vector<std::string>{"late1@1000"}));
    // Later jobs take three of the four slots at most: a newcomer still starts at once.
    for (const char* name : {"late2", "late3", "late4"}) {
        queue.SubmitLater(new ScriptedJob(log, name, {kStarted}), 0);
    }
    EXPECT_EQ(queue.Running(), 3u);
    EXPECT_EQ(queue.Waiting(), 1u);
    queue.Submit(new ScriptedJob(log, "new1", {kStarted}));
    EXPECT_EQ(queue.Running(), 4u);
    // A newcomer that comes while every slot is taken goes before the later job that waited first.
    queue.Submit(new ScriptedJob(log, "new2", {kStarted}));
    queue.Release();
    queue.Pump();
    EXPECT_EQ(log.back(), "new2@1000");
    queue.Release();
    queue.Pump();
    EXPECT_EQ(log.back(), "new2@1000") << "three slots taken: none for a later job";
    queue.Release();
    queue.Pump();
    EXPECT_EQ(log, (std::vector<std::string>{"late1@1000", "late2@1000", "late3@1000", "new1@1000",
                                             "new2@1000", "late4@1000"}));
    // A later job that fails is tried again a second later, and still leaves a quarter of the slots.
    queue.SubmitLater(new ScriptedJob(log, "late5", {kRetry, kStarted}), 0);
    queue.Submit(new ScriptedJob(log, "new3", {kStarted}));
    EXPECT_EQ(log.back(), "new3@1000");
    g_now = 2000;
    queue.Release();
    queue.Release();
    queue.Pump();
    EXPECT_EQ(log.back(), "late5@2000x");
    queue.Submit(new ScriptedJob(log, "new4", {kStarted}));
    g_now = 3000;
    queue.Pump();
    EXPECT_EQ(log.back(), "new4@2000");
    queue.Release();
    queue.Pump();
    EXPECT_EQ(log.back(), "late5@3000");
}

TEST(StartQueue, ADelayedStartWaitsItsDelayWithoutHoldingUpTheOthers)
{
    g_now = 0;
    std::vector<std::string> log;
    CStartQueue queue(2, TestClock());
    queue.Submit(new ScriptedJob(log, "later", {kRetry, kStarted}), 1000);
    queue.Submit(new ScriptedJob(log, "now", {kStarted}));
    for (g_now = 0; g_now <= 2500; g_now += 100) {
        queue.Pump();
    }
    EXPECT_EQ(log, (std::vector<std::string>{"now@0", "later@1000x", "later@2000"}));
    EXPECT_EQ(queue.Running(), 2u);
}

TEST(StartQueue, CancelAndCloseForgetWhatWaitsAndCloseRefusesNewStarts)
{
    g_now = 0;
    std::vector<std::string> log;
    int owner1 = 0;
    int owner2 = 0;
    CStartQueue queue(1, TestClock());
    queue.Submit(new ScriptedJob(log, "running", {kStarted}));
    queue.Submit(new ScriptedJob(log, "one", {kStarted}, &owner1));
    queue.Submit(new ScriptedJob(log, "two", {kStarted}, &owner2));
    queue.Submit(new ScriptedJob(log, "one again", {kStarted}, &owner1));
    EXPECT_EQ(queue.Cancel(&owner1), 2u);
    EXPECT_EQ(queue.Cancel(&owner1), 0u);
    queue.Close();
    queue.Submit(new ScriptedJob(log, "late", {kStarted}));
    queue.Release();
    queue.Pump();
    EXPECT_EQ(log, (std::vector<std::string>{"running@0", "one forgotten", "one again forgotten",
                                             "two forgotten", "late forgotten"}));
}

TEST(StartQueue, ThePumpThreadStartsRetriesAndWhatAFreedSlotLetsIn)
{
    std::vector<std::string> log;
    CStartQueue queue(1, [] { return ::GetTickCount64(); });
    ASSERT_TRUE(queue.StartPump());
    g_now = 0;
    queue.Submit(new ScriptedJob(log, "retried", {kRetry, kStarted}));
    queue.Submit(new ScriptedJob(log, "waiting", {kStarted}));
    // The retried one went back to wait; the waiting one took the slot at once.
    ASSERT_TRUE(dnssd_fake::WaitFor([&] { return queue.Running() == 1 && queue.Waiting() == 1; }));
    queue.Release();
    EXPECT_TRUE(dnssd_fake::WaitFor([&] { return queue.Waiting() == 0 && queue.Running() == 1; }, 5000));
    EXPECT_EQ(log, (std::vector<std::string>{"retried@0x", "waiting@0", "retried@0"}));
}
