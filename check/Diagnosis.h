#pragma once

#include <string>
#include <vector>

#include "storage/FolderRights.h"

class Clock;
class FileSystem;
class HidPort;
class InitialConfiguration;
class NetworkProbe;
class SystemLanguage;
class SystemPaths;

// One line of the diagnosis: what was looked at and what was found.
struct Finding {
    enum class Verdict { Ok, Warning, Failed };
    Verdict verdict = Verdict::Ok;
    std::string subject;
    std::string detail;
};

// Looks at everything the agent needs, the way the agent itself reads it,
// and says what would stop it: the configuration, the language file, the
// data folder (with its owner and rights) and run-time file, the dongle and
// the portal. It changes nothing: no file is written and no hello is sent.
class Diagnosis {
  public:
    // `clock` gives the stored deadlines in local time.
    Diagnosis(const SystemPaths& paths, const SystemLanguage& language, FileSystem& files,
              FolderRights& rights, HidPort& hid, NetworkProbe& network, const Clock& clock);

    std::vector<Finding> run();

  private:
    // False when the file could not be read at all; the checks that need
    // its values are then left out.
    bool checkConfiguration(InitialConfiguration& configuration, std::vector<Finding>& findings);
    void checkLanguage(std::vector<Finding>& findings);
    void checkDataFolder(std::vector<Finding>& findings);
    void checkRunTimeFile(std::vector<Finding>& findings);
    void checkDongle(const InitialConfiguration& configuration, std::vector<Finding>& findings);
    void checkPortal(const InitialConfiguration& configuration, std::vector<Finding>& findings);

    const SystemPaths& paths_;
    const SystemLanguage& language_;
    FileSystem& files_;
    FolderRights& rights_;
    HidPort& hid_;
    NetworkProbe& network_;
    const Clock& clock_;
};

// "ok    subject        detail", "warn  ...", "FAIL  ...".
std::string formatFinding(const Finding& finding);
// 0 when nothing failed, 1 otherwise.
int exitCodeFor(const std::vector<Finding>& findings);

// What the setup's step that gives `folder` its owner and rights
// (--create-data-folder, --secure-install-folder) found and did.
Finding imposeRights(FolderRights& rights, const std::string& subject, const std::string& folder,
                     const std::string& descriptor, LinkInPlace link);
