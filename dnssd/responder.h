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
// Signals the stop event, waits for the service main to return, then frees the tracked heap.
int ResponderServiceStop();

void* TrackedMemAlloc(size_t size);
void* TrackedMemCalloc(size_t count, size_t size);
void* TrackedMemRealloc(void* block, size_t size);
void TrackedMemFree(void* block);
void TrackedMemFreeAll();
// Live bytes and blocks of the tracked heap.
uint32_t TrackedMemBytes();
uint32_t TrackedMemBlocks();

// The host's log hook: the daemon's own lines go there (the host writes them to the log file
// only). Null means no logging.
typedef void (*ResponderLogHook)(const char* line);
void ResponderSetLogHook(ResponderLogHook hook);
