// quorvel-check --end-agents: ends the agents that run from one
// installation, whichever session or desktop they run in, so that the setup
// and the uninstaller can replace or remove quorvel.exe. The agent's Exit
// command reaches only an agent on the caller's own desktop; this reaches
// every one the caller has the rights for. Nothing is lost by ending an
// agent: every change of its state is on disk as it happens.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What the logic needs of the machine's processes.
class AgentProcesses {
  public:
    struct Listed {
        std::uint32_t pid = 0;
        std::string name;  // the program's file name, as the process list has it
    };
    enum class Access { Opened, Gone, Refused };
    struct Opening {
        Access access = Access::Refused;
        std::string image;  // the full path of the program file, when opened
        std::string error;  // why not, in words, when refused
    };

    struct Listing {
        std::vector<Listed> processes;
        std::string error;  // why the list is not whole, in words
    };

    virtual ~AgentProcesses() = default;
    // Every process on the machine.
    virtual Listing list() = 0;
    // Opens one to be looked at and ended; its image is read through the
    // same opening, so a number reused meanwhile is never mistaken for it.
    virtual Opening open(std::uint32_t pid) = 0;
    // Ends an opened process; "" when done, else why not.
    virtual std::string end(std::uint32_t pid) = 0;
    // Whether an opened process is gone within `timeoutMs`.
    virtual bool waitGone(std::uint32_t pid, std::uint32_t timeoutMs) = 0;
};

struct EndAgentsResult {
    bool allEnded = true;            // no agent of the installation is left
    std::vector<std::string> lines;  // one per quorvel.exe process, in words
};

// How long one ended agent may take to be gone.
inline constexpr std::uint32_t kAgentGoneTimeoutMs = 10000;

// Ends every quorvel.exe process whose program file is `agentImage`;
// quorvel.exe from any other folder is left alone.
EndAgentsResult endAgents(AgentProcesses& processes, const std::string& agentImage);

// The form in which two Windows paths to the same file compare equal:
// without a \\?\ prefix, backslashes only, no doubled separators, ASCII
// letters in lower case (the system hands out both paths, so only their
// case and form may differ).
std::string comparablePath(const std::string& path);
