// The in-process DNS-SD daemon as its host sees it.
//
// ResponderServiceMain runs the daemon in the calling thread until ResponderServiceStop (or any
// thread) signals its stop event. gResponderRunning is 1 from its entry to its return;
// gResponderReady becomes 1 once the client listener on 127.0.0.1:5356 and the multicast sockets
// are up. Every allocation of the daemon goes through the tracked heap, so TrackedMemFreeAll
// releases whatever a stopped daemon left behind.
#pragma once

#include <stddef.h>
#include <stdint.h>

#define DNSSD_DAEMON_PORT 5356

extern volatile long gResponderReady;
extern volatile long gResponderRunning;

// argv "" "-server": run the daemon directly in this thread. Returns when the stop event is set.
int ResponderServiceMain(int argc, wchar_t* argv[]);
// Waits 5 s (so that pending deregistrations go out first), signals the stop event, then waits up
// to 10 s for the service main to return and, once it has, frees the tracked heap (a daemon that
// does not stop keeps its heap). Returns 0. The service main sends goodbyes for every registration
// still open before it returns. A stop signalled while no service main runs is kept: the next
// service main returns at once (and consumes it), so a stop racing a start is not lost.
int ResponderServiceStop();
// The same with another first wait (0: signal at once).
int ResponderServiceStopWithin(uint32_t graceMs);

// Why the last service main did not become ready: the loopback port it could not listen on (0 when
// another step failed) and the system's error number (0 when none was recorded). Valid once
// gResponderReady stays 0; a new service main clears both.
void ResponderStartFailure(uint16_t* port, uint32_t* error);

// The loopback TCP port of the daemon's listener and of the client calls' connections
// (DNSSD_DAEMON_PORT unless set, for tests, before the daemon starts).
void ResponderSetDaemonPort(uint16_t port);
uint16_t ResponderDaemonPort();

void* TrackedMemAlloc(size_t size);
void* TrackedMemCalloc(size_t count, size_t size);
void* TrackedMemRealloc(void* block, size_t size);
void TrackedMemFree(void* block);
void TrackedMemFreeAll();
// Live bytes and blocks of the tracked heap.
uint32_t TrackedMemBytes();
uint32_t TrackedMemBlocks();

// The host's log hook: the daemon's own lines go there (the host writes them to the log file
// only), from the daemon's thread. Null means no logging. The daemon limits its own lines: a
// dropped datagram one line per sender per minute, a misbehaving client one line of a kind every
// 10 s (the next one counts those held back).
typedef void (*ResponderLogHook)(const char* line);
void ResponderSetLogHook(ResponderLogHook hook);
