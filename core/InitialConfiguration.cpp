#include "core/InitialConfiguration.h"

#include <algorithm>

#include "core/Log.h"
#include "core/MainWindowCommands.h"
#include "core/RetryInterval.h"
#include "core/Text.h"
#include "core/TextFile.h"

namespace {

const char* const requiredKeys[] = {
    "PORTAL_SERVER_HOST",
    "PORTAL_SERVER_PORT",
    "PORTAL_SERVER_URI",
    "SOFTWARE_VERSION",
    "REASON",
    "CYCLIC_HELLO_INTERVAL_ON_ERROR",
    "CYCLIC_USB_INTERVAL_ON_ERROR",
    "MAX_DUTYCYCLE_UTILISATION",
    "CYCLIC_HELLO_INTERVAL_ON_DUTY_CYCLE",
    "SEND_FRAMES_REPEAT",
    "MAX_USB_WRITE_BUFFER_RETRY",
    "USB_WAIT_TIMEOUT",
    "PARTNER",
};

}  // namespace

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

    struct TextKey {
        const char* name;
        std::string InitialConfiguration::*field;
    };
    struct IntegerKey {
        const char* name;
        int32_t InitialConfiguration::*field;
    };
    static const TextKey textKeys[] = {
        {"PORTAL_SERVER_HOST", &InitialConfiguration::portalServerHost_},
        {"PORTAL_SERVER_URI", &InitialConfiguration::portalServerUri_},
        {"SOFTWARE_VERSION", &InitialConfiguration::softwareVersion_},
        {"PARTNER", &InitialConfiguration::partner_},
    };
    static const IntegerKey integerKeys[] = {
        {"PORTAL_SERVER_PORT", &InitialConfiguration::portalServerPort_},
        {"PROXY_SERVER_PORT", &InitialConfiguration::proxyServerPort_},
        {"REASON", &InitialConfiguration::reason_},
        {"CYCLIC_HELLO_INTERVAL_ON_ERROR", &InitialConfiguration::cyclicHelloIntervalOnError_},
        {"CYCLIC_USB_INTERVAL_ON_ERROR", &InitialConfiguration::cyclicUsbIntervalOnError_},
        {"MAX_DUTYCYCLE_UTILISATION", &InitialConfiguration::maxDutyCycleUtilisation_},
        {"CYCLIC_HELLO_INTERVAL_ON_DUTY_CYCLE",
         &InitialConfiguration::cyclicHelloIntervalOnDutyCycle_},
        {"SEND_FRAMES_REPEAT", &InitialConfiguration::sendFramesRepeat_},
        {"MAX_USB_WRITE_BUFFER_RETRY", &InitialConfiguration::maxUsbWriteBufferRetry_},
        {"USB_WAIT_TIMEOUT", &InitialConfiguration::usbWaitTimeout_},
    };

    bool known = false;
    if (name == "PROXY_SERVER_HOST") {
        proxyServerHost_ = value;
        known = true;
    } else if (name == "PORTAL_SERVER_SECURE") {
        // Optional: not among the required keys, absent means plain HTTP.
        portalServerSecure_ = value == "true";
        return;
    } else if (name == "ENABLE_LOGGING") {
        const bool on = value == "true";
        setLoggingEnabled(on);
        if (on) {
            // The log is of use only once its window is visible.
            mainWindow().showLogger();
        }
        return;
    }
    for (const TextKey& key : textKeys) {
        if (name == key.name) {
            this->*key.field = value;
            known = true;
        }
    }
    for (const IntegerKey& key : integerKeys) {
        if (name == key.name) {
            this->*key.field = readInteger(value);
            known = true;
        }
    }
    if (known && std::find(seenKeys_.begin(), seenKeys_.end(), name) == seenKeys_.end()) {
        seenKeys_.push_back(name);
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
    for (const char* key : requiredKeys) {
        if (std::find(seenKeys_.begin(), seenKeys_.end(), key) == seenKeys_.end()) {
            missing.push_back(key);
        }
    }
    return missing;
}

const char* retryIntervalKey(RetryInterval which) {
    switch (which) {
        case RetryInterval::HelloOnError:
            return "CYCLIC_HELLO_INTERVAL_ON_ERROR";
        case RetryInterval::UsbOnError:
            return "CYCLIC_USB_INTERVAL_ON_ERROR";
        case RetryInterval::HelloOnDutyCycle:
            return "CYCLIC_HELLO_INTERVAL_ON_DUTY_CYCLE";
    }
    return "";
}
