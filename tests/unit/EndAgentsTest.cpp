// quorvel-check --end-agents against a made-up process table: which
// processes it ends, and when it must say that one is left.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "check/EndAgents.h"

namespace {

constexpr char kOurs[] = R"(C:\Program Files\Quorvel\quorvel.exe)";

// What a process does when it is opened and ended.
enum class Then { Ends, GoneBeforeOpen, Refused, EndsByItself, WillNotEnd, Lingers };

struct Process {
    std::uint32_t pid;
    std::string name;
    std::string image;  // for Refused: "" when not even its image can be read
    Then then = Then::Ends;
};

class FakeProcesses final : public AgentProcesses {
  public:
    Listing list() override {
        Listing listing{{}, listError};
        for (const Process& p : table) {
            listing.processes.push_back({p.pid, p.name});
        }
        return listing;
    }
    Opening open(std::uint32_t pid) override {
        const Process& p = find(pid);
        opened.push_back(pid);
        switch (p.then) {
            case Then::GoneBeforeOpen:
                return {Access::Gone, "", ""};
            case Then::Refused:
                return {Access::Refused, p.image, "OpenProcess: Access is denied (5)"};
            default:
                return {Access::Opened, p.image, ""};
        }
    }
    std::string end(std::uint32_t pid) override {
        const Then then = find(pid).then;
        if (then == Then::EndsByItself || then == Then::WillNotEnd) {
            return "TerminateProcess: Access is denied (5)";
        }
        ended.push_back(pid);
        return "";
    }
    bool waitGone(std::uint32_t pid, std::uint32_t) override {
        const Then then = find(pid).then;
        return then != Then::WillNotEnd && then != Then::Lingers;
    }

    const Process& find(std::uint32_t pid) const {
        return *std::find_if(table.begin(), table.end(),
                             [&](const Process& p) { return p.pid == pid; });
    }

    std::vector<Process> table;
    std::string listError;
    std::vector<std::uint32_t> opened;
    std::vector<std::uint32_t> ended;
};

TEST(EndAgents, EndsTheAgentsOfItsOwnFolderAndNamesEveryOneLeft) {
    struct Case {
        const char* what;
        std::vector<Process> processes;
        std::string listError;
        bool allEnded;
        std::vector<std::uint32_t> ended;
        std::string line;  // a line that must be among the output
    };
    const std::vector<Case> cases = {
        {"only quorvel.exe of its own folder, in whatever form the path is given",
         {{10, "quorvel.exe", kOurs},
          {11, "QUORVEL.EXE", R"(\\?\c:\PROGRAM FILES\quorvel//Quorvel.exe)"},
          {12, "quorvel.exe", R"(C:\Program Files\Quorvel2\quorvel.exe)"},
          {13, "quorvel.exe", R"(C:\Program Files\Quorvel\old\quorvel.exe)"},
          {14, "notepad.exe", R"(C:\Windows\notepad.exe)"}},
         "",
         true,
         {10, 11},
         R"(quorvel.exe (process 12) left running: it runs from C:\Program Files\Quorvel2\quorvel.exe)"},
        {"none running", {{14, "notepad.exe", R"(C:\Windows\notepad.exe)"}}, "", true, {},
         R"(no Quorvel agent runs from C:\Program Files\Quorvel\quorvel.exe)"},
        {"gone between the list and the opening",
         {{20, "quorvel.exe", kOurs, Then::GoneBeforeOpen}}, "", true, {},
         "quorvel.exe (process 20) had already ended"},
        {"gone between the opening and the end", {{21, "quorvel.exe", kOurs, Then::EndsByItself}},
         "", true, {}, "quorvel.exe (process 21) had already ended"},
        {"another folder's that may not be opened to be ended",
         {{30, "quorvel.exe", R"(D:\Tools\quorvel.exe)", Then::Refused}}, "", true, {},
         R"(quorvel.exe (process 30) left running: it runs from D:\Tools\quorvel.exe)"},
        {"one that cannot be opened, not even to read its image",
         {{31, "quorvel.exe", "", Then::Refused}, {10, "quorvel.exe", kOurs}}, "", false, {10},
         "quorvel.exe (process 31) could not be opened to be ended: OpenProcess: Access is denied "
         "(5)"},
        {"one that cannot be ended does not keep the others running",
         {{40, "quorvel.exe", kOurs, Then::WillNotEnd}, {10, "quorvel.exe", kOurs}}, "", false,
         {10}, "quorvel.exe (process 40) could not be ended: TerminateProcess: Access is denied (5)"},
        {"one that stays after being ended", {{41, "quorvel.exe", kOurs, Then::Lingers}}, "", false,
         {41}, "quorvel.exe (process 41) was told to end but is still running after 10 s"},
        {"a list cut short", {{10, "quorvel.exe", kOurs}}, "Process32NextW: failed (5)", false,
         {10}, "the running programs could not be listed: Process32NextW: failed (5)"},
    };
    for (const Case& c : cases) {
        FakeProcesses processes;
        processes.table = c.processes;
        processes.listError = c.listError;
        const EndAgentsResult result = endAgents(processes, kOurs);
        EXPECT_EQ(result.allEnded, c.allEnded) << c.what;
        EXPECT_EQ(processes.ended, c.ended) << c.what;
        EXPECT_NE(std::find(result.lines.begin(), result.lines.end(), c.line), result.lines.end())
            << c.what << "; lines:\n"
            << ::testing::PrintToString(result.lines);
        // Other programs are never opened.
        EXPECT_EQ(std::count(processes.opened.begin(), processes.opened.end(), 14u), 0) << c.what;
    }
}

}  // namespace
