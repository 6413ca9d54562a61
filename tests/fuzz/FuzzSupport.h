#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/Activity.h"
#include "core/Clock.h"
#include "core/Log.h"
#include "core/MainWindowCommands.h"

// A fuzz target stops at the first broken invariant, with the reason on
// stderr, so that libFuzzer keeps the input that broke it.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

// Logging on, every line built in full as in the field, so that a line made
// of bytes from outside goes through the whole logging path.
inline void fuzzLoggingOn() {
    struct Window final : MainWindowCommands {
        void appendLogLine(const std::string& line) override { FUZZ_CHECK(!line.empty()); }
        void showLogger() override {}
        void statusChanged() override {}
        void fatalError(const char*) override {}
    };
    static Window window;
    static const SystemClock clock;
    static const LogSink sink{window, clock};
    setLogSink(&sink);
    setLoggingEnabled(true);
}

template <typename TheEvent>
class OnEvent final : public EventActivity<OnEvent<TheEvent>, TheEvent> {
  public:
    explicit OnEvent(std::function<void(const TheEvent&)> onEvent) : onEvent_(std::move(onEvent)) {}
    static const char* className() { return "OnEvent"; }

  protected:
    void handle(const TheEvent& event) override { onEvent_(event); }

  private:
    std::function<void(const TheEvent&)> onEvent_;
};

// A file (`name` may hold subfolders) in a folder of this process's own, so
// that parallel fuzz jobs do not share it, in memory as it is rewritten for
// every input.
struct FuzzTempFile {
    explicit FuzzTempFile(const std::string& name)
        : folder("/dev/shm/quorvel-fuzz-" + std::to_string(::getpid()) + "/"), path(folder + name) {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    }
    ~FuzzTempFile() {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }

    bool write(const unsigned char* data, std::size_t size) const {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        file.close();
        return !file.fail();
    }

    const std::string folder;
    const std::string path;
};

// The lines of a KEY=value file as the agent's reader is documented to see
// them, written apart from the reader to be compared with it: LF ends a
// line, a CR before it goes too, a line longer than maxLength keeps its first
// maxLength characters (CR included), and a last line without LF counts.
inline std::vector<std::string> modelLines(const std::string& bytes, std::size_t maxLength) {
    std::vector<std::string> lines;
    for (std::string::size_type start = 0; start < bytes.size();) {
        const std::string::size_type end = std::min(bytes.find('\n', start), bytes.size());
        std::string line = bytes.substr(start, end - start);
        if (line.size() > maxLength) {
            line.resize(maxLength);
        } else if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}
