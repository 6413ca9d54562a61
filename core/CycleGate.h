#pragma once

#include <deque>
#include <functional>
#include <string>
#include <utility>

// Keeps the agent's cycles from nesting. A hello or a transmission can pump
// messages without meaning to (a cross-process send, a modal loop, the
// shell's COM calls), and a timer expiry or user command dispatched there
// would run a second dongle conversation or run-time-data update inside the
// first. Work handed in while other work runs, or while the gate is held
// (start-up), waits and runs once that has returned, in order. GUI thread
// only. Start-up makes one and hands it to the timer resource and the
// logger window.
class CycleGate {
  public:
    using Work = std::function<void()>;

    // Runs `work` now, or queues it. Work queued under a key that is
    // already waiting is dropped: the waiting one does the same job.
    void run(const std::string& key, Work work);

    // While held, everything waits; release runs what has waited.
    void hold();
    void release();

    bool running() const { return running_; }
    bool held() const { return holds_ > 0; }
    std::size_t waiting() const { return waiting_.size(); }

  private:
    void drain();

    bool running_ = false;
    int holds_ = 0;
    std::deque<std::pair<std::string, Work>> waiting_;
};
