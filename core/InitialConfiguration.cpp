#include "core/InitialConfiguration.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <variant>

#include "core/Log.h"
#include "core/MainWindowCommands.h"
#include "core/Text.h"
#include "core/TextFile.h"

namespace {

using Kind = ConfigurationMistake::Kind;

// What readInteger takes in full: a sign and digits within 32 bits. Blanks
// around them change nothing it reads, so they are no mistake.
bool isWholeNumber(const std::string& value) {
    const std::string::size_type first = value.find_first_not_of(" \t");
    const std::string::size_type last = value.find_last_not_of(" \t");
    if (first == std::string::npos) {
        return false;
    }
    const bool negative = value[first] == '-';
    std::string::size_type i = first + ((negative || value[first] == '+') ? 1 : 0);
    if (i > last) {
        return false;
    }
    int64_t magnitude = 0;
    for (; i <= last; ++i) {
        if (value[i] < '0' || value[i] > '9') {
            return false;
        }
        magnitude = std::min<int64_t>(magnitude * 10 + (value[i] - '0'), int64_t{1} << 40);
    }
    return magnitude <= (negative ? int64_t{1} << 31 : (int64_t{1} << 31) - 1);
}

// Edits (a letter changed, added, dropped, or two swapped) between two names,
// letter case not counted: names are case-sensitive, so a lower-case key is
// a slip to point out as much as a typo.
std::size_t editDistance(const std::string& a, const std::string& b) {
    const auto same = [](char x, char y) {
        return std::toupper(static_cast<unsigned char>(x)) ==
               std::toupper(static_cast<unsigned char>(y));
    };
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) {
        for (std::size_t j = 0; j <= b.size(); ++j) {
            if (i == 0 || j == 0) {
                d[i][j] = i + j;
                continue;
            }
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1,
                                d[i - 1][j - 1] + (same(a[i - 1], b[j - 1]) ? 0 : 1)});
            if (i > 1 && j > 1 && same(a[i - 1], b[j - 2]) && same(a[i - 2], b[j - 1])) {
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
    }
    return d[a.size()][b.size()];
}

}  // namespace

std::string describe(const ConfigurationMistake& mistake) {
    const std::string at = "line " + decimalText(mistake.line) + ": ";
    const std::string setting = mistake.key + "=" + withControlsShown(mistake.value);
    switch (mistake.kind) {
        case Kind::UnknownKey: {
            const std::string nearest = InitialConfiguration::nearestKey(mistake.key);
            return at + "unknown key \"" + withControlsShown(mistake.key) + "\" ignored" +
                   (nearest.empty() ? "" : "; did you mean " + nearest + "?");
        }
        case Kind::NotANumber:
            return at + setting + " is not a whole number; used " + mistake.used;
        case Kind::NotTrueOrFalse:
            return at + setting + " is neither true nor false; used " + mistake.used;
        case Kind::MissingKey:
            return "missing key " + mistake.key;
    }
    return "";
}

struct InitialConfiguration::Setting {
    // ENABLE_LOGGING: switches the process's logging and is kept in no field.
    struct LoggingSwitch {};
    using Field =
        std::variant<std::string InitialConfiguration::*,
                     std::optional<std::string> InitialConfiguration::*,
                     int32_t InitialConfiguration::*, bool InitialConfiguration::*, LoggingSwitch>;
    enum Need { optional, required };

    Setting(const char* name, Field into, Need needed,
            std::optional<RetryInterval> interval = std::nullopt)
        : key(name), field(into), need(needed), retry(interval) {}

    const char* key;
    Field field;
    // A required key gets no invented value when the file lacks it; its
    // consumers see 0 or an empty text, so it is listed as missing.
    Need need;
    std::optional<RetryInterval> retry;
};

// In the order a line's name is compared with them.
const std::vector<InitialConfiguration::Setting>& InitialConfiguration::settings() {
    using C = InitialConfiguration;
    static const std::vector<Setting> table = {
        {"PORTAL_SERVER_HOST", &C::portalServerHost_, Setting::required},
        {"PORTAL_SERVER_PORT", &C::portalServerPort_, Setting::required},
        {"PROXY_SERVER_HOST", &C::proxyServerHost_, Setting::optional},
        {"PROXY_SERVER_PORT", &C::proxyServerPort_, Setting::optional},
        {"PORTAL_SERVER_URI", &C::portalServerUri_, Setting::required},
        // Absent means plain HTTP, as before the key existed.
        {"PORTAL_SERVER_SECURE", &C::portalServerSecure_, Setting::optional},
        {"SOFTWARE_VERSION", &C::softwareVersion_, Setting::required},
        {"REASON", &C::reason_, Setting::required},
        {"CYCLIC_HELLO_INTERVAL_ON_ERROR", &C::cyclicHelloIntervalOnError_, Setting::required,
         RetryInterval::HelloOnError},
        {"CYCLIC_USB_INTERVAL_ON_ERROR", &C::cyclicUsbIntervalOnError_, Setting::required,
         RetryInterval::UsbOnError},
        {"MAX_DUTYCYCLE_UTILISATION", &C::maxDutyCycleUtilisation_, Setting::required},
        {"CYCLIC_HELLO_INTERVAL_ON_DUTY_CYCLE", &C::cyclicHelloIntervalOnDutyCycle_,
         Setting::required, RetryInterval::HelloOnDutyCycle},
        {"SEND_FRAMES_REPEAT", &C::sendFramesRepeat_, Setting::required},
        {"MAX_USB_WRITE_BUFFER_RETRY", &C::maxUsbWriteBufferRetry_, Setting::required},
        {"USB_WAIT_TIMEOUT", &C::usbWaitTimeout_, Setting::required},
        {"PARTNER", &C::partner_, Setting::required},
        {"ENABLE_LOGGING", Setting::LoggingSwitch{}, Setting::optional},
    };
    return table;
}

const InitialConfiguration::Setting* InitialConfiguration::settingFor(const std::string& key) {
    for (const Setting& setting : settings()) {
        if (key == setting.key) {
            return &setting;
        }
    }
    return nullptr;
}

std::optional<InitialConfiguration::ValueKind> InitialConfiguration::valueKindOf(
    const std::string& key) {
    const Setting* setting = settingFor(key);
    if (setting == nullptr) {
        return std::nullopt;
    }
    struct Kind {
        ValueKind operator()(int32_t InitialConfiguration::*) const { return ValueKind::Number; }
        ValueKind operator()(bool InitialConfiguration::*) const { return ValueKind::Switch; }
        ValueKind operator()(Setting::LoggingSwitch) const { return ValueKind::Switch; }
        ValueKind operator()(std::string InitialConfiguration::*) const { return ValueKind::Text; }
        ValueKind operator()(std::optional<std::string> InitialConfiguration::*) const {
            return ValueKind::Text;
        }
    };
    return std::visit(Kind{}, setting->field);
}

std::string InitialConfiguration::nearestKey(const std::string& name) {
    // Two edits at most: further than that a suggestion is more likely
    // wrong than helpful.
    std::size_t best = 3;
    std::string nearest;
    for (const Setting& setting : settings()) {
        // The lengths alone rule most names out; a long line's name would
        // otherwise cost a table of its length for every key.
        const std::size_t keyLength = std::strlen(setting.key);
        if (std::max(name.size(), keyLength) - std::min(name.size(), keyLength) >= best) {
            continue;
        }
        const std::size_t distance = editDistance(name, setting.key);
        if (distance < best) {
            best = distance;
            nearest = setting.key;
        }
    }
    return nearest;
}

bool InitialConfiguration::exists() const {
    return canOpenForReading(filePath_);
}

InitialConfiguration& InitialConfiguration::read() {
    int lineNumber = 0;
    const bool opened = forEachLine(
        filePath_, maxLineLength, [&](const std::string& line) { parseLine(line, ++lineNumber); });
    if (!opened) {
        throw FatalError(
            "fatal error! unable to open initial configuration file. It makes no sence to "
            "continue");
    }
    for (const std::string& key : missingKeys()) {
        mistakes_.push_back(ConfigurationMistake{Kind::MissingKey, key, 0, "", ""});
    }
    for (const ConfigurationMistake& mistake : mistakes_) {
        log("initial configuration file: ", describe(mistake));
    }
    return *this;
}

void InitialConfiguration::parseLine(const std::string& line, int lineNumber) {
    if (line.empty()) {
        return;
    }
    const std::string::size_type equals = line.find('=');
    const std::string name = line.substr(0, std::min(equals, maxNameLength));
    const Setting* setting = equals == std::string::npos ? nullptr : settingFor(name);
    if (setting == nullptr) {
        // The file's comments start with "#" or ";"; any other line the
        // agent passes over is most likely a slip.
        const std::string::size_type first = line.find_first_not_of(" \t");
        if (first != std::string::npos && line[first] != '#' && line[first] != ';') {
            mistakes_.push_back(ConfigurationMistake{Kind::UnknownKey, name, lineNumber, "", ""});
        }
        return;
    }
    const std::string value = line.substr(equals + 1);
    // Every value as the file has it; integers as atoi reads them.
    struct Store {
        InitialConfiguration& record;
        const Setting& setting;
        const std::string& value;
        int lineNumber;
        void note(Kind kind, const std::string& used) const {
            // An empty optional key is as good as none: the installed file
            // has PROXY_SERVER_PORT= for no proxy.
            if (!value.empty() || setting.need == Setting::required) {
                record.mistakes_.push_back(
                    ConfigurationMistake{kind, setting.key, lineNumber, value, used});
            }
        }
        bool isTrue() const {
            if (value != "true" && value != "false") {
                note(Kind::NotTrueOrFalse, "false");
            }
            return value == "true";
        }
        void operator()(std::string InitialConfiguration::*field) const { record.*field = value; }
        void operator()(std::optional<std::string> InitialConfiguration::*field) const {
            record.*field = value;
        }
        void operator()(int32_t InitialConfiguration::*field) const {
            record.*field = readInteger(value);
            if (!isWholeNumber(value)) {
                note(Kind::NotANumber, decimalText(record.*field));
            }
        }
        void operator()(bool InitialConfiguration::*field) const { record.*field = isTrue(); }
        void operator()(Setting::LoggingSwitch) const {
            const bool on = isTrue();
            if (record.logWindow_ == nullptr) {
                return;
            }
            setLoggingEnabled(on);
            if (on) {
                // The log is of use only once its window is visible.
                record.logWindow_->showLogger();
            }
        }
    };
    std::visit(Store{*this, *setting, value, lineNumber}, setting->field);
    if (std::find(seen_.begin(), seen_.end(), setting) == seen_.end()) {
        seen_.push_back(setting);
    }
}

std::optional<std::string> InitialConfiguration::getProxy() const {
    if (!proxyServerHost_ || proxyServerHost_->empty()) {
        return std::nullopt;
    }
    return *proxyServerHost_ + ":" + decimalText(proxyServerPort_);
}

std::vector<std::string> InitialConfiguration::missingKeys() const {
    std::vector<std::string> missing;
    for (const Setting& setting : settings()) {
        if (setting.need == Setting::required &&
            std::find(seen_.begin(), seen_.end(), &setting) == seen_.end()) {
            missing.push_back(setting.key);
        }
    }
    return missing;
}

int32_t InitialConfiguration::getConfiguredInterval(RetryInterval which) const {
    for (const Setting& setting : settings()) {
        if (setting.retry == which) {
            return this->*std::get<int32_t InitialConfiguration::*>(setting.field);
        }
    }
    return 0;
}

const char* InitialConfiguration::keyOf(RetryInterval which) {
    for (const Setting& setting : settings()) {
        if (setting.retry == which) {
            return setting.key;
        }
    }
    return "";
}
