#include "core/Main.h"

#include "core/Log.h"
#include "storage/FilesystemResource.h"

Main::Main(const Platform& platform) : platform_(platform) {}

Main::~Main() = default;

void Main::initialise() {
    log("Initialisation: ...");
    filesystem_ = std::make_unique<FilesystemResource>(*platform_.paths, *platform_.language,
                                                       *platform_.files);
    log("Initialisation: ok");
    start(filesystem_.get());
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
