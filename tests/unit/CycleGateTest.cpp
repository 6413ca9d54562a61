#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "core/CycleGate.h"

namespace {

using Strings = std::vector<std::string>;

// Work of a kind already waiting is not queued twice: one Open Portal, not two.
TEST(CycleGate, WorkHandedInWhileWorkRunsWaitsAndRunsAfterItInOrder) {
    CycleGate gate;
    Strings trace;
    gate.run("hello", [&] {
        trace.push_back("hello begins");
        gate.run("transmit", [&] { trace.push_back("transmit"); });
        for (int twice = 0; twice < 2; ++twice) {
            gate.run("open portal", [&] {
                trace.push_back("open portal");
                // Work queued by waiting work runs too.
                gate.run("hello", [&] { trace.push_back("second hello"); });
            });
        }
        EXPECT_TRUE(gate.running());
        trace.push_back("hello ends");
    });

    EXPECT_EQ(trace,
              (Strings{"hello begins", "hello ends", "transmit", "open portal", "second hello"}));
    EXPECT_FALSE(gate.running());
    EXPECT_EQ(gate.waiting(), 0u);
}

TEST(CycleGate, WorkThatThrowsLeavesTheGateOpen) {
    CycleGate gate;
    bool later = false;
    gate.run("hello", [&] {
        gate.run("transmit", [] { throw std::runtime_error("broken"); });
        throw std::runtime_error("broken too");
    });
    gate.run("hello", [&] { later = true; });
    EXPECT_TRUE(later);
    EXPECT_FALSE(gate.running());
}

}  // namespace
