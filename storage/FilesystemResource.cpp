#include "storage/FilesystemResource.h"

#include "activities/HelloEvents.h"
#include "activities/TransmitEvents.h"
#include "core/Clock.h"
#include "core/Log.h"
#include "core/MainWindowCommands.h"
#include "core/SystemPaths.h"
#include "storage/CycleLock.h"
#include "storage/FileSystem.h"
#include "ui/Texts.h"

namespace {

// Appends a relative path with exactly one backslash between, as the shell's
// PathAppend does.
std::string appendPath(const std::string& folder, const std::string& relative) {
    if (folder.empty() || folder.back() == '\\' || folder.back() == '/') {
        return folder + relative;
    }
    return folder + "\\" + relative;
}

std::string bounded(const std::string& text, std::size_t width) {
    return text.substr(0, width - 1);
}

// What the user is shown when start-up cannot read one of the program's own
// files: the fixed first line, then the file with its full path, so that
// whoever reads it knows what to put where.
std::string fatalInitErrorText(const std::string& unreadFile) {
    return "fatal error! reading init data.\r\ncannot read " + unreadFile;
}

}  // namespace

std::string configurationFilePath(const SystemPaths& paths) {
    return folderOf(paths.programPath()) + "quorvel.ini";
}

std::string runTimeFilePath(const SystemPaths& paths) {
    return appendPath(paths.commonAppDataFolder(), "quorvel\\quorvel.dat");
}

std::string cycleLockFilePath(const SystemPaths& paths) {
    return appendPath(paths.commonAppDataFolder(), "quorvel\\quorvel.lock");
}

FilesystemResource::FilesystemResource(const SystemPaths& paths, const SystemLanguage& language,
                                       FileSystem& files, CycleLock& lock,
                                       MainWindowCommands& window, const Clock& clock)
    : paths_(paths),
      language_(language),
      files_(files),
      lock_(lock),
      window_(window),
      clock_(clock),
      configuration_(std::make_unique<InitialConfiguration>()) {}

int FilesystemResource::start() {
    const int result = init();
    if (result != 0) {
        return result;
    }
    fireHelloTime();
    if (!getFrames().empty()) {
        fireTransmitTime(data_.nextTransmitTime);
    } else {
        log("Frames are empty, CyclicTransmitTimeEvent will not be fired in "
            "[FilesystemResource::start]");
    }
    return 0;
}

int FilesystemResource::init() {
    std::string reading;
    const Outcome<Done> loaded = loadInitData(reading);
    if (loaded) {
        return 0;
    }
    // The window may still show the text after the send has returned; init
    // runs once per process, on the initialisation thread.
    static std::string message;
    message = fatalInitErrorText(reading);
    window_.fatalError(message.c_str());
    log("fatal error in [FilesystemResource::init]! reading init data. Exception:",
        loaded.failure());
    return -1;
}

Outcome<Done> FilesystemResource::loadInitData(std::string& reading) {
    log("reading init data: ...");
    const std::string configurationPath = configurationFilePath(paths_);
    log("configuration file path: ", configurationPath);
    reading = configurationPath;

    auto configuration = std::make_unique<InitialConfiguration>(&window_);
    configuration->setFilePath(configurationPath);
    if (!configuration->exists()) {
        return Failure{
            "fatal error in [FilesystemResource::init]! initial configuration file doese't "
            "exist"};
    }
    try {
        reading = Texts::filePath(configurationPath, language_);
        Texts::init(configurationPath, language_);
        reading = configurationPath;
        configuration->read();
    } catch (const FatalError& error) {
        // The language texts and the configuration reader raise their own
        // fatal error when their file cannot be opened.
        return Failure{error.what()};
    }
    configuration_ = std::move(configuration);

    runTimeFilePath_ = runTimeFilePath(paths_);
    log("run time file path: ", runTimeFilePath_);
    // A fresh machine has no folder of ours yet; without it nothing would
    // ever be kept across restarts.
    files_.createFolder(folderOf(runTimeFilePath_));

    data_ = RunTimeData();
    data_.nextHelloTime = clock_.now();
    data_.nextTransmitTime = clock_.now();
    readRunTimeData();

    log("reading init data: ok");
    return Done{};
}

RunTimeData& FilesystemResource::readRunTimeData() {
    // The port reports a file it cannot open or read as missing; decoding
    // takes any bytes. So nothing here fails: the record is loaded or made.
    std::vector<uint8_t> bytes;
    if (!files_.readFile(runTimeFilePath_, RunTimeData::fileSize, bytes)) {
        log("run time file not found! generate a new one form ini file.");
        data_.nextHelloTime = clock_.now();
        data_.nextTransmitTime = clock_.now();
        data_.firmwareVersion.clear();
        data_.transmitCounter = 0;
        data_.serialNumber.clear();
        data_.helloReason = configuration_->getReason();
        data_.frames.clear();
        writeRunTimeData();
        return data_;
    }
    log("found run time file.");
    const RunTimeData stored = decodeRunTimeData(bytes);
    data_.nextHelloTime = stored.nextHelloTime;
    data_.nextTransmitTime = stored.nextTransmitTime;
    data_.firmwareVersion = stored.firmwareVersion;
    data_.transmitCounter = stored.transmitCounter;
    data_.serialNumber = stored.serialNumber;
    data_.helloReason = stored.helloReason;
    // Through the frame list and back, so doubled or stray commas from an
    // older file leave exactly one comma after each frame.
    storeFrames(framesOf(stored.frames), data_.frames);
    return data_;
}

bool FilesystemResource::beginSharedWork(const char* cycle) {
    if (lockDepth_ > 0) {
        ++lockDepth_;
        return true;
    }
    const CycleLock::Turn turn = lock_.acquireWithin(cycleLockWait);
    if (turn == CycleLock::Turn::busy) {
        log(std::string("[FilesystemResource::beginSharedWork] another agent holds the cycle "
                        "lock, ") +
                cycle + " counted as failed after waiting [ms]: ",
            int64_t{cycleLockWait});
        return false;
    }
    if (turn == CycleLock::Turn::unusable) {
        log(std::string("[FilesystemResource::beginSharedWork] the cycle lock cannot be used, ") +
            cycle + " goes ahead without it");
    }
    lockTaken_ = turn == CycleLock::Turn::taken;
    ++lockDepth_;
    rereadSharedData(true);
    return true;
}

void FilesystemResource::endSharedWork() {
    if (lockDepth_ > 0 && --lockDepth_ == 0 && lockTaken_) {
        lockTaken_ = false;
        lock_.release();
    }
}

void FilesystemResource::rereadSharedData(bool atCycleStart) {
    std::vector<uint8_t> bytes;
    if (runTimeFilePath_.empty() ||
        !files_.readFile(runTimeFilePath_, RunTimeData::fileSize, bytes)) {
        return;
    }
    const RunTimeData stored = decodeRunTimeData(bytes);
    // Ahead as the counter wraps; a value of this agent's own that a full
    // disk kept from the file is not taken back.
    if (static_cast<int32_t>(static_cast<uint32_t>(stored.transmitCounter) -
                             static_cast<uint32_t>(data_.transmitCounter)) > 0) {
        data_.transmitCounter = stored.transmitCounter;
    }
    if (atCycleStart) {
        data_.serialNumber = stored.serialNumber;
        data_.firmwareVersion = stored.firmwareVersion;
        // Frames read at start-up or stored by this agent may have been sent
        // by another user's agent since: sending them again would repeat
        // them under a new counter, and writing them back would do so later.
        if (!framesUnsaved_) {
            data_.frames = stored.frames;
        }
    }
}

void FilesystemResource::writeRunTimeData() {
    if (lockDepth_ > 0) {
        writeRecord();
        return;
    }
    // Outside a cycle (start-up, a plan made when the lock was not had) the
    // record is written only while no other agent works, and with the
    // counter as it stands on disk, so that a value another agent has taken
    // is never written back to be taken again.
    const CycleLock::Turn turn = lock_.acquireWithin(0);
    if (turn == CycleLock::Turn::busy) {
        log("[FilesystemResource::writeRunTimeData] another agent holds the cycle lock, the run "
            "time data is kept in memory until the next change");
        return;
    }
    rereadSharedData(false);
    writeRecord();
    if (turn == CycleLock::Turn::taken) {
        lock_.release();
    }
}

void FilesystemResource::writeRecord() {
    const RunTimeDataBytes record = encodeRunTimeData(data_);
    const std::vector<uint8_t> bytes(record.begin(), record.end());
    if (writeFileAtomically(files_, runTimeFilePath_, bytes)) {
        framesUnsaved_ = false;
        return;
    }
    // The folder may have been removed while the agent ran.
    if (files_.createFolder(folderOf(runTimeFilePath_)) &&
        writeFileAtomically(files_, runTimeFilePath_, bytes)) {
        framesUnsaved_ = false;
        return;
    }
    log("fatal error in [FilesystemResource::writeRunTimeData]! can't write RunTimeData in file "
        "system");
}

int32_t FilesystemResource::getRetryInterval(RetryInterval which) const {
    const int32_t configured = configuration_->getConfiguredInterval(which);
    const int32_t usable = usableRetryInterval(configured);
    if (usable != configured) {
        const std::lock_guard<std::mutex> hold(warnedLock_);
        if (warned_.insert(which).second) {
            log(std::string("[FilesystemResource::getRetryInterval] ") +
                    InitialConfiguration::keyOf(which) + " is " + decimalText(configured) +
                    ", waiting instead [ms]: ",
                int64_t{usable});
        }
    }
    return usable;
}

void FilesystemResource::setNextHelloTime(const TimeStamp& time) {
    ++helloPlans_;
    data_.nextHelloTime = time;
    writeRunTimeData();
    fireHelloTime();
}

void FilesystemResource::scheduleHelloOnError() {
    setNextHelloTime(clock_.timeStampIn(getRetryInterval(RetryInterval::HelloOnError)));
}

void FilesystemResource::setHelloReason(int32_t reason) {
    data_.helloReason = reason;
    writeRunTimeData();
}

void FilesystemResource::setDeviceInfos(const std::string& serialNumber,
                                        const std::string& firmwareVersion) {
    const std::string serial = bounded(serialNumber, RunTimeData::serialNumberWidth);
    const std::string firmware = bounded(firmwareVersion, RunTimeData::firmwareVersionWidth);
    // Every hello reads the same dongle; writing the record for nothing
    // costs each hello a safe write (several milliseconds under Wine).
    if (serial == data_.serialNumber && firmware == data_.firmwareVersion) {
        return;
    }
    data_.serialNumber = serial;
    data_.firmwareVersion = firmware;
    writeRunTimeData();
}

void FilesystemResource::setNextTransmitTime(const TimeStamp& time) {
    ++transmitSteps_;
    data_.nextTransmitTime = time;
    writeRunTimeData();
    fireTransmitTime(time);
}

void FilesystemResource::setFrames(const FrameList& frames) {
    ++transmitSteps_;
    const std::size_t leftOut = storeFrames(frames, data_.frames);
    framesUnsaved_ = true;
    if (leftOut > 0) {
        log("frames do not fit the run time data, left out: ", static_cast<int64_t>(leftOut));
    }
    writeRunTimeData();
    fireTransmitTime(clock_.now());
}

FrameList FilesystemResource::getFrames() const {
    return framesOf(data_.frames);
}

void FilesystemResource::clearFrames() {
    ++transmitSteps_;
    data_.frames.clear();
    framesUnsaved_ = true;
    writeRunTimeData();
}

int32_t FilesystemResource::incrementTransmitCounter() {
    // Wraps like the dongle's three counter bits do, instead of overflowing.
    data_.transmitCounter = static_cast<int32_t>(static_cast<uint32_t>(data_.transmitCounter) + 1u);
    writeRunTimeData();
    return data_.transmitCounter;
}

void FilesystemResource::fireHelloTime() {
    CyclicHelloTimeEvent event(data_.nextHelloTime, data_.helloReason);
    getActivities().fire(&event);
}

void FilesystemResource::fireTransmitTime(const TimeStamp& time) {
    CyclicTransmitTimeEvent event(time);
    getActivities().fire(&event);
}
