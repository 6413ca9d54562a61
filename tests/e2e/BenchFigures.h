// What the measurement programs share: figures as `bench.KEY=VALUE` lines
// for scripts/bench.sh, knobs from the environment, the agent's process's
// own account of itself.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "tests/e2e/AgentWithSimulators.h"

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

inline double procKiB(pid_t pid, const std::string& file, const Strings& fields) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/" + file);
    double kib = 0;
    for (std::string line; std::getline(in, line);) {
        for (const std::string& field : fields) {
            kib += line.rfind(field + ":", 0) == 0 ? std::stod(line.substr(field.size() + 1)) : 0;
        }
    }
    return kib;
}

class Measurement : public AgentWithSimulators {
  protected:
    using Env = std::map<std::string, std::string>;

    // Logging off, as shipped.
    Config quiet() const {
        Config settings = config();
        settings["ENABLE_LOGGING"] = "false";
        return settings;
    }

    static Env standIns(const std::string& debug = "-all") {
        return {{"WINEDLLOVERRIDES", "mscoree,mshtml=;setupapi,hid=n,b"}, {"WINEDEBUG", debug}};
    }

    std::map<std::string, std::string> processStats() {
        return parseKeyValues(harness().driver({"process-stats", "Quorvel Logger Window"}).out);
    }
};

}  // namespace quorvel::e2e
