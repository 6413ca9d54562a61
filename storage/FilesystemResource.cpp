#include "storage/FilesystemResource.h"

#include <exception>

#include "core/Log.h"
#include "core/MainWindowCommands.h"
#include "core/SystemPaths.h"

FilesystemResource::FilesystemResource(const SystemPaths& paths)
    : paths_(paths), configuration_(std::make_unique<InitialConfiguration>()) {}

int FilesystemResource::start() {
    return init();
}

int FilesystemResource::init() {
    try {
        log("reading init data: ...");
        const std::string configurationPath = folderOf(paths_.programPath()) + "quorvel.ini";
        log("configuration file path: ", configurationPath);

        auto configuration = std::make_unique<InitialConfiguration>();
        configuration->setFilePath(configurationPath);
        if (!configuration->exists()) {
            throw FatalError(
                "fatal error in [FilesystemResource::init]! initial configuration file doese't "
                "exist");
        }
        configuration->read();
        // No value is invented for a missing key; consumers see 0 or an empty
        // text, so say which keys those are.
        for (const std::string& key : configuration->missingKeys()) {
            log("missing key in initial configuration file: ", key);
        }
        configuration_ = std::move(configuration);

        log("reading init data: ok");
        return 0;
    } catch (const std::exception& error) {
        static const char message[] = "fatal error! reading init data.";
        sendToMainWindow(reinterpret_cast<uintptr_t>(message), ID_FATAL_ERROR);
        log("fatal error in [FilesystemResource::init]! reading init data. Exception:",
            std::string(error.what()));
        return -1;
    }
}
