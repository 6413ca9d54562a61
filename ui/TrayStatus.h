#pragma once

#include <cstddef>
#include <string>

class DisplayStatus;

// What the tray shows for a display status, taken at one moment.
struct StatusSnapshot {
    bool internetState = false;
    bool usbState = false;
    bool dutyState = false;
    std::string nextPortalConnectionTime;
};

StatusSnapshot snapshotOf(const DisplayStatus& status);

// The icon and tooltip for a status: the good icon and the OPEN_PORTAL text
// when all is well, otherwise the fault icon and one line per fault, then
// the next contact time when one is known. The shell keeps 127 bytes of a
// tooltip; the text is cut there.
struct TrayLook {
    static constexpr std::size_t maxTooltipLength = 127;
    int iconResource = 0;
    std::string tooltip;
};
TrayLook trayLook(const StatusSnapshot& status);

// What Open Portal tells the user before it goes on: one line per fault,
// empty when there is nothing to say.
std::string openPortalWarning(const StatusSnapshot& status);
