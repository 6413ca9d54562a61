#pragma once

#include <windows.h>

#include "core/win32/ScopedHandle.h"

// The named mutex that lets one copy of the agent run at a time, held for
// the lock's lifetime.
class SingleInstanceLock {
  public:
    explicit SingleInstanceLock(const char* name);

    // True when another copy holds the name, and also when the name cannot
    // be had at all: a copy of another user, started elevated, makes a
    // mutex this one may not open, and CreateMutex then gives no handle.
    // Running beside that copy would be two agents on one dongle.
    bool anotherCopyRuns() const { return anotherCopyRuns_; }

  private:
    const ScopedHandle mutex_;
    const bool anotherCopyRuns_;
};
