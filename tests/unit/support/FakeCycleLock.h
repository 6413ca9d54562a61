#pragma once

#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "storage/CycleLock.h"

// The machine-wide cycle lock: free, held by another agent, or not to be had
// at all; records how long each acquire was allowed to wait.
class FakeCycleLock final : public CycleLock {
  public:
    Turn acquireWithin(int32_t milliseconds) override {
        // The real lock is recursive: taken again unreleased, it would keep
        // every other agent out until this one ends.
        EXPECT_FALSE(held) << "the cycle lock taken again without a release";
        waits.push_back(milliseconds);
        held = meets == Turn::taken;
        return meets;
    }
    void release() override { held = false; }

    // What an acquire meets: `taken` when the lock is free.
    Turn meets = Turn::taken;
    bool held = false;
    std::vector<int32_t> waits;
};
