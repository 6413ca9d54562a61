#include "core/InitialConfiguration.h"

#include <algorithm>
#include <variant>

#include "core/Log.h"
#include "core/MainWindowCommands.h"
#include "core/Text.h"
#include "core/TextFile.h"

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

bool InitialConfiguration::exists() const {
    return canOpenForReading(filePath_);
}

InitialConfiguration& InitialConfiguration::read() {
    const bool opened =
        forEachLine(filePath_, maxLineLength, [this](const std::string& line) { parseLine(line); });
    if (!opened) {
        throw FatalError(
            "fatal error! unable to open initial configuration file. It makes no sence to "
            "continue");
    }
    return *this;
}

void InitialConfiguration::parseLine(const std::string& line) {
    if (line.empty()) {
        return;
    }
    const std::string::size_type equals = line.find('=');
    if (equals == std::string::npos) {
        return;
    }
    const std::string name = line.substr(0, std::min(equals, maxNameLength));
    const std::string value = line.substr(equals + 1);

    const Setting* setting = settingFor(name);
    if (setting == nullptr) {
        return;
    }
    // Every value as the file has it; integers as atoi reads them.
    struct Store {
        InitialConfiguration& record;
        const std::string& value;
        void operator()(std::string InitialConfiguration::*field) const { record.*field = value; }
        void operator()(std::optional<std::string> InitialConfiguration::*field) const {
            record.*field = value;
        }
        void operator()(int32_t InitialConfiguration::*field) const {
            record.*field = readInteger(value);
        }
        void operator()(bool InitialConfiguration::*field) const {
            record.*field = value == "true";
        }
        void operator()(Setting::LoggingSwitch) const {
            const bool on = value == "true";
            setLoggingEnabled(on);
            if (on && record.logWindow_ != nullptr) {
                // The log is of use only once its window is visible.
                record.logWindow_->showLogger();
            }
        }
    };
    std::visit(Store{*this, value}, setting->field);
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
