// CPU time of the calling thread, for benchmarks that check the loader polls
// with pauses rather than spinning.
#pragma once

#include <ctime>

inline double ThreadCpuSeconds()
{
    timespec t {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}
