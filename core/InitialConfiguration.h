#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/RetryInterval.h"

class MainWindowCommands;

// A start-up failure that ends the program; its text is logged by whoever
// catches it.
class FatalError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A line of quorvel.ini that the agent reads otherwise than its writer most
// likely meant, or a required key that no line gave. The agent logs them
// and quorvel-check reports them, both from this list.
struct ConfigurationMistake {
    enum class Kind {
        UnknownKey,      // a name that matches no key: the line is ignored
        NotANumber,      // not a whole number where one is expected
        NotTrueOrFalse,  // a switch other than exactly "true" or "false"
        MissingKey,      // a required key no line gave
    };
    Kind kind;
    std::string key;    // as the file spells it
    int line = 0;       // from 1; 0 for a missing key
    std::string value;  // as the file has it
    std::string used;   // what the agent takes instead ("80", "false")
};

// One phrase for a mistake, the same in the log and in quorvel-check, e.g.
// `line 2: PORTAL_SERVER_PORT=80a8 is not a whole number; used 80`.
std::string describe(const ConfigurationMistake& mistake);

// The agent's fixed settings, read once from the KEY=value lines of
// quorvel.ini and only read afterwards.
class InitialConfiguration {
  public:
    // Lines are read with a buffer of 1024 characters; a longer line is cut
    // there and the rest of it skipped, and a longer name is cut to 127.
    static constexpr std::size_t maxLineLength = 1023;
    static constexpr std::size_t maxNameLength = 127;

    // ENABLE_LOGGING=true switches logging on and shows `logWindow`'s log
    // view. A reader without a log window (the check tool's) leaves the
    // process's logging switch alone: there --verbose decides.
    explicit InitialConfiguration(MainWindowCommands* logWindow = nullptr)
        : logWindow_(logWindow) {}

    void setFilePath(const std::string& path) { filePath_ = path; }
    bool exists() const;
    // Throws FatalError when the file cannot be opened. Logs each mistake
    // once the whole file is read: only then is the logging switch final.
    InitialConfiguration& read();
    // One KEY=value line; anything that is not a known key is ignored.
    void parseLine(const std::string& line, int lineNumber = 0);

    const std::string& getPortalServerHost() const { return portalServerHost_; }
    int32_t getPortalServerPort() const { return portalServerPort_; }
    const std::string& getPortalServerUri() const { return portalServerUri_; }
    // HTTPS instead of plain HTTP; off unless the file says exactly "true",
    // so a configuration written before the key existed keeps working.
    bool getPortalServerSecure() const { return portalServerSecure_; }
    const std::string& getSoftwareVersion() const { return softwareVersion_; }
    int32_t getReason() const { return reason_; }
    int32_t getCyclicHelloIntervalOnError() const { return cyclicHelloIntervalOnError_; }
    int32_t getCyclicUsbIntervalOnError() const { return cyclicUsbIntervalOnError_; }
    int32_t getCyclicHelloIntervalOnDutyCycle() const { return cyclicHelloIntervalOnDutyCycle_; }
    int32_t getSendFramesRepeat() const { return sendFramesRepeat_; }
    int32_t getMaxUsbWriteBufferRetry() const { return maxUsbWriteBufferRetry_; }
    int32_t getMaxDutyCycleUtilisation() const { return maxDutyCycleUtilisation_; }
    int32_t getUsbWaitTimeout() const { return usbWaitTimeout_; }
    const std::string& getPartner() const { return partner_; }
    // "host:port" when a proxy host is set, otherwise none.
    std::optional<std::string> getProxy() const;
    const std::optional<std::string>& getProxyServerHost() const { return proxyServerHost_; }
    int32_t getProxyServerPort() const { return proxyServerPort_; }

    // Keys that every consumer needs but no line of the file gave.
    std::vector<std::string> missingKeys() const;
    // In the order of the file, the missing keys last.
    const std::vector<ConfigurationMistake>& mistakes() const { return mistakes_; }
    // The known key a mistyped name most likely meant, or "" when none is
    // close enough to suggest.
    static std::string nearestKey(const std::string& name);

    // What a key's value is read as; none for a key the agent does not know.
    enum class ValueKind { Text, Number, Switch };
    static std::optional<ValueKind> valueKindOf(const std::string& key);

    // A retry interval as the file gave it, and the key that sets it.
    int32_t getConfiguredInterval(RetryInterval which) const;
    static const char* keyOf(RetryInterval which);

  private:
    // One key of the file and the field it sets (InitialConfiguration.cpp);
    // the table of them is the only place a key is spelt.
    struct Setting;
    static const std::vector<Setting>& settings();
    static const Setting* settingFor(const std::string& key);

    MainWindowCommands* logWindow_;
    std::string filePath_;
    std::string portalServerHost_;
    int32_t portalServerPort_ = 0;
    std::optional<std::string> proxyServerHost_;
    int32_t proxyServerPort_ = 0;
    std::string portalServerUri_;
    bool portalServerSecure_ = false;
    std::string softwareVersion_;
    int32_t reason_ = 0;
    int32_t cyclicHelloIntervalOnError_ = 0;
    int32_t cyclicUsbIntervalOnError_ = 0;
    int32_t cyclicHelloIntervalOnDutyCycle_ = 0;
    int32_t sendFramesRepeat_ = 0;
    int32_t maxUsbWriteBufferRetry_ = 0;
    int32_t maxDutyCycleUtilisation_ = 0;
    int32_t usbWaitTimeout_ = 0;
    std::string partner_;
    std::vector<const Setting*> seen_;
    std::vector<ConfigurationMistake> mistakes_;
};
