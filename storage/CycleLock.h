#pragma once

#include <cstdint>

// The machine-wide lock that lets one agent at a time work on what every
// user's agent shares: the dongle and the run-time data. One agent runs per
// session, so two logged-on users run two agents; without it their dongle
// conversations interleave and both take the same transmit counter value.
// A holder that ends, or crashes, loses it to the system.
class CycleLock {
  public:
    enum class Turn {
        taken,     // held until release
        busy,      // another agent held it all the time allowed
        unusable,  // it cannot be had at all (logged by the adapter)
    };

    virtual ~CycleLock() = default;
    // Takes the lock, trying for at most `milliseconds` (0: one try).
    virtual Turn acquireWithin(int32_t milliseconds) = 0;
    // Gives back a lock this agent holds.
    virtual void release() = 0;
};
