// quorvel-check: says, one line each, whether everything the agent needs on
// this machine is usable. Exit code 0 when it is, 1 when something would
// stop the agent, 2 for a wrong command line.

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "check/Diagnosis.h"
#include "check/win32/WinsockProbe.h"
#include "core/Log.h"
#include "core/MainWindowCommands.h"
#include "core/SystemPaths.h"
#include "core/win32/Win32SystemPaths.h"
#include "dongle/win32/Win32HidPort.h"
#include "storage/FilesystemResource.h"
#include "storage/win32/Win32FileSystem.h"
#include "ui/win32/Win32SystemLanguage.h"

namespace {

// With --verbose the agent's own log lines of the checks are shown.
class PrintingWindow final : public MainWindowCommands {
  public:
    void appendLogLine(const std::string& line) override {
        std::printf("      log: %s\n", line.c_str());
    }
    void showLogger() override {}
    void statusChanged() override {}
    void fatalError(const char* text) override { std::printf("      fatal: %s\n", text); }
};

int createDataFolder(const SystemPaths& paths) {
    Win32FileSystem files;
    const std::string folder = folderOf(runTimeFilePath(paths));
    if (!files.createFolder(folder)) {
        std::printf("FAIL  data folder    %s could not be created\n", folder.c_str());
        return 1;
    }
    std::printf("ok    data folder    %s\n", folder.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    bool verbose = false;
    bool create = false;
    for (const std::string& arg : args) {
        if (arg == "--verbose") {
            verbose = true;
        } else if (arg == "--create-data-folder") {
            create = true;
        } else {
            std::fprintf(stderr, "usage: quorvel-check [--verbose] [--create-data-folder]\n");
            return 2;
        }
    }
    static PrintingWindow window;
    if (verbose) {
        setMainWindowCommands(&window);
    }
    const Win32SystemPaths paths;
    if (create) {
        return createDataFolder(paths);
    }
    const Win32SystemLanguage language;
    Win32FileSystem files;
    Win32HidPort hid;
    WinsockProbe network;
    Diagnosis diagnosis(paths, language, files, hid, network);
    // The configuration's logging switch is the agent's; here only
    // --verbose decides.
    const std::vector<Finding> findings = diagnosis.run();
    setLoggingEnabled(false);
    for (const Finding& finding : findings) {
        std::printf("%s\n", formatFinding(finding).c_str());
    }
    const int code = exitCodeFor(findings);
    std::printf(code == 0 ? "quorvel-check: the agent has what it needs\n"
                          : "quorvel-check: the lines marked FAIL would stop the agent\n");
    return code;
}
