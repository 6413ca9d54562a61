#pragma once

#include "activities/StatusEvents.h"
#include "core/Activity.h"

class Clock;
class FilesystemResource;
class TimerResource;
class USBResource;
class UrlOpener;
class UserInterfaceResource;

// The portal asks for one of its pages: open it in the user's browser and
// from then on say hello with reason 0. The page was checked and its path
// encoded when the answer was read (readBrowserCommand).
class StartBrowserActivity final : public EventActivity<StartBrowserActivity, StartBrowserEvent> {
  public:
    static const char* className() { return "StartBrowserActivity"; }

    StartBrowserActivity(FilesystemResource& filesystem, UrlOpener& browser)
        : filesystem_(filesystem), browser_(browser) {}

  private:
    void handle(const StartBrowserEvent& event) override;
    FilesystemResource& filesystem_;
    UrlOpener& browser_;
};

// The user chose Open Portal: say hello at once with reason 2, without
// changing the stored reason.
class StartSessionActivity final : public EventActivity<StartSessionActivity, StartSessionEvent> {
  public:
    static const char* className() { return "StartSessionActivity"; }
    StartSessionActivity(TimerResource& timer, const Clock& clock) : timer_(timer), clock_(clock) {}

  private:
    void handle(const StartSessionEvent& event) override;
    TimerResource& timer_;
    const Clock& clock_;
};

// The About dialog opens: the software version, and the dongle's identity
// read for it, falling back on what was stored at an earlier read.
class ShowAboutDialogActivity final
    : public EventActivity<ShowAboutDialogActivity, ShowAboutDialogEvent> {
  public:
    static const char* className() { return "ShowAboutDialogActivity"; }
    ShowAboutDialogActivity(FilesystemResource& filesystem, UserInterfaceResource& userInterface,
                            USBResource& usb)
        : filesystem_(filesystem), userInterface_(userInterface), usb_(usb) {}

  private:
    void handle(const ShowAboutDialogEvent& event) override;
    FilesystemResource& filesystem_;
    UserInterfaceResource& userInterface_;
    USBResource& usb_;
};
