#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "core/FrameList.h"
#include "core/InitialConfiguration.h"
#include "core/Outcome.h"
#include "core/Resource.h"
#include "core/RetryInterval.h"
#include "core/TimeStamp.h"
#include "storage/RunTimeData.h"

class Clock;
class CycleLock;
class FileSystem;
class MainWindowCommands;
class SystemLanguage;
class SystemPaths;

// Where the agent keeps its files: quorvel.ini beside the program and the
// run-time data in the all-users application-data folder.
std::string configurationFilePath(const SystemPaths& paths);
std::string runTimeFilePath(const SystemPaths& paths);
// The machine-wide cycle lock's file, beside the run-time data.
std::string cycleLockFilePath(const SystemPaths& paths);

// Owns everything the agent keeps on disk: the initial configuration beside
// the program and the run-time data in the all-users application-data
// folder. Every change of the run-time data is written at once; changes that
// move a deadline fire the event that schedules the next cycle.
class FilesystemResource : public Resource {
  public:
    // A fatal start-up error goes to `window`, which tells the user and ends
    // the program; `clock` dates the plans.
    FilesystemResource(const SystemPaths& paths, const SystemLanguage& language, FileSystem& files,
                       CycleLock& lock, MainWindowCommands& window, const Clock& clock);

    // How long a cycle waits for another user's agent to end its cycle. A
    // hello or transmission holds the lock for a dongle conversation and a
    // portal answer, well under a second when all is well; the wait blocks
    // this agent's window thread, so it stays short, and a holder that takes
    // longer (a portal near its deadline) costs the waiting cycle one error
    // interval, not the agent.
    static constexpr int32_t cycleLockWait = 5000;

    // The dongle and the run-time data are shared by every user's agent:
    // one cycle's work on them at a time, machine-wide. Takes the cycle
    // lock, waiting at most cycleLockWait, and then reads again what another
    // agent may have changed meanwhile. False (logged) when another agent
    // held it all that time: the cycle counts as failed. A lock that cannot
    // be had at all (the data folder gone, a link at the lock file's name)
    // stops nothing: the cycle goes ahead without it, as a lone agent would,
    // and its writes make the folder again. Use SharedWork.
    bool beginSharedWork(const char* cycle);
    void endSharedWork();

    // Runs init, then fires the first hello deadline and, with frames
    // pending, the first transmit deadline.
    int start() override;
    // Reads the configuration and the language texts and loads or creates
    // the run-time data. A fatal error is reported to the main window, which
    // tells the user and ends the program; returns -1 then.
    int init() override;

    RunTimeData& readRunTimeData();
    void writeRunTimeData();

    const InitialConfiguration& getConfiguration() const { return *configuration_; }
    // The configured interval as the agent waits it (see usableRetryInterval);
    // a replaced value is logged once.
    int32_t getRetryInterval(RetryInterval which) const;
    const std::string& getRunTimeFilePath() const { return runTimeFilePath_; }

    void setNextHelloTime(const TimeStamp& time);
    void scheduleHelloOnError();
    void setHelloReason(int32_t reason);
    void setDeviceInfos(const std::string& serialNumber, const std::string& firmwareVersion);
    void setNextTransmitTime(const TimeStamp& time);
    void setFrames(const FrameList& frames);
    FrameList getFrames() const;
    void clearFrames();
    int32_t incrementTransmitCounter();
    const std::string& getSerialNumber() const { return data_.serialNumber; }
    const std::string& getFirmwareVersion() const { return data_.firmwareVersion; }
    const RunTimeData& getRunTimeData() const { return data_; }

    // How many hellos and transmit steps (frames stored, cleared or a
    // transmission planned) have been decided so far: a cycle compares them
    // before and after its run to know whether its next step was planned.
    uint64_t getHelloPlans() const { return helloPlans_; }
    uint64_t getTransmitSteps() const { return transmitSteps_; }

  private:
    // init's steps; a failure is the text init logs with its fatal error,
    // and `reading` the file the failed step read.
    Outcome<Done> loadInitData(std::string& reading);
    // Takes from the file what every agent shares rather than plans for
    // itself: the transmit counter (when ahead of this agent's) and, at the
    // start of a cycle, the dongle's identity another agent read last and
    // the frames still to send (another agent may have sent or replaced
    // them), unless this agent's own change of them never reached it.
    void rereadSharedData(bool atCycleStart);
    void writeRecord();
    void fireHelloTime();
    void fireTransmitTime(const TimeStamp& time);

    const SystemPaths& paths_;
    const SystemLanguage& language_;
    FileSystem& files_;
    CycleLock& lock_;
    int lockDepth_ = 0;
    bool lockTaken_ = false;
    MainWindowCommands& window_;
    const Clock& clock_;
    std::unique_ptr<InitialConfiguration> configuration_;
    std::string runTimeFilePath_;
    RunTimeData data_;
    // A change of the frames has not reached the file yet (a failed write,
    // or one put off while another agent worked): this agent's are newer.
    bool framesUnsaved_ = false;
    uint64_t helloPlans_ = 0;
    uint64_t transmitSteps_ = 0;
    mutable std::mutex warnedLock_;
    mutable std::set<RetryInterval> warned_;
};

// One cycle's turn at the shared dongle and run-time data, given back when
// it ends; false when the turn was not had in time.
class SharedWork {
  public:
    SharedWork(FilesystemResource& filesystem, const char* cycle)
        : filesystem_(filesystem), held_(filesystem.beginSharedWork(cycle)) {}
    ~SharedWork() {
        if (held_) {
            filesystem_.endSharedWork();
        }
    }
    SharedWork(const SharedWork&) = delete;
    SharedWork& operator=(const SharedWork&) = delete;
    explicit operator bool() const { return held_; }

  private:
    FilesystemResource& filesystem_;
    bool held_;
};
