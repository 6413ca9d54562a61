#include "core/ActivityRegistry.h"

#include "core/Activity.h"
#include "core/Event.h"
#include "core/Log.h"

void ActivityRegistry::insert(const std::string& eventName, Activity* activity) {
    activities_[eventName].push_front(activity);
}

void ActivityRegistry::fire(Event* event) const {
    auto found = activities_.find(event->getName());
    if (found == activities_.end()) {
        return;
    }
    // Iterate a copy: an activity may register further handlers while it runs
    // without disturbing this dispatch.
    const std::list<Activity*> handlers = found->second;
    for (Activity* activity : handlers) {
        log(clockTimeText(), activity->getName());
        activity->execute(event);
    }
}
