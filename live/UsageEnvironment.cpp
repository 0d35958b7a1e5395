#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include "live/BasicUsageEnvironment.hh"

#include <cstdio>

UsageEnvironment::UsageEnvironment(TaskScheduler& scheduler) : fScheduler(scheduler) {}

UsageEnvironment::~UsageEnvironment() = default;

bool UsageEnvironment::reclaim()
{
    if (fObjectsInUse != 0)
        return false;
    delete this;
    return true;
}

void UsageEnvironment::setResultMsg(char const* msg)
{
    fResultMsg = msg ? msg : "";
}

void UsageEnvironment::setResultErrMsg(char const* msg, int err)
{
    if (err == 0)
        err = WSAGetLastError();
    setResultMsg(msg);
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(err), 0, reinterpret_cast<char*>(&text), 0, nullptr);
    if (length > 0 && text) {
        std::string standard(text, length);
        while (!standard.empty() &&
               (standard.back() == '\n' || standard.back() == '\r' || standard.back() == ' '))
            standard.pop_back();
        fResultMsg += standard;
    } else {
        fResultMsg += "error " + std::to_string(err);
    }
    if (text)
        LocalFree(text);
}

int UsageEnvironment::getErrno() const
{
    return WSAGetLastError();
}

BasicUsageEnvironment* BasicUsageEnvironment::createNew(TaskScheduler& scheduler)
{
    return new BasicUsageEnvironment(scheduler);
}

BasicUsageEnvironment::BasicUsageEnvironment(TaskScheduler& scheduler) : UsageEnvironment(scheduler) {}

BasicUsageEnvironment::~BasicUsageEnvironment() = default;

UsageEnvironment& BasicUsageEnvironment::operator<<(char const* str)
{
    std::fputs(str ? str : "(NULL)", stderr);
    return *this;
}

UsageEnvironment& BasicUsageEnvironment::operator<<(int i)
{
    std::fprintf(stderr, "%d", i);
    return *this;
}

UsageEnvironment& BasicUsageEnvironment::operator<<(unsigned u)
{
    std::fprintf(stderr, "%u", u);
    return *this;
}

UsageEnvironment& BasicUsageEnvironment::operator<<(double d)
{
    std::fprintf(stderr, "%f", d);
    return *this;
}

UsageEnvironment& BasicUsageEnvironment::operator<<(void* p)
{
    std::fprintf(stderr, "%p", p);
    return *this;
}
