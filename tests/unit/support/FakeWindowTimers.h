#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "timer/WindowTimers.h"

// Window timers that expire only when a test says so. Records every arm and
// kill; re-arming an id replaces its expiry, as the real timers do.
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

    // Runs the expiry of a pending timer as the message loop would; false
    // when none is pending. Like a window timer, it stays armed unless the
    // expiry kills it.
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
