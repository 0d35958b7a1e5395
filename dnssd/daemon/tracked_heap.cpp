// The tracked heap: every block the daemon allocates is recorded, so that TrackedMemFreeAll can
// release whatever a stopped daemon left. Blocks are found through an open-addressing table keyed
// by address, so each call costs the same however many blocks are live.
#include <winsock2.h>
#include <windows.h>

#include "dnssd/responder.h"

#include <cstdlib>
#include <cstring>

namespace {

struct Slot
{
    void* block;
    size_t size;
};

CRITICAL_SECTION gTrackedMemLock;
volatile LONG gLockState = 0; // 0 none, 1 being created, 2 created
Slot* gSlots = nullptr;       // capacity a power of two, at most half full
size_t gCapacity = 0;
volatile uint32_t gBytes = 0;
volatile uint32_t gBlocks = 0;

void EnsureLock()
{
    for (;;) {
        LONG state = InterlockedCompareExchange(&gLockState, 1, 0);
        if (state == 2) {
            return;
        }
        if (state == 0) {
            InitializeCriticalSection(&gTrackedMemLock);
            InterlockedExchange(&gLockState, 2);
            return;
        }
        Sleep(0);
    }
}

size_t Hash(const void* block)
{
    uint32_t v = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(block) >> 3);
    return static_cast<size_t>(v * 2654435761u);
}

size_t Find(const void* block)
{
    if (gCapacity == 0) {
        return SIZE_MAX;
    }
    for (size_t i = Hash(block) & (gCapacity - 1);; i = (i + 1) & (gCapacity - 1)) {
        if (gSlots[i].block == block) {
            return i;
        }
        if (gSlots[i].block == nullptr) {
            return SIZE_MAX;
        }
    }
}

void Place(Slot* slots, size_t capacity, const Slot& slot)
{
    size_t i = Hash(slot.block) & (capacity - 1);
    while (slots[i].block != nullptr) {
        i = (i + 1) & (capacity - 1);
    }
    slots[i] = slot;
}

// Under the lock. False when the table cannot grow.
bool Insert(void* block, size_t size)
{
    if ((gBlocks + 1) * 2 > gCapacity) {
        size_t capacity = gCapacity == 0 ? 64 : gCapacity * 2;
        Slot* slots = static_cast<Slot*>(std::calloc(capacity, sizeof(Slot)));
        if (slots == nullptr) {
            return false;
        }
        for (size_t i = 0; i < gCapacity; ++i) {
            if (gSlots[i].block != nullptr) {
                Place(slots, capacity, gSlots[i]);
            }
        }
        std::free(gSlots);
        gSlots = slots;
        gCapacity = capacity;
    }
    Place(gSlots, gCapacity, Slot{block, size});
    gBytes += static_cast<uint32_t>(size);
    ++gBlocks;
    return true;
}

// Under the lock: removes slot i and shifts later members of its run back.
void Remove(size_t i)
{
    gBytes -= static_cast<uint32_t>(gSlots[i].size);
    --gBlocks;
    gSlots[i].block = nullptr;
    for (size_t j = (i + 1) & (gCapacity - 1); gSlots[j].block != nullptr; j = (j + 1) & (gCapacity - 1)) {
        Slot moved = gSlots[j];
        gSlots[j].block = nullptr;
        Place(gSlots, gCapacity, moved);
    }
}

void* Track(void* block, size_t size)
{
    if (block == nullptr) {
        return nullptr;
    }
    EnsureLock();
    EnterCriticalSection(&gTrackedMemLock);
    const bool ok = Insert(block, size);
    LeaveCriticalSection(&gTrackedMemLock);
    if (!ok) {
        std::free(block);
        return nullptr;
    }
    return block;
}

} // namespace

void* TrackedMemAlloc(size_t size)
{
    return Track(std::malloc(size == 0 ? 1 : size), size);
}

void* TrackedMemCalloc(size_t count, size_t size)
{
    if (size != 0 && count > SIZE_MAX / size) {
        return nullptr;
    }
    return Track(std::calloc(count * size == 0 ? 1 : count * size, 1), count * size);
}

void* TrackedMemRealloc(void* block, size_t size)
{
    if (size == 0) {
        TrackedMemFree(block);
        return nullptr;
    }
    void* fresh = TrackedMemAlloc(size);
    if (fresh == nullptr) {
        return nullptr; // the old block stays as it was
    }
    if (block != nullptr) {
        EnsureLock();
        EnterCriticalSection(&gTrackedMemLock);
        size_t i = Find(block);
        size_t old = i == SIZE_MAX ? 0 : gSlots[i].size;
        LeaveCriticalSection(&gTrackedMemLock);
        std::memcpy(fresh, block, old < size ? old : size);
        TrackedMemFree(block);
    }
    return fresh;
}

void TrackedMemFree(void* block)
{
    if (block == nullptr) {
        return;
    }
    EnsureLock();
    EnterCriticalSection(&gTrackedMemLock);
    size_t i = Find(block);
    if (i != SIZE_MAX) {
        Remove(i);
    }
    LeaveCriticalSection(&gTrackedMemLock);
    if (i != SIZE_MAX) {
        std::free(block);
    }
}

void TrackedMemFreeAll()
{
    if (gLockState == 2) {
        EnterCriticalSection(&gTrackedMemLock);
        for (size_t i = 0; i < gCapacity; ++i) {
            if (gSlots[i].block != nullptr) {
                std::free(gSlots[i].block);
                gBytes -= static_cast<uint32_t>(gSlots[i].size);
                --gBlocks;
            }
        }
        std::free(gSlots);
        gSlots = nullptr;
        gCapacity = 0;
        LeaveCriticalSection(&gTrackedMemLock);
        DeleteCriticalSection(&gTrackedMemLock);
        InterlockedExchange(&gLockState, 0);
    }
    InterlockedExchange(&gResponderReady, 0);
}

uint32_t TrackedMemBytes()
{
    return gBytes;
}

uint32_t TrackedMemBlocks()
{
    return gBlocks;
}
