#pragma once

#include <cstring>
#include <exception>
#include <string>

#include "core/Event.h"
#include "core/Log.h"

// One piece of application logic, run synchronously when a resource fires the
// event it is registered for. Activities live until the process ends and are
// never deleted through this base.
class Activity {
  public:
    virtual const char* getName() const = 0;
    virtual void execute(Event* event) = 0;

  protected:
    Activity() = default;
    Activity(const Activity&) = default;
    Activity& operator=(const Activity&) = default;
    ~Activity() = default;
};

// An activity for one event class, and the only kind a registry takes: the
// registry reads the event from this base (ActivityRegistry::add), so an
// activity cannot be registered for an event it does not handle. getName is
// the class-level className, the text the dispatch log line shows. The event
// is checked against its class before it is handed on, and whatever the logic
// throws ends here: no failure crosses execute.
template <typename Derived, typename TheEvent>
class EventActivity : public Activity {
  public:
    const char* getName() const final { return Derived::className(); }

    void execute(Event* event) final {
        if (event == nullptr || std::strcmp(event->getName(), TheEvent::className()) != 0) {
            log(std::string("[") + Derived::className() +
                    "::execute] ignored an event it is not for: ",
                event != nullptr ? event->getName() : "none");
            return;
        }
        guarded([this, event] { handle(static_cast<const TheEvent&>(*event)); });
        guarded([this] { finished(); });
    }

  protected:
    EventActivity() = default;
    EventActivity(const EventActivity&) = default;
    EventActivity& operator=(const EventActivity&) = default;
    ~EventActivity() = default;

    virtual void handle(const TheEvent& event) = 0;
    // Runs after handle, also when it failed: where a cycle makes sure its
    // next step is planned.
    virtual void finished() {}

  private:
    template <typename Step>
    static void guarded(Step step) {
        try {
            step();
        } catch (const std::exception& error) {
            log(std::string("[") + Derived::className() + "::execute] stopped by an error: ",
                error.what());
        } catch (...) {
            log(std::string("[") + Derived::className() + "::execute] stopped by an unknown error");
        }
    }
};
