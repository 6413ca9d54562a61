#include "tests/e2e/AgentWithSimulators.h"

#include <chrono>
#include <fstream>

#include "resources/resource.h"

namespace quorvel::e2e {
namespace fs = std::filesystem;

int64_t wallClockMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

TimeStamp timeStampAt(int64_t ms) {
    TimeStamp time;
    time.seconds = static_cast<int32_t>(ms / 1000);
    time.milliseconds = static_cast<uint16_t>(ms % 1000);
    return time;
}

bool minuteAhead(const RunTimeData& data) {
    const TimeStamp& next = data.nextHelloTime;
    return int64_t{next.seconds} * 1000 + next.milliseconds - wallClockMs() > 50000;
}

std::string onAir(const std::string& frame, int counter) {
    std::vector<unsigned> bytes;
    for (std::size_t i = 1; i + 1 < frame.size(); i += 2) {
        bytes.push_back(static_cast<unsigned>(std::stoul(frame.substr(i, 2), nullptr, 16)));
    }
    std::vector<unsigned> telegram{bytes.at(0)};
    telegram.insert(telegram.end(), bytes.begin() + 2, bytes.end());
    telegram.at(3) =
        (telegram.at(3) & 0x07u) | ((static_cast<unsigned>(counter) & 0x07u) << 4) | 0x80u;
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned b : telegram) {
        text += digits[b >> 4];
        text += digits[b & 0x0F];
    }
    return text;
}

Strings twice(const std::string& frame, int counter) {
    return {onAir(frame, counter), onAir(frame, counter)};
}

std::function<bool(const RunTimeData&)> sent(int counter) {
    return [counter](const RunTimeData& d) {
        return d.frames.empty() && d.transmitCounter == counter;
    };
}

std::string currentTestName() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return std::string(info->test_suite_name()) + "." + info->name();
}

void AgentWithSimulators::SetUp() {
    harness_ = std::make_unique<Harness>(WineSetup::fromBuild());
    auto windows = harness_->loggerWindows();
    ASSERT_TRUE(windows) << "the driver cannot list windows";
    if (!windows->empty()) {
        // Only a crashed earlier test leaves an agent behind; ending it keeps
        // one crash from failing every test after it.
        harness_->driver({"kill-all"});
        ASSERT_EQ(harness_->driver({"wait-gone", "10000"}).exitCode, 0)
            << "an agent left over from an earlier test does not go away";
    }
    // The prefix serves the whole run: each test starts as on a fresh machine.
    std::error_code ignored;
    fs::remove_all(harness_->runTimeFile().parent_path(), ignored);
    portal_ = std::make_unique<portalsim::PortalSimulator>();
    dongle_ = std::make_unique<DongleSimulator>(
        harness().setup(), harness().setup().runsDir / (currentTestName() + ".dongle"));
}

void AgentWithSimulators::TearDown() {
    bool killed = false;
    for (auto& agent : agents_) {
        killed = agent.kill() || killed;
    }
    if (killed && harness_) {
        // The Wine server drops a killed process's windows and mutex on its
        // own; waiting for that keeps the next test's start clean.
        harness_->driver({"wait-gone", "10000"});
    }
}

WineProcess& AgentWithSimulators::startAgent(const fs::path& folder,
                                             const std::map<std::string, std::string>& extraEnv) {
    agents_.push_back(harness_->startAgent(folder, extraEnv));
    return agents_.back();
}

bool AgentWithSimulators::waitForLoggerWindow(WineProcess* agent, bool visible) {
    std::vector<std::string> args{"wait-window", "1000"};
    if (visible) {
        args.push_back("visible");
    }
    // Short driver waits in a loop notice an agent that dies at once.
    const auto ended = [&] { return agent != nullptr && !agent->running(); };
    const bool appeared = waitUntil([&] { return ended() || harness_->driver(args).exitCode == 0; },
                                    kStartTimeout, milliseconds(0)) &&
                          !ended();
    EXPECT_TRUE(appeared) << "no logger window, or the agent ended";
    return appeared;
}

void AgentWithSimulators::endWith(WineProcess& agent, int command) {
    drive({"send", std::to_string(command), "0"});
    const auto code = agent.waitForExit(kExitTimeout);
    ASSERT_TRUE(code) << "the agent still runs " << kExitTimeout.count() << " ms later";
    EXPECT_EQ(*code, 0);
    const auto windows = harness_->loggerWindows();
    ASSERT_TRUE(windows);
    EXPECT_TRUE(windows->empty()) << "a logger window outlived its process";
}

CommandResult AgentWithSimulators::drive(const std::vector<std::string>& args) {
    CommandResult r = harness_->driver(args);
    EXPECT_EQ(r.exitCode, 0) << "qvdriver " << args.front() << ": " << r.out << r.err;
    return r;
}

AgentWithSimulators::Config AgentWithSimulators::config() const {
    return {
        {"PORTAL_SERVER_HOST", "127.0.0.1"},
        {"PORTAL_SERVER_PORT", std::to_string(portal_->port())},
        {"PORTAL_SERVER_URI", "/agent/hello.php"},
        {"SOFTWARE_VERSION", "2.7.1"},
        {"REASON", "7"},
        // Each interval its own value, so that one taken for another shows.
        {"CYCLIC_HELLO_INTERVAL_ON_ERROR", "1500"},
        {"CYCLIC_USB_INTERVAL_ON_ERROR", "2500"},
        {"MAX_DUTYCYCLE_UTILISATION", "50"},
        {"CYCLIC_HELLO_INTERVAL_ON_DUTY_CYCLE", "3000"},
        {"SEND_FRAMES_REPEAT", "2"},
        {"MAX_USB_WRITE_BUFFER_RETRY", "3"},
        {"USB_WAIT_TIMEOUT", "1000"},
        {"PARTNER", "acme-home"},
        {"ENABLE_LOGGING", "true"},
    };
}

fs::path AgentWithSimulators::agentFolder(const Config& config, const std::string& suffix) {
    std::string ini;
    for (const auto& [key, value] : config) {
        ini += key + "=" + value + "\r\n";
    }
    const fs::path folder = harness_->makeProgramFolder(currentTestName() + suffix, ini);
    // Wine prefers DLLs beside the program when told to take native ones.
    const fs::path simDir = QUORVEL_E2E_DONGLESIM_DIR;
    for (const char* dll : {"setupapi.dll", "hid.dll"}) {
        fs::copy_file(simDir / dll, folder / dll, fs::copy_options::overwrite_existing);
    }
    return folder;
}

WineProcess& AgentWithSimulators::launch(const fs::path& folder) {
    return startAgent(folder, {{"WINEDLLOVERRIDES", "mscoree,mshtml=;setupapi,hid=n,b"}});
}

WineProcess& AgentWithSimulators::startAgentIn(const fs::path& folder) {
    WineProcess& agent = launch(folder);
    EXPECT_TRUE(waitForLoggerWindow(&agent));
    return agent;
}

WineProcess& AgentWithSimulators::startAgentWith(const Config& config) {
    return startAgentIn(agentFolder(config));
}

void AgentWithSimulators::plugDongle() {
    const std::string answer = dongle().command(std::string("add dongle 5e91 2d4a ") + kSerial +
                                                " " + kRadio + " " + kFirmware);
    ASSERT_EQ(answer.rfind("ok ", 0), 0u) << answer;
}

std::vector<std::string> AgentWithSimulators::broadcast() {
    std::vector<std::string> words = dongle().values("broadcast dongle");
    if (!words.empty()) {
        words.erase(words.begin());  // the count
    }
    return words;
}

bool AgentWithSimulators::waitForBroadcast(std::size_t count) {
    return waitUntil([&] { return broadcast().size() >= count; }, milliseconds(15000));
}

std::vector<std::string> AgentWithSimulators::helloBodies() const {
    std::vector<std::string> bodies;
    for (const auto& request : portal_->requests()) {
        bodies.push_back(request.body);
    }
    return bodies;
}

std::string AgentWithSimulators::hello(int reason) const {
    return "H" + std::to_string(reason) + "," + kSerial + "," + kRadio + ",2.7.1," + kFirmware +
           ",acme-home";
}

bool AgentWithSimulators::waitForHellos(std::size_t count, milliseconds timeout) {
    return portal_->waitForRequests(count, timeout);
}

std::optional<RunTimeData> AgentWithSimulators::stored() {
    std::ifstream in(harness().runTimeFile(), std::ios::binary);
    const std::vector<uint8_t> bytes(std::istreambuf_iterator<char>(in), {});
    if (bytes.size() != RunTimeData::fileSize) {
        return std::nullopt;
    }
    return decodeRunTimeData(bytes);
}

std::optional<RunTimeData> AgentWithSimulators::waitForStored(
    const std::function<bool(const RunTimeData&)>& condition, milliseconds timeout) {
    std::optional<RunTimeData> seen;
    const bool held = waitUntil(
        [&] {
            seen = stored();
            return seen && condition(*seen);
        },
        timeout);
    return held ? seen : std::nullopt;
}

void AgentWithSimulators::store(const RunTimeData& data, fs::path file) {
    const RunTimeDataBytes bytes = encodeRunTimeData(data);
    file = file.empty() ? harness().runTimeFile() : file;
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << std::string(bytes.begin(), bytes.end());
}

RunTimeData AgentWithSimulators::earlierRun() const {
    RunTimeData data;
    data.nextHelloTime = timeStampAt(wallClockMs() + 3600 * 1000);
    data.nextTransmitTime = data.nextHelloTime;
    data.serialNumber = kSerial;
    data.firmwareVersion = kFirmware;
    data.helloReason = 7;
    data.transmitCounter = 0;
    return data;
}

void AgentWithSimulators::openPortal() {
    drive({"send", std::to_string(ID_OPEN_PORTAL), "0"});
}

void AgentWithSimulators::openPortalAndSend(const std::string& frame, int counter) {
    const std::size_t before = broadcast().size();
    openPortal();
    ASSERT_TRUE(waitForBroadcast(before + 2));
    EXPECT_EQ(broadcast().back(), onAir(frame, counter));
}

}  // namespace quorvel::e2e
