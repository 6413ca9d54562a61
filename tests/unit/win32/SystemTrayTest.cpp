// The tray icon against a recording stand-in for the shell: what it hands
// the notification area, and how it answers the icon's mouse messages.

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "resources/resource.h"
#include "tests/unit/support/FakeMainWindow.h"
#include "tests/unit/support/FakeSystemLanguage.h"
#include "tests/unit/support/TempFolder.h"
#include "ui/DisplayStatus.h"
#include "ui/Texts.h"
#include "ui/win32/SystemTray.h"

namespace {

class RecordingShell final : public NotifyIconShell {
  public:
    struct Call {
        DWORD message;
        NOTIFYICONDATAA data;
    };
    bool notify(DWORD message, const NOTIFYICONDATAA& data) override {
        calls.push_back({message, data});
        if (message == NIM_ADD && refuseAdds > 0) {
            --refuseAdds;
            return false;
        }
        return true;
    }
    std::vector<Call> calls;
    int refuseAdds = 0;
};

using Strings = std::vector<std::string>;
using Commands = std::vector<std::pair<WPARAM, LPARAM>>;

// Records the item texts of each menu it shows, and closes the menu again.
class MenuRecordingTray final : public CSystemTray {
  public:
    using CSystemTray::CSystemTray;
    std::vector<Strings> menus;

  protected:
    void customizeMenu(HMENU popup) override {
        Strings items;
        for (int position = 0; position < GetMenuItemCount(popup); ++position) {
            char text[64] = {};
            GetMenuStringA(popup, static_cast<UINT>(position), text, sizeof text, MF_BYPOSITION);
            items.push_back(text);
        }
        menus.push_back(items);
        // The menu is tracked modally next; Escape ends it at once.
        PostMessageA(notifyData().hWnd, WM_KEYDOWN, VK_ESCAPE, 0);
    }
};

class SystemTrayTest : public ::testing::Test {
  protected:
    SystemTrayTest() {
        Texts::resetForTesting();
        folder.write("resources/en.txt",
                     "OPEN_PORTAL=Open the portal\r\nNO_INTERNET=No internet\r\n"
                     "NO_USB=No stick\r\nMAX_DUTY_CYCLE=Duty cycle\r\nNEXT_TRANSMIT=Next\r\n"
                     "SYS_OPEN_PORTAL=Portal\r\nSYS_ABOUT_US=Info\r\nSYS_EXIT=Quit\r\n");
        Texts::init(folder.file("quorvel.ini"), FakeSystemLanguage("English"));
        saved.internet = displayStatus().internetState;
        saved.usb = displayStatus().usbState;
        saved.duty = displayStatus().dutyState;
        saved.time = displayStatus().nextPortalConnectionTime();
    }
    ~SystemTrayTest() override {
        displayStatus().internetState = saved.internet;
        displayStatus().usbState = saved.usb;
        displayStatus().dutyState = saved.duty;
        displayStatus().setNextPortalConnectionTime(saved.time);
        Texts::resetForTesting();
    }

    bool create() {
        return tray.create(GetModuleHandleA(nullptr), target.get(), WM_TRAY_NOTIFY,
                           "Open Portal - Double click here", IDI_TRAY_GOOD, TRAY_ICON_ID);
    }
    void setStatus(bool internet, bool usb, bool duty, const std::string& time) {
        displayStatus().internetState = internet;
        displayStatus().usbState = usb;
        displayStatus().dutyState = duty;
        displayStatus().setNextPortalConnectionTime(time);
    }
    const RecordingShell::Call& last() const { return shell.calls.back(); }
    // The commands posted to the target window, taken from its queue.
    Commands posted() {
        Commands commands;
        for (MSG m{}; PeekMessageA(&m, target.get(), WM_COMMAND, WM_COMMAND, PM_REMOVE);) {
            commands.emplace_back(m.wParam, m.lParam);
        }
        return commands;
    }

    struct {
        bool internet, usb, duty;
        std::string time;
    } saved;
    TempFolder folder;
    RecordingShell shell;
    std::unique_ptr<std::remove_pointer_t<HWND>, decltype(&DestroyWindow)> target{
        CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                        GetModuleHandleA(nullptr), nullptr),
        &DestroyWindow};
    MenuRecordingTray tray{shell, 20};
};

// Under Wine each refresh is a round trip to the taskbar's process.
TEST_F(SystemTrayTest, TheIconFollowsTheStateAtOnceWithItsTooltipCutAtItsLimit) {
    ASSERT_TRUE(create());
    setStatus(false, false, true, std::string(200, '7'));
    const std::size_t before = shell.calls.size();
    tray.refreshStatus();
    // One round trip to the taskbar for both.
    ASSERT_EQ(shell.calls.size(), before + 1);
    const RecordingShell::Call fault = last();
    EXPECT_EQ(fault.message, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_EQ(fault.data.uFlags, static_cast<UINT>(NIF_ICON | NIF_TIP));
    const std::string expected =
        ("No internet\r\nNo stick\r\nNext: " + std::string(200, '7')).substr(0, 127);
    EXPECT_EQ(std::string(fault.data.szTip, 127), expected);
    EXPECT_EQ(fault.data.szTip[127], '\0');

    // A dongle notice shows its state at once.
    setStatus(true, true, true, "");
    EXPECT_EQ(tray.deviceChanged(0x8004), 0);  // removal
    EXPECT_FALSE(displayStatus().usbState);
    EXPECT_STREQ(last().data.szTip, "No stick\r\n");
    tray.deviceChanged(0x8000);  // arrival
    EXPECT_TRUE(displayStatus().usbState);
    EXPECT_STREQ(last().data.szTip, "Open the portal\r\n");
}

TEST_F(SystemTrayTest, ADoubleClickPostsOpenPortalAndOtherIconsAreIgnored) {
    ASSERT_TRUE(create());
    EXPECT_EQ(tray.handleNotification(131, WM_LBUTTONDBLCLK), 0);
    EXPECT_EQ(tray.handleNotification(TRAY_ICON_ID, WM_MOUSEMOVE), 1);
    EXPECT_TRUE(posted().empty());
    // Posted, not sent: a sent command would not wait in the queue.
    EXPECT_EQ(tray.handleNotification(TRAY_ICON_ID, WM_LBUTTONDBLCLK), 1);
    EXPECT_EQ(posted(), (Commands{{ID_OPEN_PORTAL, 0}}));
}

// Exit must be reachable even when start-up never reads the language file.
TEST_F(SystemTrayTest, ARightClickBeforeTheLanguageIsReadWaitsForItOrForTheNextClick) {
    ASSERT_TRUE(create());
    const Strings builtIn{"Open Portal", "About", "Exit"};
    const Strings translated{"Portal", "Info", "Quit"};
    const auto rightClick = [&] { return tray.handleNotification(TRAY_ICON_ID, WM_RBUTTONUP); };

    EXPECT_EQ(rightClick(), 1);
    EXPECT_TRUE(tray.menus.empty());
    rightClick();
    EXPECT_EQ(tray.menus, std::vector<Strings>{builtIn});

    rightClick();
    EXPECT_EQ(tray.menus.size(), 1u);
    tray.languageRead();
    EXPECT_EQ(tray.menus, (std::vector<Strings>{builtIn, translated}));
    rightClick();
    EXPECT_EQ(tray.menus, (std::vector<Strings>{builtIn, translated, translated}));
}

// At logon the taskbar may not be ready, and a new taskbar knows no icons.
TEST_F(SystemTrayTest, ARefusedIconIsAddedLaterAndANewTaskbarGetsItUnlessItWasRemoved) {
    shell.refuseAdds = 2;
    EXPECT_FALSE(create());
    EXPECT_FALSE(tray.visible());
    const auto deadline = GetTickCount() + 5000;
    while (!tray.visible() && GetTickCount() < deadline) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        for (MSG message{}; PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE);) {
            DispatchMessageA(&message);
        }
    }
    ASSERT_TRUE(tray.visible());

    setStatus(true, false, true, "");
    tray.refreshStatus();
    const auto taskbarCreated = [&] {
        SendMessageA(tray.hiddenWindow(), RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    };
    const std::size_t before = shell.calls.size();
    taskbarCreated();
    ASSERT_GT(shell.calls.size(), before);
    EXPECT_EQ(shell.calls[before].message, static_cast<DWORD>(NIM_ADD));
    EXPECT_STREQ(shell.calls[before].data.szTip, "No stick\r\n");

    EXPECT_TRUE(tray.removeIcon());
    EXPECT_EQ(last().message, static_cast<DWORD>(NIM_DELETE));
    EXPECT_EQ(last().data.uID, TRAY_ICON_ID);
    const std::size_t removed = shell.calls.size();
    taskbarCreated();
    EXPECT_EQ(shell.calls.size(), removed);
}

}  // namespace
