#pragma once

class Event;

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

// Gives every concrete activity a getName equal to its class-level
// className, the text the dispatch log line shows.
template <typename Derived>
class NamedActivity : public Activity {
  public:
    const char* getName() const final { return Derived::className(); }

  protected:
    NamedActivity() = default;
    NamedActivity(const NamedActivity&) = default;
    NamedActivity& operator=(const NamedActivity&) = default;
    ~NamedActivity() = default;
};
