// Figures of the real agent under Wine, each a ratio of two things measured
// in the same run. Not a timed test: every case prints `bench.KEY=VALUE`
// lines for scripts/bench.sh and fails only when the measurement itself
// could not be taken (no hello, no answer, no log).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <numeric>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "resources/resource.h"
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
        return startAgent(
            agentFolder(config, suffix),
            {{"WINEDLLOVERRIDES", "mscoree,mshtml=;setupapi,hid=n,b"}, {"WINEDEBUG", debug}});
    }
};

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
    const fs::path trace = harness().setup().runsDir /
                           (std::string("AgentBenchmark.IdleBetweenDeadlines") + "/agent-1.log");
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
// connection at the portal, over the same for startfloor (a window class, a
// window, a tray icon, WinINet and one POST to the same portal), both built
// alike and run alternately in the same prefix. One more traced start of
// each says which steps the agent adds and what they cost.
TEST_F(AgentBenchmark, StartUpAgainstAFairFloor) {
    const int rounds = envNumber("QUORVEL_BENCH_STARTS", 11);
    plugDongle();
    portal().addReply(Reply::text("I600000"));
    Config quiet = config();
    quiet["ENABLE_LOGGING"] = "false";
    const auto env = std::map<std::string, std::string>{
        {"WINEDLLOVERRIDES", "mscoree,mshtml=;setupapi,hid=n,b"}};
    const auto spawnToRequest = [&](const std::function<void()>& spawn) {
        const std::size_t seen = portal().requests().size();
        const auto spawned = Clock::now();
        spawn();
        EXPECT_TRUE(waitForHellos(seen + 1, milliseconds(30000)));
        return portal().requests().size() > seen
                   ? msBetween(spawned, portal().requests()[seen].connectedAt)
                   : 0.0;
    };
    std::vector<double> agentMs;
    std::vector<double> floorMs;
    for (int round = 0; round < rounds; ++round) {
        fs::remove(harness().runTimeFile());
        const fs::path folder = agentFolder(quiet, "-" + std::to_string(round));
        WineProcess* agent = nullptr;
        agentMs.push_back(spawnToRequest([&] { agent = &startAgent(folder, env); }));
        // Ended as a user ends it, tray icon removed: a killed agent leaves
        // Wine's desktop holding its icon, and the next program's first
        // window then waits about two seconds.
        drive({"send", std::to_string(ID_EXIT), "0"});
        ASSERT_EQ(agent->waitForExit(milliseconds(30000)), std::optional<int>(0));
        std::unique_ptr<WineProcess> floor;
        floorMs.push_back(spawnToRequest([&] {
            floor = std::make_unique<WineProcess>(
                harness().setup(), fs::path(QUORVEL_E2E_STARTFLOOR_EXE),
                std::vector<std::string>{quiet.at("PORTAL_SERVER_HOST"),
                                         quiet.at("PORTAL_SERVER_PORT"),
                                         quiet.at("PORTAL_SERVER_URI")},
                folder, folder / "startfloor.log", env);
        }));
        ASSERT_EQ(floor->waitForExit(milliseconds(30000)), std::optional<int>(0));
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
    // The quickest of each: what either costs when the shared machine lets it.
    const double agentMin = *std::min_element(agentMs.begin(), agentMs.end());
    const double floorMin = *std::min_element(floorMs.begin(), floorMs.end());
    report("startup.agent_ms_min", agentMin);
    report("startup.floor_ms_min", floorMin);
    report("startup.ratio_of_minimums", agentMin / floorMin);

    // Where the agent's time goes: one more start of each, logging still
    // off, with Wine's time-stamped trace of the libraries loaded, the files
    // opened and WinINet's calls. Each step is reported in ms from the
    // program's first trace line, and the lines are printed.
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
    const auto traceSteps = [&](const std::string& who, const fs::path& trace) {
        std::istringstream in(readFile(trace));
        std::string line;
        double first = -1;
        std::map<std::string, double> seen;
        int cryptoLoads = 0;
        std::printf("%s start-up trace (ms from Wine's first trace line):\n", who.c_str());
        while (std::getline(in, line)) {
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
    };
    fs::remove(harness().runTimeFile());
    const fs::path tracedFolder = agentFolder(quiet, "-traced");
    auto tracedEnv = env;
    tracedEnv["WINEDEBUG"] = "+timestamp,+loaddll,+file,+wininet,+systray";
    WineProcess* traced = nullptr;
    report("startup.agent_traced_ms",
           spawnToRequest([&] { traced = &startAgent(tracedFolder, tracedEnv); }));
    drive({"send", std::to_string(ID_EXIT), "0"});
    ASSERT_EQ(traced->waitForExit(milliseconds(30000)), std::optional<int>(0));
    std::unique_ptr<WineProcess> tracedFloor;
    report("startup.floor_traced_ms", spawnToRequest([&] {
               tracedFloor = std::make_unique<WineProcess>(
                   harness().setup(), fs::path(QUORVEL_E2E_STARTFLOOR_EXE),
                   std::vector<std::string>{quiet.at("PORTAL_SERVER_HOST"),
                                            quiet.at("PORTAL_SERVER_PORT"),
                                            quiet.at("PORTAL_SERVER_URI")},
                   tracedFolder, tracedFolder / "startfloor.log", tracedEnv);
           }));
    ASSERT_EQ(tracedFloor->waitForExit(milliseconds(30000)), std::optional<int>(0));
    for (const auto& entry : fs::directory_iterator(tracedFolder)) {
        if (entry.path().filename().string().rfind("agent-", 0) == 0) {
            traceSteps("agent", entry.path());
        }
    }
    traceSteps("floor", tracedFolder / "startfloor.log");
}

// How cost grows with time: an agent with logging off whose portal answers
// "I0" at once (the next hello straight after), so that 10,000 cycles take
// minutes; its private memory (Linux's account of the Wine process) and the
// handles it holds (Wine's system handle list) after 100 cycles and after
// all of them, as a slope per 1,000 cycles.
TEST_F(AgentBenchmark, GrowthOverTenThousandCycles) {
    const int cycles = envNumber("QUORVEL_BENCH_GROWTH_CYCLES", 10000);
    plugDongle();
    ASSERT_EQ(dongle().command("delay dongle 0"), "ok");
    portal().addReply(Reply::text("I0"));
    Config quiet = config();
    quiet["ENABLE_LOGGING"] = "false";
    WineProcess& agent = startWith(quiet, "");
    const auto handles = [&] {
        const CommandResult r = harness().driver({"process-stats", "Quorvel Logger Window"});
        const auto values = parseKeyValues(r.out);
        const auto it = values.find("system_handles");
        return it == values.end() ? -1.0 : std::stod(it->second);
    };
    ASSERT_TRUE(waitForHellos(100, milliseconds(60000)));
    const double earlyKiB = privateKiB(agent.pid());
    const double earlyHandles = handles();
    const auto began = Clock::now();
    ASSERT_TRUE(waitForHellos(static_cast<std::size_t>(cycles), milliseconds(1200000)))
        << portal().requests().size() << " hellos";
    const double seconds = msBetween(began, Clock::now()) / 1000.0;
    const double lateKiB = privateKiB(agent.pid());
    const double lateHandles = handles();
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
    const int rounds = envNumber("QUORVEL_BENCH_FRAME_ROUNDS", 5);
    struct Run {
        int answerMs;
        int frames;
    };
    for (const Run run : {Run{0, 2000}, Run{2, 200}, Run{10, 100}}) {
        ASSERT_EQ(dongle().command("delay dongle " + std::to_string(run.answerMs)), "ok");
        std::vector<double> agentMs;
        std::vector<double> floorMs;
        for (int round = 0; round < rounds; ++round) {
            // Alternating which goes first evens out a drifting machine.
            for (int side = 0; side < 2; ++side) {
                const bool agentSide = (side == 0) == (round % 2 == 0);
                ASSERT_EQ(dongle().command("clear dongle"), "ok");
                CommandResult result =
                    agentSide ? dongle().probe({"bench", std::to_string(run.frames), "1000"},
                                               milliseconds(120000))
                              : runCaptured({harness().setup().wine.string(),
                                             (probeDir / "hidfloor.exe").string(), path,
                                             std::to_string(run.frames)},
                                            env, milliseconds(120000));
                ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
                ASSERT_EQ(dongle().values("broadcast dongle").front(), std::to_string(run.frames));
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
