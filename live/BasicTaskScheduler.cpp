// select() handles at most FD_SETSIZE sockets; the server's connection limit stays below this.
#define FD_SETSIZE 1024
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include "live/BasicUsageEnvironment.hh"
#include "live/live_support.hh"

#include <algorithm>
#include <memory>
#include <vector>

using live_support::monotonicMicroseconds;

BasicTaskScheduler* BasicTaskScheduler::createNew(unsigned maxSchedulerGranularity)
{
    return new BasicTaskScheduler(maxSchedulerGranularity);
}

BasicTaskScheduler::BasicTaskScheduler(unsigned maxSchedulerGranularity)
    : fGranularity(maxSchedulerGranularity)
{
}

BasicTaskScheduler::~BasicTaskScheduler() = default;

TaskToken BasicTaskScheduler::scheduleDelayedTask(std::int64_t microseconds, TaskFunc* proc, void* clientData)
{
    const std::int64_t due = monotonicMicroseconds() + std::max<std::int64_t>(microseconds, 0);
    const TaskToken token = ++fLastToken;
    fTasks.emplace(std::make_pair(due, token), Task{proc, clientData});
    fDueTimes.emplace(token, due);
    return token;
}

void BasicTaskScheduler::unscheduleDelayedTask(TaskToken& prevTask)
{
    auto it = fDueTimes.find(prevTask);
    if (it != fDueTimes.end()) {
        fTasks.erase(std::make_pair(it->second, prevTask));
        fDueTimes.erase(it);
    }
    prevTask = 0;
}

void BasicTaskScheduler::setBackgroundHandling(int socketNum, int conditionSet,
                                               BackgroundHandlerProc* handlerProc, void* clientData)
{
    if (socketNum < 0)
        return;
    if (conditionSet == 0 || handlerProc == nullptr)
        fHandlers.erase(socketNum);
    else
        fHandlers[socketNum] = Handler{conditionSet, handlerProc, clientData};
}

void BasicTaskScheduler::SingleStep(unsigned maxDelayTime)
{
    std::int64_t wait = fGranularity != 0 ? fGranularity : INT64_MAX;
    if (maxDelayTime != 0)
        wait = std::min<std::int64_t>(wait, maxDelayTime);
    if (!fTasks.empty())
        wait =
            std::min(wait, std::max<std::int64_t>(fTasks.begin()->first.first - monotonicMicroseconds(), 0));

    std::map<int, int> ready;
    waitForSockets(wait, ready);
    for (const auto& entry : ready) {
        // An earlier handler of this step may have removed or replaced this socket's handler.
        auto handler = fHandlers.find(entry.first);
        if (handler == fHandlers.end())
            continue;
        const int mask = entry.second & handler->second.conditions;
        if (mask != 0)
            handler->second.proc(handler->second.clientData, mask);
    }
    runDueTasks();
}

void BasicTaskScheduler::waitForSockets(std::int64_t waitMicroseconds, std::map<int, int>& ready)
{
    // fd_set of this translation unit holds FD_SETSIZE sockets; keep the sets off the stack.
    auto sets = std::make_unique<fd_set[]>(3);
    fd_set& readable = sets[0];
    fd_set& writable = sets[1];
    fd_set& failed = sets[2];
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    unsigned count = 0;
    for (const auto& entry : fHandlers) {
        if (count == FD_SETSIZE)
            break;
        const SOCKET s = static_cast<SOCKET>(entry.first);
        if (entry.second.conditions & SOCKET_READABLE)
            FD_SET(s, &readable);
        if (entry.second.conditions & SOCKET_WRITABLE)
            FD_SET(s, &writable);
        if (entry.second.conditions & SOCKET_EXCEPTION)
            FD_SET(s, &failed);
        ++count;
    }
    if (count == 0) {
        // Winsock's select() fails at once on empty sets: sleep instead of spinning.
        if (waitMicroseconds > 0)
            Sleep(static_cast<DWORD>(std::min<std::int64_t>((waitMicroseconds + 999) / 1000, 0x7FFFFFFF)));
        return;
    }
    const std::int64_t capped = std::min<std::int64_t>(waitMicroseconds, 3600ll * 1000000);
    timeval timeout;
    timeout.tv_sec = static_cast<long>(capped / 1000000);
    timeout.tv_usec = static_cast<long>(capped % 1000000);
    const int result = select(0, &readable, &writable, &failed, &timeout);
    if (result == SOCKET_ERROR) {
        // A socket was closed without removing its handler: drop it, and do not spin meanwhile.
        forgetDeadSockets();
        Sleep(1);
        return;
    }
    if (result == 0)
        return;
    auto note = [&ready](fd_set const& set, int condition) {
        for (u_int i = 0; i < set.fd_count; ++i)
            ready[static_cast<int>(set.fd_array[i])] |= condition;
    };
    note(readable, SOCKET_READABLE);
    note(writable, SOCKET_WRITABLE);
    note(failed, SOCKET_EXCEPTION);
}

void BasicTaskScheduler::forgetDeadSockets()
{
    for (auto it = fHandlers.begin(); it != fHandlers.end();) {
        int type = 0;
        int length = sizeof(type);
        if (getsockopt(static_cast<SOCKET>(it->first), SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type),
                       &length) != 0)
            it = fHandlers.erase(it);
        else
            ++it;
    }
}

void BasicTaskScheduler::runDueTasks()
{
    // Only tasks already scheduled when this pass starts run in it, so a task that schedules
    // itself again with no delay runs once per step.
    const TaskToken newest = fLastToken;
    const std::int64_t now = monotonicMicroseconds();
    std::vector<TaskToken> due;
    for (const auto& entry : fTasks) {
        if (entry.first.first > now)
            break;
        if (entry.first.second <= newest)
            due.push_back(entry.first.second);
    }
    for (TaskToken token : due) {
        auto it = fDueTimes.find(token);
        if (it == fDueTimes.end())
            continue; // cancelled by an earlier task of this pass
        auto task = fTasks.find(std::make_pair(it->second, token));
        const Task run = task->second;
        fTasks.erase(task);
        fDueTimes.erase(it);
        run.proc(run.clientData);
    }
}
