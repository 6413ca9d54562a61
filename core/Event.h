#pragma once

// Something a resource reports. An event lives only for the fire call that
// carries it, on the firing thread's stack, so it is never deleted through
// this base and needs no virtual destructor.
class Event {
  public:
    virtual const char* getName() const = 0;

  protected:
    Event() = default;
    Event(const Event&) = default;
    Event& operator=(const Event&) = default;
    ~Event() = default;
};

// Gives every concrete event a getName equal to its class-level className, so
// registration (by class) and dispatch (by object) can never disagree.
template <typename Derived>
class NamedEvent : public Event {
  public:
    const char* getName() const final { return Derived::className(); }

  protected:
    NamedEvent() = default;
    NamedEvent(const NamedEvent&) = default;
    NamedEvent& operator=(const NamedEvent&) = default;
    ~NamedEvent() = default;
};
