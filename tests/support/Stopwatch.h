// Seconds from a fixed point, for benchmarks that time stages of their own.
#pragma once

#include <windows.h>

namespace testsupport {

inline double SecondsNow() {
    static const LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace testsupport
