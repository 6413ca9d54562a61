#pragma once

class Clock;
class CycleLock;
class FileSystem;
class HidPort;
class HttpTransport;
class MainWindowCommands;
class SystemLanguage;
class SystemPaths;
class UrlOpener;
class WindowTimers;

// The operating-system ports the agent's resources are built with. The
// Windows program fills it with its adapters; tests fill it with fakes.
struct Platform {
    MainWindowCommands* window = nullptr;
    const Clock* clock = nullptr;
    SystemPaths* paths = nullptr;
    FileSystem* files = nullptr;
    WindowTimers* timers = nullptr;
    HttpTransport* http = nullptr;
    UrlOpener* urlOpener = nullptr;
    SystemLanguage* language = nullptr;
    HidPort* hid = nullptr;
    CycleLock* cycleLock = nullptr;
};
