#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "activities/HelloEvents.h"
#include "activities/StatusEvents.h"
#include "core/ActivityRegistry.h"
#include "core/EventListeners.h"
#include "core/Log.h"
#include "tests/unit/support/FakeMainWindow.h"
#include "tests/unit/support/TestClock.h"

namespace {

class ActivityRegistryTest : public ::testing::Test {
  protected:
    // Registers an activity for TheEvent that notes "label:EventName" in the
    // journal, then runs `nested` and notes "label:after".
    template <typename TheEvent>
    void journal(const std::string& label, std::function<void()> nested = nullptr) {
        auto activity = std::make_unique<EventListeners<TheEvent>>(
            [this, label, nested](const TheEvent& event) {
                entries.push_back(label + ":" + event.getName());
                if (nested) {
                    nested();
                    entries.push_back(label + ":after");
                }
            });
        activity->listenTo(registry);
        activities.push_back(std::move(activity));
    }

    TestClock clock;
    FakeMainWindow window;
    LogCapture capture{window, clock};
    ActivityRegistry registry;
    std::vector<std::string> entries;
    std::vector<std::shared_ptr<void>> activities;
};

TEST_F(ActivityRegistryTest, UnregisteredEventRunsAndLogsNothing) {
    setLoggingEnabled(true);
    journal<CyclicHelloEvent>("Hello");

    ContinueHelloEvent other;
    registry.fire(&other);

    EXPECT_TRUE(entries.empty());
    EXPECT_TRUE(window.commands.empty());
}

TEST_F(ActivityRegistryTest, LaterRegistrationRunsFirst) {
    journal<CyclicHelloEvent>("First");
    journal<CyclicHelloEvent>("Second");

    CyclicHelloEvent event(3);
    registry.fire(&event);

    EXPECT_EQ(entries,
              (std::vector<std::string>{"Second:CyclicHelloEvent", "First:CyclicHelloEvent"}));
}

TEST_F(ActivityRegistryTest, NestedFireCompletesBeforeTheOuterActivityGoesOn) {
    journal<IntervalEvent>("Outer", [this] {
        CyclicHelloTimeEvent timeEvent(TimeStamp{}, 0);
        registry.fire(&timeEvent);
    });
    journal<CyclicHelloTimeEvent>("Inner");

    IntervalEvent event(60000);
    registry.fire(&event);

    EXPECT_EQ(entries, (std::vector<std::string>{"Outer:IntervalEvent",
                                                 "Inner:CyclicHelloTimeEvent", "Outer:after"}));
}

TEST_F(ActivityRegistryTest, RegistrationDuringDispatchWaitsForTheNextFire) {
    bool registered = false;
    journal<StartSessionEvent>("First", [this, &registered] {
        if (!registered) {
            registered = true;
            journal<StartSessionEvent>("Late");
        }
    });

    StartSessionEvent event;
    registry.fire(&event);
    EXPECT_EQ(entries, (std::vector<std::string>{"First:StartSessionEvent", "First:after"}));

    entries.clear();
    registry.fire(&event);
    EXPECT_EQ(entries, (std::vector<std::string>{"Late:StartSessionEvent",
                                                 "First:StartSessionEvent", "First:after"}));
}

TEST_F(ActivityRegistryTest, EachDispatchLogsTheActivityWithTheClockBeforeItRuns) {
    setLoggingEnabled(true);
    clock.set(1325404989, 0);  // 2012-01-01 08:03:09 UTC
    clock.setProcessMilliseconds(1532);
    journal<NotifyUSBStateEvent>("First");
    journal<NotifyUSBStateEvent>("Second", [this] {
        // The log line for this activity is already there when it runs.
        entries.push_back("lines=" + std::to_string(window.logLines().size()));
    });

    NotifyUSBStateEvent event(true);
    registry.fire(&event);

    const std::string line = " - [1532] 2012.1.1 8:3:9 - EventListener";
    EXPECT_EQ(window.logLines(), (std::vector<std::string>{line, line}));
    EXPECT_EQ(entries[1], "lines=1");
}

TEST_F(ActivityRegistryTest, ActivitiesRunWithLoggingOff) {
    journal<NotifyHTTPStateEvent>("First");

    NotifyHTTPStateEvent event(false);
    registry.fire(&event);

    EXPECT_EQ(entries.size(), 1u);
    EXPECT_TRUE(window.commands.empty());
}

TEST(EventNames, EveryEventNameIsItsClassName) {
    EXPECT_STREQ(CyclicHelloTimeEvent(TimeStamp{}, 0).getName(), "CyclicHelloTimeEvent");
    EXPECT_STREQ(NotifyDutyCycleStateEvent(true).getName(), "NotifyDutyCycleStateEvent");
    EXPECT_STREQ(SetPortalURLEvent().getName(), "SetPortalURLEvent");
    EXPECT_STREQ(UserInterfaceEvent().getName(), "UserInterfaceEvent");
}

}  // namespace
