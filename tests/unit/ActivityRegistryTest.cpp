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

using Strings = std::vector<std::string>;

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
    Strings entries;
    std::vector<std::shared_ptr<void>> activities;
};

// Later registrations run first, each logged with the clock before it runs
// and nothing logged while logging is off; an event nobody registered runs
// nothing. (Fires inside activities, as every cycle makes them: CyclesTest.)
TEST_F(ActivityRegistryTest, LaterRegistrationsRunFirstEachLoggedBeforeItRuns) {
    clock.set(1325404989, 0);  // 2012-01-01 08:03:09 UTC
    clock.setProcessMilliseconds(1532);
    journal<NotifyUSBStateEvent>("First");
    journal<NotifyUSBStateEvent>("Second", [this] {
        entries.push_back("lines=" + std::to_string(window.logLines().size()));
    });
    NotifyUSBStateEvent event(true);
    registry.fire(&event);
    ContinueHelloEvent unregistered;
    registry.fire(&unregistered);
    EXPECT_EQ(entries, (Strings{"Second:NotifyUSBStateEvent", "lines=0", "Second:after",
                                "First:NotifyUSBStateEvent"}));
    EXPECT_TRUE(window.commands.empty());

    setLoggingEnabled(true);
    entries.clear();
    registry.fire(&event);
    const std::string line = " - [1532] 2012.1.1 8:3:9 - EventListener";
    EXPECT_EQ(window.logLines(), (Strings{line, line}));
    EXPECT_EQ(entries[1], "lines=1");
}

}  // namespace
