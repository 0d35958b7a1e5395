#include "dnssd/core/mdns_heap.h"

#include <cstdlib>

namespace mdns {
namespace {
// Per thread: the daemon's thread allocates from the tracked heap while client calls on other
// threads use the ordinary one.
thread_local AllocFunction gAlloc = nullptr;
thread_local FreeFunction gFree = nullptr;
} // namespace

void SetCoreHeap(AllocFunction alloc, FreeFunction release)
{
    gAlloc = alloc;
    gFree = release;
}

void* CoreAlloc(size_t size)
{
    return gAlloc != nullptr ? gAlloc(size) : std::malloc(size);
}

void CoreFree(void* block)
{
    if (gFree != nullptr) {
        gFree(block);
    } else {
        std::free(block);
    }
}

} // namespace mdns
