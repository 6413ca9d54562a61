// Figures of the real agent under Wine, each a ratio of two things measured
// in the same run. Not a timed test: every case prints `bench.KEY=VALUE`
// lines for scripts/bench.sh and fails only when the measurement itself
// could not be taken (no hello, no answer, no log).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <numeric>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/AgentWithSimulators.h"
#include "tests/e2e/BenchFigures.h"

namespace quorvel::e2e {
namespace {

namespace fs = std::filesystem;
using portalsim::Reply;

// CPU time of every thread of a process, from the scheduler's own
// nanosecond account (utime/stime tick only every 10 ms).
double cpuMs(pid_t pid) {
    double ns = 0;
    for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
        std::ifstream in(task.path() / "schedstat");
        double runNs = 0;
        if (in >> runNs) {
            ns += runNs;
        }
    }
    return ns / 1e6;
}

// Private memory of the process in KiB, as Linux accounts the Wine process.
double privateKiB(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/smaps_rollup");
    std::string line;
    double kib = 0;
    while (std::getline(in, line)) {
        if (line.rfind("Private_Clean:", 0) == 0 || line.rfind("Private_Dirty:", 0) == 0) {
            kib += std::stod(line.substr(line.find(':') + 1));
        }
    }
    return kib;
}

class AgentBenchmark : public AgentWithSimulators {
  protected:
    WineProcess& startWith(const Config& config, const std::string& suffix,
                           const std::string& debug = "-all") {
        return startAgent(agentFolder(config, suffix),
                          {{"WINEDLLOVERRIDES", "mscoree,mshtml=;setupapi,hid=n,b"},
                           {"WINEDEBUG", debug}});
    }
};

// Private memory of an agent with logging off after 20 and after 1,000
// cycles, the answers coming at once. (The hello overhead is
// HelloBenchmark's.)
TEST_F(AgentBenchmark, MemoryOverAThousandCycles) {
    const int cycles = envNumber("QUORVEL_BENCH_CYCLES", 1000);
    plugDongle();
    portal().addReply(Reply::text("I0"));
    Config quiet = config();
    quiet["ENABLE_LOGGING"] = "false";
    WineProcess& second = startWith(quiet, "-quiet");
    const std::size_t done = portal().requests().size();
    ASSERT_TRUE(waitForHellos(done + 20, milliseconds(60000)));
    const double earlyKiB = privateKiB(second.pid());
    const auto before = Clock::now();
    ASSERT_TRUE(waitForHellos(done + static_cast<std::size_t>(cycles), milliseconds(900000)))
        << portal().requests().size() - done << " hellos";
    const double cycleMs = msBetween(before, Clock::now()) / (cycles - 20);
    report("memory.cycles", cycles);
    report("memory.private_kib_after_20", earlyKiB);
    report("memory.private_kib", privateKiB(second.pid()));
    report("memory.ms_per_fast_cycle", cycleMs);
    report("memory.exe_bytes", static_cast<double>(fs::file_size(harness().setup().agentExe)));
}

// Idle: an agent whose next hello is ten minutes away, left alone for a
// minute after its first cycle has settled. Its CPU time from the scheduler,
// and every message dispatched to its windows from Wine's message trace.
TEST_F(AgentBenchmark, IdleBetweenDeadlines) {
    const int idleS = envNumber("QUORVEL_BENCH_IDLE_S", 60);
    plugDongle();
    portal().addReply(Reply::text("I600000"));
    Config quiet = config();
    quiet["ENABLE_LOGGING"] = "false";
    WineProcess& agent = startWith(quiet, "", "+message");
    ASSERT_TRUE(waitForHellos(1, milliseconds(30000)));
    // The cycle, the transmit deadline that follows it, the tray's start.
    std::this_thread::sleep_for(milliseconds(5000));
    const fs::path trace = harness().setup().runsDir / (std::string("AgentBenchmark.IdleBetweenDeadlines") + "/agent-1.log");
    const auto traceAtStart = fs::exists(trace) ? fs::file_size(trace) : 0;
    const double cpuBefore = cpuMs(agent.pid());
    const auto hellosBefore = portal().requests().size();
    std::this_thread::sleep_for(std::chrono::seconds(idleS));
    const double cpuAfter = cpuMs(agent.pid());
    ASSERT_TRUE(agent.running());
    std::string idleTrace = readFile(trace);
    idleTrace = idleTrace.substr(std::min<std::size_t>(traceAtStart, idleTrace.size()));
    std::size_t timers = 0;
    std::size_t dispatched = 0;
    std::istringstream in(idleTrace);
    std::string line;
    while (std::getline(in, line)) {
        if (line.find("spy_enter_message") != std::string::npos) {
            ++dispatched;
            timers += line.find("WM_TIMER") != std::string::npos ? 1 : 0;
        }
    }
    report("idle.seconds", idleS);
    report("idle.cpu_ms", cpuAfter - cpuBefore);
    report("idle.trace_bytes", static_cast<double>(idleTrace.size()));
    report("idle.messages_dispatched", static_cast<double>(dispatched));
    report("idle.wm_timer_dispatched", static_cast<double>(timers));
    report("idle.hellos", static_cast<double>(portal().requests().size() - hellosBefore));
}

// Start-up: from the spawn of the Wine process to the first hello's
// connection at the portal, over a trivial program's spawn-to-exit in the
// same prefix, alternated so that both see the same machine.
TEST_F(AgentBenchmark, StartUpAgainstATrivialProgram) {
    const int rounds = envNumber("QUORVEL_BENCH_STARTS", 5);
    const fs::path trivial = fs::path(QUORVEL_E2E_HIDFLOOR_EXE);
    plugDongle();
    portal().addReply(Reply::text("I600000"));
    Config quiet = config();
    quiet["ENABLE_LOGGING"] = "false";
    std::vector<double> agentMs;
    std::vector<double> trivialMs;
    for (int round = 0; round < rounds; ++round) {
        fs::remove(harness().runTimeFile());
        const fs::path folder = agentFolder(quiet, "-" + std::to_string(round));
        const std::size_t seen = portal().requests().size();
        const auto spawned = Clock::now();
        WineProcess& agent = startAgent(
            folder, {{"WINEDLLOVERRIDES", "mscoree,mshtml=;setupapi,hid=n,b"}});
        ASSERT_TRUE(waitForHellos(seen + 1, milliseconds(30000)));
        agentMs.push_back(msBetween(spawned, portal().requests()[seen].connectedAt));
        agent.kill();

        const auto started = Clock::now();
        WineProcess program(harness().setup(), trivial, {"exit"}, folder, folder / "trivial.log");
        ASSERT_TRUE(waitUntil([&] { return !program.running(); }, milliseconds(30000),
                              milliseconds(1)));
        trivialMs.push_back(msBetween(started, Clock::now()));
    }
    report("startup.rounds", rounds);
    report("startup.agent_ms_median", median(agentMs));
    report("startup.trivial_ms_median", median(trivialMs));
    report("startup.ratio", median(agentMs) / median(trivialMs));
}

// Frames per second through the simulated dongle: the agent's USBResource
// and Win32 HID adapter (dongleprobe bench) over the transport floor
// (hidfloor: the same reports on the same device path with nothing but
// overlapped WriteFile and ReadFile), alternated, at three answer times.
TEST_F(AgentBenchmark, FrameThroughputAgainstTheTransportFloor) {
    plugDongle();
    const fs::path probeDir = harness().setup().runsDir /
                              "AgentBenchmark.FrameThroughputAgainstTheTransportFloor.dongle" /
                              "probe";
    fs::copy_file(QUORVEL_E2E_HIDFLOOR_EXE, probeDir / "hidfloor.exe",
                  fs::copy_options::overwrite_existing);
    const auto opened = parseKeyValues(dongle().probe({"open"}).out);
    ASSERT_EQ(opened.count("path"), 1u);
    std::string path = opened.at("path");
    path.erase(std::remove(path.begin(), path.end(), '\r'), path.end());
    auto env = harness().setup().environment();
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml=;setupapi,hid=n,b";
    const int rounds = envNumber("QUORVEL_BENCH_FRAME_ROUNDS", 3);
    struct Run {
        int answerMs;
        int frames;
    };
    for (const Run run : {Run{0, 1000}, Run{2, 200}, Run{10, 100}}) {
        ASSERT_EQ(dongle().command("delay dongle " + std::to_string(run.answerMs)), "ok");
        std::vector<double> agentMs;
        std::vector<double> floorMs;
        for (int round = 0; round < rounds; ++round) {
            // Alternating which goes first evens out a drifting machine.
            for (int side = 0; side < 2; ++side) {
                const bool agentSide = (side == 0) == (round % 2 == 0);
                ASSERT_EQ(dongle().command("clear dongle"), "ok");
                CommandResult result =
                    agentSide
                        ? dongle().probe({"bench", std::to_string(run.frames), "1000"},
                                         milliseconds(120000))
                        : runCaptured({harness().setup().wine.string(),
                                       (probeDir / "hidfloor.exe").string(), path,
                                       std::to_string(run.frames)},
                                      env, milliseconds(120000));
                ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
                ASSERT_EQ(dongle().values("broadcast dongle").front(),
                          std::to_string(run.frames));
                const auto values = parseKeyValues(result.out);
                (agentSide ? agentMs : floorMs).push_back(std::stod(values.at("ms_per_frame")));
            }
        }
        const std::string at = "frames.at_" + std::to_string(run.answerMs) + "ms.";
        report(at + "agent_fps", 1000.0 / median(agentMs));
        report(at + "floor_fps", 1000.0 / median(floorMs));
        report(at + "ratio", median(floorMs) / median(agentMs));
    }
}

// The log view's cost per line, through the agent's own window code, with a
// short log and with one at its cap.
TEST_F(AgentBenchmark, LogViewCostPerLine) {
    const fs::path dir = harness().setup().runsDir / "AgentBenchmark.LogView";
    fs::create_directories(dir);
    CommandResult result = runCaptured(
        {harness().setup().wine.string(), QUORVEL_E2E_LOGVIEWBENCH_EXE, "20"},
        harness().setup().environment(), milliseconds(120000));
    if (result.timedOut) {
        // Filling the log to its cap alone can take longer than this.
        report("logview.gave_up_after_s", 120);
        return;
    }
    ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
    const auto values = parseKeyValues(result.out);
    for (const char* key : {"short_log_us_per_line", "full_log_us_per_line", "full_view_chars",
                            "short_view_chars"}) {
        ASSERT_EQ(values.count(key), 1u) << result.out;
        report(std::string("logview.") + key, std::stod(values.at(key)));
    }
}

}  // namespace
}  // namespace quorvel::e2e
