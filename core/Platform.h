#pragma once

class SystemPaths;

// The operating-system ports the agent's resources are built with. The
// Windows program fills it with its adapters; tests fill it with fakes.
struct Platform {
    SystemPaths* paths = nullptr;
};
