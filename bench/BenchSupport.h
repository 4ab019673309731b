#pragma once

// What both benchmarks measure and how they print it.

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

// The smallest, middle and largest of a set of timings.
struct Spread {
    double minimum = 0;
    double median = 0;
    double maximum = 0;
};

inline Spread spreadOf(std::vector<double> values) {
    if (values.empty())
        return {};
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    const double median =
        values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
    return {values.front(), median, values.back()};
}

// One line: the label, then minimum, median and maximum in milliseconds with the given number
// of decimals.
inline void printSpread(const char* label, const Spread& spread, int decimals) {
    std::printf("  %-34s min %9.*f  median %9.*f  max %9.*f ms\n", label, decimals, spread.minimum,
                decimals, spread.median, decimals, spread.maximum);
}

// The user and system time, in milliseconds, of all the children that this process has
// started and waited for so far.
inline double childrenCpuMs() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const auto ms = [](const timeval& time) {
        return double(time.tv_sec) * 1e3 + double(time.tv_usec) / 1e3;
    };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}
