#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "check/EndAgents.h"
#include "core/win32/ScopedHandle.h"

// The machine's processes through the Toolhelp snapshot, each one to be
// ended opened once, by number, and from then on known by that opening.
class Win32AgentProcesses final : public AgentProcesses {
  public:
    Listing list() override;
    Opening open(std::uint32_t pid) override;
    std::string end(std::uint32_t pid) override;
    bool waitGone(std::uint32_t pid, std::uint32_t timeoutMs) override;

  private:
    std::map<std::uint32_t, std::unique_ptr<ScopedHandle>> opened_;
};

// The quorvel.exe beside the running program (quorvel-check), in its long
// form; empty when the program's own path cannot be read.
std::string agentImageBesideThisProgram();
