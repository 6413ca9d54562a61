#include "ui/Texts.h"

#include <map>
#include <mutex>
#include <utility>

#include "core/InitialConfiguration.h"
#include "core/Log.h"
#include "core/SystemPaths.h"
#include "core/TextFile.h"

namespace {

// init() runs on the initialisation thread while the GUI thread may already
// call get() for the tray menu or tooltip, so both take this lock. init()
// holds it only for each single insertion: never while reading the file and
// never while logging, because a log line is sent synchronously to the GUI
// thread, which could be waiting for the lock in get() at that moment.
std::mutex tableLock;

// A std::map never moves its nodes and entries are never changed or removed
// once inserted, so a reference to a text can be read without the lock.
std::map<std::string, std::string>& table() {
    static std::map<std::string, std::string> texts;
    return texts;
}

// Only the languages we ship a file for; the names are the ones Windows
// reports, compared exactly.
std::string languageCode(const std::string& englishName) {
    static const struct {
        const char* name;
        const char* code;
    } languages[] = {
        {"German", "de"}, {"English", "en"}, {"Spanish", "es"}, {"French", "fr"}, {"Italian", "it"},
    };
    for (const auto& language : languages) {
        if (englishName == language.name) {
            return language.code;
        }
    }
    return "en";
}

// The files live in "resources" beside the configuration file; the folder
// keeps the separator style the path already uses.
std::string languageFolder(const std::string& configurationPath) {
    const std::string folder = folderOf(configurationPath);
    const char separator =
        !folder.empty() && (folder.back() == '\\' || folder.back() == '/') ? folder.back() : '\\';
    return folder + "resources" + separator;
}

void insertIfAbsent(std::string name, std::string value) {
    const std::lock_guard<std::mutex> lock(tableLock);
    table().emplace(std::move(name), std::move(value));
}

}  // namespace

std::string Texts::filePath(const std::string& configurationPath, const SystemLanguage& language) {
    return languageFolder(configurationPath) + languageCode(language.englishName()) + ".txt";
}

void Texts::init(const std::string& configurationPath, const SystemLanguage& language) {
    const std::string code = languageCode(language.englishName());
    log("Texts::init:");
    const std::string folder = languageFolder(configurationPath);
    log("languageFilePath: " + folder);
    const std::string path = folder + code + ".txt";
    log("language file path: " + path);

    const bool opened = forEachLine(path, maxLineLength, [](const std::string& line) {
        if (line.size() < 2) {
            return;
        }
        const std::string::size_type equals = line.find('=');
        if (equals == std::string::npos) {
            // A line without a name still answers for itself.
            insertIfAbsent(line, line);
        } else {
            insertIfAbsent(line.substr(0, equals), line.substr(equals + 1));
        }
    });
    if (!opened) {
        throw FatalError(
            "fatal error! unable to open language file. It makes no sence to continue");
    }
}

const std::string& Texts::get(const std::string& key) {
    // A miss is not stored: a tooltip refreshed before init reads the file
    // would otherwise keep an empty text, since the first entry for a name
    // wins.
    static const std::string none;
    const std::lock_guard<std::mutex> lock(tableLock);
    const auto found = table().find(key);
    return found != table().end() ? found->second : none;
}

void Texts::resetForTesting() {
    const std::lock_guard<std::mutex> lock(tableLock);
    table().clear();
}
