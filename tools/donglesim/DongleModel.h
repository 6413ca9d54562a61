#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "core/Log.h"

// Behaves as the radio dongle does, with no hardware: it takes output
// reports, answers with input reports, and keeps a duty-cycle utilisation
// that grows with the airtime of the frames it broadcasts. Faults can be
// switched on to stand for a dongle that misbehaves. Not thread-safe; a
// server that shares it between threads locks around it.
class DongleModel {
  public:
    struct Identity {
        std::string serialNumber = "QV12345678";  // up to 10 characters are sent
        uint16_t radioAddress = 0x0AFF;
        uint16_t firmwareVersion = 258;
    };

    // What the model does when it gets a report it knows.
    enum class Request { DeviceInformation, DutyCycle, Frame, Unknown };

    DongleModel();
    explicit DongleModel(Identity identity);

    // Takes one output report; the answers it causes are queued.
    Request receive(const ReportBuffer& report);
    // The next queued answer, if any.
    bool takeAnswer(ReportBuffer& answer);
    std::size_t pendingAnswers() const { return answers_.size(); }

    // Configuration.
    void setIdentity(const Identity& identity) { identity_ = identity; }
    void setBaseUtilisation(uint8_t percent) { baseUtilisation_ = percent; }
    // Airtime per broadcast byte, in microseconds (38.4 kbit/s: about 208).
    void setAirtimePerByte(uint32_t microseconds) { airtimePerByteUs_ = microseconds; }
    // Acknowledge frames in the 0x90/0x00 form instead of 0x82/0x01.
    void setStatusStyleAcknowledgement(bool on) { statusStyleAck_ = on; }

    // Faults.
    void setSilent(bool on) { silent_ = on; }                             // answers nothing
    void setAcknowledgementsMuted(bool on) { muted_ = on; }               // frames go unanswered
    void setWrongAnswersBeforeEach(int count) { wrongAnswers_ = count; }  // noise first
    void setRejectFrames(bool on) { rejectFrames_ = on; }                 // 0x82 with status 0x00
    // The dongle disappears right after answering this kind of request.
    void unplugAfter(Request request) { unplugAfter_ = request; }
    // Milliseconds between a request and its answers; the server applies it.
    void setAnswerDelay(uint32_t milliseconds) { answerDelayMs_ = milliseconds; }
    uint32_t answerDelay() const { return answerDelayMs_; }

    bool plugged() const { return plugged_; }
    void plug() { plugged_ = true; }
    void unplug() {
        plugged_ = false;
        answers_.clear();
    }

    // Percent of the hour's 1 % airtime allowance used, as the dongle reports it.
    uint8_t utilisation() const;
    uint64_t airtimeMicroseconds() const { return airtimeUs_; }
    const std::vector<ReportBuffer>& received() const { return received_; }
    // Frames broadcast, in order, as the telegram bytes D0, D2.. after the
    // checksum was found right.
    const std::vector<std::vector<uint8_t>>& broadcast() const { return broadcast_; }
    void clearHistory() {
        received_.clear();
        broadcast_.clear();
    }

    static Request classify(const ReportBuffer& report);

  private:
    void answer(const ReportBuffer& report);
    bool acceptFrame(const ReportBuffer& report);

    Identity identity_;
    uint8_t baseUtilisation_ = 0;
    uint32_t airtimePerByteUs_ = 208;
    uint64_t airtimeUs_ = 0;
    bool statusStyleAck_ = false;
    bool silent_ = false;
    bool muted_ = false;
    int wrongAnswers_ = 0;
    bool rejectFrames_ = false;
    Request unplugAfter_ = Request::Unknown;
    uint32_t answerDelayMs_ = 0;
    bool plugged_ = true;
    std::deque<ReportBuffer> answers_;
    std::vector<ReportBuffer> received_;
    std::vector<std::vector<uint8_t>> broadcast_;
};
