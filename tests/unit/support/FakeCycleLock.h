#pragma once

#include <cstdint>
#include <vector>

#include "storage/CycleLock.h"

// The machine-wide cycle lock, free unless another agent is said to hold
// it; records how long each acquire was allowed to wait.
class FakeCycleLock final : public CycleLock {
  public:
    bool acquireWithin(int32_t milliseconds) override {
        waits.push_back(milliseconds);
        held = !heldElsewhere;
        return held;
    }
    void release() override { held = false; }

    bool heldElsewhere = false;
    bool held = false;
    std::vector<int32_t> waits;
};
