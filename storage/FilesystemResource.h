#pragma once

#include <memory>

#include "core/InitialConfiguration.h"
#include "core/Resource.h"

class SystemPaths;

// Owns what the agent keeps on disk, starting with the initial configuration
// beside the program.
class FilesystemResource : public Resource {
  public:
    explicit FilesystemResource(const SystemPaths& paths);

    // Runs init; nothing else starts when it fails.
    int start() override;
    // Finds and reads the configuration. A fatal error is reported to the
    // main window, which tells the user and ends the program; returns -1 then.
    int init() override;

    const InitialConfiguration& getConfiguration() const { return *configuration_; }

  private:
    const SystemPaths& paths_;
    std::unique_ptr<InitialConfiguration> configuration_;
};
