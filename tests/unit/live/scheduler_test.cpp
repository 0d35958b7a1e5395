// The scheduler: delayed tasks, socket handlers and the step that sleeps with no socket.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include "live/BasicUsageEnvironment.hh"
#include "live/Groupsock.hh"
#include "live/live_support.hh"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

struct Log
{
    std::vector<std::string> entries;
};

struct Entry
{
    Log* log;
    std::string name;
};

void record(void* clientData)
{
    Entry* entry = static_cast<Entry*>(clientData);
    entry->log->entries.push_back(entry->name);
}

std::int64_t now()
{
    return live_support::monotonicMicroseconds();
}

void stepUntil(TaskScheduler& scheduler, std::int64_t until)
{
    while (now() < until)
        scheduler.SingleStep();
}

TEST(Scheduler, DelayedTasksRunInDueOrderAndCanBeCancelled)
{
    std::unique_ptr<BasicTaskScheduler> scheduler(BasicTaskScheduler::createNew());
    Log log;
    Entry late{&log, "late"}, early{&log, "early"}, tie1{&log, "tie1"}, tie2{&log, "tie2"},
        gone{&log, "gone"};
    scheduler->scheduleDelayedTask(60000, record, &late);
    scheduler->scheduleDelayedTask(20000, record, &early);
    scheduler->scheduleDelayedTask(40000, record, &tie1);
    TaskToken cancelled = scheduler->scheduleDelayedTask(30000, record, &gone);
    scheduler->scheduleDelayedTask(40000, record, &tie2);
    scheduler->unscheduleDelayedTask(cancelled);
    EXPECT_EQ(0u, cancelled);
    scheduler->unscheduleDelayedTask(cancelled); // a cleared token is harmless
    stepUntil(*scheduler, now() + 100000);
    EXPECT_EQ((std::vector<std::string>{"early", "tie1", "tie2", "late"}), log.entries);
}

struct Repeater
{
    TaskScheduler* scheduler;
    int runs = 0;
    static void run(void* self)
    {
        Repeater* r = static_cast<Repeater*>(self);
        ++r->runs;
        r->scheduler->scheduleDelayedTask(0, run, r);
    }
};

TEST(Scheduler, TaskReschedulingItselfRunsOncePerStep)
{
    std::unique_ptr<BasicTaskScheduler> scheduler(BasicTaskScheduler::createNew());
    Repeater repeater{scheduler.get()};
    scheduler->scheduleDelayedTask(0, Repeater::run, &repeater);
    for (int i = 0; i < 5; ++i)
        scheduler->SingleStep();
    EXPECT_EQ(5, repeater.runs);
}

TEST(Scheduler, StepWithoutSocketsSleepsForTheGranularity)
{
    std::unique_ptr<BasicTaskScheduler> scheduler(BasicTaskScheduler::createNew(10000));
    const std::int64_t start = now();
    for (int i = 0; i < 10; ++i)
        scheduler->SingleStep();
    // Ten steps of 10 ms each: they sleep rather than return at once (and spin).
    EXPECT_GE(now() - start, 90000);

    // A step returns early for a due task and for a smaller maximum delay.
    Log log;
    Entry soon{&log, "soon"};
    scheduler->scheduleDelayedTask(2000, record, &soon);
    const std::int64_t before = now();
    scheduler->SingleStep();
    scheduler->SingleStep();
    EXPECT_EQ(std::vector<std::string>{"soon"}, log.entries);
    EXPECT_LT(now() - before, 500000);
}

struct SocketEvents
{
    int calls = 0;
    int lastMask = 0;
    static void handler(void* self, int mask)
    {
        SocketEvents* e = static_cast<SocketEvents*>(self);
        ++e->calls;
        e->lastMask = mask;
    }
};

class SchedulerSockets : public ::testing::Test
{
protected:
    void SetUp() override
    {
        WSADATA data;
        ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 2), &data));
        receiver = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        sockaddr_in local = {};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(0, bind(receiver, reinterpret_cast<sockaddr*>(&local), sizeof(local)));
        int length = sizeof(address);
        ASSERT_EQ(0, getsockname(receiver, reinterpret_cast<sockaddr*>(&address), &length));
        sender = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    }
    void TearDown() override
    {
        closesocket(sender);
        if (receiver != INVALID_SOCKET)
            closesocket(receiver);
        WSACleanup();
    }
    void sendOne() { sendto(sender, "x", 1, 0, reinterpret_cast<sockaddr*>(&address), sizeof(address)); }
    SOCKET receiver = INVALID_SOCKET;
    SOCKET sender = INVALID_SOCKET;
    sockaddr_in address = {};
    std::unique_ptr<BasicTaskScheduler> scheduler{BasicTaskScheduler::createNew()};
};

TEST_F(SchedulerSockets, SocketClosedWithoutRemovingItsHandlerIsDropped)
{
    SocketEvents events;
    scheduler->setBackgroundHandling(static_cast<int>(receiver), SOCKET_READABLE, SocketEvents::handler,
                                     &events);
    closesocket(receiver);
    receiver = INVALID_SOCKET;
    const std::int64_t start = now();
    for (int i = 0; i < 5; ++i)
        scheduler->SingleStep();
    EXPECT_EQ(0, events.calls);
    // After the dead socket is dropped, steps sleep again instead of failing at once.
    const std::int64_t afterDrop = now();
    for (int i = 0; i < 5; ++i)
        scheduler->SingleStep();
    EXPECT_GE(now() - afterDrop, 40000);
    EXPECT_GE(now() - start, 40000);
}

} // namespace
