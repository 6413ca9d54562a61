#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <utility>

#include "core/Resource.h"

class DisplayStatus;
class MainWindowCommands;

// Where the activities reach the user and the user's Open Portal and About
// reach the activities. State reports are recorded here and in the tray's
// DisplayStatus, then the main window is told to show them; Open Portal and
// About fire StartSessionEvent and ShowAboutDialogEvent.
class UserInterfaceResource final : public Resource {
  public:
    UserInterfaceResource(MainWindowCommands& window, DisplayStatus& status);

    int start() override { return 0; }
    int init() override { return 0; }

    void setInternetState(bool state);
    void setUSBState(bool state);
    void setDutyState(bool state);
    // Logs the three states, copies them to the display status and has the
    // window refresh the tray.
    void sendMessage();
    void setNextPortalConnectionTime(const std::string& text);

    void setAboutInfo(const std::string& softwareVersion, const std::string& firmwareVersion,
                      const std::string& usbSerialnumber);
    // Asks the activities for fresh values, then hands out what is known:
    // the last values read when the dongle does not answer.
    void showAboutDialog(std::string& softwareVersion, std::string& firmwareVersion,
                         std::string& usbSerialnumber);
    void openPortal();
    // The dongle was plugged in: the agent's reaction, set by start-up.
    void dongleArrived();
    void setDongleArrivalHandler(std::function<void()> handler) {
        dongleArrival_ = std::move(handler);
    }

  private:
    MainWindowCommands& window_;
    DisplayStatus& status_;
    // Reports may come from the initialisation thread. sendMessage copies
    // these into the display status, which device notices also change; the
    // display status is what the tray and the dongle's transfers read.
    std::atomic<bool> internetState_{true};
    std::atomic<bool> usbState_{true};
    std::atomic<bool> dutyState_{true};
    mutable std::mutex aboutLock_;
    std::string softwareVersion_;
    std::string firmwareVersion_;
    std::string usbSerialnumber_;
    std::function<void()> dongleArrival_;
};

// The resource as published to the window procedures once start-up has
// wired it; null until then.
UserInterfaceResource* publishedUserInterface();
void publishUserInterface(UserInterfaceResource* resource);
