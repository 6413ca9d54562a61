#include "activities/HelloActivities.h"

#include "core/Text.h"
#include "dongle/USBResource.h"
#include "portal/HTTPClientResource.h"
#include "storage/FilesystemResource.h"
#include "timer/TimerResource.h"

namespace {

const char dongleUnreadable[] =
    "cannot read serial number from device: Your dongle is not available";

}  // namespace

void CyclicHelloTimeActivity::handle(const CyclicHelloTimeEvent& event) {
    timer_.startHelloThreadIn(event.getTime(), event.getReason());
}

void CyclicHelloActivity::handle(const CyclicHelloEvent& event) {
    helloPlansBefore_ = filesystem_.getHelloPlans();
    // From the dongle read to the answer's last command carried out, no
    // other user's agent talks to the dongle or changes the record.
    const SharedWork turn(filesystem_, "hello");
    if (!turn) {
        filesystem_.scheduleHelloOnError();
        return;
    }
    const InitialConfiguration& configuration = filesystem_.getConfiguration();

    const std::string serialNumberOld = filesystem_.getSerialNumber();
    std::string serialNumber;
    std::string firmwareVersion;
    std::string radioAddress;
    if (usb_.getDeviceInfos(serialNumber, firmwareVersion, radioAddress,
                            configuration.getUsbWaitTimeout()) != 0) {
        // The dongle side has already planned the next hello.
        log(dongleUnreadable);
        return;
    }
    // Stored before sending, so a new dongle is announced in exactly one
    // hello even when that hello does not reach the portal.
    filesystem_.setDeviceInfos(serialNumber, firmwareVersion);

    std::string msg = "H";
    if (serialNumberOld == serialNumber || serialNumberOld.empty()) {
        msg += decimalText(event.getReason());
    } else {
        log("USB serial number is changed: old sn: " + serialNumberOld +
            " ; new sn: " + serialNumber);
        msg += decimalText(helloReason::dongleReplaced);
    }
    msg += "," + serialNumber + "," + radioAddress + "," + configuration.getSoftwareVersion() +
           "," + firmwareVersion + "," + configuration.getPartner();

    // What the buffer holds: the text up to a zero byte, at most 1023
    // characters of it.
    std::string buffer = msg.substr(0, msg.find('\0'));
    if (buffer.size() > maxMessageLength) {
        log("[CyclicHelloActivity::execute] hello message too long, cut at characters: ",
            static_cast<int64_t>(maxMessageLength));
        buffer.resize(maxMessageLength);
    }
    httpClient_.sendRequest(buffer, configuration.getPortalServerHost(),
                            configuration.getPortalServerPort(), configuration.getPortalServerUri(),
                            configuration.getPortalServerSecure(), configuration.getProxy(),
                            filesystem_.getRetryInterval(RetryInterval::HelloOnError));
}

void CyclicHelloActivity::finished() {
    if (filesystem_.getHelloPlans() != helloPlansBefore_) {
        return;
    }
    // Something failed that no error path covers; without a plan the agent
    // would never call the portal again.
    log("[CyclicHelloActivity::execute] no next hello planned, retrying after the error interval");
    filesystem_.scheduleHelloOnError();
}

void ContinueHelloActivity::handle(const ContinueHelloEvent&) {
    filesystem_.scheduleHelloOnError();
    planned_ = true;
    planAtWait_ = filesystem_.getHelloPlans();
}

bool ContinueHelloActivity::helloWaitsForDongle() const {
    return planned_ && filesystem_.getHelloPlans() == planAtWait_;
}
