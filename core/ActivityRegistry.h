#pragma once

#include <list>
#include <map>
#include <string>

class Activity;
class Event;

// Maps event names to the activities that handle them. Keys are compared by
// content, so any text equal to a class name finds its entry.
class ActivityRegistry {
  public:
    // The later registration for a name runs first.
    void add(Activity* activity, const std::string& eventName);

    // Runs every activity registered for the event's name, depth-first and on
    // the calling thread; an unregistered name runs nothing.
    void fire(Event* event) const;

    // Each registered event name with its activities' names, in the order
    // they run: what the wiring made of this registry.
    std::map<std::string, std::list<std::string>> registrations() const;

  private:
    std::map<std::string, std::list<Activity*>> activities_;
};
