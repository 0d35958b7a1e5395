// The library's ready-made environment (text output to stderr) and its select()-based scheduler.
#pragma once

#include "live/UsageEnvironment.hh"

#include <map>
#include <unordered_map>
#include <utility>

class BasicUsageEnvironment : public UsageEnvironment
{
public:
    static BasicUsageEnvironment* createNew(TaskScheduler& scheduler);

    UsageEnvironment& operator<<(char const* str) override;
    UsageEnvironment& operator<<(int i) override;
    UsageEnvironment& operator<<(unsigned u) override;
    UsageEnvironment& operator<<(double d) override;
    UsageEnvironment& operator<<(void* p) override;

protected:
    explicit BasicUsageEnvironment(TaskScheduler& scheduler);
    ~BasicUsageEnvironment() override;
};

class BasicTaskScheduler : public TaskScheduler
{
public:
    // A step returns at the latest after `maxSchedulerGranularity` microseconds (0: no limit).
    static BasicTaskScheduler* createNew(unsigned maxSchedulerGranularity = 10000);
    ~BasicTaskScheduler() override;

    TaskToken scheduleDelayedTask(std::int64_t microseconds, TaskFunc* proc, void* clientData) override;
    void unscheduleDelayedTask(TaskToken& prevTask) override;
    void setBackgroundHandling(int socketNum, int conditionSet, BackgroundHandlerProc* handlerProc,
                               void* clientData) override;
    void SingleStep(unsigned maxDelayTime = 0) override;

protected:
    explicit BasicTaskScheduler(unsigned maxSchedulerGranularity);

private:
    struct Task
    {
        TaskFunc* proc;
        void* clientData;
    };
    struct Handler
    {
        int conditions;
        BackgroundHandlerProc* proc;
        void* clientData;
    };

    // Waits for sockets (or sleeps when none is registered); returns the ready ones with their mask.
    void waitForSockets(std::int64_t waitMicroseconds, std::map<int, int>& ready);
    void forgetDeadSockets();
    void runDueTasks();

    unsigned fGranularity;
    TaskToken fLastToken = 0;
    // Delayed tasks ordered by due time, then by the order in which they were scheduled.
    std::map<std::pair<std::int64_t, TaskToken>, Task> fTasks;
    std::unordered_map<TaskToken, std::int64_t> fDueTimes;
    std::map<int, Handler> fHandlers;
};
