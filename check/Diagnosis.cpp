#include "check/Diagnosis.h"

#include <algorithm>
#include <exception>

#include "check/NetworkProbe.h"
#include "core/Clock.h"
#include "core/InitialConfiguration.h"
#include "core/RetryInterval.h"
#include "core/SystemPaths.h"
#include "core/Text.h"
#include "core/TextFile.h"
#include "dongle/ReportProtocol.h"
#include "dongle/USBResource.h"
#include "storage/FileSystem.h"
#include "storage/FilesystemResource.h"
#include "storage/FolderRights.h"
#include "storage/RunTimeData.h"
#include "ui/Texts.h"

namespace {

using Verdict = Finding::Verdict;

// A dongle or portal that does not answer within this is reported as such.
constexpr int32_t fallbackUsbTimeout = 1000;
constexpr uint32_t connectTimeout = 5000;

// What puts the data folder right: made or taken over by the setup's own
// step, which needs an administrator.
const char repairDataFolder[] = "; repair: run quorvel-check --create-data-folder as administrator";

Finding finding(Verdict verdict, const std::string& subject, const std::string& detail) {
    return Finding{verdict, subject, detail};
}

std::string localTimeText(const Clock& clock, const TimeStamp& time) {
    const LocalTime t = clock.localTime(time.seconds);
    return decimalText(t.year) + "-" + twoDigitText(t.month) + "-" + twoDigitText(t.day) + " " +
           twoDigitText(t.hour) + ":" + twoDigitText(t.minute) + ":" + twoDigitText(t.second);
}

std::string joined(const std::vector<std::string>& parts) {
    std::string text;
    for (const std::string& part : parts) {
        text += (text.empty() ? "" : "; ") + part;
    }
    return text;
}

// Values the agent would take but that make it fail or misbehave; a key no
// line gave is named as missing instead.
std::vector<std::string> invalidValues(const InitialConfiguration& c) {
    const std::vector<std::string> missing = c.missingKeys();
    std::vector<std::string> invalid;
    const auto check = [&](const char* key, bool usable, const std::string& why) {
        if (!usable && std::find(missing.begin(), missing.end(), key) == missing.end()) {
            invalid.push_back(key + why);
        }
    };
    const auto isPort = [](int32_t port) { return port >= 1 && port <= 65535; };
    check("PORTAL_SERVER_HOST", !c.getPortalServerHost().empty(), " is empty");
    check("PORTAL_SERVER_PORT", isPort(c.getPortalServerPort()),
          " " + decimalText(c.getPortalServerPort()) + " is no TCP port");
    check("PORTAL_SERVER_URI", !c.getPortalServerUri().empty() && c.getPortalServerUri()[0] == '/',
          " does not start with /");
    check("PROXY_SERVER_PORT", !c.getProxy() || isPort(c.getProxyServerPort()),
          " " + decimalText(c.getProxyServerPort()) + " is no TCP port");
    check("SEND_FRAMES_REPEAT", c.getSendFramesRepeat() >= 1,
          " " + decimalText(c.getSendFramesRepeat()) + " sends no frame");
    check("MAX_DUTYCYCLE_UTILISATION",
          c.getMaxDutyCycleUtilisation() >= 0 && c.getMaxDutyCycleUtilisation() <= 100,
          " " + decimalText(c.getMaxDutyCycleUtilisation()) + " is no percentage");
    check("USB_WAIT_TIMEOUT", c.getUsbWaitTimeout() > 0,
          " " + decimalText(c.getUsbWaitTimeout()) + " waits for no answer");
    return invalid;
}

// Retry intervals the agent replaces with a safer one.
std::vector<std::string> replacedIntervals(const InitialConfiguration& c) {
    std::vector<std::string> replaced;
    for (const RetryInterval which : retryIntervals) {
        const int32_t configured = c.getConfiguredInterval(which);
        if (usableRetryInterval(configured) != configured) {
            replaced.push_back(std::string(InitialConfiguration::keyOf(which)) + " " +
                               decimalText(configured) + " is taken as " +
                               decimalText(usableRetryInterval(configured)) + " ms");
        }
    }
    return replaced;
}

// Where the hellos go, as a web address: shows at a glance whether they go
// over HTTPS.
std::string portalAddress(const InitialConfiguration& c) {
    return std::string(c.getPortalServerSecure() ? "https://" : "http://") +
           c.getPortalServerHost() + ":" + decimalText(c.getPortalServerPort()) +
           c.getPortalServerUri();
}

// A port that usually serves the other scheme: a likely slip when
// PORTAL_SERVER_SECURE was set or left out. Only the two well-known ports
// are told apart; any other port may serve either.
std::string schemeMismatch(const InitialConfiguration& c) {
    if (c.getPortalServerSecure() && c.getPortalServerPort() == 80) {
        return "port 80 usually serves plain HTTP, not HTTPS";
    }
    if (!c.getPortalServerSecure() && c.getPortalServerPort() == 443) {
        return "port 443 usually serves HTTPS, but PORTAL_SERVER_SECURE is not true";
    }
    return "";
}

}  // namespace

Diagnosis::Diagnosis(const SystemPaths& paths, const SystemLanguage& language, FileSystem& files,
                     FolderRights& rights, HidPort& hid, NetworkProbe& network, const Clock& clock)
    : paths_(paths),
      language_(language),
      files_(files),
      rights_(rights),
      hid_(hid),
      network_(network),
      clock_(clock) {}

std::vector<Finding> Diagnosis::run() {
    std::vector<Finding> findings;
    InitialConfiguration configuration;
    const bool configured = checkConfiguration(configuration, findings);
    checkLanguage(findings);
    checkDataFolder(findings);
    checkRunTimeFile(findings);
    if (configured) {
        checkDongle(configuration, findings);
        checkPortal(configuration, findings);
    }
    return findings;
}

bool Diagnosis::checkConfiguration(InitialConfiguration& configuration,
                                   std::vector<Finding>& findings) {
    const std::string path = configurationFilePath(paths_);
    configuration.setFilePath(path);
    try {
        if (!configuration.exists()) {
            throw FatalError("not found");
        }
        configuration.read();
    } catch (const std::exception& error) {
        findings.push_back(finding(Verdict::Failed, "configuration",
                                   path + ": " + error.what() + "; the agent stops at start"));
        return false;
    }
    // A key the agent has no value for, or a number it reads otherwise than
    // written, stops it or sends it astray; a line it passes over or a
    // switch it takes as false it copes with.
    std::vector<std::string> failed;
    std::vector<std::string> warned;
    for (const ConfigurationMistake& mistake : configuration.mistakes()) {
        const bool fails = mistake.kind == ConfigurationMistake::Kind::MissingKey ||
                           mistake.kind == ConfigurationMistake::Kind::NotANumber;
        (fails ? failed : warned).push_back(describe(mistake));
    }
    const std::vector<std::string> invalid = invalidValues(configuration);
    failed.insert(failed.end(), invalid.begin(), invalid.end());
    const std::vector<std::string> replaced = replacedIntervals(configuration);
    warned.insert(warned.end(), replaced.begin(), replaced.end());
    if (!failed.empty()) {
        findings.push_back(finding(Verdict::Failed, "configuration", path + ": " + joined(failed)));
    }
    if (!warned.empty()) {
        findings.push_back(
            finding(Verdict::Warning, "configuration", path + ": " + joined(warned)));
    }
    if (failed.empty() && warned.empty()) {
        findings.push_back(finding(Verdict::Ok, "configuration", path + ": every key set"));
    }
    return true;
}

void Diagnosis::checkLanguage(std::vector<Finding>& findings) {
    const std::string path = Texts::filePath(configurationFilePath(paths_), language_);
    const std::string detail = path + " (system language " + language_.englishName() + ")";
    // Opened the way the agent's texts are read.
    const bool readable = canOpenForReading(path);
    if (readable) {
        findings.push_back(finding(Verdict::Ok, "language", detail));
    } else {
        findings.push_back(
            finding(Verdict::Failed, "language", detail + " not found; the agent stops at start"));
    }
}

void Diagnosis::checkDataFolder(std::vector<Finding>& findings) {
    const std::string folder = folderOf(runTimeFilePath(paths_));
    const FileState state = files_.probe(folder);
    if (!state.exists) {
        findings.push_back(finding(Verdict::Warning, "data folder",
                                   folder + " not there yet; the agent creates it at start"));
        return;
    }
    if (state.link) {
        findings.push_back(finding(
            Verdict::Failed, "data folder",
            folder + " is a link to elsewhere; the agent neither reads nor writes through it" +
                repairDataFolder));
        return;
    }
    if (!state.folder || !state.writable) {
        findings.push_back(
            finding(Verdict::Failed, "data folder", folder + " cannot take files from this user"));
        return;
    }
    // Rights that let a user change the folder itself let that user send
    // every other user's agent elsewhere.
    std::vector<std::string> differences =
        rightsDifferences(rights_.descriptorOf(folder), dataFolderSecurity);
    if (!differences.empty()) {
        const std::size_t shown = 3;
        if (differences.size() > shown) {
            const std::size_t more = differences.size() - shown;
            differences.resize(shown);
            differences.push_back(decimalText(static_cast<int64_t>(more)) + " more");
        }
        std::string named;
        for (const std::string& difference : differences) {
            named += (named.empty() ? "" : "; ") + difference;
        }
        findings.push_back(finding(Verdict::Failed, "data folder",
                                   folder + " writable, but not as the setup makes it (" + named +
                                       ")" + repairDataFolder));
        return;
    }
    findings.push_back(finding(Verdict::Ok, "data folder",
                               folder + " writable; owner and rights as the setup makes them"));
}

void Diagnosis::checkRunTimeFile(std::vector<Finding>& findings) {
    const std::string path = runTimeFilePath(paths_);
    const std::string temporary = temporaryPathFor(path);
    if (files_.probe(temporary).link) {
        findings.push_back(finding(
            Verdict::Failed, "run-time file",
            temporary + " is a link; the agent writes nothing while it is there: delete it"));
    }
    const FileState state = files_.probe(path);
    if (state.link) {
        findings.push_back(finding(Verdict::Warning, "run-time file",
                                   path + " is a link; the agent does not read it and puts its own "
                                          "file in its place at the next change"));
        return;
    }
    if (!state.exists) {
        findings.push_back(finding(Verdict::Warning, "run-time file",
                                   path + " not there yet; the agent creates it at start"));
        return;
    }
    std::vector<uint8_t> bytes;
    // One byte more than the record tells a longer file from an exact one.
    if (!files_.readFile(path, RunTimeData::fileSize + 1, bytes)) {
        findings.push_back(finding(Verdict::Failed, "run-time file", path + " cannot be read"));
        return;
    }
    if (!state.writable) {
        findings.push_back(
            finding(Verdict::Failed, "run-time file", path + " cannot be written by this user"));
        return;
    }
    const RunTimeData data = decodeRunTimeData(bytes);
    const std::size_t frames = framesOf(data.frames).size();
    const std::string detail = path + ": " + decimalText(static_cast<int64_t>(bytes.size())) +
                               " bytes, writable; " + "next hello " +
                               localTimeText(clock_, data.nextHelloTime) + " (reason " +
                               decimalText(data.helloReason) + "), next transmission " +
                               localTimeText(clock_, data.nextTransmitTime) + ", " +
                               decimalText(static_cast<int64_t>(frames)) + " frame" +
                               (frames == 1 ? "" : "s") + " pending";
    if (bytes.size() != RunTimeData::fileSize) {
        findings.push_back(finding(
            Verdict::Warning, "run-time file",
            detail + "; expected " + decimalText(static_cast<int64_t>(RunTimeData::fileSize)) +
                " bytes, the agent writes a whole record at its next change"));
    } else {
        findings.push_back(finding(Verdict::Ok, "run-time file", detail));
    }
}

void Diagnosis::checkDongle(const InitialConfiguration& configuration,
                            std::vector<Finding>& findings) {
    const int32_t timeout = configuration.getUsbWaitTimeout() > 0
                                ? configuration.getUsbWaitTimeout()
                                : fallbackUsbTimeout;
    // A transfer that fails here is a dongle that is not usable.
    USBResource usb(hid_, [] { return false; });
    if (!usb.openDevice()) {
        findings.push_back(finding(Verdict::Failed, "dongle",
                                   "not found (USB vendor 5E91, product 2D4A); plug it in"));
        return;
    }
    std::string serialNumber;
    std::string firmwareVersion;
    std::string radioAddress;
    if (usb.getDeviceInfos(serialNumber, firmwareVersion, radioAddress, timeout) != 0) {
        findings.push_back(
            finding(Verdict::Failed, "dongle", "found, but it does not answer with its identity"));
        return;
    }
    const std::string identity = "serial number " + serialNumber + ", radio address " +
                                 radioAddress + ", firmware " + firmwareVersion;
    int utilisation = 0;
    try {
        utilisation = usb.getDutyCycleUtilisation(timeout);
    } catch (const std::exception&) {
        findings.push_back(finding(Verdict::Failed, "dongle",
                                   identity + "; it does not answer the duty-cycle query"));
        return;
    }
    const std::string duty = "duty cycle " + decimalText(utilisation) + "% of " +
                             decimalText(configuration.getMaxDutyCycleUtilisation()) + "% allowed";
    if (utilisation > configuration.getMaxDutyCycleUtilisation()) {
        findings.push_back(finding(Verdict::Warning, "dongle",
                                   identity + "; " + duty + ": frames are dropped until it falls"));
    } else {
        findings.push_back(finding(Verdict::Ok, "dongle", identity + "; " + duty));
    }
}

void Diagnosis::checkPortal(const InitialConfiguration& configuration,
                            std::vector<Finding>& findings) {
    const std::string address = portalAddress(configuration) + ": ";
    std::string host = configuration.getPortalServerHost();
    int32_t port = configuration.getPortalServerPort();
    const std::string portal = host + ":" + decimalText(port);
    // What was tried, named so that a refusal is not blamed on the portal
    // when it came from the proxy.
    std::string target = portal;
    std::string route = " directly";
    if (const std::optional<std::string> proxy = configuration.getProxy()) {
        host = *configuration.getProxyServerHost();
        port = configuration.getProxyServerPort();
        target = "proxy " + *proxy + " for " + portal;
        route.clear();
    }
    // A proxy cannot reach a portal without an address either.
    const auto usable = [](const std::string& name, int32_t number) {
        return !name.empty() && number >= 1 && number <= 65535;
    };
    if (!usable(host, port) ||
        !usable(configuration.getPortalServerHost(), configuration.getPortalServerPort())) {
        findings.push_back(finding(Verdict::Failed, "portal", address + "no address to try"));
        return;
    }
    const ProbeOutcome resolved = network_.resolve(host);
    if (!resolved.ok) {
        findings.push_back(finding(Verdict::Failed, "portal",
                                   address + "cannot resolve " + host +
                                       (route.empty() ? " (" + target + ")" : "") + ": " +
                                       resolved.detail));
        return;
    }
    const ProbeOutcome connected =
        network_.connect(host, static_cast<uint16_t>(port), connectTimeout);
    if (!connected.ok) {
        findings.push_back(
            finding(Verdict::Failed, "portal",
                    address + "no TCP connection to " + target + ": " + connected.detail));
        return;
    }
    const std::string detail =
        address + host + " is " + resolved.detail + "; TCP connection to " + target + " opened" +
        route +
        (configuration.getPortalServerSecure() ? " (no hello sent, certificate not checked)"
                                               : " (no hello sent)");
    const std::string mismatch = schemeMismatch(configuration);
    if (!mismatch.empty()) {
        findings.push_back(finding(Verdict::Warning, "portal", detail + "; " + mismatch));
    } else {
        findings.push_back(finding(Verdict::Ok, "portal", detail));
    }
}

std::string formatFinding(const Finding& finding) {
    const char* verdict = finding.verdict == Finding::Verdict::Ok        ? "ok    "
                          : finding.verdict == Finding::Verdict::Warning ? "warn  "
                                                                         : "FAIL  ";
    std::string subject = finding.subject;
    subject.resize(std::max<std::size_t>(subject.size(), 15), ' ');
    return verdict + subject + finding.detail;
}

int exitCodeFor(const std::vector<Finding>& findings) {
    return std::any_of(findings.begin(), findings.end(),
                       [](const Finding& f) { return f.verdict == Finding::Verdict::Failed; })
               ? 1
               : 0;
}

Finding imposeRights(FolderRights& rights, const std::string& subject, const std::string& folder,
                     const std::string& descriptor, LinkInPlace link) {
    switch (rights.impose(folder, descriptor, link)) {
        case RightsOutcome::Set:
            return finding(Verdict::Ok, subject, folder + ": owner and rights set");
        case RightsOutcome::Link:
            return finding(Verdict::Failed, subject,
                           folder + " is a link to elsewhere, left as it is" +
                               (link == LinkInPlace::Replace
                                    ? std::string("; it cannot be removed safely here: remove "
                                                  "the link by hand and run this again")
                                    : std::string()));
        case RightsOutcome::Failed:
            break;
    }
    return finding(Verdict::Failed, subject,
                   folder +
                       ": its owner and rights could not be set (this needs an "
                       "administrator; --verbose says what failed)");
}
