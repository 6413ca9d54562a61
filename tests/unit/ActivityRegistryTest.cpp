#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "activities/HelloEvents.h"
#include "activities/StatusEvents.h"
#include "core/Activity.h"
#include "core/ActivityRegistry.h"
#include "core/Log.h"
#include "tests/unit/support/FakeMainWindow.h"
#include "tests/unit/support/TestClock.h"

namespace {

// Appends its name to a shared journal and optionally runs a nested step.
class JournalActivity final : public Activity {
  public:
    JournalActivity(const char* name, std::vector<std::string>& journal)
        : name_(name), journal_(journal) {}
    const char* getName() const override { return name_; }
    void execute(Event* event) override {
        journal_.push_back(std::string(name_) + ":" + event->getName());
        if (nested) {
            nested();
            journal_.push_back(std::string(name_) + ":after");
        }
    }
    std::function<void()> nested;

  private:
    const char* name_;
    std::vector<std::string>& journal_;
};

class ActivityRegistryTest : public ::testing::Test {
  protected:
    TestClock clock;
    FakeMainWindow window;
    LogCapture capture{window, clock};
    ActivityRegistry registry;
    std::vector<std::string> journal;
};

TEST_F(ActivityRegistryTest, UnregisteredEventRunsAndLogsNothing) {
    setLoggingEnabled(true);
    JournalActivity hello("CyclicHelloActivity", journal);
    registry.add(&hello, CyclicHelloEvent::className());

    ContinueHelloEvent other;
    registry.fire(&other);

    EXPECT_TRUE(journal.empty());
    EXPECT_TRUE(window.commands.empty());
}

TEST_F(ActivityRegistryTest, LaterRegistrationRunsFirst) {
    JournalActivity first("First", journal);
    JournalActivity second("Second", journal);
    registry.add(&first, "CyclicHelloEvent");
    registry.add(&second, "CyclicHelloEvent");

    CyclicHelloEvent event(3);
    registry.fire(&event);

    EXPECT_EQ(journal,
              (std::vector<std::string>{"Second:CyclicHelloEvent", "First:CyclicHelloEvent"}));
}

TEST_F(ActivityRegistryTest, NestedFireCompletesBeforeTheOuterActivityGoesOn) {
    JournalActivity outer("Outer", journal);
    JournalActivity inner("Inner", journal);
    registry.add(&outer, "IntervalEvent");
    registry.add(&inner, "CyclicHelloTimeEvent");
    outer.nested = [this] {
        CyclicHelloTimeEvent timeEvent(TimeStamp{}, 0);
        registry.fire(&timeEvent);
    };

    IntervalEvent event(60000);
    registry.fire(&event);

    EXPECT_EQ(journal, (std::vector<std::string>{"Outer:IntervalEvent",
                                                 "Inner:CyclicHelloTimeEvent", "Outer:after"}));
}

TEST_F(ActivityRegistryTest, NamesAreComparedByContentNotByAddress) {
    JournalActivity hello("CyclicHelloActivity", journal);
    char storedName[] = "CyclicHelloEvent";
    registry.add(&hello, std::string(storedName));
    storedName[0] = 'X';  // the registry must hold its own copy

    CyclicHelloEvent event(1);
    registry.fire(&event);

    EXPECT_EQ(journal, std::vector<std::string>{"CyclicHelloActivity:CyclicHelloEvent"});
}

TEST_F(ActivityRegistryTest, RegistrationDuringDispatchWaitsForTheNextFire) {
    JournalActivity first("First", journal);
    JournalActivity late("Late", journal);
    registry.add(&first, "StartSessionEvent");
    first.nested = [this, &late] { registry.add(&late, "StartSessionEvent"); };

    StartSessionEvent event;
    registry.fire(&event);
    EXPECT_EQ(journal, (std::vector<std::string>{"First:StartSessionEvent", "First:after"}));

    journal.clear();
    first.nested = nullptr;
    registry.fire(&event);
    EXPECT_EQ(journal,
              (std::vector<std::string>{"Late:StartSessionEvent", "First:StartSessionEvent"}));
}

TEST_F(ActivityRegistryTest, EachDispatchLogsTheActivityWithTheClockBeforeItRuns) {
    setLoggingEnabled(true);
    clock.set(1325404989, 0);  // 2012-01-01 08:03:09 UTC
    clock.setProcessMilliseconds(1532);
    JournalActivity first("First", journal);
    JournalActivity second("Second", journal);
    registry.add(&first, "NotifyUSBStateEvent");
    registry.add(&second, "NotifyUSBStateEvent");
    second.nested = [this] {
        // The log line for Second is already there when Second runs.
        journal.push_back("lines=" + std::to_string(window.logLines().size()));
    };

    NotifyUSBStateEvent event(true);
    registry.fire(&event);

    EXPECT_EQ(window.logLines(), (std::vector<std::string>{" - [1532] 2012.1.1 8:3:9 - Second",
                                                           " - [1532] 2012.1.1 8:3:9 - First"}));
    EXPECT_EQ(journal[1], "lines=1");
}

TEST_F(ActivityRegistryTest, ActivitiesRunWithLoggingOff) {
    JournalActivity first("First", journal);
    registry.add(&first, "NotifyHTTPStateEvent");

    NotifyHTTPStateEvent event(false);
    registry.fire(&event);

    EXPECT_EQ(journal.size(), 1u);
    EXPECT_TRUE(window.commands.empty());
}

TEST(EventNames, EveryEventNameIsItsClassName) {
    EXPECT_STREQ(CyclicHelloTimeEvent(TimeStamp{}, 0).getName(), "CyclicHelloTimeEvent");
    EXPECT_STREQ(NotifyDutyCycleStateEvent(true).getName(), "NotifyDutyCycleStateEvent");
    EXPECT_STREQ(SetPortalURLEvent().getName(), "SetPortalURLEvent");
    EXPECT_STREQ(UserInterfaceEvent().getName(), "UserInterfaceEvent");
}

}  // namespace
