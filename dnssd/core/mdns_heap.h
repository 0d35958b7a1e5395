// Memory of the multicast-DNS core. Every container of the core allocates through CoreAlloc and
// CoreFree, which the daemon points at its tracked heap; by default they are malloc and free.
// No sockets, no windows.h: the core also builds natively (fuzzing, host tools).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <new>
#include <string>
#include <vector>

namespace mdns {

typedef void* (*AllocFunction)(size_t size);
typedef void (*FreeFunction)(void* block);

// Sets the functions the core allocates with on the calling thread (null: malloc and free). Call
// it while no container of the core is alive on that thread: a block must be freed by the
// function family that allocated it, so containers never move between threads of different heaps.
void SetCoreHeap(AllocFunction alloc, FreeFunction release);
void* CoreAlloc(size_t size);
void CoreFree(void* block);

template <class T> struct Allocator
{
    typedef T value_type;
    Allocator() = default;
    template <class U> Allocator(const Allocator<U>&) {}
    T* allocate(size_t n)
    {
        void* block = n > SIZE_MAX / sizeof(T) ? nullptr : CoreAlloc(n * sizeof(T));
        if (block == nullptr) {
            throw std::bad_alloc();
        }
        return static_cast<T*>(block);
    }
    void deallocate(T* block, size_t) { CoreFree(block); }
    template <class U> bool operator==(const Allocator<U>&) const { return true; }
    template <class U> bool operator!=(const Allocator<U>&) const { return false; }
};

typedef std::basic_string<char, std::char_traits<char>, Allocator<char>> String;
typedef std::vector<uint8_t, Allocator<uint8_t>> Bytes;
template <class T> using Vector = std::vector<T, Allocator<T>>;
template <class K, class V, class Less = std::less<K>>
using Map = std::map<K, V, Less, Allocator<std::pair<const K, V>>>;

} // namespace mdns
