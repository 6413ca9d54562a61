#include <windows.h>

#include "core/win32/ApplicationThread.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand) {
    ApplicationThread application;
    application.startThread();
    return application.run(instance, previous, commandLine, showCommand);
}
