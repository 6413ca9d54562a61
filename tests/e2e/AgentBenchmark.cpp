// Figures of the real agent under Wine, each a ratio of two things measured
// in the same run; a case fails only when its measurement could not be taken.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
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

// startfloor in `folder`: a window, a tray icon, WinINet and `posts` POSTs
// to the portal of `config`; the floor the agent is measured against.
WineProcess startFloor(const WineSetup& setup, const std::map<std::string, std::string>& config,
                       const fs::path& folder, const Strings& posts = {},
                       const std::map<std::string, std::string>& env = {}) {
    Strings args{config.at("PORTAL_SERVER_HOST"), config.at("PORTAL_SERVER_PORT"),
                 config.at("PORTAL_SERVER_URI")};
    args.insert(args.end(), posts.begin(), posts.end());
    return WineProcess(setup, QUORVEL_E2E_STARTFLOOR_EXE, args, folder, folder / "startfloor.log",
                       env);
}

class AgentBenchmark : public Measurement {
  protected:
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
        const double floorMs =
            spawnToHello([&] { floor = startFloor(harness().setup(), quiet(), folder, {}, env); });
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
            const auto has = [&line](const std::string& text) {
                return line.find(text) != std::string::npos;
            };
            if (at <= 0 || !(has("Loaded L") || (has("CreateFileW L") && has("trace:file")) ||
                             has("InternetOpenA") || has("Shell_NotifyIconW") ||
                             has("HTTP_HttpSendRequestW -->"))) {
                continue;
            }
            first = first < 0 ? at : first;
            std::printf("  +%.0f %s\n", 1000.0 * (at - first), line.substr(0, 160).c_str());
            cryptoLoads += has("rsaenh.dll") ? 1 : 0;
            for (const auto& [step, text] : steps) {
                if (seen.count(step) == 0 && has(text)) {
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
        std::printf("start-up ms, agent %.0f, floor %.0f\n", agent, floor);
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
    ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
    const auto values = parseKeyValues(result.out);
    for (const char* key :
         {"short_log_us_per_line", "full_log_us_per_line", "full_view_chars", "short_view_chars"}) {
        ASSERT_EQ(values.count(key), 1u) << result.out;
        report(std::string("logview.") + key, std::stod(values.at(key)));
    }
}

// The hello cycle: the time between consecutive hellos, over what the
// portal's and the dongle's fixed delays take of it. Agents with logging off
// and on (short log, then full past its cap) take turns with startfloor's
// bare POSTs, so that a busy machine slows all alike.

Reply answerAfter(int portalMs, std::string body = "I0") {
    Reply reply = Reply::text(std::move(body));
    reply.delay = milliseconds(portalMs);
    return reply;
}

// An answer that logs about 70,000 characters: itself (cut for the view)
// and twenty unknown lines of 3,000 characters.
Reply fillingAnswer() {
    std::string body = "I0\r\n";
    for (int i = 0; i < 20; ++i) {
        body += "x" + std::string(2999, static_cast<char>('a' + i)) + "\r\n";
    }
    return Reply::text(body);
}

const std::string helloStart = "startHelloThreadIn is already started";

double linesPerMeasuredHello(const std::string& view, int hellos) {
    std::vector<std::size_t> starts;
    for (auto at = view.find(helloStart); at != std::string::npos;
         at = view.find(helloStart, at + 1)) {
        starts.push_back(at);
    }
    if (starts.size() <= static_cast<std::size_t>(hellos)) {
        return 0;
    }
    std::size_t lines = 0;
    for (auto at = view.find("\r\n - [", starts[starts.size() - 1 - hellos]); at < starts.back();
         at = view.find("\r\n - [", at + 1)) {
        ++lines;
    }
    return static_cast<double>(lines) / hellos;
}

// The agent's durable write as the Linux calls Wine makes of it (one fsync,
// one rename): what the disk itself takes. Median of `writes`, in ms.
double linuxDurableWriteMs(const fs::path& folder, int writes) {
    fs::create_directories(folder);
    const std::string path = (folder / "linux.dat").string();
    const std::string temporary = path + ".new";
    const std::vector<char> bytes(10304, 'Z');
    std::vector<double> ms;
    for (int i = 0; i < writes; ++i) {
        const auto begin = Clock::now();
        const int file = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const bool durable =
            ::write(file, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) &&
            ::fsync(file) == 0;
        ::close(file);
        if (!durable || ::rename(temporary.c_str(), path.c_str()) != 0) {
            return -1;
        }
        ms.push_back(msBetween(begin, Clock::now()));
    }
    return median(ms);
}

// Named answers back to back (an unnamed phase is not measured), after which
// the agent is parked (next hello in ten minutes) until Open Portal.
using Segment = std::vector<std::pair<std::string, std::vector<Reply>>>;

class HelloBenchmark : public Measurement {
  protected:
    void addIntervals(const std::string& name, std::size_t first, std::size_t count) {
        const auto requests = portal().requests();
        for (std::size_t k = first; k < first + count; ++k) {
            intervals[name].push_back(
                msBetween(requests[k].connectedAt, requests[k + 1].connectedAt));
        }
    }

    // One agent through `segments`, after two hellos that settle start-up;
    // returns the log view at each park.
    std::vector<std::string> run(const Config& config, const std::vector<Segment>& segments) {
        fs::remove(harness().runTimeFile());
        EXPECT_EQ(dongle().command("clear dongle"), "ok");
        const std::size_t seen = portal().requests().size();
        std::vector<Reply> script{answerAfter(0), answerAfter(0)};
        std::vector<std::string> views;
        WineProcess* agent = nullptr;
        for (const Segment& segment : segments) {
            std::size_t k = portal().requests().size() + script.size();
            for (const auto& [name, replies] : segment) {
                script.insert(script.end(), replies.begin(), replies.end());
            }
            script.push_back(answerAfter(0, "I600000"));
            const std::size_t last = portal().requests().size() + script.size();
            portal().addReplies(script);
            script.clear();
            if (agent == nullptr) {
                // QUORVEL_BENCH_WINEDEBUG traces the agents into runs/HelloBenchmark.*.
                const char* trace = std::getenv("QUORVEL_BENCH_WINEDEBUG");
                agent = &startAgent(agentFolder(config, "-" + std::to_string(++agents_)),
                                    standIns(trace != nullptr && *trace ? trace : "-all"));
            } else {
                openPortal();
            }
            if (!waitForHellos(last, milliseconds(300000))) {
                ADD_FAILURE() << "hellos: " << portal().requests().size() - seen;
                return views;
            }
            for (const auto& [name, replies] : segment) {
                if (!name.empty()) {
                    addIntervals(name, k, replies.size());
                }
                k += replies.size();
            }
            // Until the view shows the hello that planned ten minutes ahead.
            std::string view;
            waitUntil(
                [&] {
                    view = harness().logText().value_or("");
                    const auto lastHello = view.rfind(helloStart);
                    const auto parked = view.rfind("starts in[ms]: 600000");
                    return lastHello == std::string::npos ||
                           (parked != std::string::npos && parked > lastHello);
                },
                milliseconds(10000));
            views.push_back(view);
        }
        const auto reports = dongle().values("reports dongle");
        reportsPerHello.push_back(std::stod(reports.empty() ? "0" : reports.front()) /
                                  static_cast<double>(portal().requests().size() - seen));
        agent->kill();
        return views;
    }

    // WinINet alone: startfloor's same POSTs one after another, a new
    // session and connection for each as the agent makes them.
    void runFloor(const Config& config, const std::vector<Reply>& replies) {
        const std::size_t first = portal().requests().size();
        portal().addReplies(replies);
        const fs::path folder = agentFolder(config, "-floor" + std::to_string(++agents_));
        WineProcess floor =
            startFloor(harness().setup(), config, folder, {std::to_string(replies.size())});
        if (!waitForHellos(first + replies.size(), milliseconds(300000))) {
            ADD_FAILURE() << "floor POSTs: " << portal().requests().size() - first;
            return;
        }
        addIntervals("wininet_floor", first, replies.size() - 1);
    }

    void runStepFloors() {
        const fs::path stepfloor =
            fs::path(QUORVEL_E2E_HIDFLOOR_EXE).parent_path() / "stepfloor.exe";
        const CommandResult result =
            runCaptured({harness().setup().wine.string(), stepfloor.string(),
                         "C:\\ProgramData\\quorvel-stepfloor", "30"},
                        harness().setup().environment(), milliseconds(120000));
        ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
        for (const auto& [key, value] : parseKeyValues(result.out)) {
            steps[key].push_back(std::stod(value));
        }
        const double linuxMs =
            linuxDurableWriteMs(harness().setup().prefix / "drive_c" / "quorvel-stepfloor", 30);
        ASSERT_GE(linuxMs, 0) << "Linux write";
        steps["linux_write_ms"].push_back(linuxMs);
    }

    std::map<std::string, std::vector<double>> intervals;
    std::map<std::string, std::vector<double>> steps;
    std::vector<double> reportsPerHello;

  private:
    int agents_ = 0;
};

TEST_F(HelloBenchmark, HelloOverheadWithLoggingOffAndOn) {
    const int portalMs = envNumber("QUORVEL_BENCH_PORTAL_MS", 100);
    const int dongleMs = envNumber("QUORVEL_BENCH_DONGLE_MS", 2);
    const int hellos = envNumber("QUORVEL_BENCH_HELLOS", 30);
    const int rounds = envNumber("QUORVEL_BENCH_HELLO_ROUNDS", 3);
    plugDongle();
    ASSERT_EQ(dongle().command("delay dongle " + std::to_string(dongleMs)), "ok");
    const std::vector<Reply> atDelay(static_cast<std::size_t>(hellos), answerAfter(portalMs));
    const std::vector<Reply> atOnce(static_cast<std::size_t>(hellos), answerAfter(0));
    // Five of them pass the log's 256 KiB cap even from an empty log.
    const std::vector<Reply> filling(5, fillingAnswer());

    const Config off = quiet();
    std::vector<double> shortChars;
    std::vector<double> fullChars;
    double linesPerHello = 0;
    for (int round = 0; round < rounds; ++round) {
        for (const bool offTurn : {round % 2 == 0, round % 2 != 0}) {
            if (offTurn) {
                run(off, {{{"off", atDelay}, {"off_at_once", atOnce}}});
                continue;
            }
            const auto views =
                run(config(), {{{"short", atDelay}}, {{"", filling}, {"full", atDelay}}});
            ASSERT_EQ(views.size(), 2u);
            shortChars.push_back(static_cast<double>(views[0].size()));
            fullChars.push_back(static_cast<double>(views[1].size()));
            linesPerHello = linesPerMeasuredHello(views[1], hellos);
        }
        runFloor(off, atDelay);
        runStepFloors();
    }
    for (const char* name : {"off", "off_at_once", "short", "full", "wininet_floor"}) {
        ASSERT_FALSE(intervals[name].empty()) << name;
    }

    const double reports = median(reportsPerHello);
    const double dongleDelays = reports * dongleMs;
    const double outside = portalMs + dongleDelays;
    const double offMs = median(intervals["off"]);
    // Beyond WinINet's own exchange and the dongle's delays: the agent's own work.
    const double floorMs = median(intervals["wininet_floor"]);
    // A steady hello writes the record once and refreshes the tray once.
    const double stepFloors = median(steps["bare_write_ms"]) + median(steps["tray_modify_ms"]);
    report("hello.portal_delay_ms", portalMs);
    report("hello.dongle_delay_ms", dongleMs);
    report("hello.dongle_reports_per_hello", reports);
    report("hello.intervals_per_figure", static_cast<double>(intervals["off"].size()));
    report("hello.off.interval_ms_median", offMs);
    report("hello.off.ratio", offMs / outside);
    report("hello.wininet_floor.interval_ms_median", floorMs);
    report("hello.off.own_ms", offMs - floorMs - dongleDelays);
    report("hello.off.over_wininet_floor", offMs / (floorMs + dongleDelays));
    for (const auto& [key, values] : steps) {
        report("hello.steps." + key, median(values));
    }
    report("hello.off.own_beyond_step_floors_ms", offMs - floorMs - dongleDelays - stepFloors);
    report("hello.off.over_all_floors", offMs / (floorMs + dongleDelays + stepFloors));
    report("hello.off_at_once.interval_ms_median", median(intervals["off_at_once"]));
    report("hello.off_at_once.ratio", median(intervals["off_at_once"]) / dongleDelays);
    for (const auto& [name, chars] : {std::pair<const char*, double>{"short", median(shortChars)},
                                      {"full", median(fullChars)}}) {
        const double onMs = median(intervals[name]);
        const std::string key = std::string("hello.on_") + name;
        report(key + ".interval_ms_median", onMs);
        report(key + ".ratio", onMs / outside);
        report(key + ".over_off", onMs / offMs);
        report(key + ".view_chars", chars);
        report(key + ".ms_per_line", (onMs - offMs) / linesPerHello);
    }
    report("hello.on.lines_per_hello", linesPerHello);
}

}  // namespace
}  // namespace quorvel::e2e
