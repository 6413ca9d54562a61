#include "tests/e2e/WineHarness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
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

std::string envOr(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

// Holds the C strings posix_spawn wants, alive for the call.
class CStrings {
  public:
    explicit CStrings(std::vector<std::string> values) : values_(std::move(values)) {
        for (auto& v : values_) {
            pointers_.push_back(v.data());
        }
        pointers_.push_back(nullptr);
    }
    char* const* get() { return pointers_.data(); }

  private:
    std::vector<std::string> values_;
    std::vector<char*> pointers_;
};

// The current environment with `overrides` applied.
CStrings mergedEnvironment(const std::map<std::string, std::string>& overrides) {
    std::map<std::string, std::string> merged;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const auto eq = entry.find('=');
        if (eq != std::string::npos) {
            merged[entry.substr(0, eq)] = entry.substr(eq + 1);
        }
    }
    for (const auto& [key, value] : overrides) {
        merged[key] = value;
    }
    std::vector<std::string> flat;
    for (const auto& [key, value] : merged) {
        flat.push_back(key + "=" + value);
    }
    return CStrings(std::move(flat));
}

int decodeStatus(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status)) {
        return -WTERMSIG(status);
    }
    return -1;
}

class FileActions {
  public:
    FileActions() { posix_spawn_file_actions_init(&actions_); }
    ~FileActions() { posix_spawn_file_actions_destroy(&actions_); }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;
    posix_spawn_file_actions_t* get() { return &actions_; }

  private:
    posix_spawn_file_actions_t actions_;
};

pid_t spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
            FileActions& actions) {
    CStrings args(argv);
    CStrings envp = mergedEnvironment(env);
    pid_t pid = -1;
    const int rc =
        posix_spawnp(&pid, argv.front().c_str(), actions.get(), nullptr, args.get(), envp.get());
    if (rc != 0) {
        fail("cannot start " + argv.front() + ": " + std::strerror(rc));
    }
    return pid;
}

void drain(int fd, std::string& into) {
    std::array<char, 4096> buf{};
    for (;;) {
        const ssize_t n = read(fd, buf.data(), buf.size());
        if (n > 0) {
            into.append(buf.data(), static_cast<size_t>(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return;  // EOF, EAGAIN or error
        }
    }
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

int announcedPort(const fs::path& log, milliseconds timeout) {
    int port = 0;
    waitUntil(
        [&] {
            const std::string text = readFile(log);
            const auto at = text.find("port=");
            if (at != std::string::npos && text.find('\n', at) != std::string::npos) {
                port = std::stoi(text.substr(at + 5));
            }
            return port != 0;
        },
        timeout);
    return port;
}

std::map<std::string, std::string> parseKeyValues(const std::string& output) {
    std::map<std::string, std::string> values;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const auto eq = line.find('=');
        if (eq != std::string::npos && line.find(' ') > eq) {
            values[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    return values;
}

WineSetup WineSetup::fromBuild() {
    WineSetup setup;
    const fs::path stateFile = envOr("QUORVEL_WINE_ENV", QUORVEL_E2E_WINE_ENV_FILE);
    std::ifstream in(stateFile);
    if (!in) {
        fail("no Wine environment at " + stateFile.string() +
             " (run the tests through ctest, which starts it, or `wine-env.sh start`)");
    }
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq == std::string::npos) {
            continue;
        }
        const std::string key = line.substr(0, eq);
        const std::string value = line.substr(eq + 1);
        if (key == "WINEPREFIX") {
            setup.prefix = value;
        } else if (key == "DISPLAY") {
            setup.display = value;
        }
    }
    if (setup.prefix.empty() || setup.display.empty()) {
        fail(stateFile.string() + " lacks WINEPREFIX or DISPLAY");
    }
    setup.wine = envOr("QUORVEL_WINE", "wine");
    setup.agentExe = envOr("QUORVEL_EXE", QUORVEL_E2E_AGENT_EXE);
    setup.driverExe = envOr("QUORVEL_DRIVER_EXE", QUORVEL_E2E_DRIVER_EXE);
    // The first folder of the list that exists.
    std::istringstream dirs(envOr("QUORVEL_RESOURCES_DIRS", QUORVEL_E2E_RESOURCES_DIRS));
    for (std::string dir; std::getline(dirs, dir, ':');) {
        if (!dir.empty() && fs::is_directory(dir)) {
            setup.resourcesDir = dir;
            break;
        }
    }
    setup.runsDir = envOr("QUORVEL_E2E_RUNS_DIR", QUORVEL_E2E_RUNS_DIR);
    for (const auto& exe : {setup.agentExe, setup.driverExe}) {
        if (!fs::is_regular_file(exe)) {
            fail(exe.string() + " does not exist: build the windows preset first");
        }
    }
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
    FileActions actions;
    posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(actions.get(), STDOUT_FILENO, logFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(actions.get(), STDOUT_FILENO, STDERR_FILENO);
    posix_spawn_file_actions_addchdir_np(actions.get(), workDir.c_str());
    std::map<std::string, std::string> env = setup.environment();
    for (const auto& [name, value] : extraEnv) {
        env[name] = value;
    }
    pid_ = spawn(argv, env, actions);
}

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
    if (pid_ < 0) {
        return std::nullopt;
    }
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
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
        fail(std::string("pipe: ") + std::strerror(errno));
    }
    FileActions actions;
    posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(actions.get(), outPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(actions.get(), errPipe[1], STDERR_FILENO);
    pid_t pid = -1;
    try {
        pid = spawn(argv, env, actions);
    } catch (...) {
        for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) {
            close(fd);
        }
        throw;
    }
    close(outPipe[1]);
    close(errPipe[1]);
    fcntl(outPipe[0], F_SETFL, O_NONBLOCK);
    fcntl(errPipe[0], F_SETFL, O_NONBLOCK);

    CommandResult result;
    const auto deadline = Clock::now() + timeout;
    int status = 0;
    // Ends on the child's exit, not on end of file: a Wine helper the child
    // starts (the wineserver, say) may inherit the pipes and keep them open.
    for (;;) {
        std::array<pollfd, 2> fds{{{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}}};
        poll(fds.data(), fds.size(), 20);
        drain(outPipe[0], result.out);
        drain(errPipe[0], result.err);
        const pid_t rc = waitpid(pid, &status, WNOHANG);
        if (rc == pid) {
            break;
        }
        if (Clock::now() >= deadline) {
            result.timedOut = true;
            ::kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
    }
    drain(outPipe[0], result.out);
    drain(errPipe[0], result.err);
    close(outPipe[0]);
    close(errPipe[0]);
    result.exitCode = decodeStatus(status);
    return result;
}

Harness::Harness(WineSetup setup) : setup_(std::move(setup)) {}

fs::path Harness::makeProgramFolder(const std::string& name,
                                    const std::optional<std::string>& ini) {
    const fs::path folder = setup_.runsDir / name;
    fs::remove_all(folder);
    fs::create_directories(folder);
    fs::copy_file(setup_.agentExe, folder / "quorvel.exe");
    if (ini) {
        std::ofstream(folder / "quorvel.ini", std::ios::binary) << *ini;
    }
    if (!setup_.resourcesDir.empty() && fs::is_directory(setup_.resourcesDir)) {
        fs::copy(setup_.resourcesDir, folder / "resources", fs::copy_options::recursive);
    }
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

CommandResult Harness::driver(const std::vector<std::string>& args, milliseconds timeout) const {
    std::vector<std::string> argv{setup_.wine.string(), setup_.driverExe.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return runCaptured(argv, setup_.environment(), timeout);
}

std::optional<std::vector<Harness::LoggerWindow>> Harness::loggerWindows() const {
    const CommandResult r = driver({"windows"});
    if (r.exitCode != 0) {
        return std::nullopt;
    }
    std::vector<LoggerWindow> windows;
    std::istringstream lines(r.out);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("window ", 0) != 0) {
            continue;
        }
        LoggerWindow w;
        std::istringstream fields(line.substr(7));
        std::string field;
        while (fields >> field) {
            if (field.rfind("hwnd=", 0) == 0) {
                w.hwnd = field.substr(5);
            } else if (field.rfind("visible=", 0) == 0) {
                w.visible = field.substr(8) == "1";
            }
        }
        windows.push_back(w);
    }
    const auto count = parseKeyValues(r.out)["count"];
    if (count != std::to_string(windows.size())) {
        return std::nullopt;  // a garbled answer is no answer
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
