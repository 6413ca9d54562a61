#include "tests/unit/support/FakeFileSystem.h"

#include <algorithm>

#include "core/SystemPaths.h"

void FakeFileSystem::step() {
    if (crashAfterSteps >= 0 && steps_ >= crashAfterSteps) {
        throw SimulatedCrash();
    }
    ++steps_;
}

bool FakeFileSystem::readFile(const std::string& path, std::size_t maxBytes,
                              std::vector<uint8_t>& bytes) {
    const auto found = files.find(path);
    if (found == files.end()) {
        return false;
    }
    bytes.assign(found->second.begin(),
                 found->second.begin() +
                     static_cast<std::ptrdiff_t>(std::min(maxBytes, found->second.size())));
    return true;
}

bool FakeFileSystem::writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    ++writeCalls;
    if (refuseWrites || folders.count(folderOf(path)) == 0) {
        return false;
    }
    std::vector<uint8_t>& file = files[path];
    file.clear();
    for (uint8_t byte : bytes) {
        if (failWriteAfterBytes >= 0 && static_cast<long>(file.size()) >= failWriteAfterBytes) {
            return false;
        }
        step();
        file.push_back(byte);
    }
    step();  // the flush
    return !failFlush;
}

bool FakeFileSystem::replaceFile(const std::string& from, const std::string& to) {
    const auto found = files.find(from);
    if (found == files.end()) {
        return false;
    }
    step();
    files[to] = found->second;
    files.erase(from);
    return true;
}

bool FakeFileSystem::createFolder(const std::string& path) {
    if (refuseFolders) {
        return false;
    }
    folders.insert(path);
    return true;
}

FileState FakeFileSystem::probe(const std::string& path) {
    FileState state;
    if (files.count(path) > 0) {
        state.exists = true;
    } else if (folders.count(path) > 0 || folders.count(path + "\\") > 0) {
        state.exists = true;
        state.folder = true;
    }
    state.writable = state.exists && !refuseWrites;
    return state;
}
