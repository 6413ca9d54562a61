#pragma once

#include <cstdint>
#include <functional>

// One-shot deadlines on the main window. Expiries run on the GUI thread,
// inside its message loop, so a cycle started by one never overlaps another.
class WindowTimers {
  public:
    using Expiry = std::function<void()>;

    virtual ~WindowTimers() = default;
    // Arms timer `id` to expire after the delay; a timer with the same id
    // that is still pending is replaced, never doubled. May be called from
    // any thread. The timer keeps running until it is killed, so an expiry
    // handler that wants one shot kills it first.
    virtual void arm(unsigned id, uint32_t delayMilliseconds, Expiry onExpiry) = 0;
    virtual void kill(unsigned id) = 0;
};
