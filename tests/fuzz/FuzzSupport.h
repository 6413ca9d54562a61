#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/Clock.h"
#include "core/Log.h"
#include "core/MainWindowCommands.h"

// A fuzz target stops at the first broken invariant, with the reason on
// stderr, so that libFuzzer keeps the input that broke it.
#define FUZZ_CHECK(condition)                                                             \
    do {                                                                                  \
        if (!(condition)) {                                                               \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, \
                         #condition);                                                     \
            std::abort();                                                                 \
        }                                                                                 \
    } while (false)

// The log window's stand-in: every log line is built in full, as it is when
// logging is on in the field, and read once, so that a line made of bytes
// from outside goes through the whole logging path.
class FuzzLogWindow final : public MainWindowCommands {
  public:
    void appendLogLine(const std::string& line) override {
        FUZZ_CHECK(!line.empty());
        bytes_ += line.size();
    }
    void showLogger() override {}
    void statusChanged() override {}
    void fatalError(const char*) override {}

  private:
    std::size_t bytes_ = 0;
};

// Logging on through the stand-in window, once per process.
inline void fuzzLoggingOn() {
    static FuzzLogWindow window;
    static const SystemClock clock;
    static const LogSink sink{window, clock};
    setLogSink(&sink);
    setLoggingEnabled(true);
}

// A file in a temporary folder ($TMPDIR, else /dev/shm, else /tmp), named
// per process so that parallel fuzz jobs do not share it, removed when the
// process ends.
class FuzzTempFile {
  public:
    explicit FuzzTempFile(const std::string& name);
    ~FuzzTempFile();
    FuzzTempFile(const FuzzTempFile&) = delete;
    FuzzTempFile& operator=(const FuzzTempFile&) = delete;

    // Replaces the file's content; false when it cannot be written.
    bool write(const unsigned char* data, std::size_t size) const;
    const std::string& path() const { return path_; }
    const std::string& folder() const { return folder_; }

  private:
    std::string folder_;
    std::string path_;
};
