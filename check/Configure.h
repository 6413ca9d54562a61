#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

class FileSystem;

// quorvel-check --configure KEY=VALUE ...: sets keys of an installed
// quorvel.ini the way an administrator edits it by hand, so that an upgrade
// (or any deployment tool) can change the portal without losing what was
// tuned in the file. Each key's last line is replaced (the one the agent
// goes by), a key the file lacks is appended, and every other byte stays as
// it was, comments, order and line ends included.
//
// Every value is checked first, as the setup checks it; one that the agent
// could not use leaves the file untouched. The new text goes to a
// temporary file that then takes the old one's place, so a failure at any
// point leaves the old file whole.

using Setting = std::pair<std::string, std::string>;

// Why `value` cannot go into quorvel.ini under `key`, or "" when it can.
std::string settingProblem(const std::string& key, const std::string& value);

// `text` with the settings applied, in order.
std::string withSettings(std::string text, const std::vector<Setting>& settings);

struct ConfigureOutcome {
    // 0 written; 1 the file could not be read or replaced (it stays as it
    // was); 2 an argument that is not KEY=VALUE or a value the agent could
    // not use (nothing written).
    int exitCode;
    std::string message;
};

// Besides the keys, `assignments` may name the setup program's switches
// (the package's properties): PORTAL_HOST, PORTAL_PORT, PORTAL_PATH,
// PARTNER, LOGGING and PROXY=host:port (empty: no proxy), each standing for
// the keys it sets. With `takeSetAside`, a quorvel.ini set aside beside
// the file (setConfigurationAside) takes its place first.
ConfigureOutcome configure(FileSystem& files, const std::string& iniPath,
                           const std::vector<std::string>& assignments, bool takeSetAside = false);

// configure's checks alone, nothing read or written: exit code 0 or 2.
ConfigureOutcome checkSettings(const std::vector<std::string>& assignments);

// The package's upgrade removes the older version's quorvel.ini with the
// rest of it: the file goes aside (quorvel.ini.kept) in `folder` until the
// new version's configure takes it back. Exit code 0 also when there is
// none, 1 when it could not be moved.
ConfigureOutcome setConfigurationAside(FileSystem& files, const std::string& folder);

// The setup program's switches, which are also the package's public
// properties (installer/quorvel.wxs).
const std::vector<std::string>& setupSwitchNames();

// What the package passes to quorvel-check for its properties: this
// version, then NAME=VALUE for each property given (an empty one is not
// given). A first install names the portal host even when it is empty, so
// that it is refused as the setup refuses it.
std::vector<std::string> packageAssignments(const std::map<std::string, std::string>& properties,
                                            bool upgrade, const std::string& version);

// The arguments as one command line that a Windows program splits back
// into them.
std::string commandLineOf(const std::vector<std::string>& arguments);
