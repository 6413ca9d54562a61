#include "tests/unit/support/WiredAgent.h"

#include "core/Log.h"
#include "core/TimeStamp.h"
#include "dongle/DongleDevice.h"
#include "dongle/ReportProtocol.h"
#include "ui/Texts.h"
#include "ui/UserInterfaceResource.h"

const char wiredAgentDataFile[] = "C:\\ProgramData\\quorvel\\quorvel.dat";

std::string WiredAgent::configuration() {
    return "PORTAL_SERVER_HOST=portal.example\r\n"
           "PORTAL_SERVER_PORT=8080\r\n"
           "PORTAL_SERVER_URI=/agent/hello\r\n"
           "SOFTWARE_VERSION=2.1.0\r\n"
           "REASON=3\r\n"
           "CYCLIC_HELLO_INTERVAL_ON_ERROR=30000\r\n"
           "CYCLIC_USB_INTERVAL_ON_ERROR=20000\r\n"
           "MAX_DUTYCYCLE_UTILISATION=40\r\n"
           "CYCLIC_HELLO_INTERVAL_ON_DUTY_CYCLE=900000\r\n"
           "SEND_FRAMES_REPEAT=2\r\n"
           "MAX_USB_WRITE_BUFFER_RETRY=3\r\n"
           "USB_WAIT_TIMEOUT=500\r\n"
           "PARTNER=acme\r\n"
           "ENABLE_LOGGING=true\r\n";
}

WiredAgent::WiredAgent() : paths(folder.file("quorvel.exe"), "C:\\ProgramData") {
    setDongleDevice({});
    Texts::resetForTesting();
    folder.write("resources/en.txt", "ERROR_MESSAGE_TITLE=Quorvel\r\n");
    hid.clock = &clock;
    hid.devices.push_back({"\\\\?\\hid#vid_5e91&pid_2d4a#1",
                           ::dongle::vendorId,
                           ::dongle::productId,
                           {36, 36},
                           &dongle});
    portal.chunks = {"I60000"};
}

WiredAgent::~WiredAgent() {
    publishUserInterface(nullptr);
    setDongleDevice({});
    Texts::resetForTesting();
}

void WiredAgent::start(const std::string& ini) {
    folder.write("quorvel.ini", ini);
    Platform platform;
    platform.window = &window;
    platform.clock = &clock;
    platform.paths = &paths;
    platform.files = &files;
    platform.timers = &timers;
    platform.http = &portal;
    platform.urlOpener = &browser;
    platform.language = &language;
    platform.hid = &hid;
    platform.cycleLock = &cycleLock;
    main = std::make_unique<Main>(platform, gate);
    main->initialise();
}

void WiredAgent::storeRunTimeData(const RunTimeData& data) {
    const RunTimeDataBytes bytes = encodeRunTimeData(data);
    files.folders.insert("C:\\ProgramData\\quorvel\\");
    files.files[wiredAgentDataFile] = {bytes.begin(), bytes.end()};
}

int64_t WiredAgent::lastDelay(unsigned timerId) const {
    for (auto arming = timers.armings.rbegin(); arming != timers.armings.rend(); ++arming) {
        if (arming->id == timerId) {
            return arming->delay;
        }
    }
    return -1;
}

RunTimeData WiredAgent::stored() const {
    const auto found = files.files.find(wiredAgentDataFile);
    return found != files.files.end() ? decodeRunTimeData(found->second) : RunTimeData();
}

int64_t WiredAgent::millisecondsUntil(const TimeStamp& time) const {
    return millisecondsBetween(clock.now(), time);
}

std::string WiredAgent::lastHello() const {
    return portal.requests.empty() ? std::string() : portal.requests.back().body;
}
