#pragma once

#include <memory>
#include <string>

#include "core/CycleGate.h"
#include "core/Main.h"
#include "storage/RunTimeData.h"
#include "tests/unit/support/FakeCycleLock.h"
#include "tests/unit/support/FakeFileSystem.h"
#include "tests/unit/support/FakeHidPort.h"
#include "tests/unit/support/FakeHttpTransport.h"
#include "tests/unit/support/FakeMainWindow.h"
#include "tests/unit/support/FakeSystemLanguage.h"
#include "tests/unit/support/FakeSystemPaths.h"
#include "tests/unit/support/FakeUrlOpener.h"
#include "tests/unit/support/FakeWindowTimers.h"
#include "tests/unit/support/TempFolder.h"
#include "tests/unit/support/TestClock.h"
#include "tools/donglesim/DongleModel.h"

// The whole agent as start-up wires it, on fakes of every port: a portal
// that plays scripted answers, a dongle model behind an in-memory HID port,
// window timers that expire when told, an in-memory disk, and one test
// clock that the dongle's waits advance too.
class WiredAgent {
  public:
    // Every key set; intervals in milliseconds.
    static std::string configuration();

    WiredAgent();
    ~WiredAgent();
    WiredAgent(const WiredAgent&) = delete;
    WiredAgent& operator=(const WiredAgent&) = delete;

    // Writes quorvel.ini and runs start-up as the initialisation thread does.
    Main& start(const std::string& ini = configuration());
    // Stores a run-time record as an earlier run would have left it.
    void storeRunTimeData(const RunTimeData& data);

    // Runs the pending hello or transmit expiry as the message loop would;
    // false when none is pending.
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
