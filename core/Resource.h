#pragma once

#include <memory>

#include "core/ActivityRegistry.h"

// Owns one piece of the outside world and raises events on its own registry.
class Resource {
  public:
    Resource();
    virtual ~Resource();
    Resource(const Resource&) = delete;
    Resource& operator=(const Resource&) = delete;

    virtual int start() = 0;
    virtual int init() = 0;
    virtual ActivityRegistry& getActivities();

  private:
    std::unique_ptr<ActivityRegistry> activities_;
};
