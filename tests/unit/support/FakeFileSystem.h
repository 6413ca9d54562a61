#pragma once

#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "storage/FileSystem.h"
#include "storage/FolderRights.h"

// Thrown by the fake when a simulated power loss or kill stops the writer.
struct SimulatedCrash : std::runtime_error {
    SimulatedCrash() : std::runtime_error("simulated crash") {}
};

// Each byte written, flush and replace is a step; at `crashAfterSteps` the writer stops.
// `links`: names (a folder's with its backslash) that lead elsewhere; `descriptors`: SDDL.
class FakeFileSystem final : public FileSystem, public FolderRights {
  public:
    bool readFile(const std::string& path, std::size_t maxBytes,
                  std::vector<uint8_t>& bytes) override;
    bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) override;
    bool removeFile(const std::string& path) override;
    bool replaceFile(const std::string& from, const std::string& to) override;
    bool createFolder(const std::string& path) override;
    FileState probe(const std::string& path) override;

    std::string descriptorOf(const std::string& folder) override;
    RightsOutcome impose(const std::string& folder, const std::string& descriptor,
                         LinkInPlace link) override;

    std::map<std::string, std::vector<uint8_t>> files;
    std::set<std::string> folders;
    std::map<std::string, std::string> links;
    std::map<std::string, std::string> descriptors;
    long crashAfterSteps = -1;  // -1: never
    // As a full disk: the file keeps the bytes written so far, the call fails. -1: never.
    long failWriteAfterBytes = -1;
    bool failFlush = false;  // every byte written, then the flush fails
    bool refuseWrites = false;
    int writeCalls = 0;

  private:
    void step();
    // Whether the name, or the folder it is in, is a link.
    bool throughLink(const std::string& path) const;
    long steps_ = 0;
};
