#pragma once

#include <list>
#include <map>
#include <string>

class Activity;
class Event;
template <typename Derived, typename TheEvent>
class EventActivity;

// Maps event names to the activities that handle them. Keys are compared by
// content, so any text equal to a class name finds its entry.
class ActivityRegistry {
  public:
    // Registers the activity under the name of the event its EventActivity
    // base handles; there is no other way in, so an activity and an event
    // that do not belong together do not compile. The later registration for
    // a name runs first.
    template <typename Derived, typename TheEvent>
    void add(EventActivity<Derived, TheEvent>* activity) {
        insert(TheEvent::className(), activity);
    }

    // Runs every activity registered for the event's name, depth-first and on
    // the calling thread; an unregistered name runs nothing.
    void fire(Event* event) const;

  private:
    void insert(const std::string& eventName, Activity* activity);

    std::map<std::string, std::list<Activity*>> activities_;
};
