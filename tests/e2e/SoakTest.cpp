// The soak run: the real agent under Wine saying hello as fast as the portal
// lets it, each answer carrying a frame, for thousands of cycles, while what
// the agent's process holds is sampled. Not part of the test command:
// scripts/soak.sh runs it.
//
//   QUORVEL_SOAK_CYCLES        hellos to run (default 10000)
//   QUORVEL_SOAK_SAMPLE_EVERY  cycles between samples (default 1000)
//   QUORVEL_SOAK_LOGGING       "true" to run with the log view on (default off)
//   QUORVEL_SOAK_REPORT        file for the samples as CSV (default: none)

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/AgentWithSimulators.h"

namespace quorvel::e2e {
namespace {

namespace fs = std::filesystem;
using portalsim::Reply;

long envNumber(const char* name, long fallback) {
    const char* text = std::getenv(name);
    const long value = text != nullptr ? std::atol(text) : 0;
    return value > 0 ? value : fallback;
}

struct Sample {
    std::size_t cycles = 0;
    double seconds = 0;
    long long handles = -1;
    long long gdi = -1;
    long long user = -1;
    long long privateBytes = -1;
    long long unixRss = -1;  // kB, from /proc of the Wine process
    long long unixFds = -1;
};

long long number(const std::map<std::string, std::string>& values, const std::string& key) {
    const auto it = values.find(key);
    if (it == values.end()) {
        return -1;
    }
    char* end = nullptr;
    const long long v = std::strtoll(it->second.c_str(), &end, 10);
    return end != it->second.c_str() ? v : -1;
}

long long unixRssKb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::atoll(line.c_str() + 6);
        }
    }
    return -1;
}

long long unixFdCount(pid_t pid) {
    std::error_code error;
    long long count = 0;
    for (fs::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", error), end;
         !error && it != end; it.increment(error)) {
        ++count;
    }
    return error ? -1 : count;
}

// Least-squares slope per 1,000 cycles.
double slope(const std::vector<Sample>& samples, long long Sample::*field) {
    double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (const Sample& s : samples) {
        if (s.*field < 0) {
            continue;
        }
        const double x = static_cast<double>(s.cycles) / 1000.0;
        const double y = static_cast<double>(s.*field);
        n += 1;
        sx += x;
        sy += y;
        sxx += x * x;
        sxy += x * y;
    }
    const double d = n * sxx - sx * sx;
    return n < 2 || d == 0 ? 0 : (n * sxy - sx * sy) / d;
}

class Soak : public AgentWithSimulators {};

TEST_F(Soak, HelloCyclesKeepHandlesObjectsAndMemoryFlat) {
    const long cycles = envNumber("QUORVEL_SOAK_CYCLES", 10000);
    const long every = envNumber("QUORVEL_SOAK_SAMPLE_EVERY", 1000);
    const char* loggingText = std::getenv("QUORVEL_SOAK_LOGGING");
    const bool logging = loggingText != nullptr && std::string(loggingText) == "true";

    plugDongle();
    // The simulated dongle counts airtime without ever forgetting it: at the
    // default rate its 50 % budget is spent after about 5,800 frames, and
    // every later attempt would be the duty-cycle path, 3 s apart.
    ASSERT_EQ(dongle().command("airtime dongle 0"), "ok");
    // "I1": the next hello a millisecond later, so each cycle is one hello
    // and one transmission back to back.
    portal().addReply(Reply::text("S0A0B1122056677\r\nI1\r\n"));
    Config settings = config();
    settings["ENABLE_LOGGING"] = logging ? "true" : "false";
    settings["SEND_FRAMES_REPEAT"] = "1";
    WineProcess& agent = startAgentWith(settings);
    ASSERT_FALSE(HasFailure());

    const auto started = Clock::now();
    std::vector<Sample> samples;
    const auto sample = [&](std::size_t done) {
        Sample s;
        s.cycles = done;
        s.seconds = std::chrono::duration<double>(Clock::now() - started).count();
        const CommandResult r = harness().driver({"process-stats", "Quorvel Logger Window"});
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        const auto values = parseKeyValues(r.out);
        s.handles = number(values, "handles");
        s.gdi = number(values, "gdi_objects");
        s.user = number(values, "user_objects");
        s.privateBytes = number(values, "private_bytes");
        s.unixRss = unixRssKb(agent.pid());
        s.unixFds = unixFdCount(agent.pid());
        samples.push_back(s);
        std::cerr << "sample cycles=" << s.cycles << " seconds=" << s.seconds
                  << " handles=" << s.handles << " gdi=" << s.gdi << " user=" << s.user
                  << " private_bytes=" << s.privateBytes << " unix_rss_kb=" << s.unixRss
                  << " unix_fds=" << s.unixFds << std::endl;
    };

    ASSERT_TRUE(waitForHellos(1));
    sample(portal().requests().size());
    for (long next = every; next <= cycles; next += every) {
        // A cycle takes well under a second; a minute per thousand means
        // the agent has stopped.
        ASSERT_TRUE(waitForHellos(static_cast<std::size_t>(next), milliseconds(600000)))
            << "the agent stopped after " << portal().requests().size() << " hellos";
        sample(portal().requests().size());
    }
    ASSERT_TRUE(agent.running());
    const auto data = stored();
    ASSERT_TRUE(data);
    const std::size_t onAir = broadcast().size();

    std::ostringstream report;
    report << "cycles,seconds,handles,gdi_objects,user_objects,private_bytes,unix_rss_kb,unix_fds\n";
    for (const Sample& s : samples) {
        report << s.cycles << "," << s.seconds << "," << s.handles << "," << s.gdi << ","
               << s.user << "," << s.privateBytes << "," << s.unixRss << "," << s.unixFds
               << "\n";
    }
    std::ostringstream slopes;
    slopes << "slope per 1000 cycles: handles=" << slope(samples, &Sample::handles)
           << " gdi_objects=" << slope(samples, &Sample::gdi)
           << " user_objects=" << slope(samples, &Sample::user)
           << " private_bytes=" << slope(samples, &Sample::privateBytes)
           << " unix_rss_kb=" << slope(samples, &Sample::unixRss)
           << " unix_fds=" << slope(samples, &Sample::unixFds) << "\n"
           << "frames on air=" << onAir << " transmit counter=" << data->transmitCounter
           << " hellos=" << portal().requests().size() << "\n";
    std::cerr << report.str() << slopes.str();
    if (const char* path = std::getenv("QUORVEL_SOAK_REPORT")) {
        std::ofstream(path) << report.str() << slopes.str();
    }
    // Every hello's frame was sent: the transmissions kept up with the hellos.
    EXPECT_GE(static_cast<long long>(onAir) + 2, static_cast<long long>(data->transmitCounter));
    EXPECT_GE(data->transmitCounter + 2, static_cast<int>(portal().requests().size()));
}

}  // namespace
}  // namespace quorvel::e2e
