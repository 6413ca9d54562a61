#pragma once

#include <cstdint>
#include <utility>

#include "core/Event.h"
#include "core/FrameList.h"
#include "core/TimeStamp.h"

// The portal's answer delivered a new frame list.
class SendFramesEvent final : public NamedEvent<SendFramesEvent> {
  public:
    static const char* className() { return "SendFramesEvent"; }
    explicit SendFramesEvent(FrameList frames) : frames_(std::move(frames)) {}
    const FrameList& getFrames() const { return frames_; }

  private:
    FrameList frames_;
};

// A time for the next transmission has been decided.
class CyclicTransmitTimeEvent final : public NamedEvent<CyclicTransmitTimeEvent> {
  public:
    static const char* className() { return "CyclicTransmitTimeEvent"; }
    explicit CyclicTransmitTimeEvent(const TimeStamp& time) : time_(time) {}
    const TimeStamp& getTime() const { return time_; }

  private:
    TimeStamp time_;
};

// The transmit timer has expired. Its frame list is always empty: the frames
// to send are the stored ones.
class CyclicTransmitEvent final : public NamedEvent<CyclicTransmitEvent> {
  public:
    static const char* className() { return "CyclicTransmitEvent"; }
    explicit CyclicTransmitEvent(FrameList frames = {}) : frames_(std::move(frames)) {}
    const FrameList& getFrames() const { return frames_; }

  private:
    FrameList frames_;
};

// How the dongle's attempt ended, as the codes the outcome is known by.
enum class TransmitOutcome : int32_t {
    Sent = 0,               // the passes ran; the frames are done with
    DutyCycleExceeded = 1,  // nothing sent; the frames are dropped, the portal asked later
    DongleUnavailable = 2,  // nothing sent; the frames wait for another attempt
};

// The dongle's attempt has ended.
class ContinueTransmitEvent final : public NamedEvent<ContinueTransmitEvent> {
  public:
    static const char* className() { return "ContinueTransmitEvent"; }
    explicit ContinueTransmitEvent(TransmitOutcome code) : code_(code) {}
    TransmitOutcome getCode() const { return code_; }

  private:
    TransmitOutcome code_;
};
