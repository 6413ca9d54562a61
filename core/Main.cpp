#include "core/Main.h"

#include "core/Log.h"
#include "storage/FilesystemResource.h"

void Main::initialise() {
    log("Initialisation: ...");
    // Never deleted: activities and window procedures keep pointers to the
    // resources for the life of the process.
    filesystem_ = new FilesystemResource(*platform_.paths);
    log("Initialisation: ok");
    start(filesystem_);
}

int Main::start(FilesystemResource* filesystem) {
    log("------------------ Main::start");
    filesystem->start();
    return 0;
}

int waitForMainWindow(const std::function<bool()>& windowExists,
                      const std::function<void()>& waitHalfASecond, int maxWaits) {
    int waits = 0;
    while (!windowExists() && waits < maxWaits) {
        waitHalfASecond();
        ++waits;
    }
    return waits;
}
