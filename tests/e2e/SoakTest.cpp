// The soak run of scripts/soak.sh (its knobs: QUORVEL_SOAK_*): the real agent
// under Wine saying hello as fast as the portal lets it, each answer carrying
// a frame, while what its process holds is sampled.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/BenchFigures.h"

namespace quorvel::e2e {
namespace {

namespace fs = std::filesystem;

// Least-squares slope of column `c` per 1,000 cycles (column 0), over the
// samples that have it.
double slope(const std::vector<std::vector<double>>& samples, std::size_t c) {
    double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (const auto& s : samples) {
        if (s[c] >= 0) {
            const double x = s[0] / 1000.0;
            n += 1;
            sx += x;
            sy += s[c];
            sxx += x * x;
            sxy += x * s[c];
        }
    }
    const double d = n * sxx - sx * sx;
    return n < 2 || d == 0 ? 0 : (n * sxy - sx * sy) / d;
}

class Soak : public Measurement {};

TEST_F(Soak, HelloCyclesKeepHandlesObjectsAndMemoryFlat) {
    const int cycles = envNumber("QUORVEL_SOAK_CYCLES", 10000);
    const int every = envNumber("QUORVEL_SOAK_SAMPLE_EVERY", 1000);

    plugDongle();
    // Its 50 % airtime budget, never forgotten, would be spent after about
    // 5,800 frames and every later attempt would take the duty-cycle path.
    ASSERT_EQ(dongle().command("airtime dongle 0"), "ok");
    // "I1": each cycle is one hello and one transmission back to back.
    portal().addReply(portalsim::Reply::text("S0A0B1122056677\r\nI1\r\n"));
    Config settings = quiet();
    settings["SEND_FRAMES_REPEAT"] = "1";
    WineProcess& agent = startAgentWith(settings);
    ASSERT_FALSE(HasFailure());

    const Strings columns{"cycles",       "seconds",       "handles",     "gdi_objects",
                          "user_objects", "private_bytes", "unix_rss_kb", "unix_fds"};
    const auto started = Clock::now();
    std::vector<std::vector<double>> samples;
    std::ostringstream report;
    for (std::size_t c = 0; c < columns.size(); ++c) {
        report << columns[c] << (c + 1 < columns.size() ? "," : "\n");
    }
    const auto sample = [&] {
        std::vector<double> s{static_cast<double>(portal().requests().size()),
                              msBetween(started, Clock::now()) / 1000.0};
        const auto stats = processStats();
        for (std::size_t c = 2; c < 6; ++c) {
            s.push_back(stats.count(columns[c]) ? std::stod(stats.at(columns[c])) : -1);
        }
        s.push_back(procKiB(agent.pid(), "status", {"VmRSS"}));
        const fs::path fds = "/proc/" + std::to_string(agent.pid()) + "/fd";
        std::error_code error;
        s.push_back(static_cast<double>(std::distance(fs::directory_iterator(fds, error), {})));
        samples.push_back(s);
        std::ostringstream row;
        row << static_cast<long long>(s[0]) << "," << s[1];
        for (std::size_t c = 2; c < s.size(); ++c) {
            row << "," << static_cast<long long>(s[c]);
        }
        std::cerr << "sample " << row.str() << std::endl;
        report << row.str() << "\n";
    };

    ASSERT_TRUE(waitForHellos(1));
    sample();
    for (int next = every; next <= cycles; next += every) {
        // A cycle takes well under a second: ten minutes means it stopped.
        ASSERT_TRUE(waitForHellos(static_cast<std::size_t>(next), milliseconds(600000)))
            << "the agent stopped after " << portal().requests().size() << " hellos";
        sample();
    }
    ASSERT_TRUE(agent.running());
    const auto data = stored();
    ASSERT_TRUE(data);
    const std::size_t onAir = broadcast().size();

    report << "slope per 1000 cycles:";
    for (std::size_t c = 2; c < columns.size(); ++c) {
        report << " " << columns[c] << "=" << slope(samples, c);
    }
    report << "\nframes on air=" << onAir << " transmit counter=" << data->transmitCounter
           << " hellos=" << portal().requests().size() << "\n";
    std::cerr << report.str();
    if (const char* path = std::getenv("QUORVEL_SOAK_REPORT")) {
        std::ofstream(path) << report.str();
    }
    // Every hello's frame was sent: the transmissions kept up with the hellos.
    EXPECT_GE(static_cast<long long>(onAir) + 2, static_cast<long long>(data->transmitCounter));
    EXPECT_GE(data->transmitCounter + 2, static_cast<int>(portal().requests().size()));
}

}  // namespace
}  // namespace quorvel::e2e
