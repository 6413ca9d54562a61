// quorvel-check --configure: what changes in the administrator's file, and when nothing does.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "check/Configure.h"
#include "tests/unit/support/FakeFileSystem.h"

namespace {

const std::string kFolder = "C:\\Program Files\\Quorvel\\";
const std::string kIni = kFolder + "quorvel.ini";

FakeFileSystem diskWith(const std::string& ini) {
    FakeFileSystem disk;
    disk.folders.insert(kFolder);
    disk.files[kIni] = {ini.begin(), ini.end()};
    return disk;
}

// Comments, a key twice, mixed line ends, no end at the end: all of it must survive.
const std::string kAdministrators =
    "; the portal\r\n"
    "PORTAL_SERVER_HOST=old.example.com\r\n"
    "PORTAL_SERVER_PORT=80\r\n"
    ";PARTNER=commented out\r\n"
    "PARTNER=first\n"
    "USB_WAIT_TIMEOUT=1500\r\n"
    "PARTNER=acme\r\n"
    "PORTAL_SERVER_URI=/";

TEST(Configure, ReplacesTheGivenKeysLastLinesAppendsAbsentOnesAndRefusesBadValues) {
    const struct {
        std::vector<std::string> args;
        int exitCode;
        std::string after;  // the whole file afterwards
    } cases[] = {
        {{"PORTAL_SERVER_HOST=new.example.com", "PARTNER=acme home", "PORTAL_SERVER_URI=/a/b.php"},
         0,
         "; the portal\r\nPORTAL_SERVER_HOST=new.example.com\r\nPORTAL_SERVER_PORT=80\r\n"
         ";PARTNER=commented out\r\nPARTNER=first\nUSB_WAIT_TIMEOUT=1500\r\n"
         "PARTNER=acme home\r\nPORTAL_SERVER_URI=/a/b.php"},
        // Absent keys go at the end, in the file's line ends; the last one
        // given for a key wins.
        {{"PROXY_SERVER_HOST=proxy", "PROXY_SERVER_PORT=3128", "ENABLE_LOGGING=false",
          "ENABLE_LOGGING=true"},
         0,
         kAdministrators + "\r\nPROXY_SERVER_HOST=proxy\r\nPROXY_SERVER_PORT=3128\r\n"
                           "ENABLE_LOGGING=true\r\n"},
        // The setup's switches (the package's properties) by their own
        // names; PROXY splits at its last colon, empty it clears both keys.
        {{"PORTAL_HOST=new.example.com", "PORTAL_PORT=8080", "PORTAL_PATH=/p", "PARTNER=x",
          "LOGGING=true", "PROXY=[::1]:3128"},
         0,
         "; the portal\r\nPORTAL_SERVER_HOST=new.example.com\r\nPORTAL_SERVER_PORT=8080\r\n"
         ";PARTNER=commented out\r\nPARTNER=first\nUSB_WAIT_TIMEOUT=1500\r\nPARTNER=x\r\n"
         "PORTAL_SERVER_URI=/p\r\nENABLE_LOGGING=true\r\nPROXY_SERVER_HOST=[::1]\r\n"
         "PROXY_SERVER_PORT=3128\r\n"},
        {{"PROXY="}, 0, kAdministrators + "\r\nPROXY_SERVER_HOST=\r\nPROXY_SERVER_PORT=\r\n"},
        {{"PROXY=proxy.example.com"}, 2, kAdministrators},
        {{"PROXY=:3128"}, 2, kAdministrators},
        {{"PROXY=proxy:0"}, 2, kAdministrators},
        // Each refused before anything is written, the good ones with it; a
        // switch's value is checked as its key's, which it becomes first.
        {{"PORTAL_SERVER_HOST=new.example.com", "PORTAL_SERVER_PORT=80a8"}, 2, kAdministrators},
        {{"PORTAL_SERVER_PORT=65536"}, 2, kAdministrators},
        {{"PORTAL_SERVER_PORT=0"}, 2, kAdministrators},
        {{"PORTAL_SERVER_HOST="}, 2, kAdministrators},
        {{"PORTAL_SERVER_HOST=a\r\nPARTNER=b"}, 2, kAdministrators},
        {{"PORTAL_SERVER_URI=agent.php"}, 2, kAdministrators},
        {{"USB_WAIT_TIMEOUT=2s"}, 2, kAdministrators},
        {{"ENABLE_LOGGING=True"}, 2, kAdministrators},
        {{"PORTAL_SERVER_HOTS=x"}, 2, kAdministrators},
        {{"PORTAL_SERVER_HOST"}, 2, kAdministrators},
        {{"PARTNER=" + std::string(1020, 'x')}, 2, kAdministrators},
        {{}, 2, kAdministrators},
    };
    for (const auto& c : cases) {
        std::string args;
        for (const auto& a : c.args) {
            args += a.substr(0, 40) + " ";
        }
        FakeFileSystem disk = diskWith(kAdministrators);
        // The package checks the values first, with nothing to write to.
        EXPECT_EQ(checkSettings(c.args).exitCode, c.exitCode == 0 ? 0 : 2) << args;
        const ConfigureOutcome outcome = configure(disk, kIni, c.args);
        EXPECT_EQ(outcome.exitCode, c.exitCode) << args << outcome.message;
        const auto& bytes = disk.files[kIni];
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), c.after) << args;
        if (c.exitCode != 0) {
            EXPECT_EQ(disk.writeCalls, 0) << args;
            EXPECT_NE(outcome.message.find("nothing written"), std::string::npos) << args;
        }
    }

    // A write that fails part-way leaves the old file; a missing one is
    // not made up.
    FakeFileSystem full = diskWith(kAdministrators);
    full.failWriteAfterBytes = 10;
    EXPECT_EQ(configure(full, kIni, {"PARTNER=x"}).exitCode, 1);
    EXPECT_EQ(std::string(full.files[kIni].begin(), full.files[kIni].end()), kAdministrators);
    FakeFileSystem empty = diskWith("");
    empty.files.clear();
    EXPECT_EQ(configure(empty, kIni, {"PARTNER=x"}).exitCode, 1);
    EXPECT_EQ(empty.files.count(kIni), 0u);
}

// An upgrade sets the old file aside and puts it back in place of the new defaults.
TEST(Configure, AnUpgradeTakesBackTheFileSetAsideInPlaceOfTheDefaults) {
    FakeFileSystem disk = diskWith(kAdministrators);
    EXPECT_EQ(setConfigurationAside(disk, kFolder + ".").exitCode, 0);
    EXPECT_EQ(disk.files.count(kIni), 0u);
    EXPECT_EQ(setConfigurationAside(disk, kFolder + ".").exitCode, 0) << "nothing to set aside";
    disk.files[kIni] = {'d', '\r', '\n'};  // the new version's defaults
    EXPECT_EQ(configure(disk, kIni, {"LOGGING=true"}, true).exitCode, 0);
    EXPECT_EQ(std::string(disk.files[kIni].begin(), disk.files[kIni].end()),
              kAdministrators + "\r\nENABLE_LOGGING=true\r\n");
    EXPECT_EQ(disk.files.count(kIni + ".kept"), 0u);
    // Nothing set aside: the defaults are configured.
    EXPECT_EQ(configure(disk, kIni, {"PARTNER=newer"}, true).exitCode, 0);
    EXPECT_NE(std::string(disk.files[kIni].begin(), disk.files[kIni].end()).find("PARTNER=newer"),
              std::string::npos);
}

// The package's properties, quoted so that Windows splits them back into the same arguments.
TEST(Configure, PackagePropertiesBecomeTheGivenValuesOnOneCommandLine) {
    const std::map<std::string, std::string> properties = {
        {"PORTAL_HOST", ""}, {"PARTNER", "a \"b\" c\\"}, {"LOGGING", ""}};
    EXPECT_EQ(packageAssignments(properties, false, "1.2.3"),
              (std::vector<std::string>{"SOFTWARE_VERSION=1.2.3",
                                        "PORTAL_HOST=", "PARTNER=a \"b\" c\\"}));
    EXPECT_EQ(packageAssignments(properties, true, "1.2.3"),
              (std::vector<std::string>{"SOFTWARE_VERSION=1.2.3", "PARTNER=a \"b\" c\\"}));
    EXPECT_EQ(commandLineOf({"A=x y", "B=a \"b\" c\\", "C=d\\e", "D=e\\\"f"}),
              "\"A=x y\" \"B=a \\\"b\\\" c\\\\\" \"C=d\\e\" \"D=e\\\\\\\"f\"");
}

}  // namespace
