// quorvel-msi.dll: the Windows Installer package's own steps that must run
// before this version's files are on the machine, or that must speak to
// the installer's log (installer/quorvel.wxs). A DLL, because only a DLL
// action can write to the log and set properties: a program's exit code is
// all msiexec takes from it. The decisions are quorvel-check's portable
// code (check/Configure.h); this file only reads properties, logs, and
// finds the agent's window.

#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <map>
#include <string>
#include <vector>

#include "check/Configure.h"
#include "core/Clock.h"
#include "core/Log.h"
#include "core/MainWindowCommands.h"
#include "core/win32/ScopedHandle.h"
#include "resources/resource.h"
#include "storage/win32/Win32FileSystem.h"
#include "ui/win32/LoggerWindow.h"

namespace {

// Owns an MSI record handle.
class ScopedRecord {
  public:
    explicit ScopedRecord(MSIHANDLE record) : record_(record) {}
    ~ScopedRecord() {
        if (record_ != 0) {
            MsiCloseHandle(record_);
        }
    }
    ScopedRecord(const ScopedRecord&) = delete;
    ScopedRecord& operator=(const ScopedRecord&) = delete;
    MSIHANDLE get() const { return record_; }

  private:
    MSIHANDLE record_;
};

// A line in the installer's log (and, for an error, its message box when
// the install has a user interface). The text goes in as field 1 of the
// template "[1]": as the template itself, a proxy "[::1]:3128" would be
// read as a property.
void tell(MSIHANDLE install, INSTALLMESSAGE kind, const std::string& text) {
    const ScopedRecord record(MsiCreateRecord(1));
    if (record.get() == 0) {
        return;
    }
    MsiRecordSetStringA(record.get(), 0, "[1]");
    MsiRecordSetStringA(record.get(), 1, text.c_str());
    MsiProcessMessage(install, kind, record.get());
}

std::string property(MSIHANDLE install, const char* name) {
    // Asked with no room, it answers with the length, NUL not counted.
    char none[1] = "";
    DWORD length = 0;
    if (MsiGetPropertyA(install, name, none, &length) != ERROR_MORE_DATA) {
        return "";
    }
    std::string value(length + 1, '\0');
    length = static_cast<DWORD>(value.size());
    if (MsiGetPropertyA(install, name, &value[0], &length) != ERROR_SUCCESS) {
        return "";
    }
    value.resize(length);
    return value;
}

// The file adapter's log lines (the operation and its error number) go to
// the installer's log while a step runs.
class InstallerLog final : public MainWindowCommands {
  public:
    explicit InstallerLog(MSIHANDLE install) : install_(install) {
        setLogSink(&sink_);
        setLoggingEnabled(true);
    }
    ~InstallerLog() override {
        setLoggingEnabled(false);
        setLogSink(nullptr);
    }
    void appendLogLine(const std::string& line) override {
        tell(install_, INSTALLMESSAGE_INFO, "quorvel:" + line);
    }
    void showLogger() override {}
    void statusChanged() override {}
    void fatalError(const char* text) override { tell(install_, INSTALLMESSAGE_INFO, text); }

  private:
    MSIHANDLE install_;
    SystemClock clock_;
    LogSink sink_{*this, clock_};
};

UINT outcome(MSIHANDLE install, const ConfigureOutcome& result) {
    tell(install, result.exitCode == 0 ? INSTALLMESSAGE_INFO : INSTALLMESSAGE_ERROR,
         result.message);
    return result.exitCode == 0 ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}

}  // namespace

// Checks the properties given, before anything is changed, and hands the
// deferred configuration step its arguments (QUORVEL_SETTINGS): a deferred
// action sees no properties but what its command line was given.
// Also refuses what the package must not install over, with the reason
// in the log: a launch condition's message is logged by Windows, but not
// by Wine's msiexec, which ends the install without a word.
extern "C" __declspec(dllexport) UINT __stdcall CheckSettings(MSIHANDLE install) {
    if (!property(install, "WIX_DOWNGRADE_DETECTED").empty()) {
        return outcome(install, {2, "A newer version of Quorvel is installed: remove it first "
                                    "(msiexec /x) to install this older one."});
    }
    if (!property(install, "QUORVEL_SETUP_INSTALLED").empty()) {
        return outcome(install, {2, "Quorvel is installed by its setup program (quorvel-setup). "
                                    "Uninstall it first (Apps & features), then install this "
                                    "package."});
    }
    std::map<std::string, std::string> given;
    for (const std::string& name : setupSwitchNames()) {
        given[name] = property(install, name.c_str());
    }
    const std::vector<std::string> assignments =
        packageAssignments(given, !property(install, "WIX_UPGRADE_DETECTED").empty(),
                           property(install, "ProductVersion"));
    const ConfigureOutcome checked = checkSettings(assignments);
    if (checked.exitCode != 0) {
        return outcome(install, checked);
    }
    MsiSetPropertyA(install, "QUORVEL_SETTINGS", commandLineOf(assignments).c_str());
    return ERROR_SUCCESS;
}

// On an upgrade, before the older version (and its quorvel.ini) is removed.
extern "C" __declspec(dllexport) UINT __stdcall SetConfigurationAside(MSIHANDLE install) {
    const InstallerLog log(install);
    Win32FileSystem files;
    return outcome(install, setConfigurationAside(files, property(install, "INSTALLDIR")));
}

// Asks the agent on this desktop to end, as its Exit command does, and
// waits for it, as the setup does; quorvel-check --end-agents, which runs
// next, ends any still running in other sessions. Never fails the removal.
extern "C" __declspec(dllexport) UINT __stdcall AskAgentToEnd(MSIHANDLE install) {
    HWND window = FindWindowA(loggerWindowClassName, nullptr);
    if (window == nullptr) {
        return ERROR_SUCCESS;
    }
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    const ScopedHandle process(OpenProcess(SYNCHRONIZE, FALSE, pid));
    const DWORD openError = process.valid() ? 0 : GetLastError();
    tell(install, INSTALLMESSAGE_INFO, "Asking the running Quorvel agent to end");
    // 30 s in steps of 200 ms; the command once at first and again every
    // 5 s: an agent busy in a cycle takes it when the cycle is over.
    for (int step = 0; step < 150 && window != nullptr; ++step) {
        if (step % 25 == 0) {
            DWORD_PTR ignored = 0;
            SendMessageTimeoutA(window, WM_COMMAND, ID_EXIT, 0, SMTO_ABORTIFHUNG, 2000, &ignored);
        }
        if (process.valid()) {
            if (WaitForSingleObject(process.get(), 200) == WAIT_OBJECT_0) {
                return ERROR_SUCCESS;
            }
        } else {
            Sleep(200);
        }
        window = FindWindowA(loggerWindowClassName, nullptr);
    }
    if (window != nullptr) {
        tell(install, INSTALLMESSAGE_INFO, "The Quorvel agent on this desktop did not end in time");
    } else if (process.valid()) {
        // Its window goes first; let it finish leaving with exit code 0.
        WaitForSingleObject(process.get(), 5000);
    } else {
        tell(install, INSTALLMESSAGE_INFO,
             "OpenProcess of the agent failed: error " + std::to_string(openError));
    }
    return ERROR_SUCCESS;
}
