// The event loop interface of the RTSP library and the environment that carries its text
// output and last result message. One environment and one scheduler belong to one thread.
#pragma once

#include <cstdint>
#include <string>

// A scheduled delayed task; 0 means "none". Tokens are never reused.
typedef std::uint64_t TaskToken;
typedef void TaskFunc(void* clientData);
// Called with the conditions (SOCKET_READABLE, ...) that the socket met.
typedef void BackgroundHandlerProc(void* clientData, int mask);

constexpr int SOCKET_READABLE = 1;
constexpr int SOCKET_WRITABLE = 2;
constexpr int SOCKET_EXCEPTION = 4;

class TaskScheduler
{
public:
    virtual ~TaskScheduler() = default;

    // Runs `proc` once, `microseconds` from now (0 or less: on the next step).
    virtual TaskToken scheduleDelayedTask(std::int64_t microseconds, TaskFunc* proc, void* clientData) = 0;
    // Cancels a task that has not run yet and sets the token to 0; unknown tokens are ignored.
    virtual void unscheduleDelayedTask(TaskToken& prevTask) = 0;

    // Calls `handlerProc` whenever the socket meets one of the conditions; a condition set of 0
    // (or a null procedure) removes the socket's handler.
    virtual void setBackgroundHandling(int socketNum, int conditionSet, BackgroundHandlerProc* handlerProc,
                                       void* clientData) = 0;
    void disableBackgroundHandling(int socketNum) { setBackgroundHandling(socketNum, 0, nullptr, nullptr); }

    // One step of the event loop: waits for the first ready socket, the next due task, the
    // scheduler's granularity or `maxDelayTime` microseconds (when non-zero), whichever comes
    // first, then runs the handlers of the ready sockets and the tasks that are due.
    virtual void SingleStep(unsigned maxDelayTime = 0) = 0;

protected:
    TaskScheduler() = default;

private:
    TaskScheduler(const TaskScheduler&) = delete;
    TaskScheduler& operator=(const TaskScheduler&) = delete;
};

class UsageEnvironment
{
public:
    // Deletes the environment when no library object uses it any more; returns whether it did.
    bool reclaim();

    TaskScheduler& taskScheduler() const { return fScheduler; }

    // The result message of the last failed operation.
    char const* getResultMsg() const { return fResultMsg.c_str(); }
    void setResultMsg(char const* msg);
    // `msg` followed by the standard text of the error number (0: the thread's last socket error).
    void setResultErrMsg(char const* msg, int err = 0);
    // The thread's last socket error number.
    int getErrno() const;

    // Text output of the library.
    virtual UsageEnvironment& operator<<(char const* str) = 0;
    virtual UsageEnvironment& operator<<(int i) = 0;
    virtual UsageEnvironment& operator<<(unsigned u) = 0;
    virtual UsageEnvironment& operator<<(double d) = 0;
    virtual UsageEnvironment& operator<<(void* p) = 0;

protected:
    explicit UsageEnvironment(TaskScheduler& scheduler);
    virtual ~UsageEnvironment();

private:
    friend class Medium;
    friend class Groupsock;

    UsageEnvironment(const UsageEnvironment&) = delete;
    UsageEnvironment& operator=(const UsageEnvironment&) = delete;

    TaskScheduler& fScheduler;
    std::string fResultMsg;
    unsigned fObjectsInUse = 0; // library objects created on this environment and not yet deleted
};
