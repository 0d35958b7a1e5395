#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include "live/live_support.hh"

#include "live/Groupsock.hh"
#include "live/UsageEnvironment.hh"

#include <cstdio>

namespace live_support {

bool initializeWinsockIfNecessary(UsageEnvironment& env)
{
    static int result = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data);
    }();
    if (result != 0) {
        WSASetLastError(result);
        socketErr(env, "Failed to initialize 'winsock': ");
        return false;
    }
    return true;
}

void socketErr(UsageEnvironment& env, char const* msg)
{
    const int err = WSAGetLastError();
    env.setResultErrMsg(msg, err);
    env << "socketErr() " << env.getResultMsg() << ", " << err << "\n";
}

bool makeSocketNonBlocking(int socketNum)
{
    u_long nonBlocking = 1;
    return ioctlsocket(static_cast<SOCKET>(socketNum), FIONBIO, &nonBlocking) == 0;
}

std::int64_t monotonicMicroseconds()
{
    static const std::int64_t frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<std::int64_t>(f.QuadPart);
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    const std::int64_t ticks = counter.QuadPart;
    return ticks / frequency * 1000000 + ticks % frequency * 1000000 / frequency;
}

std::uint64_t currentFileTime()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return std::uint64_t(now.dwHighDateTime) << 32 | now.dwLowDateTime;
}

std::uint32_t ourIPAddress()
{
    if (ReceivingInterfaceAddr != INADDR_ANY)
        return ReceivingInterfaceAddr;
    char host[256] = {};
    if (gethostname(host, sizeof(host) - 1) == 0) {
        addrinfo hints = {};
        hints.ai_family = AF_INET;
        addrinfo* found = nullptr;
        if (getaddrinfo(host, nullptr, &hints, &found) == 0) {
            std::uint32_t address = 0;
            for (addrinfo* entry = found; entry && address == 0; entry = entry->ai_next) {
                const std::uint32_t candidate =
                    reinterpret_cast<sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr;
                if ((ntohl(candidate) >> 24) != 127)
                    address = candidate;
            }
            freeaddrinfo(found);
            if (address != 0)
                return address;
        }
    }
    return htonl(INADDR_LOOPBACK);
}

std::string dottedAddress(std::uint32_t networkOrder)
{
    const unsigned char* b = reinterpret_cast<const unsigned char*>(&networkOrder);
    char text[16];
    std::snprintf(text, sizeof(text), "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return text;
}

} // namespace live_support
