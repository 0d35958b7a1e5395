// Helpers shared inside the RTSP library: Winsock start-up, socket errors, clocks, addresses.
#pragma once

#include <cstdint>
#include <string>

class UsageEnvironment;

namespace live_support {

// Starts Winsock once per process; false (with the cause reported) when it cannot.
bool initializeWinsockIfNecessary(UsageEnvironment& env);

// Sets the environment's result message to `msg` with the text of the last socket error and
// writes "socketErr() <message>, <error number>" as one output line.
void socketErr(UsageEnvironment& env, char const* msg);

bool makeSocketNonBlocking(int socketNum);

// Microseconds of a monotonic clock (the scheduler's time base).
std::int64_t monotonicMicroseconds();
// Wall-clock time in FILETIME units (100 ns since 1601, UTC).
std::uint64_t currentFileTime();

// The address (network byte order) that names this host: the receiving-interface address when
// set, else the host's first non-loopback IPv4 address, else 127.0.0.1.
std::uint32_t ourIPAddress();
std::string dottedAddress(std::uint32_t networkOrder);

} // namespace live_support
