// The simulated dongle under Wine (donglesim.exe), driven over its loopback
// control port, and the agent's HID code (dongleprobe.exe) run against it.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/WineHarness.h"

namespace quorvel::e2e {

class DongleSimulator {
  public:
    DongleSimulator(const WineSetup& setup, const std::filesystem::path& folder);
    ~DongleSimulator();
    DongleSimulator(const DongleSimulator&) = delete;
    DongleSimulator& operator=(const DongleSimulator&) = delete;

    std::string command(const std::string& line);
    // The answer's words after "ok" (empty when the answer was an error).
    std::vector<std::string> values(const std::string& line);

    CommandResult probe(const std::vector<std::string>& args,
                        milliseconds timeout = milliseconds(30000)) const;

  private:
    const WineSetup& setup_;
    std::filesystem::path folder_;
    WineProcess simulator_;
    int socket_ = -1;
    std::string pending_;
};

}  // namespace quorvel::e2e
