// Runs an RTSP library scheduler's event loop on a thread of its own, for test programs: between
// run() and pause() the loop runs; library objects are touched only while it is paused.
#pragma once

#include "live/UsageEnvironment.hh"

#include <atomic>
#include <thread>

class EventLoopThread
{
public:
    ~EventLoopThread() { pause(); }

    void run(TaskScheduler& scheduler)
    {
        pause();
        fStop = false;
        fLoop = std::thread([this, &scheduler] {
            while (!fStop)
                scheduler.SingleStep();
        });
    }
    void pause()
    {
        fStop = true;
        if (fLoop.joinable())
            fLoop.join();
    }

private:
    std::thread fLoop;
    std::atomic<bool> fStop{false};
};
