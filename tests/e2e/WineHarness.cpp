#include "tests/e2e/WineHarness.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>

extern char** environ;

namespace quorvel::e2e {
namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what);
}

int decodeStatus(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return WIFSIGNALED(status) ? -WTERMSIG(status) : -1;
}

// No input; `out` and `err` may be one file.
pid_t spawn(std::vector<std::string> argv, const std::map<std::string, std::string>& env,
            const fs::path& out, const fs::path& err, const fs::path& workDir = {}) {
    std::map<std::string, std::string> merged;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        merged.emplace(entry.substr(0, entry.find('=')), entry.substr(entry.find('=') + 1));
    }
    for (const auto& [key, value] : env) {
        merged[key] = value;
    }
    std::vector<std::string> flat;
    for (const auto& [key, value] : merged) {
        flat.push_back(key + "=" + value);
    }
    const auto pointers = [](std::vector<std::string>& strings) {
        std::vector<char*> p;
        for (auto& text : strings) {
            p.push_back(text.data());
        }
        p.push_back(nullptr);
        return p;
    };
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    const int flags = O_WRONLY | O_CREAT | O_TRUNC;
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), flags, 0644);
    if (err == out) {
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), flags, 0644);
    }
    if (!workDir.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
    }
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv.front().c_str(), &actions, nullptr,
                                pointers(argv).data(), pointers(flat).data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        fail("cannot start " + argv.front() + ": " + std::strerror(rc));
    }
    return pid;
}

}  // namespace

bool waitUntil(const std::function<bool()>& condition, milliseconds timeout,
               milliseconds interval) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (condition()) {
            return true;
        }
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(interval);
    }
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

Strings linesOf(const std::string& text) {
    Strings lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    return lines;
}

std::map<std::string, std::string> parseKeyValues(const std::string& output) {
    std::map<std::string, std::string> values;
    for (const std::string& line : linesOf(output)) {
        const auto eq = line.find('=');
        if (eq != std::string::npos && line.find(' ') > eq) {
            values[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    return values;
}

WineSetup WineSetup::fromBuild() {
    WineSetup setup;
    // The setup tests run on a prefix of their own.
    const char* own = std::getenv("QUORVEL_WINE_ENV");
    const fs::path stateFile = own != nullptr ? own : QUORVEL_E2E_WINE_ENV_FILE;
    auto state = parseKeyValues(readFile(stateFile));
    if (state.empty()) {
        fail("no Wine environment at " + stateFile.string() +
             " (run the tests through ctest, which starts it, or `wine-env.sh start`)");
    }
    setup.prefix = state["WINEPREFIX"];
    setup.display = state["DISPLAY"];
    setup.agentExe = QUORVEL_E2E_AGENT_EXE;
    setup.driverExe = QUORVEL_E2E_DRIVER_EXE;
    setup.resourcesDir = QUORVEL_E2E_RESOURCES_DIR;
    setup.runsDir = QUORVEL_E2E_RUNS_DIR;
    return setup;
}

std::map<std::string, std::string> WineSetup::environment() const {
    return {
        {"WINEPREFIX", prefix.string()},
        {"DISPLAY", display},
        {"WINEDEBUG", "-all"},
        // No prompts to install .NET or the HTML engine into the prefix.
        {"WINEDLLOVERRIDES", "mscoree,mshtml="},
    };
}

WineProcess::WineProcess(const WineSetup& setup, const fs::path& exe,
                         const std::vector<std::string>& args, const fs::path& workDir,
                         const fs::path& logFile,
                         const std::map<std::string, std::string>& extraEnv) {
    std::vector<std::string> argv{setup.wine.string(), exe.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::map<std::string, std::string> env = setup.environment();
    for (const auto& [name, value] : extraEnv) {
        env[name] = value;
    }
    pid_ = spawn(argv, env, logFile, logFile, workDir);
}

WineProcess::WineProcess(const std::vector<std::string>& argv, const fs::path& logFile)
    : pid_(spawn(argv, {}, logFile, logFile)) {}

WineProcess::WineProcess(WineProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), exitCode_(std::exchange(other.exitCode_, {})) {}

WineProcess& WineProcess::operator=(WineProcess&& other) noexcept {
    if (this != &other) {
        kill();
        pid_ = std::exchange(other.pid_, -1);
        exitCode_ = std::exchange(other.exitCode_, {});
    }
    return *this;
}

WineProcess::~WineProcess() {
    kill();
}

bool WineProcess::reap(bool block) {
    if (pid_ < 0 || exitCode_) {
        return true;
    }
    int status = 0;
    pid_t rc;
    do {
        rc = waitpid(pid_, &status, block ? 0 : WNOHANG);
    } while (rc < 0 && errno == EINTR);
    if (rc == pid_) {
        exitCode_ = decodeStatus(status);
        return true;
    }
    return false;
}

bool WineProcess::running() {
    return pid_ >= 0 && !reap(false);
}

std::optional<int> WineProcess::waitForExit(milliseconds timeout) {
    waitUntil([this] { return reap(false); }, timeout, milliseconds(20));
    return exitCode_;
}

bool WineProcess::kill() {
    if (!running()) {
        return false;
    }
    ::kill(pid_, SIGKILL);
    reap(true);
    return true;
}

CommandResult runCaptured(const std::vector<std::string>& argv,
                          const std::map<std::string, std::string>& env, milliseconds timeout) {
    static std::atomic<int> runs{0};
    const std::string base = (fs::temp_directory_path() / "quorvel-e2e-").string() +
                             std::to_string(getpid()) + "-" + std::to_string(++runs);
    const pid_t pid = spawn(argv, env, base + ".out", base + ".err");
    CommandResult result;
    int status = 0;
    if (!waitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, timeout,
                   milliseconds(10))) {
        ::kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    result.exitCode = decodeStatus(status);
    result.out = readFile(base + ".out");
    result.err = readFile(base + ".err");
    fs::remove(base + ".out");
    fs::remove(base + ".err");
    return result;
}

Harness::Harness(WineSetup setup) : setup_(std::move(setup)) {}

fs::path Harness::makeProgramFolder(const std::string& name, const std::string& ini) {
    const fs::path folder = setup_.runsDir / name;
    fs::remove_all(folder);
    fs::create_directories(folder);
    fs::copy_file(setup_.agentExe, folder / "quorvel.exe");
    std::ofstream(folder / "quorvel.ini", std::ios::binary) << ini;
    fs::copy(setup_.resourcesDir, folder / "resources", fs::copy_options::recursive);
    return folder;
}

WineProcess Harness::startAgent(const fs::path& folder,
                                const std::map<std::string, std::string>& extraEnv) {
    const fs::path log = folder / ("agent-" + std::to_string(++agentsStarted_) + ".log");
    return WineProcess(setup_, folder / "quorvel.exe", {}, folder, log, extraEnv);
}

fs::path Harness::runTimeFile() const {
    return setup_.prefix / "drive_c" / "ProgramData" / "quorvel" / "quorvel.dat";
}

CommandResult Harness::wine(const std::vector<std::string>& args,
                            const std::map<std::string, std::string>& extraEnv,
                            milliseconds timeout) const {
    std::vector<std::string> argv{setup_.wine.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    auto env = setup_.environment();
    for (const auto& [name, value] : extraEnv) {
        env[name] = value;
    }
    return runCaptured(argv, env, timeout);
}

CommandResult Harness::driver(const std::vector<std::string>& args, milliseconds timeout) const {
    std::vector<std::string> argv{setup_.driverExe.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return wine(argv, {}, timeout);
}

std::optional<std::vector<Harness::LoggerWindow>> Harness::loggerWindows() const {
    const CommandResult r = driver({"windows"});
    std::vector<LoggerWindow> windows;
    for (std::string line : linesOf(r.out)) {
        if (line.rfind("window ", 0) == 0) {
            std::replace(line.begin(), line.end(), ' ', '\n');
            auto fields = parseKeyValues(line);
            windows.push_back(
                {fields["hwnd"], fields["visible"] == "1", fields["pid"], fields["parent"]});
        }
    }
    // A failed or garbled answer is no answer.
    if (r.exitCode != 0 || parseKeyValues(r.out)["count"] != std::to_string(windows.size())) {
        return std::nullopt;
    }
    return windows;
}

std::optional<std::string> Harness::logText() const {
    const CommandResult r = driver({"text"});
    if (r.exitCode != 0) {
        return std::nullopt;
    }
    return r.out;
}

}  // namespace quorvel::e2e
