#include "ui/TrayStatus.h"

#include "resources/resource.h"
#include "ui/DisplayStatus.h"
#include "ui/Texts.h"

StatusSnapshot snapshotOf(const DisplayStatus& status) {
    StatusSnapshot snapshot;
    snapshot.internetState = status.internetState;
    snapshot.usbState = status.usbState;
    snapshot.dutyState = status.dutyState;
    snapshot.nextPortalConnectionTime = status.nextPortalConnectionTime();
    return snapshot;
}

TrayLook trayLook(const StatusSnapshot& status) {
    TrayLook look;
    if (status.internetState && status.usbState && status.dutyState) {
        look.iconResource = IDI_TRAY_GOOD;
        look.tooltip = Texts::get("OPEN_PORTAL") + "\r\n";
    } else {
        look.iconResource = IDI_TRAY_FAULT;
        if (!status.internetState) {
            look.tooltip += Texts::get("NO_INTERNET") + "\r\n";
        }
        if (!status.usbState) {
            look.tooltip += Texts::get("NO_USB") + "\r\n";
        }
        if (!status.dutyState) {
            look.tooltip += Texts::get("MAX_DUTY_CYCLE") + "\r\n";
        }
    }
    if (!status.nextPortalConnectionTime.empty()) {
        look.tooltip += Texts::get("NEXT_TRANSMIT") + ": " + status.nextPortalConnectionTime;
    }
    if (look.tooltip.size() > TrayLook::maxTooltipLength) {
        look.tooltip.resize(TrayLook::maxTooltipLength);
    }
    return look;
}

std::string openPortalWarning(const StatusSnapshot& status) {
    std::string text;
    if (!status.internetState) {
        text += Texts::get("MSG_BOX_NO_INTERNET") + "\r\n";
    }
    if (!status.usbState) {
        text += Texts::get("MSG_BOX_NO_USB") + "\r\n";
    }
    if (!status.dutyState) {
        text += Texts::get("MSG_BOX_DUTY_CYCLE") + "\r\n";
    }
    return text;
}
