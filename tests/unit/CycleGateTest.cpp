#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "core/CycleGate.h"

namespace {

using Strings = std::vector<std::string>;

TEST(CycleGate, WorkHandedInWhileWorkRunsWaitsAndRunsAfterItInOrder) {
    CycleGate gate;
    Strings trace;
    gate.run("hello", [&] {
        trace.push_back("hello begins");
        gate.run("transmit", [&] { trace.push_back("transmit"); });
        gate.run("open portal", [&] {
            trace.push_back("open portal");
            // Work queued by waiting work runs too.
            gate.run("hello", [&] { trace.push_back("second hello"); });
        });
        EXPECT_TRUE(gate.running());
        trace.push_back("hello ends");
    });

    EXPECT_EQ(trace,
              (Strings{"hello begins", "hello ends", "transmit", "open portal", "second hello"}));
    EXPECT_FALSE(gate.running());
    EXPECT_EQ(gate.waiting(), 0u);
}

TEST(CycleGate, AKeyAlreadyWaitingIsNotQueuedTwice) {
    CycleGate gate;
    int portals = 0;
    gate.run("hello", [&] {
        gate.run("open portal", [&] { ++portals; });
        gate.run("open portal", [&] { ++portals; });
    });
    EXPECT_EQ(portals, 1);
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
