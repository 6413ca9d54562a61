#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "activities/UrlOpener.h"
#include "core/CycleGate.h"
#include "core/Main.h"
#include "core/SystemPaths.h"
#include "storage/CycleLock.h"
#include "storage/RunTimeData.h"
#include "tests/unit/support/FakeFileSystem.h"
#include "tests/unit/support/FakeHidPort.h"
#include "tests/unit/support/FakeHttpTransport.h"
#include "tests/unit/support/FakeMainWindow.h"
#include "tests/unit/support/FakeSystemLanguage.h"
#include "tests/unit/support/TempFolder.h"
#include "tests/unit/support/TestClock.h"
#include "timer/WindowTimers.h"
#include "tools/donglesim/DongleModel.h"

class FakeSystemPaths final : public SystemPaths {
  public:
    explicit FakeSystemPaths(std::string program, std::string appData = {})
        : program_(std::move(program)), appData_(std::move(appData)) {}
    std::string programPath() const override { return program_; }
    std::string commonAppDataFolder() const override { return appData_; }

  private:
    std::string program_;
    std::string appData_;
};

class FakeUrlOpener final : public UrlOpener {
  public:
    void open(const std::string& url) override { opened.push_back(url); }
    std::vector<std::string> opened;
};

// Free, held by another agent, or not to be had at all.
class FakeCycleLock final : public CycleLock {
  public:
    Turn acquireWithin(int32_t) override {
        // The real lock is recursive: taken again unreleased, it keeps other agents out.
        EXPECT_FALSE(held) << "the cycle lock taken again without a release";
        held = meets == Turn::taken;
        return meets;
    }
    void release() override { held = false; }

    // What an acquire meets: `taken` when the lock is free.
    Turn meets = Turn::taken;
    bool held = false;
};

// Expire only when a test says so; re-arming an id replaces its expiry, as real timers do.
class FakeWindowTimers final : public WindowTimers {
  public:
    struct Arming {
        unsigned id;
        uint32_t delay;
    };

    void arm(unsigned id, uint32_t delayMilliseconds, Expiry onExpiry) override {
        armings.push_back({id, delayMilliseconds});
        pending[id] = std::move(onExpiry);
    }
    void kill(unsigned id) override {
        kills.push_back(id);
        pending.erase(id);
    }

    // As the message loop would; false when none pending. Stays armed unless the expiry kills it.
    bool expire(unsigned id) {
        const auto found = pending.find(id);
        if (found == pending.end()) {
            return false;
        }
        const Expiry onExpiry = found->second;
        onExpiry();
        return true;
    }

    bool isPending(unsigned id) const { return pending.count(id) > 0; }

    std::vector<Arming> armings;
    std::vector<unsigned> kills;
    std::map<unsigned, Expiry> pending;
};

// The agent as start-up wires it, on fakes of every port; the dongle's waits move the clock.
class WiredAgent {
  public:
    // Every key set; intervals in milliseconds.
    static std::string configuration();

    WiredAgent();
    ~WiredAgent();
    WiredAgent(const WiredAgent&) = delete;
    WiredAgent& operator=(const WiredAgent&) = delete;

    // Writes quorvel.ini and runs start-up as the initialisation thread does.
    void start(const std::string& ini = configuration());
    // Stores a run-time record as an earlier run would have left it.
    void storeRunTimeData(const RunTimeData& data);

    // Runs the pending expiry as the message loop would; false when none is pending.
    bool expireHello() { return timers.expire(1); }
    bool expireTransmit() { return timers.expire(2); }
    // The delay the last arming of that timer was given.
    int64_t lastDelay(unsigned timerId) const;

    RunTimeData stored() const;
    int64_t millisecondsUntil(const TimeStamp& time) const;
    std::string lastHello() const;

    TestClock clock;
    FakeMainWindow window;
    LogCapture capture{window, clock};
    TempFolder folder;
    FakeSystemPaths paths;
    FakeFileSystem files;
    FakeCycleLock cycleLock;
    FakeSystemLanguage language;
    FakeWindowTimers timers;
    FakeHttpTransport portal;
    DongleModel dongle;
    FakeHidPort hid;
    FakeUrlOpener browser;
    CycleGate gate;
    std::unique_ptr<Main> main;
};

// The data file's path in the fake disk.
extern const char wiredAgentDataFile[];
