#include "core/CycleGate.h"

#include <algorithm>
#include <exception>

#include "core/Log.h"

namespace {

// Whatever one piece of work throws ends that piece only; the gate must
// come out of it open, or every later cycle would wait forever.
void runGuarded(const std::string& key, const CycleGate::Work& work) {
    try {
        work();
    } catch (const std::exception& error) {
        log("[CycleGate::run] " + key + " ended by an error: ", error.what());
    } catch (...) {
        log("[CycleGate::run] " + key + " ended by an unknown error");
    }
}

}  // namespace

void CycleGate::run(const std::string& key, Work work) {
    if (running_ || holds_ > 0) {
        const bool alreadyWaiting =
            std::any_of(waiting_.begin(), waiting_.end(),
                        [&key](const std::pair<std::string, Work>& w) { return w.first == key; });
        if (!alreadyWaiting) {
            waiting_.emplace_back(key, std::move(work));
        }
        return;
    }
    running_ = true;
    runGuarded(key, work);
    drain();
    running_ = false;
}

void CycleGate::hold() {
    ++holds_;
}

void CycleGate::release() {
    if (holds_ > 0) {
        --holds_;
    }
    if (holds_ == 0 && !running_) {
        running_ = true;
        drain();
        running_ = false;
    }
}

void CycleGate::drain() {
    while (holds_ == 0 && !waiting_.empty()) {
        std::pair<std::string, Work> next = std::move(waiting_.front());
        waiting_.pop_front();
        runGuarded(next.first, next.second);
    }
}
