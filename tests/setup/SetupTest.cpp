// The setup program, its uninstaller and the MSI package under Wine, run as a
// software-distribution tool would, seen from outside. The prefix is this
// suite's own (fixture wine_setup): a restarted prefix would act on HKLM's autostart.

#include <gtest/gtest.h>

#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "resources/resource.h"
#include "tests/e2e/AgentWithSimulators.h"

namespace quorvel::e2e {
namespace {

namespace fs = std::filesystem;
using portalsim::PortalSimulator;
using Values = std::map<std::string, std::string>;
using Changes = std::vector<std::pair<std::string, std::string>>;

constexpr char kVersion[] = QUORVEL_E2E_VERSION;
constexpr char kInstallDir[] = "C:\\Program Files\\Quorvel";
constexpr char kRunKey[] = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kUninstallKey[] =
    "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorvel";
constexpr milliseconds kSetupTimeout{90000};

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

// The same bytes in both files (binaries: not printed when they differ).
bool sameFile(const fs::path& actual, const fs::path& expected) {
    return readFile(actual) == readFile(expected);
}

std::string withLines(std::string text, const Changes& changes) {
    for (const auto& [from, to] : changes) {
        const auto at = text.find(from + "\r\n");
        EXPECT_NE(at, std::string::npos) << from;
        if (at != std::string::npos) {
            text.replace(at, from.size(), to);
        }
    }
    return text;
}

bool says(const std::string& output, const std::string& verdict, const std::string& subject) {
    return std::regex_search(output, std::regex("(^|\n)" + verdict + " +" + subject + " "));
}

class Setup : public AgentWithSimulators {
  protected:
    // Whatever the case before left, even one that crashed; the prefix is
    // made anew for each run.
    void SetUp() override {
        AgentWithSimulators::SetUp();
        if (!HasFatalFailure()) {
            removeInstallation();
        }
    }

    // The dongle stand-ins where they lie beside a program, and no Linux
    // menu entries for the Start-menu shortcuts.
    const std::map<std::string, std::string> overrides{
        {"WINEDLLOVERRIDES", "mscoree,mshtml=;winemenubuilder.exe=d;setupapi,hid=n,b"}};

    fs::path driveC() { return harness().setup().prefix / "drive_c"; }
    fs::path installDir() { return driveC() / "Program Files" / "Quorvel"; }
    fs::path startMenuDir() {
        return driveC() / "ProgramData" / "Microsoft" / "Windows" / "Start Menu" / "Programs" /
               "Quorvel";
    }
    fs::path dataDir() { return harness().runTimeFile().parent_path(); }
    fs::path workDir() {
        const fs::path dir = harness().setup().runsDir / currentTestName();
        fs::create_directories(dir);
        return dir;
    }

    std::optional<int> run(const fs::path& exe, const Strings& args, const std::string& log) {
        WineProcess process(harness().setup(), exe, args, workDir(), workDir() / log, overrides);
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

    // %TEMP%\quorvel-setup.log of the user Wine runs the setup as: the Unix one.
    fs::path setupLog() {
        return driveC() / "users" / ::getpwuid(::getuid())->pw_name / "Temp" / "quorvel-setup.log";
    }

    // The uninstaller copies itself away and returns at once; the copy does
    // the work, and removes the uninstall entry last.
    void uninstall(const Strings& args) {
        ASSERT_EQ(run(installDir() / "uninstall.exe", args, "uninstall.log"), 0);
        ASSERT_TRUE(
            waitUntil([&] { return !registry(kUninstallKey); }, kSetupTimeout, milliseconds(250)))
            << "the uninstaller did not finish; left: " << listing(installDir());
    }

    std::optional<std::string> reg(Strings args) {
        args.insert(args.begin(), "reg");
        const CommandResult r = harness().wine(args);
        return r.exitCode == 0 ? std::optional<std::string>(r.out) : std::nullopt;
    }

    // The values of a key and of all below it by each key's last name.
    std::optional<std::map<std::string, Values>> regQuery(const std::string& key) {
        const auto out = reg({"query", key, "/s"});
        if (!out) {
            return std::nullopt;
        }
        static const std::regex value(R"(^ +(\S.*?) {4}(REG_\w+) {4}(.*)$)");
        std::map<std::string, Values> keys;
        std::string name;
        for (const std::string& line : linesOf(*out)) {
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
        auto keys = regQuery(key);
        return keys ? std::optional<Values>((*keys)[key.substr(key.rfind('\\') + 1)])
                    : std::nullopt;
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
            std::transform(command.begin(), command.end(), command.begin(), ::tolower);
            if (contains(command, "\\quorvel\\quorvel.exe") &&
                contains('\0' + readFile(entry.path() / "environ"), prefix)) {
                pids.push_back(std::stoi(entry.path().filename().string()));
            }
        }
        return pids;
    }

    std::optional<int> msiexec(Strings args, const std::string& log) {
        std::string logPath = "Z:" + (workDir() / log).string();
        std::replace(logPath.begin(), logPath.end(), '/', '\\');
        args.insert(args.end(), {"/l*v", logPath});
        return run("msiexec", args, log + ".out");
    }

    std::map<std::string, Values> packageEntries() {
        const std::string key = kUninstallKey;
        auto entries =
            regQuery(key.substr(0, key.rfind('\\'))).value_or(std::map<std::string, Values>{});
        for (auto it = entries.begin(); it != entries.end();) {
            const bool package = it->first[0] == '{' && it->second["DisplayName"] == "Quorvel";
            it = package ? std::next(it) : entries.erase(it);
        }
        return entries;
    }

    void removeInstallation() {
        for (const auto& entry : packageEntries()) {
            msiexec({"/x", entry.first, "/qn"}, "cleanup.log");
        }
        harness().driver({"kill-all"});
        harness().driver({"wait-gone", "10000"});
        for (pid_t pid : installedAgentPids()) {
            ::kill(pid, SIGKILL);
        }
        std::error_code ignored;
        for (const fs::path& dir : {installDir(), startMenuDir(), dataDir()}) {
            fs::remove_all(dir, ignored);
        }
        reg({"delete", kUninstallKey, "/f"});
        reg({"delete", kRunKey, "/v", "Quorvel", "/f"});
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

    void placeStandIns() {
        fs::create_directories(installDir());
        for (const char* dll : {"setupapi.dll", "hid.dll"}) {
            fs::copy_file(fs::path(QUORVEL_E2E_DONGLESIM_DIR) / dll, installDir() / dll);
        }
    }
    void removeTestFiles() {
        for (const auto& entry : fs::directory_iterator(installDir())) {
            const auto ext = entry.path().extension();
            if (ext == ".log" || ext == ".dll") {
                fs::remove(entry.path());
            }
        }
    }

    Harness::LoggerWindow agentWindow() {
        const auto windows = harness().loggerWindows();
        return windows && windows->size() == 1 ? windows->front() : Harness::LoggerWindow{};
    }

    bool noAgentWindow() {
        const auto windows = harness().loggerWindows();
        return windows && windows->empty();
    }

    void installDirect(const Strings& extra) {
        Strings args{"/S", "/PORTAL_HOST=127.0.0.1",
                     "/PORTAL_PORT=" + std::to_string(portal().port()),
                     "/PORTAL_PATH=/agent/hello.php"};
        args.insert(args.end(), extra.begin(), extra.end());
        ASSERT_EQ(runSetup(args), 0);
    }

    // What both installers put in place besides the ini and their entry.
    void expectInstalledAsBuilt() {
        EXPECT_TRUE(sameFile(installDir() / "quorvel.exe", QUORVEL_E2E_AGENT_EXE));
        EXPECT_TRUE(sameFile(installDir() / "quorvel-check.exe", QUORVEL_E2E_CHECK_EXE));
        for (const char* language : {"de", "en", "es", "fr", "it"}) {
            const std::string name = std::string(language) + ".txt";
            EXPECT_TRUE(sameFile(installDir() / "resources" / name,
                                 fs::path(QUORVEL_E2E_SOURCE_RESOURCES) / name))
                << name;
        }
        EXPECT_TRUE(fs::is_directory(dataDir()));
        const std::string exe = std::string(kInstallDir) + "\\quorvel.exe";
        EXPECT_EQ(registry(kRunKey).value_or(Values{})["Quorvel"], "\"" + exe + "\"");
        EXPECT_TRUE(mentions(readFile(startMenuDir() / "Quorvel.lnk"), exe));
        // Through cmd, whose window stays open for the lines to be read.
        const std::string checkLink = readFile(startMenuDir() / "Quorvel check.lnk");
        EXPECT_TRUE(mentions(checkLink, "cmd.exe") &&
                    mentions(checkLink, std::string(kInstallDir) + "\\quorvel-check.exe\" & pause"))
            << "no shortcut to quorvel-check";
    }

    void expectHelloThrough(PortalSimulator& proxy) {
        ASSERT_TRUE(waitForHellos(1));
        EXPECT_EQ(portal().requests().front().target, "/agent/hello.php");
        EXPECT_EQ(portal().requests().front().body, std::string("H3,") + kSerial + "," + kRadio +
                                                        "," + kVersion + "," + kFirmware +
                                                        ",acme home");
        ASSERT_FALSE(proxy.requests().empty()) << "the hello did not go through the proxy";
        EXPECT_TRUE(proxy.requests().front().proxied);
        EXPECT_TRUE(waitForStored(minuteAhead));
    }

    void expectRemovedKeepingData() {
        EXPECT_EQ(registry(kRunKey).value_or(Values{}).count("Quorvel"), 0u) << "autostart left";
        EXPECT_FALSE(fs::exists(startMenuDir())) << "Start menu left: " << listing(startMenuDir());
        EXPECT_EQ(readFile(harness().runTimeFile()).size(), RunTimeData::fileSize)
            << "quorvel.dat was not kept";
    }
};

// Each refusal is a check of the setup's own.
TEST_F(Setup, RefusesValuesThatCannotWorkAndSpeaksTheSystemLanguage) {
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
        EXPECT_EQ(runSetup(args), 2) << args.back();
        EXPECT_FALSE(fs::exists(installDir())) << args.back();
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

    // The pages in the system's language, naming the version upgraded.
    reg({"add", kUninstallKey, "/v", "DisplayVersion", "/d", "0.0.9", "/f"});
    const struct {
        const char* locale;
        const char* welcome;
    } cases[] = {
        {"de_DE.UTF-8", "als Aktualisierung von 0.0.9."},
        {"nl_NL.UTF-8", "upgrading from 0.0.9."},  // no Dutch: English, as the agent
    };
    for (const auto& c : cases) {
        WineProcess setup(harness().setup(), QUORVEL_E2E_SETUP_EXE, {}, workDir(),
                          workDir() / "setup.log", {{"LC_ALL", c.locale}, *overrides.begin()});
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

// One installation's life, its removal while an agent runs on another desktop.
TEST_F(Setup, SilentInstallIsCheckedUpgradedAndUninstalled) {
    PortalSimulator proxy;
    placeStandIns();
    plugDongle();
    installDirect({"/PROXY=127.0.0.1:" + std::to_string(proxy.port()), "/PARTNER=acme home",
                   "/LOGGING=true"});
    expectInstalledAsBuilt();
    // The uninstaller is written by the setup, not the build: its signature
    // must survive NSIS putting it back together.
    if (*QUORVEL_E2E_SIGN_CAFILE) {
        const CommandResult verified =
            runCaptured({QUORVEL_E2E_OSSLSIGNCODE, "verify", "-CAfile", QUORVEL_E2E_SIGN_CAFILE,
                         "-in", (installDir() / "uninstall.exe").string()},
                        {}, kExitTimeout);
        EXPECT_EQ(verified.exitCode, 0) << verified.out << verified.err;
    }
    // What a deployment tool runs to remove it.
    const std::string uninstaller = "\"" + std::string(kInstallDir) + "\\uninstall.exe\"";
    Values entry = registry(kUninstallKey).value_or(Values{});
    EXPECT_EQ(entry["UninstallString"], uninstaller);
    EXPECT_EQ(entry["QuietUninstallString"], uninstaller + " /S");

    // Each key once: the agent takes the last, the administrator edits the
    // first.
    const fs::path iniPath = installDir() / "quorvel.ini";
    const std::string text = readFile(iniPath);
    EXPECT_FALSE(std::regex_search(text, std::regex("(^|[^\r])\n"))) << "a line without CR";
    std::set<std::string> keys;
    bool underComment = false;  // a comment since the last blank line
    for (const std::string& line : linesOf(text)) {
        if (line.empty() || line[0] == ';') {
            underComment = !line.empty();
            continue;
        }
        const std::string key = line.substr(0, line.find('='));
        EXPECT_TRUE(underComment) << key << " has no comment above it";
        EXPECT_TRUE(keys.insert(key).second) << key << " twice";
    }

    // The agent the setup started: log window shown, hello through the proxy.
    EXPECT_TRUE(waitForLoggerWindow(nullptr, true));
    expectHelloThrough(proxy);

    // quorvel-check through the Windows calls the unit tests fake, its
    // configuration beside itself whatever its first word says.
    const CommandResult fine = harness().wine(
        {harness().setup().driverExe.string(), "run-as",
         std::string(kInstallDir) + "\\quorvel-check.exe", "C:\\elsewhere\\quorvel-check.exe"},
        overrides, kSetupTimeout);
    for (const char* part : {"configuration", "dongle", "portal"}) {
        EXPECT_TRUE(says(fine.out, "ok", part)) << fine.out << fine.err;
    }
    // Wine reads back no access list, only an owner: the rights read as
    // not set up, as a folder the setup did not make would on Windows, and
    // fail the exit code (as qvdriver saw it).
    EXPECT_TRUE(says(fine.out, "FAIL", "data folder") && contains(fine.out, "owner S-1-5-21-"))
        << fine.out;
    EXPECT_EQ(parseKeyValues(fine.out)["exit"], "1");

    // As an older release would be left, a value tuned by hand.
    const std::string built = std::string("SOFTWARE_VERSION=") + kVersion;
    const std::string older = withLines(readFile(iniPath), {{built, "SOFTWARE_VERSION=0.0.9"}}) +
                              "; tuned by the administrator\r\nUSB_WAIT_TIMEOUT=1500\r\n";
    std::ofstream(iniPath, std::ios::binary) << older;
    std::ofstream(installDir() / "quorvel.exe", std::ios::binary | std::ios::app) << "old";
    const std::string data = readFile(harness().runTimeFile());
    const std::string oldPid = agentWindow().pid;

    // The new agent is started through the desktop's shell, not with the
    // setup's administrator token.
    ASSERT_EQ(runSetup({"/S", "/PARTNER=acme-2"}), 0);
    EXPECT_TRUE(sameFile(installDir() / "quorvel.exe", QUORVEL_E2E_AGENT_EXE));
    EXPECT_EQ(readFile(iniPath), withLines(older, {{"SOFTWARE_VERSION=0.0.9", built},
                                                   {"PARTNER=acme home", "PARTNER=acme-2"}}));
    EXPECT_TRUE(contains(readFile(setupLog()), std::string("upgraded from ") + kVersion));
    ASSERT_TRUE(waitForLoggerWindow(nullptr)) << "the setup did not start the new agent";
    const Harness::LoggerWindow started = agentWindow();  // the only one
    EXPECT_NE(started.pid, "");
    EXPECT_NE(started.pid, oldPid);
    EXPECT_NE(setupPid(), "");
    EXPECT_NE(started.parent, setupPid()) << "the setup started the agent itself";
    EXPECT_TRUE(readFile(harness().runTimeFile()) == data) << "quorvel.dat changed";

    // The agent on a desktop of its own, as in another session, where the
    // Exit command (a window message) does not reach it.
    drive({"send", std::to_string(ID_EXIT), "0"});
    EXPECT_EQ(harness().driver({"wait-gone", "10000"}).exitCode, 0);
    removeTestFiles();
    WineProcess desktop(harness().setup(), "explorer",
                        {"/desktop=other,800x600", std::string(kInstallDir) + "\\quorvel.exe"},
                        workDir(), workDir() / "agent.log", overrides);
    ASSERT_TRUE(waitUntil([&] { return !installedAgentPids().empty(); }, kStartTimeout));
    EXPECT_TRUE(noAgentWindow()) << "the agent's window is on this desktop";
    std::ofstream(installDir() / "notes.txt") << "mine";
    // In place (_?=, given last and unquoted, hence two words here), the
    // uninstaller's exit code is its outcome. An agent that cannot be ended
    // (quorvel-check failing in its stead) fails it, with nothing removed.
    const Strings inPlace{"/S", "_?=C:\\Program", "Files\\Quorvel"};
    const fs::path checkExe = installDir() / "quorvel-check.exe";
    fs::rename(checkExe, workDir() / "quorvel-check.exe");
    fs::copy_file(harness().setup().driverExe, checkExe);
    EXPECT_EQ(run(installDir() / "uninstall.exe", inPlace, "uninstall.log"), 4);
    EXPECT_TRUE(fs::exists(installDir() / "quorvel.exe") && registry(kUninstallKey));
    fs::rename(workDir() / "quorvel-check.exe", checkExe);
    EXPECT_EQ(run(installDir() / "uninstall.exe", inPlace, "uninstall.log"), 0);
    EXPECT_TRUE(waitUntil([&] { return installedAgentPids().empty(); }, kExitTimeout))
        << "the agent on the other desktop still runs";
    // The uninstaller cannot remove itself in place.
    EXPECT_EQ(listing(installDir()), "notes.txt uninstall.exe ");
    expectRemovedKeepingData();
}

// /PURGE removes the data folder too, but nothing a link in it leads to:
// every local user may add to that folder.
TEST_F(Setup, UninstallWithPurgeAlsoRemovesTheDataButNothingALinkLeadsTo) {
    installDirect({"/NOSTART"});
    EXPECT_TRUE(noAgentWindow()) << "/NOSTART started the agent";
    store(earlierRun());
    std::ofstream(dataDir() / "quorvel.dat.new") << "half written";
    std::ofstream(dataDir() / "quorvel.lock");  // the agents' cycle lock
    uninstall({"/S", "/PURGE"});
    EXPECT_FALSE(fs::exists(installDir())) << "left: " << listing(installDir());
    EXPECT_FALSE(fs::exists(dataDir())) << "left: " << listing(dataDir());

    const fs::path elsewhere = workDir() / "elsewhere";
    fs::create_directories(elsewhere / "folder");
    std::ofstream(elsewhere / "file") << "mine";
    std::ofstream(elsewhere / "folder" / "quorvel.dat") << "mine";
    const auto untouched = [&] {
        return readFile(elsewhere / "file") + readFile(elsewhere / "folder" / "quorvel.dat") ==
               "minemine";
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

// The Windows Installer package as deployment tools run it.
TEST_F(Setup, PackageInstallsUpgradesRefusesADowngradeAndUninstallsKeepingTheData) {
    // msiexec's 1603, the install failed, as Wine passes it on: modulo 256.
    constexpr int kFailed = 1603 % 256;
    const std::string package = std::string("Z:") + QUORVEL_E2E_MSI;
    const std::string newer = std::string("Z:") + QUORVEL_E2E_NEWER_MSI;

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
    expectInstalledAsBuilt();
    auto entries = packageEntries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries.begin()->second["DisplayVersion"], kVersion);
    EXPECT_TRUE(noAgentWindow()) << "a silent install started the agent";
    WineProcess& old = launch(installDir());
    EXPECT_TRUE(waitForLoggerWindow(&old, true)) << "LOGGING=true did not show the log window";
    expectHelloThrough(proxy);
    const std::string data = readFile(harness().runTimeFile());

    const fs::path iniPath = installDir() / "quorvel.ini";
    const std::string ini =
        readFile(iniPath) + "; tuned by the administrator\r\nUSB_WAIT_TIMEOUT=1500\r\n";
    std::ofstream(iniPath, std::ios::binary) << ini;
    ASSERT_EQ(msiexec({"/i", newer, "/qb", "PARTNER=acme-2"}, "upgrade.log"), 0);
    EXPECT_EQ(old.waitForExit(kExitTimeout), 0);
    // Asked, it left by itself: quorvel-check --end-agents found none to end.
    EXPECT_TRUE(contains(readFile(workDir() / "upgrade.log.out"), "no Quorvel agent runs from"))
        << "the agent was not asked to end";
    EXPECT_EQ(readFile(iniPath),
              withLines(ini, {{std::string("SOFTWARE_VERSION=") + kVersion,
                               std::string("SOFTWARE_VERSION=") + QUORVEL_E2E_NEWER_VERSION},
                              {"PARTNER=acme home", "PARTNER=acme-2"}}));
    EXPECT_TRUE(readFile(harness().runTimeFile()) == data) << "quorvel.dat changed";
    entries = packageEntries();
    ASSERT_EQ(entries.size(), 1u) << "the older version is still registered";
    EXPECT_EQ(entries.begin()->second["DisplayVersion"], QUORVEL_E2E_NEWER_VERSION);
    EXPECT_TRUE(waitForLoggerWindow(nullptr, true))
        << "the interactive upgrade did not start the agent";

    // Neither the older package nor the setup program goes over it.
    EXPECT_EQ(msiexec({"/i", package, "/qn"}, "downgrade.log"), kFailed);
    EXPECT_TRUE(
        contains(readFile(workDir() / "downgrade.log"), "A newer version of Quorvel is installed"));
    EXPECT_EQ(runSetup({"/S", "/PORTAL_HOST=127.0.0.1"}), 2);
    EXPECT_TRUE(contains(readFile(setupLog()), "installed by its Windows Installer package"));
    EXPECT_EQ(packageEntries().begin()->second["DisplayVersion"], QUORVEL_E2E_NEWER_VERSION);

    // The removal ends the agent it started and keeps its data; the
    // folder goes only when empty, so the test's own files go first.
    removeTestFiles();
    ASSERT_EQ(msiexec({"/x", newer, "/qn"}, "uninstall.log"), 0);
    EXPECT_TRUE(waitUntil([&] { return installedAgentPids().empty(); }, kExitTimeout))
        << "the agent still runs";
    EXPECT_FALSE(fs::exists(installDir())) << "left: " << listing(installDir());
    EXPECT_TRUE(packageEntries().empty());
    expectRemovedKeepingData();

    installDirect({"/NOSTART"});
    EXPECT_EQ(msiexec({"/i", package, "/qn", "PORTAL_HOST=127.0.0.1"}, "over-setup.log"), kFailed);
    EXPECT_TRUE(contains(readFile(workDir() / "over-setup.log"),
                         "Quorvel is installed by its setup program"));
    EXPECT_TRUE(packageEntries().empty());
}

}  // namespace
}  // namespace quorvel::e2e
