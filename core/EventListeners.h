#pragma once

#include <functional>
#include <tuple>
#include <utility>

#include "core/Activity.h"
#include "core/ActivityRegistry.h"

// One activity for each listed event, all handing their event, typed, to the
// same callable: how tools and tests watch what a resource fires. A generic
// callable reaches each event's own type, so no name is compared and nothing
// cast. Registries point into this object, so it neither moves nor copies.
template <typename... Events>
class EventListeners {
  public:
    template <typename Sink>
    explicit EventListeners(const Sink& sink) : listeners_(Listener<Events>(sink)...) {}
    EventListeners(const EventListeners&) = delete;
    EventListeners& operator=(const EventListeners&) = delete;

    void listenTo(ActivityRegistry& registry) {
        std::apply([&registry](auto&... listener) { (registry.add(&listener), ...); },
                   listeners_);
    }

  private:
    template <typename TheEvent>
    class Listener final : public EventActivity<Listener<TheEvent>, TheEvent> {
      public:
        explicit Listener(std::function<void(const TheEvent&)> call) : call_(std::move(call)) {}
        static const char* className() { return "EventListener"; }

      protected:
        void handle(const TheEvent& event) override { call_(event); }

      private:
        std::function<void(const TheEvent&)> call_;
    };

    std::tuple<Listener<Events>...> listeners_;
};
