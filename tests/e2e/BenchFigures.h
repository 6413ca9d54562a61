// What every benchmark case of the Wine tier needs to print its figures for
// scripts/bench.sh and read its knobs.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace quorvel::e2e {

inline void report(const std::string& key, double value) {
    std::printf("bench.%s=%.6g\n", key.c_str(), value);
    std::fflush(stdout);
}

inline int envNumber(const char* name, int fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::atoi(value) : fallback;
}

template <typename TimePoint>
double msBetween(TimePoint from, TimePoint to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

inline double median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace quorvel::e2e
