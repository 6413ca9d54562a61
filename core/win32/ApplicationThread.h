#pragma once

#include <windows.h>

class MainWindow;
struct Startup;

// The application object of the entry point: starts the initialisation
// thread and runs the main window on the GUI thread.
class ApplicationThread {
  public:
    ApplicationThread();
    void startThread();
    int run(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand);

  private:
    // Never deleted: the initialisation thread may still use them while the
    // process ends.
    Startup* startup_;
    MainWindow* window_;
    bool threadStarted_ = true;
};
