// quorvel-check: its diagnosis on the wired agent's fakes, --configure and --end-agents.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "check/Configure.h"
#include "check/Diagnosis.h"
#include "check/EndAgents.h"
#include "check/NetworkProbe.h"
#include "dongle/ReportProtocol.h"
#include "storage/FileSystem.h"
#include "storage/FolderRights.h"
#include "storage/RunTimeData.h"
#include "tests/unit/support/FakeFileSystem.h"
#include "tests/unit/support/WiredAgent.h"

namespace {

class FakeNetwork final : public NetworkProbe {
  public:
    ProbeOutcome resolve(const std::string&) override {
        return resolves ? ProbeOutcome{true, "192.0.2.7"}
                        : ProbeOutcome{false, "host not found (11001)"};
    }
    ProbeOutcome connect(const std::string& host, uint16_t port, uint32_t) override {
        connected.push_back(host + ":" + std::to_string(port));
        return connects ? ProbeOutcome{true, "192.0.2.7"}
                        : ProbeOutcome{false, "connection refused (10061)"};
    }
    bool resolves = true;
    bool connects = true;
    std::vector<std::string> connected;
};

class DiagnosisTest : public ::testing::Test {
  protected:
    DiagnosisTest() {
        // The data folder and a record with two frames, as a running agent
        // leaves them.
        RunTimeData data;
        data.frames = "S1122334455,S2233445566,";
        data.helloReason = 3;
        data.nextHelloTime = agent.clock.timeStampIn(60000);
        agent.storeRunTimeData(data);
        agent.files.descriptors[dataFolder] = dataFolderSecurity;  // as the setup left it
        agent.folder.write("resources/en.txt", "SYS_EXIT=Exit\r\n");
    }

    std::vector<Finding> diagnose(const std::string& ini = WiredAgent::configuration()) {
        agent.folder.write("quorvel.ini", ini);
        Diagnosis diagnosis(agent.paths, agent.language, agent.files, agent.files, agent.hid,
                            network, agent.clock);
        return diagnosis.run();
    }
    static std::string lineFor(const std::vector<Finding>& findings, const std::string& subject) {
        for (const Finding& f : findings) {
            if (f.subject == subject) {
                return formatFinding(f);
            }
        }
        return "";
    }

    static constexpr char dataFolder[] = "C:\\ProgramData\\quorvel\\";
    static constexpr char repair[] =
        "; repair: run quorvel-check --create-data-folder as administrator";

    WiredAgent agent;
    FakeNetwork network;
};

TEST_F(DiagnosisTest, AUsableMachineGivesOneOkLinePerPartAndAMissingDongleFails) {
    const std::vector<Finding> findings = diagnose();

    ASSERT_EQ(findings.size(), 6u);
    for (const Finding& f : findings) {
        EXPECT_EQ(f.verdict, Finding::Verdict::Ok) << formatFinding(f);
    }
    EXPECT_EQ(exitCodeFor(findings), 0);
    EXPECT_NE(lineFor(findings, "configuration").find("every key set"), std::string::npos);
    EXPECT_NE(lineFor(findings, "language").find("en.txt (system language English)"),
              std::string::npos);
    EXPECT_NE(lineFor(findings, "run-time file").find("10304 bytes, writable"), std::string::npos);
    EXPECT_NE(lineFor(findings, "run-time file").find("2 frames pending"), std::string::npos);
    EXPECT_EQ(lineFor(findings, "dongle"),
              "ok    dongle         serial number QV12345678, radio address 0aff, firmware 258; "
              "duty cycle 0% of 40% allowed");
    EXPECT_EQ(network.connected, std::vector<std::string>{"portal.example:8080"});
    // Nothing was written: the record is still the one stored above.
    EXPECT_EQ(agent.files.writeCalls, 0);

    agent.dongle.unplug();
    const std::vector<Finding> unplugged = diagnose();
    EXPECT_EQ(lineFor(unplugged, "dongle"),
              "FAIL  dongle         not found (USB vendor 5E91, product 2D4A); plug it in");
    EXPECT_EQ(exitCodeFor(unplugged), 1);
}

// FAIL where the agent lacks a value or misreads a number, warn where it copes.
TEST_F(DiagnosisTest, EachSlipInTheConfigurationIsNamedAndFailsWhatTheAgentCannotUse) {
    const struct {
        const char* from;
        const char* to;
        const char* lines;  // all but the ok ones, the file's path as INI
    } cases[] = {
        {"PORTAL_SERVER_HOST=", "PROXY_SERVER_HOST=p\r\nPROXY_SERVER_PORT=1\r\nPORTAL_SERVER_HOTS=",
         "FAIL  configuration  INI: missing key PORTAL_SERVER_HOST\n"
         "warn  configuration  INI: line 3: unknown key \"PORTAL_SERVER_HOTS\" ignored; did you "
         "mean PORTAL_SERVER_HOST?\n"
         "FAIL  portal         http://:8080/agent/hello: no address to try"},
        {"PORTAL_SERVER_PORT=8080", "PORTAL_SERVER_PORT=80a8",
         "FAIL  configuration  INI: line 2: PORTAL_SERVER_PORT=80a8 is not a whole number; used "
         "80"},
        {"PORTAL_SERVER_PORT=8080", "PORTAL_SERVER_PORT=80800",
         "FAIL  configuration  INI: PORTAL_SERVER_PORT 80800 is no TCP port\n"
         "FAIL  portal         http://portal.example:80800/agent/hello: no address to try"},
        {"CYCLIC_USB_INTERVAL_ON_ERROR=20000", "CYCLIC_USB_INTERVAL_ON_ERROR=0",
         "warn  configuration  INI: CYCLIC_USB_INTERVAL_ON_ERROR 0 is taken as 60000 ms"},
    };
    const std::string path = (agent.folder.path() / "quorvel.ini").string();
    for (const auto& c : cases) {
        std::string ini = WiredAgent::configuration();
        ini.replace(ini.find(c.from), std::string(c.from).size(), c.to);
        const std::vector<Finding> findings = diagnose(ini);
        std::string lines;
        for (const Finding& f : findings) {
            std::string line = formatFinding(f);
            if (line.find(path) != std::string::npos) {
                line.replace(line.find(path), path.size(), "INI");
            }
            lines += f.verdict == Finding::Verdict::Ok ? "" : (lines.empty() ? "" : "\n") + line;
        }
        EXPECT_EQ(lines, c.lines) << c.to;
        EXPECT_EQ(exitCodeFor(findings), lines.find("FAIL") != std::string::npos) << c.to;
    }
}

// Direct or through which proxy, and what went wrong in words.
TEST_F(DiagnosisTest, ThePortalLineSaysWhatWasTriedOverWhichSchemeAndWhatWentWrong) {
    const std::string proxy = "PROXY_SERVER_HOST=proxy.example\r\nPROXY_SERVER_PORT=3128\r\n";
    const struct {
        const char* secure;
        int port;
        std::string more;  // further lines of the file
        int reached;       // 0: no address, 1: no connection, 2: connected
        std::string line;
    } cases[] = {
        {"", 8080, "", 2,
         "ok    portal         http://portal.example:8080/agent/hello: portal.example is "
         "192.0.2.7; TCP connection to portal.example:8080 opened directly (no hello sent)"},
        {"true", 443, "", 2,
         "ok    portal         https://portal.example:443/agent/hello: portal.example is "
         "192.0.2.7; TCP connection to portal.example:443 opened directly (no hello sent, "
         "certificate not checked)"},
        {"true", 80, "", 2,
         "warn  portal         https://portal.example:80/agent/hello: portal.example is "
         "192.0.2.7; TCP connection to portal.example:80 opened directly (no hello sent, "
         "certificate not checked); port 80 usually serves plain HTTP, not HTTPS"},
        {"TRUE", 443, "", 2,
         "warn  portal         http://portal.example:443/agent/hello: portal.example is "
         "192.0.2.7; TCP connection to portal.example:443 opened directly (no hello sent); "
         "port 443 usually serves HTTPS, but PORTAL_SERVER_SECURE is not true"},
        {"", 8080, "", 1,
         "FAIL  portal         http://portal.example:8080/agent/hello: no TCP connection to "
         "portal.example:8080: connection refused (10061)"},
        {"", 8080, proxy, 1,
         "FAIL  portal         http://portal.example:8080/agent/hello: no TCP connection to "
         "proxy proxy.example:3128 for portal.example:8080: connection refused (10061)"},
        {"", 8080, proxy, 0,
         "FAIL  portal         http://portal.example:8080/agent/hello: cannot resolve "
         "proxy.example (proxy proxy.example:3128 for portal.example:8080): host not found "
         "(11001)"},
    };
    for (const auto& c : cases) {
        std::string ini = WiredAgent::configuration();
        ini.replace(ini.find("PORTAL_SERVER_PORT=8080"), 23,
                    "PORTAL_SERVER_PORT=" + std::to_string(c.port));
        network.resolves = c.reached > 0;
        network.connects = c.reached > 1;
        const std::vector<Finding> findings =
            diagnose(ini + "PORTAL_SERVER_SECURE=" + c.secure + "\r\n" + c.more);
        EXPECT_EQ(lineFor(findings, "portal"), c.line);
        EXPECT_EQ(exitCodeFor(findings), c.line[0] == 'F') << c.line;
    }
    EXPECT_EQ(network.connected.back(), "proxy.example:3128");  // of the row before
}

TEST_F(DiagnosisTest, WhatTheAgentMakesItselfIsAWarningAMissingFileOfItsOwnFails) {
    agent.files.files.clear();
    agent.files.folders.clear();
    agent.dongle.setBaseUtilisation(55);
    agent.dongle.setAirtimePerByte(0);
    std::vector<Finding> findings = diagnose();
    EXPECT_EQ(exitCodeFor(findings), 0);
    EXPECT_EQ(lineFor(findings, "data folder").substr(0, 6), "warn  ");
    EXPECT_EQ(lineFor(findings, "run-time file").substr(0, 6), "warn  ");
    EXPECT_NE(lineFor(findings, "dongle").find("duty cycle 55% of 40% allowed"), std::string::npos);
    EXPECT_EQ(lineFor(findings, "dongle").substr(0, 6), "warn  ");

    std::filesystem::remove(agent.folder.path() / "quorvel.ini");
    std::filesystem::remove(agent.folder.path() / "resources" / "en.txt");
    findings = Diagnosis(agent.paths, agent.language, agent.files, agent.files, agent.hid, network,
                         agent.clock)
                   .run();
    EXPECT_EQ(exitCodeFor(findings), 1);
    EXPECT_NE(lineFor(findings, "configuration").find("not found; the agent stops at start"),
              std::string::npos);
    EXPECT_EQ(lineFor(findings, "language").substr(0, 6), "FAIL  ");
    // Without a configuration there is no dongle timeout or portal to try.
    EXPECT_EQ(lineFor(findings, "portal"), "");
}

// However Windows writes them back; anything else fails, and the repair step repairs it.
TEST_F(DiagnosisTest, TheDataFolderIsOkOnlyWithTheOwnerAndRightsTheSetupGivesIt) {
    const struct {
        const char* what;
        std::string descriptor;
        const char* named;  // in the FAIL line; nullptr: ok
    } cases[] = {
        {"as the setup sets it", dataFolderSecurity, nullptr},
        {"as Windows writes it back",
         "O:BAD:PAI(A;OIIO;0x13019f;;;S-1-5-32-545)(A;;0x1200ab;;;BU)(A;OICI;0x1f01ff;;;S-1-5-18)"
         "(A;OICI;FA;;;BA)(A;OIIO;0x13019f;;;OW)(A;;0x1200ab;;;S-1-3-4)",
         nullptr},
        {"made by a user's agent", std::string("O:S-1-5-21-1-2-3-1001") + dataFolderAccess,
         "owner S-1-5-21-1-2-3-1001, not Administrators"},
        {"with the rights of earlier releases",
         "O:BAD:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;BU)",
         "the access list takes entries from the folder above; Users has 0x1301bf on the "
         "folder itself, not 0x1200ab"},
        {"without the owner rights entries",
         "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;0x1200ab;;;BU)(A;OIIO;0x13019f;;;BU)",
         "OWNER RIGHTS has 0x0 on the folder itself, not 0x1200ab; OWNER RIGHTS has 0x0 on its "
         "files, not 0x13019f"},
        {"with a denial added", dataFolderSecurity + "(D;;FA;;;S-1-5-21-1-2-3-1001)",
         "an entry the setup does not make: (D;;FA;;;S-1-5-21-1-2-3-1001)"},
        {"unreadable", "", "its owner and access list cannot be read"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        agent.files.descriptors[dataFolder] = c.descriptor;
        const std::string line = lineFor(diagnose(), "data folder");
        if (c.named == nullptr) {
            EXPECT_EQ(line.substr(0, 6), "ok    ") << line;
            continue;
        }
        EXPECT_EQ(line.substr(0, 6), "FAIL  ") << line;
        EXPECT_NE(line.find(c.named), std::string::npos) << line;
        EXPECT_NE(line.find(repair), std::string::npos) << line;

        EXPECT_EQ(formatFinding(imposeRights(agent.files, "data folder", dataFolder,
                                             dataFolderSecurity, LinkInPlace::Replace))
                      .substr(0, 6),
                  "ok    ");
        EXPECT_EQ(lineFor(diagnose(), "data folder").substr(0, 6), "ok    ");
    }
}

TEST_F(DiagnosisTest, LinksInTheDataFolderAreNamed) {
    const std::string temporary = temporaryPathFor(wiredAgentDataFile);
    agent.files.links[dataFolder] = "D:\\elsewhere\\";
    std::string line = lineFor(diagnose(), "data folder");
    EXPECT_EQ(line,
              "FAIL  data folder    C:\\ProgramData\\quorvel\\ is a link to elsewhere; the "
              "agent neither reads nor writes through it" +
                  std::string(repair));

    agent.files.links = {{temporary, "D:\\theirs.dat"}};
    std::vector<Finding> findings = diagnose();
    EXPECT_EQ(exitCodeFor(findings), 1);
    EXPECT_EQ(lineFor(findings, "run-time file"),
              "FAIL  run-time file  " + temporary +
                  " is a link; the agent writes nothing while it is there: delete it");

    agent.files.links = {{wiredAgentDataFile, "D:\\theirs.dat"}};
    findings = diagnose();
    EXPECT_EQ(lineFor(findings, "run-time file").substr(0, 6), "warn  ");
    EXPECT_NE(lineFor(findings, "run-time file").find("is a link; the agent does not read it"),
              std::string::npos);
}

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
    // Nor does an upgrade fail for it (setting aside and taking back: the package's Wine test).
    EXPECT_EQ(setConfigurationAside(empty, kFolder + ".").exitCode, 0);
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

constexpr char kOurs[] = R"(C:\Program Files\Quorvel\quorvel.exe)";

// What a process does when it is opened and ended.
enum class Then { Ends, GoneBeforeOpen, Refused, EndsByItself, WillNotEnd, Lingers };
struct Process {
    std::string name;
    std::string image;  // for Refused: "" when not even its image can be read
    Then then = Then::Ends;
};

class FakeProcesses final : public AgentProcesses {
  public:
    Listing list() override {
        Listing listing{{}, listError};
        for (const auto& [pid, p] : table) {
            listing.processes.push_back({pid, p.name});
        }
        return listing;
    }
    Opening open(std::uint32_t pid) override {
        opened.push_back(pid);
        const Process& p = table.at(pid);
        return {p.then == Then::GoneBeforeOpen ? Access::Gone
                : p.then == Then::Refused      ? Access::Refused
                                               : Access::Opened,
                p.image, p.then == Then::Refused ? "OpenProcess: Access is denied (5)" : ""};
    }
    std::string end(std::uint32_t pid) override {
        const Then then = table.at(pid).then;
        if (then == Then::EndsByItself || then == Then::WillNotEnd) {
            return "TerminateProcess: Access is denied (5)";
        }
        ended.push_back(pid);
        return "";
    }
    bool waitGone(std::uint32_t pid, std::uint32_t) override {
        return table.at(pid).then != Then::WillNotEnd && table.at(pid).then != Then::Lingers;
    }

    std::map<std::uint32_t, Process> table;
    std::string listError;
    std::vector<std::uint32_t> opened;
    std::vector<std::uint32_t> ended;
};

TEST(EndAgents, EndsTheAgentsOfItsOwnFolderAndNamesEveryOneLeft) {
    const Process ours{"quorvel.exe", kOurs};
    const Process notepad{"notepad.exe", R"(C:\Windows\notepad.exe)"};
    struct Case {
        std::map<std::uint32_t, Process> processes;
        std::string listError;
        bool allEnded;
        std::vector<std::uint32_t> ended;
        std::string line;  // one of the lines printed
    };
    const std::vector<Case> cases = {
        // Its own folder's in whatever form the path comes; no other folder's.
        {{{10, ours},
          {11, {"QUORVEL.EXE", R"(\\?\c:\PROGRAM FILES\quorvel//Quorvel.exe)"}},
          {12, {"quorvel.exe", R"(C:\Program Files\Quorvel2\quorvel.exe)"}},
          {13, {"quorvel.exe", R"(C:\Program Files\Quorvel\old\quorvel.exe)"}},
          {14, notepad}},
         "",
         true,
         {10, 11},
         R"(quorvel.exe (process 12) left running: it runs from C:\Program Files\Quorvel2\quorvel.exe)"},
        // Gone between the list and the opening, or between it and the end.
        {{{20, {"quorvel.exe", kOurs, Then::GoneBeforeOpen}},
          {21, {"quorvel.exe", kOurs, Then::EndsByItself}}},
         "",
         true,
         {},
         "quorvel.exe (process 21) had already ended"},
        // Another folder's that may not be opened to be ended is none of ours.
        {{{30, {"quorvel.exe", R"(D:\Tools\quorvel.exe)", Then::Refused}}},
         "",
         true,
         {},
         R"(quorvel.exe (process 30) left running: it runs from D:\Tools\quorvel.exe)"},
        // Left running: each named, none keeping the others from being ended.
        {{{31, {"quorvel.exe", "", Then::Refused}}, {10, ours}},
         "",
         false,
         {10},
         "quorvel.exe (process 31) could not be opened to be ended: OpenProcess: Access is denied "
         "(5)"},
        {{{40, {"quorvel.exe", kOurs, Then::WillNotEnd}}, {10, ours}},
         "",
         false,
         {10},
         "quorvel.exe (process 40) could not be ended: TerminateProcess: Access is denied (5)"},
        {{{41, {"quorvel.exe", kOurs, Then::Lingers}}},
         "",
         false,
         {41},
         "quorvel.exe (process 41) was told to end but is still running after 10 s"},
        {{{10, ours}},
         "Process32NextW: failed (5)",
         false,
         {10},
         "the running programs could not be listed: Process32NextW: failed (5)"},
    };
    for (const Case& c : cases) {
        FakeProcesses processes;
        processes.table = c.processes;
        processes.listError = c.listError;
        const EndAgentsResult result = endAgents(processes, kOurs);
        EXPECT_EQ(result.allEnded, c.allEnded) << c.line;
        EXPECT_EQ(processes.ended, c.ended) << c.line;
        EXPECT_NE(std::find(result.lines.begin(), result.lines.end(), c.line), result.lines.end())
            << c.line;
        EXPECT_EQ(std::count(processes.opened.begin(), processes.opened.end(), 14u), 0);  // notepad
    }
}

}  // namespace
