// What the benchmark programs share: a millisecond source for the gateway manager that moves only
// when the benchmark moves it, and a fine wall clock.
#pragma once

#include "afx/afxplatform.h"

// The raw milliseconds that BenchClock gives; the benchmark moves them on by hand.
inline DWORD g_RawClock = 1000;

inline DWORD WINAPI BenchClock()
{
    return g_RawClock;
}

// Seconds since some fixed moment, from the performance counter.
inline double Seconds()
{
    static const LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}
