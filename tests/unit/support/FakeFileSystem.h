#pragma once

#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "storage/FileSystem.h"

// Thrown by the fake when a simulated power loss or kill stops the writer.
struct SimulatedCrash : std::runtime_error {
    SimulatedCrash() : std::runtime_error("simulated crash") {}
};

// An in-memory disk. Every byte written, every flush and every replace is
// one step; with `crashAfterSteps` set, the writer is stopped at that step
// and the disk keeps exactly what had reached it: a file being written holds
// the bytes written so far, as a torn write would leave it.
class FakeFileSystem final : public FileSystem {
  public:
    bool readFile(const std::string& path, std::size_t maxBytes,
                  std::vector<uint8_t>& bytes) override;
    bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) override;
    bool replaceFile(const std::string& from, const std::string& to) override;
    bool createFolder(const std::string& path) override;
    FileState probe(const std::string& path) override;

    std::map<std::string, std::vector<uint8_t>> files;
    std::set<std::string> folders;
    long crashAfterSteps = -1;  // -1: never
    // A write that fails part-way, as a full disk does: the file keeps the
    // bytes written so far and the call reports failure. -1: never.
    long failWriteAfterBytes = -1;
    bool failFlush = false;  // every byte written, then the flush fails
    bool refuseWrites = false;
    bool refuseFolders = false;
    int writeCalls = 0;

  private:
    void step();
    long steps_ = 0;
};
