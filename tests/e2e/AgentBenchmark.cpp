// Figures of the real agent under Wine, each a ratio of two things measured
// in the same run; a case fails only when its measurement could not be taken.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "resources/resource.h"
#include "tests/e2e/BenchFigures.h"

namespace quorvel::e2e {
namespace {

namespace fs = std::filesystem;
using portalsim::Reply;

// CPU time of every thread, from the scheduler's nanosecond account
// (utime/stime tick only every 10 ms).
double cpuMs(pid_t pid) {
    double ns = 0;
    for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
        std::ifstream in(task.path() / "schedstat");
        double runNs = 0;
        ns += in >> runNs ? runNs : 0;
    }
    return ns / 1e6;
}

class AgentBenchmark : public Measurement {
  protected:
    Config quiet() {
        Config settings = config();
        settings["ENABLE_LOGGING"] = "false";
        return settings;
    }

    // From `spawn` to the connection of the next hello at the portal.
    double spawnToHello(const std::function<void()>& spawn) {
        const std::size_t seen = portal().requests().size();
        const auto spawned = Clock::now();
        spawn();
        EXPECT_TRUE(waitForHellos(seen + 1, milliseconds(30000)));
        return portal().requests().size() > seen
                   ? msBetween(spawned, portal().requests()[seen].connectedAt)
                   : 0.0;
    }

    // One start of the agent, then one of startfloor, in `folder`. The agent
    // is ended with Exit: a killed one leaves its tray icon to Wine's
    // desktop, and the next program's first window then waits about 2 s.
    std::pair<double, double> startAgentThenFloor(const fs::path& folder, const Env& env) {
        fs::remove(harness().runTimeFile());
        WineProcess* agent = nullptr;
        const double agentMs = spawnToHello([&] { agent = &startAgent(folder, env); });
        endWith(*agent, ID_EXIT);
        WineProcess floor;
        const double floorMs = spawnToHello([&] { floor = startFloor(quiet(), folder, {}, env); });
        EXPECT_EQ(floor.waitForExit(milliseconds(30000)), std::optional<int>(0));
        return {agentMs, floorMs};
    }

    // When each step came in a `+timestamp` trace, in ms from its first line.
    void reportTraceSteps(const std::string& who, const fs::path& trace) {
        const std::vector<std::pair<std::string, std::string>> steps{
            {"wininet_loaded", "WININET.dll\" at"},
            {"uxtheme_loaded", "uxtheme.dll\" at"},
            {"comctl32_v6_loaded", "common-controls"},
            {"dongle_discovery", "quorvel-sim-directory"},
            {"configuration_read", "quorvel.ini"},
            {"data_file_opened", "quorvel.dat"},
            {"internet_open", "InternetOpenA"},
            {"post", "HTTP_HttpSendRequestW -->"},
            {"tray_icon_added", "Shell_NotifyIconW dwMessage = 0,"}};
        double first = -1;
        std::map<std::string, double> seen;
        int cryptoLoads = 0;
        std::printf("%s start-up trace (ms from Wine's first trace line):\n", who.c_str());
        for (const std::string& line : linesOf(readFile(trace))) {
            const double at = std::atof(line.c_str());
            const bool wanted = line.find("Loaded L") != std::string::npos ||
                                (line.find("CreateFileW L") != std::string::npos &&
                                 line.find("trace:file") != std::string::npos) ||
                                line.find("InternetOpenA") != std::string::npos ||
                                line.find("Shell_NotifyIconW") != std::string::npos ||
                                line.find("HTTP_HttpSendRequestW -->") != std::string::npos;
            if (!wanted || at <= 0) {
                continue;
            }
            first = first < 0 ? at : first;
            std::printf("  +%.0f %s\n", 1000.0 * (at - first), line.substr(0, 160).c_str());
            cryptoLoads += line.find("rsaenh.dll") != std::string::npos ? 1 : 0;
            for (const auto& [step, text] : steps) {
                if (seen.count(step) == 0 && line.find(text) != std::string::npos) {
                    seen[step] = 1000.0 * (at - first);
                }
            }
        }
        for (const auto& [step, ms] : seen) {
            report("startup." + who + "_trace." + step + "_ms", ms);
        }
        report("startup." + who + "_trace.crypto_provider_loads", cryptoLoads);
    }
};

// A minute alone with the next hello ten minutes away, after the first
// cycle, its transmit deadline and the tray's start have settled (5 s).
TEST_F(AgentBenchmark, IdleBetweenDeadlines) {
    const int idleS = envNumber("QUORVEL_BENCH_IDLE_S", 60);
    plugDongle();
    portal().addReply(Reply::text("I600000"));
    WineProcess& agent = startAgent(agentFolder(quiet()), standIns("+message"));
    ASSERT_TRUE(waitForHellos(1, milliseconds(30000)));
    std::this_thread::sleep_for(milliseconds(5000));
    const fs::path trace = harness().setup().runsDir / currentTestName() / "agent-1.log";
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
    for (const std::string& line : linesOf(idleTrace)) {
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

// Spawn to first hello of the agent over startfloor's, alternated in the
// same prefix; then one traced start of each says what the agent adds.
TEST_F(AgentBenchmark, StartUpAgainstAFairFloor) {
    const int rounds = envNumber("QUORVEL_BENCH_STARTS", 11);
    plugDongle();
    portal().addReply(Reply::text("I600000"));
    std::vector<double> agentMs;
    std::vector<double> floorMs;
    for (int round = 0; round < rounds; ++round) {
        const auto [agent, floor] =
            startAgentThenFloor(agentFolder(quiet(), "-" + std::to_string(round)), standIns());
        agentMs.push_back(agent);
        floorMs.push_back(floor);
        ASSERT_FALSE(HasFailure());
    }
    for (const auto* times : {&agentMs, &floorMs}) {
        std::printf("start-up ms, %s:", times == &agentMs ? "agent" : "floor");
        for (const double ms : *times) {
            std::printf(" %.0f", ms);
        }
        std::printf("\n");
    }
    report("startup.rounds", rounds);
    report("startup.agent_ms_median", median(agentMs));
    report("startup.floor_ms_median", median(floorMs));
    report("startup.ratio", median(agentMs) / median(floorMs));
    const double agentMin = *std::min_element(agentMs.begin(), agentMs.end());
    const double floorMin = *std::min_element(floorMs.begin(), floorMs.end());
    report("startup.agent_ms_min", agentMin);
    report("startup.floor_ms_min", floorMin);
    report("startup.ratio_of_minimums", agentMin / floorMin);

    const fs::path traced = agentFolder(quiet(), "-traced");
    const auto [agent, floor] =
        startAgentThenFloor(traced, standIns("+timestamp,+loaddll,+file,+wininet,+systray"));
    report("startup.agent_traced_ms", agent);
    report("startup.floor_traced_ms", floor);
    for (const auto& entry : fs::directory_iterator(traced)) {
        if (entry.path().filename().string().rfind("agent-", 0) == 0) {
            reportTraceSteps("agent", entry.path());
        }
    }
    reportTraceSteps("floor", traced / "startfloor.log");
}

// Private memory and held handles after 100 cycles and after all, the
// portal answering "I0" at once, as a slope per 1,000 cycles.
TEST_F(AgentBenchmark, GrowthOverTenThousandCycles) {
    const int cycles = envNumber("QUORVEL_BENCH_GROWTH_CYCLES", 10000);
    plugDongle();
    ASSERT_EQ(dongle().command("delay dongle 0"), "ok");
    portal().addReply(Reply::text("I0"));
    WineProcess& agent = startAgent(agentFolder(quiet()), standIns());
    const Strings privateFields{"Private_Clean", "Private_Dirty"};
    ASSERT_TRUE(waitForHellos(100, milliseconds(60000)));
    const double earlyKiB = procKiB(agent.pid(), "smaps_rollup", privateFields);
    const double earlyHandles = std::stod(processStats().at("system_handles"));
    const auto began = Clock::now();
    ASSERT_TRUE(waitForHellos(static_cast<std::size_t>(cycles), milliseconds(1200000)))
        << portal().requests().size() << " hellos";
    const double seconds = msBetween(began, Clock::now()) / 1000.0;
    const double lateKiB = procKiB(agent.pid(), "smaps_rollup", privateFields);
    const double lateHandles = std::stod(processStats().at("system_handles"));
    ASSERT_TRUE(agent.running());
    const double thousands = (cycles - 100) / 1000.0;
    report("growth.cycles", cycles);
    report("growth.seconds", seconds);
    report("growth.ms_per_cycle", 1000.0 * seconds / (cycles - 100));
    report("growth.private_kib_at_100", earlyKiB);
    report("growth.private_kib_at_end", lateKiB);
    report("growth.private_kib_per_1000", (lateKiB - earlyKiB) / thousands);
    report("growth.handles_at_100", earlyHandles);
    report("growth.handles_at_end", lateHandles);
    report("growth.handles_per_1000", (lateHandles - earlyHandles) / thousands);
}

// dongleprobe's bench (USBResource and the Win32 HID adapter) over hidfloor
// (bare overlapped WriteFile and ReadFile on the same device path),
// alternated, at three answer times.
TEST_F(AgentBenchmark, FrameThroughputAgainstTheTransportFloor) {
    plugDongle();
    const fs::path probeDir = harness().setup().runsDir / (currentTestName() + ".dongle") / "probe";
    fs::copy_file(QUORVEL_E2E_HIDFLOOR_EXE, probeDir / "hidfloor.exe",
                  fs::copy_options::overwrite_existing);
    const auto opened = parseKeyValues(dongle().probe({"open"}).out);
    ASSERT_EQ(opened.count("path"), 1u);
    std::string path = opened.at("path");
    path.erase(std::remove(path.begin(), path.end(), '\r'), path.end());
    Env env = harness().setup().environment();
    env["WINEDLLOVERRIDES"] = standIns().at("WINEDLLOVERRIDES");
    const int rounds = envNumber("QUORVEL_BENCH_FRAME_ROUNDS", 5);
    for (const auto& [answerMs, frames] :
         {std::pair{0, 2000}, std::pair{2, 200}, std::pair{10, 100}}) {
        ASSERT_EQ(dongle().command("delay dongle " + std::to_string(answerMs)), "ok");
        std::vector<double> agentMs;
        std::vector<double> floorMs;
        for (int round = 0; round < rounds; ++round) {
            // Alternating which goes first evens out a drifting machine.
            for (const bool agentSide : {round % 2 == 0, round % 2 != 0}) {
                ASSERT_EQ(dongle().command("clear dongle"), "ok");
                const std::string count = std::to_string(frames);
                CommandResult result =
                    agentSide ? dongle().probe({"bench", count, "1000"}, milliseconds(120000))
                              : runCaptured({harness().setup().wine.string(),
                                             (probeDir / "hidfloor.exe").string(), path, count},
                                            env, milliseconds(120000));
                ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
                ASSERT_EQ(dongle().values("broadcast dongle").front(), count);
                (agentSide ? agentMs : floorMs)
                    .push_back(std::stod(parseKeyValues(result.out).at("ms_per_frame")));
            }
        }
        const std::string at = "frames.at_" + std::to_string(answerMs) + "ms.";
        report(at + "agent_fps", 1000.0 / median(agentMs));
        report(at + "floor_fps", 1000.0 / median(floorMs));
        report(at + "ratio", median(floorMs) / median(agentMs));
    }
}

// The agent's own window code, per line logged, with a short log and a full one.
TEST_F(AgentBenchmark, LogViewCostPerLine) {
    CommandResult result =
        runCaptured({harness().setup().wine.string(), QUORVEL_E2E_LOGVIEWBENCH_EXE, "20"},
                    harness().setup().environment(), milliseconds(120000));
    if (result.timedOut) {
        // Filling the log to its cap alone can take longer than this.
        report("logview.gave_up_after_s", 120);
        return;
    }
    ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
    const auto values = parseKeyValues(result.out);
    for (const char* key :
         {"short_log_us_per_line", "full_log_us_per_line", "full_view_chars", "short_view_chars"}) {
        ASSERT_EQ(values.count(key), 1u) << result.out;
        report(std::string("logview.") + key, std::stod(values.at(key)));
    }
}

}  // namespace
}  // namespace quorvel::e2e
