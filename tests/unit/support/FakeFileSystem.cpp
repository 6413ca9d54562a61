#include "tests/unit/support/FakeFileSystem.h"

#include <algorithm>

#include "core/SystemPaths.h"

void FakeFileSystem::step() {
    if (crashAfterSteps >= 0 && steps_ >= crashAfterSteps) {
        throw SimulatedCrash();
    }
    ++steps_;
}

bool FakeFileSystem::throughLink(const std::string& path) const {
    return links.count(path) > 0 || links.count(folderOf(path)) > 0;
}

bool FakeFileSystem::readFile(const std::string& path, std::size_t maxBytes,
                              std::vector<uint8_t>& bytes) {
    const auto found = files.find(path);
    if (found == files.end() || throughLink(path)) {
        return false;
    }
    bytes.assign(found->second.begin(),
                 found->second.begin() +
                     static_cast<std::ptrdiff_t>(std::min(maxBytes, found->second.size())));
    return true;
}

bool FakeFileSystem::writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    ++writeCalls;
    if (refuseWrites || folders.count(folderOf(path)) == 0 || throughLink(path) ||
        files.count(path) > 0) {
        return false;
    }
    std::vector<uint8_t>& file = files[path];
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

bool FakeFileSystem::removeFile(const std::string& path) {
    if (throughLink(path)) {
        return false;
    }
    files.erase(path);
    return true;
}

bool FakeFileSystem::replaceFile(const std::string& from, const std::string& to) {
    const auto found = files.find(from);
    if (found == files.end() || links.count(folderOf(to)) > 0) {
        return false;
    }
    step();
    links.erase(to);
    files[to] = found->second;
    files.erase(from);
    return true;
}

bool FakeFileSystem::createFolder(const std::string& path) {
    if (links.count(path) == 0) {
        folders.insert(path);
    }
    return true;
}

FileState FakeFileSystem::probe(const std::string& path) {
    FileState state;
    if (files.count(path) > 0 || links.count(path) > 0) {
        state.exists = true;
    } else if (folders.count(path) > 0 || folders.count(path + "\\") > 0) {
        state.exists = true;
        state.folder = true;
    }
    state.writable = state.exists && !refuseWrites;
    state.link = throughLink(path);
    return state;
}

std::string FakeFileSystem::descriptorOf(const std::string& folder) {
    const auto found = descriptors.find(folder);
    return found == descriptors.end() ? std::string() : found->second;
}

RightsOutcome FakeFileSystem::impose(const std::string& folder, const std::string& descriptor,
                                     LinkInPlace link) {
    if (links.count(folder) > 0) {
        if (link == LinkInPlace::Refuse) {
            return RightsOutcome::Link;
        }
        links.erase(folder);
    }
    folders.insert(folder);
    descriptors[folder] = descriptor;
    return RightsOutcome::Set;
}
