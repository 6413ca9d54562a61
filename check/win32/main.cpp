// quorvel-check: says, one line each, whether everything the agent needs on
// this machine is usable. Exit code 0 when it is, 1 when something would
// stop the agent, 2 for a wrong command line.
//
// The setup runs two steps of it as administrator: --create-data-folder
// makes the data folder (or takes over the one there) with its owner and
// rights, --secure-install-folder FOLDER gives the install folder its own,
// and --end-agents ends every agent that runs from quorvel-check's own
// folder, in any session (exit code 3 when one could not be ended).
// --configure KEY=VALUE ... sets keys of the quorvel.ini beside it
// (check/Configure.h; exit codes there); the MSI package's upgrade adds
// --take-set-aside first.

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "check/Configure.h"
#include "check/Diagnosis.h"
#include "check/win32/Win32AgentProcesses.h"
#include "check/win32/WinsockProbe.h"
#include "core/Clock.h"
#include "core/Log.h"
#include "core/MainWindowCommands.h"
#include "core/SystemPaths.h"
#include "core/win32/Win32SystemPaths.h"
#include "dongle/win32/Win32HidPort.h"
#include "storage/FilesystemResource.h"
#include "storage/win32/Win32FileSystem.h"
#include "storage/win32/Win32FolderRights.h"
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

// Prints the step's line; exit code 0 when it was done.
int report(const Finding& finding) {
    std::printf("%s\n", formatFinding(finding).c_str());
    return finding.verdict == Finding::Verdict::Failed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args == std::vector<std::string>{"--end-agents"}) {
        Win32AgentProcesses processes;
        const EndAgentsResult ended = endAgents(processes, agentImageBesideThisProgram());
        for (const std::string& line : ended.lines) {
            std::printf("%s\n", line.c_str());
        }
        return ended.allEnded ? 0 : 3;
    }
    // The MSI package takes back the quorvel.ini it set aside on an
    // upgrade (installer/quorvel.wxs).
    if (!args.empty() && args.front() == "--configure") {
        const bool takeSetAside = args.size() > 1 && args[1] == "--take-set-aside";
        Win32FileSystem files;
        const ConfigureOutcome outcome =
            configure(files, configurationFilePath(Win32SystemPaths()),
                      std::vector<std::string>(args.begin() + (takeSetAside ? 2 : 1), args.end()),
                      takeSetAside);
        std::fprintf(outcome.exitCode == 0 ? stdout : stderr, "%s\n", outcome.message.c_str());
        return outcome.exitCode;
    }
    bool verbose = false;
    bool create = false;
    std::string installFolder;
    bool usage = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--verbose") {
            verbose = true;
        } else if (args[i] == "--create-data-folder") {
            create = true;
        } else if (args[i] == "--secure-install-folder" && i + 1 < args.size() &&
                   installFolder.empty()) {
            installFolder = args[++i];
        } else {
            usage = true;
        }
    }
    if (usage || (create && !installFolder.empty())) {
        std::fprintf(stderr,
                     "usage: quorvel-check [--verbose] "
                     "[--create-data-folder | --secure-install-folder FOLDER | --end-agents]\n"
                     "       quorvel-check --configure [--take-set-aside] KEY=VALUE [KEY=VALUE ...]\n");
        return 2;
    }
    static PrintingWindow window;
    static const SystemClock clock;
    static const LogSink sink{window, clock};
    if (verbose) {
        setLogSink(&sink);
    }
    const Win32SystemPaths paths;
    Win32FolderRights rights;
    // The steps read no configuration; --verbose shows their adapter's lines.
    setLoggingEnabled(verbose);
    if (create) {
        return report(imposeRights(rights, "data folder", folderOf(runTimeFilePath(paths)),
                                   dataFolderSecurity, LinkInPlace::Replace));
    }
    if (!installFolder.empty()) {
        return report(imposeRights(rights, "install folder", installFolder, installFolderSecurity,
                                   LinkInPlace::Refuse));
    }
    const Win32SystemLanguage language;
    Win32FileSystem files;
    Win32HidPort hid;
    WinsockProbe network;
    Diagnosis diagnosis(paths, language, files, rights, hid, network, clock);
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
