// The setup program and its uninstaller under Wine, as an administrator or a
// software-distribution tool would run them: silently, with the portal
// values on the command line. What they leave behind is looked at from
// outside: the files under C:\Program Files\Quorvel, the registry, the
// Start menu, the data folder, and the installed agent talking to the
// portal simulator and the simulated dongle.
//
// The prefix is this suite's own (fixture wine_setup): the setup writes
// HKLM's autostart, which a restarted prefix would act on. Each case still
// begins and ends with no installation left.

#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "core/InitialConfiguration.h"
#include "resources/resource.h"
#include "tests/e2e/AgentWithSimulators.h"

namespace quorvel::e2e {
namespace {

namespace fs = std::filesystem;
using portalsim::PortalSimulator;
using Values = std::map<std::string, std::string>;

constexpr char kVersion[] = QUORVEL_E2E_VERSION;
constexpr char kInstallDir[] = "C:\\Program Files\\Quorvel";
constexpr char kRunKey[] = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kUninstallKey[] =
    "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorvel";
constexpr milliseconds kSetupTimeout{90000};

// The keys the agent reads: the sixteen it needs and the optional HTTPS switch.
const Strings kKeys = {
    "PORTAL_SERVER_HOST",
    "PORTAL_SERVER_PORT",
    "PROXY_SERVER_HOST",
    "PROXY_SERVER_PORT",
    "PORTAL_SERVER_URI",
    "SOFTWARE_VERSION",
    "REASON",
    "CYCLIC_HELLO_INTERVAL_ON_ERROR",
    "CYCLIC_USB_INTERVAL_ON_ERROR",
    "MAX_DUTYCYCLE_UTILISATION",
    "CYCLIC_HELLO_INTERVAL_ON_DUTY_CYCLE",
    "SEND_FRAMES_REPEAT",
    "MAX_USB_WRITE_BUFFER_RETRY",
    "USB_WAIT_TIMEOUT",
    "PARTNER",
    "ENABLE_LOGGING",
    "PORTAL_SERVER_SECURE",
};

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Shell links keep some strings in the code page and some in UTF-16.
bool mentions(const std::string& blob, const std::string& ascii) {
    std::string wide;
    for (char c : ascii) {
        wide += c;
        wide += '\0';
    }
    return contains(blob, ascii) || contains(blob, wide);
}

// Equal bytes; otherwise where they part, not the whole of two binaries.
::testing::AssertionResult sameBytes(const std::string& actual, const std::string& expected) {
    if (actual == expected) {
        return ::testing::AssertionSuccess();
    }
    std::size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) {
        ++at;
    }
    return ::testing::AssertionFailure()
           << actual.size() << " bytes instead of " << expected.size() << ", first difference at "
           << at << ": \"" << actual.substr(at, 60) << "\" instead of \"" << expected.substr(at, 60)
           << "\"";
}

// The line of quorvel-check's output about `subject`, or "".
std::string findingAbout(const std::string& output, const std::string& subject) {
    for (const std::string& line : linesOf(output)) {
        if (line.size() > 6 && line.compare(6, subject.size(), subject) == 0) {
            return line;
        }
    }
    return "";
}

class Setup : public AgentWithSimulators {
  protected:
    void SetUp() override {
        AgentWithSimulators::SetUp();
        if (!HasFatalFailure()) {
            removeInstallation();
        }
    }

    void TearDown() override {
        if (HasFailure()) {
            for (const char* log : {"setup.log", "uninstall.log"}) {
                std::cerr << "--- " << log << "\n" << readFile(workDir() / log) << "\n";
            }
        }
        AgentWithSimulators::TearDown();
        removeInstallation();
    }

    // The environment of the setup and of everything it starts: the dongle
    // stand-ins where they lie beside a program, and no Linux menu entries
    // for the Start-menu shortcuts.
    std::map<std::string, std::string> environment() {
        auto env = harness().setup().environment();
        env["WINEDLLOVERRIDES"] = "mscoree,mshtml=;winemenubuilder.exe=d;setupapi,hid=n,b";
        return env;
    }

    fs::path driveC() { return harness().setup().prefix / "drive_c"; }
    fs::path installDir() { return driveC() / "Program Files" / "Quorvel"; }
    fs::path startMenuDir() {
        return driveC() / "ProgramData" / "Microsoft" / "Windows" / "Start Menu" / "Programs" /
               "Quorvel";
    }
    fs::path dataDir() { return harness().runTimeFile().parent_path(); }
    fs::path workDir() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        const fs::path dir =
            harness().setup().runsDir / (std::string(info->test_suite_name()) + "." + info->name());
        fs::create_directories(dir);
        return dir;
    }

    // Runs a program under Wine to its end with its output in `log`.
    std::optional<int> run(const fs::path& exe, const Strings& args, const std::string& log) {
        WineProcess process(harness().setup(), exe, args, workDir(), workDir() / log,
                            {{"WINEDLLOVERRIDES", environment()["WINEDLLOVERRIDES"]}});
        return process.waitForExit(kSetupTimeout);
    }

    // Started by qvdriver, which writes the setup's Windows process id into
    // setup.log (setupPid) before the setup's own output.
    std::optional<int> runSetup(const Strings& args) {
        Strings driverArgs{"run", "Z:" + std::string(QUORVEL_E2E_SETUP_EXE)};
        driverArgs.insert(driverArgs.end(), args.begin(), args.end());
        return run(harness().setup().driverExe, driverArgs, "setup.log");
    }
    std::string setupPid() { return parseKeyValues(readFile(workDir() / "setup.log"))["pid"]; }

    // %TEMP%\quorvel-setup.log of the user Wine runs the setup as.
    fs::path setupLog() {
        for (const auto& user : fs::directory_iterator(driveC() / "users")) {
            for (const fs::path& temp :
                 {user.path() / "Temp", user.path() / "AppData/Local/Temp"}) {
                if (user.path().filename() != "Public" && fs::is_directory(temp)) {
                    return temp / "quorvel-setup.log";
                }
            }
        }
        return {};
    }

    // The uninstaller copies itself away and returns at once; the copy does
    // the work. Waits until it is done: the uninstall entry goes last.
    void uninstall(const Strings& args) {
        ASSERT_EQ(run(installDir() / "uninstall.exe", args, "uninstall.log"), 0);
        ASSERT_TRUE(
            waitUntil([&] { return !registry(kUninstallKey); }, kSetupTimeout, milliseconds(250)))
            << "the uninstaller did not finish; left: " << listing(installDir());
    }

    // `wine reg query` of a key (and, if asked, all below it): the values
    // of each key by its last name, or nullopt when the key does not exist.
    std::optional<std::map<std::string, Values>> regQuery(const std::string& key,
                                                          bool below = false) {
        Strings argv{harness().setup().wine.string(), "reg", "query", key};
        if (below) {
            argv.push_back("/s");
        }
        const CommandResult r = runCaptured(argv, environment(), kExitTimeout);
        if (r.exitCode != 0) {
            return std::nullopt;
        }
        static const std::regex value(R"(^ +(\S.*?) {4}(REG_\w+) {4}(.*)$)");
        std::map<std::string, Values> keys;
        std::string name;
        for (const std::string& line : linesOf(r.out)) {
            std::smatch m;
            if (line.rfind("HKEY_", 0) == 0) {
                name = line.substr(line.rfind('\\') + 1);
            } else if (std::regex_match(line, m, value)) {
                keys[name][m[1]] = m[3];
            }
        }
        return keys;
    }
    std::optional<Values> registry(const std::string& key) {
        const auto keys = regQuery(key);
        if (!keys) {
            return std::nullopt;
        }
        Values values;
        for (const auto& entry : *keys) {
            values.insert(entry.second.begin(), entry.second.end());
        }
        return values;
    }

    void deleteRegistry(const Strings& args) {
        Strings argv{harness().setup().wine.string(), "reg", "delete"};
        argv.insert(argv.end(), args.begin(), args.end());
        runCaptured(argv, environment(), kExitTimeout);
    }

    // The Unix processes of this prefix that run the installed quorvel.exe,
    // on whatever desktop: Wine shows a program's Windows command line.
    std::vector<pid_t> installedAgentPids() {
        std::vector<pid_t> pids;
        const std::string prefix =
            std::string(1, '\0') + "WINEPREFIX=" + harness().setup().prefix.string() + '\0';
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator("/proc", ec)) {
            std::string command = readFile(entry.path() / "cmdline");
            for (char& c : command) {
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            }
            if (contains(command, "\\quorvel\\quorvel.exe") &&
                contains('\0' + readFile(entry.path() / "environ"), prefix)) {
                pids.push_back(std::stoi(entry.path().filename().string()));
            }
        }
        return pids;
    }

    // msiexec with its verbose log in `log`, beside its output.
    std::optional<int> msiexec(Strings args, const std::string& log) {
        std::string logPath = "Z:" + (workDir() / log).string();
        std::replace(logPath.begin(), logPath.end(), '/', '\\');
        args.insert(args.end(), {"/l*v", logPath});
        return run("msiexec", args, log + ".out");
    }

    // The product codes of installed packages named Quorvel, and their
    // entries under Apps & features.
    std::map<std::string, Values> packageEntries() {
        const std::string key = kUninstallKey;
        auto entries = regQuery(key.substr(0, key.rfind('\\')), true)
                           .value_or(std::map<std::string, Values>{});
        for (auto it = entries.begin(); it != entries.end();) {
            const bool package = it->first[0] == '{' && it->second["DisplayName"] == "Quorvel";
            it = package ? std::next(it) : entries.erase(it);
        }
        return entries;
    }

    // Whatever a case or a failed setup left: the prefix is shared by the
    // cases of this suite.
    void removeInstallation() {
        for (const auto& entry : packageEntries()) {
            msiexec({"/x", entry.first, "/qn"}, "cleanup.log");
        }
        auto windows = harness().loggerWindows();
        if (windows && !windows->empty()) {
            harness().driver({"kill-all"});
            harness().driver({"wait-gone", "10000"});
        }
        for (pid_t pid : installedAgentPids()) {
            ::kill(pid, SIGKILL);
        }
        std::error_code ignored;
        fs::remove_all(installDir(), ignored);
        fs::remove_all(startMenuDir(), ignored);
        fs::remove_all(dataDir(), ignored);
        if (registry(kUninstallKey)) {
            deleteRegistry({kUninstallKey, "/f"});
        }
        if (registry(kRunKey).value_or(Values{}).count("Quorvel") != 0) {
            deleteRegistry({kRunKey, "/v", "Quorvel", "/f"});
        }
    }

    // In name order: the directory's own order is the file system's.
    static std::string listing(const fs::path& dir) {
        std::set<std::string> names;
        std::error_code ec;
        for (const auto& entry : fs::recursive_directory_iterator(dir, ec)) {
            names.insert(entry.path().lexically_relative(dir).string());
        }
        std::string out;
        for (const std::string& name : names) {
            out += name + " ";
        }
        return out;
    }

    // The dongle stand-ins beside the programs that are about to be
    // installed, as the other tests put them beside quorvel.exe.
    void placeStandIns() {
        fs::create_directories(installDir());
        const fs::path simDir = QUORVEL_E2E_DONGLESIM_DIR;
        for (const char* dll : {"setupapi.dll", "hid.dll"}) {
            fs::copy_file(simDir / dll, installDir() / dll, fs::copy_options::overwrite_existing);
        }
    }
    void removeStandIns() {
        for (const char* dll : {"setupapi.dll", "hid.dll"}) {
            fs::remove(installDir() / dll);
        }
    }

    // The installed quorvel-check.exe, run with the stand-ins beside it.
    CommandResult check(const Strings& args = {}) {
        Strings argv{harness().setup().wine.string(),
                     (installDir() / "quorvel-check.exe").string()};
        argv.insert(argv.end(), args.begin(), args.end());
        return runCaptured(argv, environment(), kSetupTimeout);
    }

    // Waits until an agent's logger window exists (and is shown, if asked)
    // without a process of our own to watch: the setup started it.
    bool waitForAgentWindow(bool visible) {
        Strings args{"wait-window", "1000"};
        if (visible) {
            args.push_back("visible");
        }
        return waitUntil([&] { return harness().driver(args).exitCode == 0; }, kStartTimeout,
                         milliseconds(0));
    }

    // The running agent's Windows process id and its parent's, or "".
    struct AgentProcess {
        std::string pid;
        std::string parent;
    };
    AgentProcess agentProcess() {
        const CommandResult r = harness().driver({"windows"});
        for (std::string line : linesOf(r.out)) {
            if (line.rfind("window ", 0) == 0) {
                std::replace(line.begin(), line.end(), ' ', '\n');
                Values values = parseKeyValues(line);
                return {values["pid"], values["parent"]};
            }
        }
        return {};
    }

    // A silent first install straight at the portal simulator.
    void installDirect(const Strings& extra = {}) {
        Strings args{"/S", "/PORTAL_HOST=127.0.0.1",
                     "/PORTAL_PORT=" + std::to_string(portal().port()),
                     "/PORTAL_PATH=/agent/hello.php", "/PARTNER=acme-home"};
        args.insert(args.end(), extra.begin(), extra.end());
        ASSERT_EQ(runSetup(args), 0);
    }

    std::string helloOf(int reason, const std::string& version, const std::string& partner) {
        return "H" + std::to_string(reason) + "," + kSerial + "," + kRadio + "," + version + "," +
               kFirmware + "," + partner;
    }
};

TEST_F(Setup, SilentSetupRefusesValuesThatCannotWorkAndInstallsNothing) {
    const std::string host = "/PORTAL_HOST=portal.example.com";
    const std::vector<Strings> refused = {
        {"/S"},                                    // a first install needs a portal
        {"/S", host, "/PORTAL_PORT=0"},            // no TCP port
        {"/S", host, "/PORTAL_PORT=8o"},           // not a number
        {"/S", host, "/PORTAL_PATH=agent.php"},    // not a path
        {"/S", host, "/PROXY=proxy.example.com"},  // no port
        {"/S", host, "/PROXY=:3128"},              // no host
        {"/S", host, "/LOGGING=yes"},              // the agent knows true only
        {"/S", host, "/PARTNR=x"},                 // misspelt: its value would be lost
    };
    fs::remove(setupLog());
    for (const Strings& args : refused) {
        std::string line;
        for (const auto& a : args) {
            line += a + " ";
        }
        EXPECT_EQ(runSetup(args), 2) << line;
        EXPECT_FALSE(fs::exists(installDir())) << line;
    }
    EXPECT_FALSE(registry(kUninstallKey));
    // Each run's reason, dated, for whoever deployed it.
    const Strings logged = linesOf(readFile(setupLog()));
    ASSERT_EQ(logged.size(), refused.size()) << readFile(setupLog());
    EXPECT_TRUE(std::regex_match(logged.front(),
                                 std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d quorvel-setup .*: )"
                                            R"(refused \(exit 2\): The portal host is missing\.)")))
        << logged.front();
    EXPECT_TRUE(contains(logged.back(), "refused (exit 2): Unknown switch /PARTNR=x."))
        << logged.back();
}

TEST_F(Setup, SilentInstallConfiguresRegistersAndStartsTheAgent) {
    PortalSimulator proxy;
    placeStandIns();
    plugDongle();
    ASSERT_EQ(
        runSetup({"/S", "/PORTAL_HOST=127.0.0.1", "/PORTAL_PORT=" + std::to_string(portal().port()),
                  "/PORTAL_PATH=/agent/hello.php",
                  "/PROXY=127.0.0.1:" + std::to_string(proxy.port()), "/PARTNER=acme home",
                  "/LOGGING=true"}),
        0);

    // The files, as built.
    EXPECT_TRUE(sameBytes(readFile(installDir() / "quorvel.exe"), readFile(QUORVEL_E2E_AGENT_EXE)));
    EXPECT_TRUE(
        sameBytes(readFile(installDir() / "quorvel-check.exe"), readFile(QUORVEL_E2E_CHECK_EXE)));
    for (const char* language : {"de", "en", "es", "fr", "it"}) {
        const std::string name = std::string(language) + ".txt";
        EXPECT_TRUE(sameBytes(readFile(installDir() / "resources" / name),
                              readFile(fs::path(QUORVEL_E2E_SOURCE_RESOURCES) / name)))
            << name;
    }
    EXPECT_TRUE(fs::is_regular_file(installDir() / "uninstall.exe"));
    // The uninstaller is written by the setup, not the build: its signature
    // must survive NSIS putting it back together.
    if (*QUORVEL_E2E_SIGN_CAFILE) {
        const CommandResult verified =
            runCaptured({QUORVEL_E2E_OSSLSIGNCODE, "verify", "-CAfile", QUORVEL_E2E_SIGN_CAFILE,
                         "-in", (installDir() / "uninstall.exe").string()},
                        {}, kExitTimeout);
        EXPECT_EQ(verified.exitCode, 0) << verified.out << verified.err;
    }

    // The configuration, read by the agent's own reader: the values given
    // and every other key present, the comments passed over.
    const fs::path iniPath = installDir() / "quorvel.ini";
    InitialConfiguration ini;
    ini.setFilePath(iniPath.string());
    ini.read();
    EXPECT_EQ(ini.missingKeys(), Strings{});
    EXPECT_EQ(ini.getPortalServerHost(), "127.0.0.1");
    EXPECT_EQ(ini.getPortalServerPort(), portal().port());
    EXPECT_EQ(ini.getPortalServerUri(), "/agent/hello.php");
    EXPECT_EQ(ini.getProxy(), "127.0.0.1:" + std::to_string(proxy.port()));
    EXPECT_EQ(ini.getPartner(), "acme home");
    EXPECT_EQ(ini.getSoftwareVersion(), kVersion);
    EXPECT_GT(ini.getCyclicHelloIntervalOnError(), 0);
    EXPECT_GT(ini.getSendFramesRepeat(), 0);

    // Documented: each key once, under a comment (or beside a key of its
    // group), Windows line ends, comments in a form the reader passes over.
    const std::string text = readFile(iniPath);
    std::size_t lineEnds = 0;
    for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1)) {
        ++lineEnds;
        EXPECT_TRUE(at > 0 && text[at - 1] == '\r') << "a line without CR at byte " << at;
    }
    EXPECT_GT(lineEnds, 16u);
    const Strings fileLines = linesOf(text);
    std::map<std::string, int> seen;
    for (std::size_t i = 0; i < fileLines.size(); ++i) {
        const std::string& line = fileLines[i];
        if (line.empty() || line[0] == ';') {
            continue;
        }
        const std::string key = line.substr(0, line.find('='));
        ++seen[key];
        std::size_t above = i;
        while (above > 0 && !fileLines[above - 1].empty() && fileLines[above - 1][0] != ';') {
            --above;  // a key of the same group
        }
        EXPECT_TRUE(above > 0 && fileLines[above - 1].rfind(";", 0) == 0)
            << key << " has no comment above it";
        if (key == "ENABLE_LOGGING") {
            EXPECT_EQ(line, "ENABLE_LOGGING=true");
        }
    }
    for (const std::string& key : kKeys) {
        EXPECT_EQ(seen[key], 1) << key;
        seen.erase(key);
    }
    EXPECT_TRUE(seen.empty()) << "a setting the agent does not know: " << seen.begin()->first;

    // Autostart for every user, and the entry of Apps & Features.
    const std::string exe = std::string(kInstallDir) + "\\quorvel.exe";
    const std::string uninstaller = std::string(kInstallDir) + "\\uninstall.exe";
    EXPECT_EQ(registry(kRunKey).value_or(Values{})["Quorvel"], "\"" + exe + "\"");
    const auto entry = registry(kUninstallKey);
    ASSERT_TRUE(entry) << "no uninstall entry";
    Values values = *entry;
    EXPECT_EQ(values["DisplayName"], "Quorvel");
    EXPECT_EQ(values["DisplayVersion"], kVersion);
    EXPECT_EQ(values["Publisher"], "Quorvel");
    EXPECT_EQ(values["DisplayIcon"], exe + ",0");
    EXPECT_EQ(values["InstallLocation"], kInstallDir);
    EXPECT_EQ(values["UninstallString"], "\"" + uninstaller + "\"");
    EXPECT_EQ(values["QuietUninstallString"], "\"" + uninstaller + "\" /S");
    // Kilobytes: the agent alone is more than half a megabyte.
    EXPECT_GT(std::stoul(values["EstimatedSize"], nullptr, 16), 500u) << values["EstimatedSize"];

    // The Start menu, for every user.
    const std::string agentLink = readFile(startMenuDir() / "Quorvel.lnk");
    EXPECT_TRUE(mentions(agentLink, exe)) << "no shortcut to the agent";
    // Through cmd, whose window stays open for the lines to be read.
    const std::string checkLink = readFile(startMenuDir() / "Quorvel check.lnk");
    EXPECT_TRUE(mentions(checkLink, "cmd.exe") &&
                mentions(checkLink, std::string(kInstallDir) + "\\quorvel-check.exe\" & pause"))
        << "no shortcut to quorvel-check";

    // The agent, started from the install folder, with its log window shown,
    // says hello through the proxy with the values given.
    EXPECT_TRUE(waitForAgentWindow(true)) << "no visible logger window";
    ASSERT_TRUE(waitForHellos(1));
    const auto request = portal().requests().front();
    EXPECT_EQ(request.target, "/agent/hello.php");
    EXPECT_EQ(request.body, helloOf(3, kVersion, "acme home"));
    ASSERT_FALSE(proxy.requests().empty()) << "the hello did not go through the proxy";
    EXPECT_TRUE(proxy.requests().front().proxied);
    EXPECT_TRUE(fs::is_regular_file(harness().runTimeFile()));
}

TEST_F(Setup, QuorvelCheckNamesWhatStopsTheInstalledAgent) {
    placeStandIns();
    plugDongle();
    installDirect({"/NOSTART"});
    // The installer made the data folder through quorvel-check; no agent ran.
    EXPECT_TRUE(fs::is_directory(dataDir()));
    const auto windows = harness().loggerWindows();
    ASSERT_TRUE(windows);
    EXPECT_TRUE(windows->empty()) << "/NOSTART started the agent";

    const CommandResult fine = check();
    EXPECT_EQ(findingAbout(fine.out, "configuration").rfind("ok", 0), 0u) << fine.out;
    EXPECT_EQ(findingAbout(fine.out, "dongle").rfind("ok", 0), 0u) << fine.out;
    EXPECT_EQ(findingAbout(fine.out, "portal").rfind("ok", 0), 0u) << fine.out;
    EXPECT_TRUE(portal().requests().empty()) << "quorvel-check said hello";
    // Wine keeps no owner or access list: every folder reads back as owned
    // by the Unix user with a list made from its mode, so the rights check
    // fails here as it would on Windows for a folder not set up, and names
    // the repair.
    const std::string dataFolder = findingAbout(fine.out, "data folder");
    EXPECT_EQ(dataFolder.rfind("FAIL", 0), 0u) << fine.out;
    EXPECT_NE(dataFolder.find("owner S-1-5-21-"), std::string::npos) << dataFolder;
    EXPECT_NE(dataFolder.find("run quorvel-check --create-data-folder as administrator"),
              std::string::npos)
        << dataFolder;
    EXPECT_EQ(fine.exitCode, 1) << fine.out << fine.err;

    // Started with a first word that names another folder, it still reads
    // the configuration beside itself.
    const std::string installed = std::string(kInstallDir) + "\\quorvel-check.exe";
    const CommandResult misled = harness().driver(
        {"run-as", installed, "C:\\elsewhere\\quorvel-check.exe"}, kSetupTimeout);
    EXPECT_EQ(findingAbout(misled.out, "configuration"),
              "ok    configuration  " + std::string(kInstallDir) + "\\quorvel.ini: every key set")
        << misled.out << misled.err;

    ASSERT_EQ(dongle().command("unplug dongle"), "ok");
    const CommandResult noDongle = check();
    EXPECT_NE(noDongle.exitCode, 0) << noDongle.out;
    EXPECT_EQ(findingAbout(noDongle.out, "dongle").rfind("FAIL", 0), 0u) << noDongle.out;
    EXPECT_EQ(findingAbout(noDongle.out, "portal").rfind("ok", 0), 0u) << noDongle.out;

    ASSERT_EQ(dongle().command("plug dongle"), "ok");
    portal().stop();
    const CommandResult noPortal = check();
    EXPECT_NE(noPortal.exitCode, 0) << noPortal.out;
    EXPECT_EQ(findingAbout(noPortal.out, "portal").rfind("FAIL", 0), 0u)
        << noPortal.exitCode << "\n" << noPortal.out << noPortal.err;
    EXPECT_EQ(findingAbout(noPortal.out, "dongle").rfind("ok", 0), 0u) << noPortal.out;
}

TEST_F(Setup, UpgradeEndsTheRunningAgentKeepsItsFilesAndStartsTheNewOne) {
    placeStandIns();
    plugDongle();
    installDirect({"/NOSTART"});
    // As an older release and its administrator left them: another version
    // in the configuration, one value changed by hand, and a program file
    // that differs from this build's.
    const fs::path iniPath = installDir() / "quorvel.ini";
    std::string ini = readFile(iniPath);
    const std::string built = std::string("SOFTWARE_VERSION=") + kVersion + "\r\n";
    const std::string older = "SOFTWARE_VERSION=0.0.9\r\n";
    ASSERT_NE(ini.find(built), std::string::npos);
    ini.replace(ini.find(built), built.size(), older);
    ini += "; tuned by the administrator\r\nUSB_WAIT_TIMEOUT=1500\r\n";
    std::ofstream(iniPath, std::ios::binary) << ini;
    std::ofstream(installDir() / "quorvel.exe", std::ios::binary | std::ios::app) << "old";

    WineProcess& old = launch(installDir());
    ASSERT_TRUE(waitForLoggerWindow(old));
    ASSERT_TRUE(waitForHellos(1));
    EXPECT_EQ(portal().requests().front().body, helloOf(3, "0.0.9", "acme-home"));
    // The answer's minute is stored: nothing is due while setup runs.
    const auto before = waitForStored(
        [](const RunTimeData& d) { return msOf(d.nextHelloTime) - wallClockMs() > 40000; });
    ASSERT_TRUE(before);
    const std::string data = readFile(harness().runTimeFile());
    const std::string oldPid = agentProcess().pid;

    // The portal value given goes into the administrator's file.
    ASSERT_EQ(runSetup({"/S", "/PORTAL_HOST=localhost"}), 0);
    EXPECT_EQ(old.waitForExit(kExitTimeout), 0) << "the old agent did not end with exit code 0";
    EXPECT_TRUE(sameBytes(readFile(installDir() / "quorvel.exe"), readFile(QUORVEL_E2E_AGENT_EXE)))
        << "quorvel.exe was not replaced";
    std::string expected = ini;
    expected.replace(expected.find(older), older.size(), built);
    const std::string host = "PORTAL_SERVER_HOST=127.0.0.1\r\n";
    expected.replace(expected.find(host), host.size(), "PORTAL_SERVER_HOST=localhost\r\n");
    EXPECT_TRUE(sameBytes(readFile(iniPath), expected))
        << "more of quorvel.ini changed than its version and host";
    EXPECT_TRUE(contains(readFile(setupLog()), std::string("upgraded from ") + kVersion));

    ASSERT_TRUE(waitForAgentWindow(false)) << "the setup did not start the new agent";
    const AgentProcess started = agentProcess();
    EXPECT_NE(started.pid, "");
    EXPECT_NE(started.pid, oldPid);
    // Handed to the desktop's shell, not started by the setup with its
    // administrator token.
    EXPECT_NE(setupPid(), "");
    EXPECT_NE(started.parent, setupPid()) << "the setup started the agent itself";
    EXPECT_TRUE(sameBytes(readFile(harness().runTimeFile()), data)) << "quorvel.dat changed";
    // The new agent works from the kept configuration and the stored state.
    openPortal();
    ASSERT_TRUE(waitForHellos(2));
    EXPECT_EQ(portal().requests()[1].body, helloOf(2, kVersion, "acme-home"));
    drive(Strings{"send", std::to_string(ID_EXIT), "0"});
    EXPECT_EQ(harness().driver({"wait-gone", "10000"}).exitCode, 0);
}

TEST_F(Setup, PagesSpeakTheSystemLanguageAndNameTheVersionUpgraded) {
    // As an earlier release left its entry.
    runCaptured({harness().setup().wine.string(), "reg", "add", kUninstallKey, "/v",
                 "DisplayVersion", "/d", "0.0.9", "/f"},
                environment(), kExitTimeout);
    const struct {
        const char* locale;
        const char* welcome;
    } cases[] = {
        {"de_DE.UTF-8", "als Aktualisierung von 0.0.9."},
        {"nl_NL.UTF-8", "upgrading from 0.0.9."},  // no Dutch: English, as the agent
    };
    for (const auto& c : cases) {
        WineProcess setup(
            harness().setup(), QUORVEL_E2E_SETUP_EXE, {}, workDir(), workDir() / "setup.log",
            {{"LC_ALL", c.locale}, {"WINEDLLOVERRIDES", environment()["WINEDLLOVERRIDES"]}});
        std::string shown;
        EXPECT_TRUE(waitUntil(
            [&] {
                shown = harness().driver({"wait-dialog", "1000"}).out;
                return contains(shown, c.welcome);
            },
            kStartTimeout, milliseconds(0)))
            << c.locale << ": " << shown;
        setup.kill();
    }
}

TEST_F(Setup, UninstallEndsTheAgentRemovesTheProgramAndKeepsItsData) {
    installDirect({"/NOSTART"});
    // On a desktop of its own, as in another session: the Exit command, a
    // window message, does not reach it there.
    WineProcess desktop(harness().setup(), "explorer",
                        {"/desktop=other,800x600", std::string(kInstallDir) + "\\quorvel.exe"},
                        workDir(), workDir() / "agent.log", environment());
    ASSERT_TRUE(waitUntil(
        [&] {
            std::error_code ec;
            return fs::file_size(harness().runTimeFile(), ec) == RunTimeData::fileSize;
        },
        kStartTimeout));
    ASSERT_FALSE(installedAgentPids().empty());
    const auto windows = harness().loggerWindows();
    EXPECT_TRUE(windows && windows->empty()) << "the agent's window is on this desktop";
    // What the user added to the program folder stays, and so does the folder.
    std::ofstream(installDir() / "notes.txt") << "mine";

    // In place (_?=, given last and unquoted, hence in two words here), the
    // uninstaller's exit code is its outcome. An agent that cannot be ended
    // (quorvel-check failing in its stead) fails it, with nothing removed.
    const Strings inPlace{"/S", "_?=C:\\Program", "Files\\Quorvel"};
    const fs::path check = installDir() / "quorvel-check.exe";
    fs::rename(check, workDir() / "quorvel-check.exe");
    fs::copy_file(harness().setup().driverExe, check);
    EXPECT_EQ(run(installDir() / "uninstall.exe", inPlace, "uninstall.log"), 4);
    EXPECT_TRUE(fs::exists(installDir() / "quorvel.exe") && registry(kUninstallKey));
    fs::rename(workDir() / "quorvel-check.exe", check);
    EXPECT_EQ(run(installDir() / "uninstall.exe", inPlace, "uninstall.log"), 0);
    EXPECT_TRUE(waitUntil([&] { return installedAgentPids().empty(); }, kExitTimeout))
        << "the agent on the other desktop still runs";
    // Only what setup did not put there, and the uninstaller, which cannot
    // remove itself in place.
    EXPECT_EQ(listing(installDir()), "notes.txt uninstall.exe ");
    EXPECT_EQ(registry(kRunKey).value_or(Values{}).count("Quorvel"), 0u) << "autostart left";
    EXPECT_FALSE(fs::exists(startMenuDir())) << "Start menu left: " << listing(startMenuDir());
    EXPECT_EQ(readFile(harness().runTimeFile()).size(), RunTimeData::fileSize)
        << "quorvel.dat was not kept";
}

TEST_F(Setup, UninstallWithPurgeAlsoRemovesTheDataButNothingALinkLeadsTo) {
    installDirect({"/NOSTART"});
    store(earlierRun());
    std::ofstream(dataDir() / "quorvel.dat.new") << "half written";
    std::ofstream(dataDir() / "quorvel.lock");  // the agents' cycle lock
    uninstall({"/S", "/PURGE"});
    EXPECT_FALSE(fs::exists(installDir())) << "left: " << listing(installDir());
    EXPECT_FALSE(fs::exists(dataDir())) << "left: " << listing(dataDir());

    // Every local user may add to the data folder: links planted there lead
    // to files the administrator's uninstaller must not touch.
    const fs::path elsewhere = workDir() / "elsewhere";
    fs::create_directories(elsewhere / "folder");
    const Strings targets = {"file", "folder/quorvel.dat"};
    for (const std::string& target : targets) {
        std::ofstream(elsewhere / target) << "not the agent's";
    }
    const auto untouched = [&] {
        return std::all_of(targets.begin(), targets.end(), [&](const std::string& target) {
            return readFile(elsewhere / target) == "not the agent's";
        });
    };
    installDirect({"/NOSTART"});
    store(earlierRun());
    fs::create_directory_symlink(elsewhere / "folder", dataDir() / "planted");
    fs::create_symlink(elsewhere / "file", dataDir() / "quorvel.dat.new");
    uninstall({"/S", "/PURGE"});
    EXPECT_TRUE(untouched()) << "deleted through a link in the data folder";
    EXPECT_FALSE(fs::exists(harness().runTimeFile()));
    EXPECT_TRUE(fs::is_directory(dataDir())) << "the folder went with what the user put there";

    // The data folder itself a link.
    installDirect({"/NOSTART"});
    fs::remove_all(dataDir());
    fs::create_directory_symlink(elsewhere / "folder", dataDir());
    uninstall({"/S", "/PURGE"});
    EXPECT_TRUE(untouched()) << "deleted through the data folder, a link";
}

// The Windows Installer package as deployment tools run it, silently with
// properties (and once interactively), from a refused value through an
// upgrade and a refused downgrade to its removal; then the package and the
// setup program refusing to install over each other.
TEST_F(Setup, PackageInstallsUpgradesRefusesADowngradeAndUninstallsKeepingTheData) {
    // msiexec's 1603, the install failed, as Wine passes it on: modulo 256.
    constexpr int kFailed = 1603 % 256;
    const std::string package = std::string("Z:") + QUORVEL_E2E_MSI;
    const std::string newer = std::string("Z:") + QUORVEL_E2E_NEWER_MSI;
    const std::string exe = std::string(kInstallDir) + "\\quorvel.exe";

    EXPECT_EQ(
        msiexec({"/i", package, "/qn", "PORTAL_HOST=127.0.0.1", "PORTAL_PORT=0"}, "refused.log"),
        kFailed);
    EXPECT_TRUE(contains(readFile(workDir() / "refused.log"),
                         "PORTAL_PORT=0: the port must be a whole number from 1 to 65535"))
        << "no reason in the log";
    EXPECT_FALSE(fs::exists(installDir())) << "left: " << listing(installDir());
    EXPECT_TRUE(packageEntries().empty());

    PortalSimulator proxy;
    placeStandIns();
    plugDongle();
    ASSERT_EQ(
        msiexec({"/i", package, "/qn", "PORTAL_HOST=127.0.0.1",
                 "PORTAL_PORT=" + std::to_string(portal().port()), "PORTAL_PATH=/agent/hello.php",
                 "PROXY=127.0.0.1:" + std::to_string(proxy.port()), "PARTNER=acme home",
                 "LOGGING=true"},
                "install.log"),
        0);
    // The setup program's files, as built.
    for (const auto& [installed, built] :
         {std::pair<std::string, fs::path>{"quorvel.exe", QUORVEL_E2E_AGENT_EXE},
          {"quorvel-check.exe", QUORVEL_E2E_CHECK_EXE},
          {"resources/de.txt", fs::path(QUORVEL_E2E_SOURCE_RESOURCES) / "de.txt"},
          {"resources/it.txt", fs::path(QUORVEL_E2E_SOURCE_RESOURCES) / "it.txt"}}) {
        EXPECT_TRUE(sameBytes(readFile(installDir() / installed), readFile(built))) << installed;
    }
    EXPECT_TRUE(fs::is_directory(dataDir()));
    EXPECT_EQ(registry(kRunKey).value_or(Values{})["Quorvel"], "\"" + exe + "\"");
    EXPECT_TRUE(mentions(readFile(startMenuDir() / "Quorvel.lnk"), exe));
    EXPECT_TRUE(mentions(readFile(startMenuDir() / "Quorvel check.lnk"),
                         std::string(kInstallDir) + "\\quorvel-check.exe\" & pause"));
    auto entries = packageEntries();
    ASSERT_EQ(entries.size(), 1u);
    Values entry = entries.begin()->second;
    EXPECT_EQ(entry["DisplayVersion"], kVersion);
    EXPECT_EQ(entry["Publisher"], "Quorvel");
    EXPECT_EQ(entry["DisplayIcon"], exe + ",0");
    EXPECT_EQ(entry["InstallLocation"], std::string(kInstallDir) + "\\");
    const auto windows = harness().loggerWindows();
    EXPECT_TRUE(windows && windows->empty()) << "a silent install started the agent";

    // The agent says hello through the proxy with the values given, its log
    // window shown; its state is stored with nothing due for a while.
    WineProcess& old = launch(installDir());
    EXPECT_TRUE(waitForLoggerWindow(old, true)) << "LOGGING=true did not show the log window";
    ASSERT_TRUE(waitForHellos(1));
    EXPECT_EQ(portal().requests().front().target, "/agent/hello.php");
    EXPECT_EQ(portal().requests().front().body, helloOf(3, kVersion, "acme home"));
    EXPECT_FALSE(proxy.requests().empty()) << "the hello did not go through the proxy";
    ASSERT_TRUE(waitForStored(
        [](const RunTimeData& d) { return msOf(d.nextHelloTime) - wallClockMs() > 40000; }));
    const std::string data = readFile(harness().runTimeFile());

    // An interactive upgrade with one value: the running agent is asked to
    // end, the administrator's lines stay, the new agent is started.
    const fs::path iniPath = installDir() / "quorvel.ini";
    std::string ini =
        readFile(iniPath) + "; tuned by the administrator\r\nUSB_WAIT_TIMEOUT=1500\r\n";
    std::ofstream(iniPath, std::ios::binary) << ini;
    ASSERT_EQ(msiexec({"/i", newer, "/qb", "PARTNER=acme-2"}, "upgrade.log"), 0);
    EXPECT_EQ(old.waitForExit(kExitTimeout), 0);
    // Asked, it left by itself: quorvel-check --end-agents found none to end.
    EXPECT_TRUE(contains(readFile(workDir() / "upgrade.log.out"), "no Quorvel agent runs from"))
        << "the agent was not asked to end";
    for (const auto& [from, to] :
         {std::pair<std::string, std::string>{
              std::string("SOFTWARE_VERSION=") + kVersion,
              std::string("SOFTWARE_VERSION=") + QUORVEL_E2E_NEWER_VERSION},
          {"PARTNER=acme home", "PARTNER=acme-2"}}) {
        ASSERT_NE(ini.find(from + "\r\n"), std::string::npos) << from;
        ini.replace(ini.find(from + "\r\n"), from.size(), to);
    }
    EXPECT_TRUE(sameBytes(readFile(iniPath), ini)) << "more of quorvel.ini changed";
    EXPECT_TRUE(sameBytes(readFile(harness().runTimeFile()), data)) << "quorvel.dat changed";
    entries = packageEntries();
    ASSERT_EQ(entries.size(), 1u) << "the older version is still registered";
    EXPECT_EQ(entries.begin()->second["DisplayVersion"], QUORVEL_E2E_NEWER_VERSION);
    EXPECT_TRUE(waitForAgentWindow(true)) << "the interactive upgrade did not start the agent";

    // Neither the older package nor the setup program goes over it.
    EXPECT_EQ(msiexec({"/i", package, "/qn"}, "downgrade.log"), kFailed);
    EXPECT_TRUE(
        contains(readFile(workDir() / "downgrade.log"), "A newer version of Quorvel is installed"));
    EXPECT_EQ(runSetup({"/S", "/PORTAL_HOST=127.0.0.1"}), 2);
    EXPECT_TRUE(contains(readFile(setupLog()), "installed by its Windows Installer package"));
    EXPECT_EQ(packageEntries().begin()->second["DisplayVersion"], QUORVEL_E2E_NEWER_VERSION);
    EXPECT_TRUE(sameBytes(readFile(iniPath), ini));

    // The removal ends the agent it started, and keeps its data. The test's
    // own files go first: the folder goes only when empty.
    removeStandIns();
    fs::remove(installDir() / "agent-1.log");
    ASSERT_EQ(msiexec({"/x", newer, "/qn"}, "uninstall.log"), 0);
    EXPECT_TRUE(waitUntil([&] { return installedAgentPids().empty(); }, kExitTimeout))
        << "the agent still runs";
    EXPECT_FALSE(fs::exists(installDir())) << "left: " << listing(installDir());
    EXPECT_TRUE(packageEntries().empty());
    EXPECT_EQ(registry(kRunKey).value_or(Values{}).count("Quorvel"), 0u) << "autostart left";
    EXPECT_FALSE(fs::exists(startMenuDir())) << "Start menu left: " << listing(startMenuDir());
    EXPECT_EQ(readFile(harness().runTimeFile()).size(), RunTimeData::fileSize)
        << "quorvel.dat was not kept";

    installDirect({"/NOSTART"});
    EXPECT_EQ(msiexec({"/i", package, "/qn", "PORTAL_HOST=127.0.0.1"}, "over-setup.log"), kFailed);
    EXPECT_TRUE(contains(readFile(workDir() / "over-setup.log"),
                         "Quorvel is installed by its setup program"));
    EXPECT_TRUE(packageEntries().empty());
    EXPECT_TRUE(sameBytes(readFile(installDir() / "quorvel.exe"), readFile(QUORVEL_E2E_AGENT_EXE)));
}

}  // namespace
}  // namespace quorvel::e2e
