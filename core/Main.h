#pragma once

#include <functional>

#include "core/Platform.h"

class FilesystemResource;

// Creates the agent's resources and activities once, wires them through the
// resources' registries and starts the agent. Everything it creates lives
// until the process ends.
class Main {
  public:
    explicit Main(const Platform& platform) : platform_(platform) {}

    // Runs on the initialisation thread.
    void initialise();
    int start(FilesystemResource* filesystem);

    FilesystemResource* filesystemResource() const { return filesystem_; }

  private:
    Platform platform_;
    FilesystemResource* filesystem_ = nullptr;
};

// The initialisation thread's first step: wait, half a second at a time and
// at most maxWaits times, until the main window exists. Returns the number
// of waits made.
int waitForMainWindow(const std::function<bool()>& windowExists,
                      const std::function<void()>& waitHalfASecond, int maxWaits = 10);
