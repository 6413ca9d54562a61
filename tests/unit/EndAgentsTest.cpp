// quorvel-check --end-agents against a made-up process table.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "check/EndAgents.h"

namespace {

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
        {{{14, notepad}}, "", true, {}, std::string("no Quorvel agent runs from ") + kOurs},
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
        const std::string lines = ::testing::PrintToString(result.lines);
        EXPECT_EQ(result.allEnded, c.allEnded) << lines;
        EXPECT_EQ(processes.ended, c.ended) << lines;
        EXPECT_NE(std::find(result.lines.begin(), result.lines.end(), c.line), result.lines.end())
            << c.line << " not in " << lines;
        EXPECT_EQ(std::count(processes.opened.begin(), processes.opened.end(), 14u), 0)
            << "opened another program";
    }
}

}  // namespace
