// Runs the Windows build of the agent under Wine from a Linux GoogleTest
// program and looks at it through qvdriver.exe. POSIX only.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quorvel::e2e {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Checked once more at the deadline.
bool waitUntil(const std::function<bool()>& condition, milliseconds timeout,
               milliseconds interval = milliseconds(50));

struct WineSetup {
    std::filesystem::path wine = "wine";
    std::filesystem::path prefix;
    std::string display;
    std::filesystem::path agentExe;
    std::filesystem::path driverExe;
    std::filesystem::path resourcesDir;  // copied into each program folder
    std::filesystem::path runsDir;       // parent of the per-test program folders

    // From wine-env.sh's state file and the paths the build compiled in.
    static WineSetup fromBuild();

    std::map<std::string, std::string> environment() const;
};

struct CommandResult {
    int exitCode = -1;  // the process's exit code, or -signal when killed (also past its time)
    std::string out;
    std::string err;
};

// A process started under Wine, killed and reaped on destruction if still
// running: a surviving agent's single-instance mutex would spoil the next test.
class WineProcess {
  public:
    WineProcess() = default;
    // `extraEnv` over the setup's environment (LC_ALL picks the system language).
    WineProcess(const WineSetup& setup, const std::filesystem::path& exe,
                const std::vector<std::string>& args, const std::filesystem::path& workDir,
                const std::filesystem::path& logFile,
                const std::map<std::string, std::string>& extraEnv = {});
    // A Linux program, its output in `logFile`.
    WineProcess(const std::vector<std::string>& argv, const std::filesystem::path& logFile);
    WineProcess(const WineProcess&) = delete;
    WineProcess& operator=(const WineProcess&) = delete;
    WineProcess(WineProcess&& other) noexcept;
    WineProcess& operator=(WineProcess&& other) noexcept;
    ~WineProcess();

    pid_t pid() const { return pid_; }
    bool running();
    std::optional<int> waitForExit(milliseconds timeout);
    // Returns true if it was still running.
    bool kill();

  private:
    bool reap(bool block);

    pid_t pid_ = -1;
    std::optional<int> exitCode_;
};

CommandResult runCaptured(const std::vector<std::string>& argv,
                          const std::map<std::string, std::string>& env, milliseconds timeout);

class Harness {
  public:
    explicit Harness(WineSetup setup);

    const WineSetup& setup() const { return setup_; }

    // A fresh `runsDir/name` with quorvel.exe, `ini` and resources/.
    std::filesystem::path makeProgramFolder(const std::string& name, const std::string& ini);

    // Starts quorvel.exe of `folder` there, its output in folder/agent-N.log.
    WineProcess startAgent(const std::filesystem::path& folder,
                           const std::map<std::string, std::string>& extraEnv = {});

    // C:\ProgramData\quorvel\quorvel.dat of the shared prefix.
    std::filesystem::path runTimeFile() const;

    CommandResult wine(const std::vector<std::string>& args,
                       const std::map<std::string, std::string>& extraEnv = {},
                       milliseconds timeout = milliseconds(20000)) const;
    CommandResult driver(const std::vector<std::string>& args,
                         milliseconds timeout = milliseconds(20000)) const;

    // Parsed `qvdriver windows`: each logger window and its process.
    struct LoggerWindow {
        std::string hwnd;
        bool visible = false;
        std::string pid;
        std::string parent;
    };
    std::optional<std::vector<LoggerWindow>> loggerWindows() const;

    std::optional<std::string> logText() const;

  private:
    WineSetup setup_;
    int agentsStarted_ = 0;
};

// Later keys win.
std::map<std::string, std::string> parseKeyValues(const std::string& output);

using Strings = std::vector<std::string>;
Strings linesOf(const std::string& text);
// The contents of a file, or "" when it cannot be read.
std::string readFile(const std::filesystem::path& path);

}  // namespace quorvel::e2e
