// The time between consecutive hellos of the real agent under Wine, over
// what the portal's and the dongle's fixed delays take of it. Agents with
// logging off and on (short log, then full past its cap) take turns with
// startfloor's bare POSTs, so that a busy machine slows all alike.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "tests/e2e/BenchFigures.h"

namespace quorvel::e2e {
namespace {

namespace fs = std::filesystem;
using portalsim::Reply;

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

// Log calls per hello over the last `hellos` hellos before the parking one.
double linesPerMeasuredHello(const std::string& view, int hellos) {
    const std::string start = "startHelloThreadIn is already started";
    std::vector<std::size_t> starts;
    for (std::size_t at = view.find(start); at != std::string::npos;
         at = view.find(start, at + 1)) {
        starts.push_back(at);
    }
    if (starts.size() < static_cast<std::size_t>(hellos) + 1) {
        return 0;
    }
    std::size_t lines = 0;
    const std::string lineStart = "\r\n - [";
    for (std::size_t at =
             view.find(lineStart, starts[starts.size() - 1 - static_cast<std::size_t>(hellos)]);
         at < starts.back(); at = view.find(lineStart, at + 1)) {
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

// Consecutive answers; an unnamed phase is not measured.
struct Phase {
    std::string name;
    std::vector<Reply> replies;
};
// Phases back to back, after which the agent is parked (next hello in ten
// minutes) until Open Portal starts the next segment.
using Segment = std::vector<Phase>;

class HelloBenchmark : public Measurement {
  protected:
    // The `count` intervals from request `first` to the next, into `intervals[name]`.
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
            for (const Phase& phase : segment) {
                script.insert(script.end(), phase.replies.begin(), phase.replies.end());
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
            for (const Phase& phase : segment) {
                if (!phase.name.empty()) {
                    addIntervals(phase.name, k, phase.replies.size());
                }
                k += phase.replies.size();
            }
            // Until the view shows the hello that planned ten minutes ahead.
            std::string view;
            waitUntil(
                [&] {
                    view = harness().logText().value_or("");
                    const auto lastHello = view.rfind("startHelloThreadIn is already started");
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
        WineProcess floor = startFloor(config, folder, {std::to_string(replies.size())});
        if (!waitForHellos(first + replies.size(), milliseconds(300000))) {
            ADD_FAILURE() << "floor POSTs: " << portal().requests().size() - first;
            return;
        }
        addIntervals("wininet_floor", first, replies.size() - 1);
    }

    // What the steps of a hello cost any program here, into `steps[KEY]`.
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

    Config off = config();
    off["ENABLE_LOGGING"] = "false";
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
