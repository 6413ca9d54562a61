// The real logger window procedure in this process: its log view and the
// dongle's device-change records.

#include <windows.h>

#include <dbt.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/CycleGate.h"
#include "core/SentTexts.h"
#include "dongle/DongleDevice.h"
#include "resources/resource.h"
#include "ui/DisplayStatus.h"
#include "ui/LogText.h"
#include "ui/win32/DeviceNotice.h"
#include "ui/win32/LoggerWindow.h"

namespace {

class LogViewTest : public ::testing::Test {
  protected:
    void SetUp() override {
        static const bool registered = registerLoggerWindowClass(GetModuleHandleA(nullptr));
        ASSERT_TRUE(registered);
        window = createLoggerWindow(GetModuleHandleA(nullptr), links);
        ASSERT_NE(window, nullptr);
        SetWindowPos(window, nullptr, 0, 0, 300, 150, SWP_NOZORDER);  // a few lines scroll
        // The view is made when the window is first shown; a line logged
        // before waits for it.
        logLine("logged while hidden");
        ASSERT_EQ(GetDlgItem(window, IDC_LOG_VIEW), nullptr);
        // As ShowWindow tells it, without mapping a window on the display.
        SendMessageA(window, WM_SHOWWINDOW, TRUE, 0);
        view = GetDlgItem(window, IDC_LOG_VIEW);
        ASSERT_NE(view, nullptr);
        ASSERT_NE(viewText().find("\r\nlogged while hidden"), std::string::npos);
    }
    void TearDown() override {
        DestroyWindow(window);
        // Its destruction asks the thread's loop to end; more tests follow.
        MSG quit{};
        PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    }

    // As the agent's own logger sends a line: lent for the send.
    void logLine(const std::string& line) {
        const SentTexts::Loan loan(sentTexts(), line.c_str());
        SendMessageA(window, WM_COMMAND, ID_LOG_LINE, reinterpret_cast<LPARAM>(line.c_str()));
    }
    // What the window does once the work that logged has returned.
    void showLines() { SendMessageA(window, WM_LOG_VIEW_UPDATE, 0, 0); }
    std::string lineText(int index) const {
        std::string text(4096, '\0');
        *reinterpret_cast<WORD*>(text.data()) = static_cast<WORD>(text.size());
        text.resize(static_cast<std::size_t>(
            SendMessageA(view, EM_GETLINE, index, reinterpret_cast<LPARAM>(text.data()))));
        return text;
    }
    std::string viewText() const {
        std::string text(static_cast<std::size_t>(GetWindowTextLengthA(view)) + 1, '\0');
        text.resize(static_cast<std::size_t>(
            GetWindowTextA(view, text.data(), static_cast<int>(text.size()))));
        return text;
    }
    int firstVisibleLine() const {
        return static_cast<int>(SendMessageA(view, EM_GETFIRSTVISIBLELINE, 0, 0));
    }

    CycleGate gate;
    LoggerWindowLinks links{gate};
    HWND window = nullptr;
    HWND view = nullptr;
};

// Any program can post WM_STARTUP_FINISHED; the commands held during
// start-up must still wait until this process's start-up has finished.
TEST_F(LogViewTest, OnlyThisProcesssFinishedStartupReleasesTheGate) {
    gate.hold();
    SendMessageA(window, WM_STARTUP_FINISHED, 0, 0);
    EXPECT_TRUE(gate.held());
    links.startupFinished = true;
    SendMessageA(window, WM_STARTUP_FINISHED, 0, 0);
    EXPECT_FALSE(gate.held());
}

// The close box only hides the log, and Show Logger (the tray's, or a second
// start's) brings it back: the agent and what it logged live on.
TEST_F(LogViewTest, ClosingOnlyHidesTheWindowAndShowLoggerBringsItBack) {
    SendMessageA(window, WM_COMMAND, ID_SHOW_LOGGER, 0);
    ASSERT_TRUE(IsWindowVisible(window));
    SendMessageA(window, WM_CLOSE, 0, 0);
    ASSERT_TRUE(IsWindow(window));
    EXPECT_FALSE(IsWindowVisible(window));
    SendMessageA(window, WM_COMMAND, ID_SHOW_LOGGER, 0);
    EXPECT_TRUE(IsWindowVisible(window));
}

// Under Wine each change of the visible view costs 20 to 60 ms.
TEST_F(LogViewTest, AtTheCapTheViewShowsEveryKeptLineAndAReaderKeepsTheirPlace) {
    int next = 0;
    const auto numbered = [](int i) { return "line " + std::to_string(i) + std::string(997, '.'); };
    const auto fill = [&](std::size_t lines) {
        const std::string before = viewText();
        for (std::size_t i = 0; i < lines; ++i) {
            logLine(numbered(next++));
        }
        EXPECT_EQ(viewText(), before) << "shown line by line";
        showLines();
    };
    fill(LogText::defaultCapacity / 1000 - 40);
    SendMessageA(view, WM_VSCROLL, SB_TOP, 0);
    SendMessageA(view, EM_LINESCROLL, 0, static_cast<LPARAM>(LogText::defaultCapacity / 1000 / 2));
    const int place = firstVisibleLine();
    const std::string reading = lineText(place);
    ASSERT_EQ(reading.rfind("line ", 0), 0u) << reading;

    fill(80);  // past the cap: a quarter goes
    const std::string text = viewText();
    EXPECT_LE(text.size(), LogText::defaultCapacity);
    // Every line from the oldest kept one to the newest, each once, whole.
    const std::size_t firstBreak = text.find("\r\n");
    ASSERT_EQ(text.substr(0, firstBreak), "Logger:");
    const int oldest = std::stoi(text.substr(firstBreak + 7));
    std::string expected = "Logger:";
    for (int i = oldest; i < next; ++i) {
        expected += "\r\n" + numbered(i);
    }
    EXPECT_EQ(text, expected);
    EXPECT_EQ(lineText(firstVisibleLine()), reading);

    SendMessageA(view, WM_VSCROLL, SB_BOTTOM, 0);
    fill(LogText::defaultCapacity / 1000 / 4 + 10);  // a quarter goes again
    EXPECT_EQ(lineText(static_cast<int>(SendMessageA(view, EM_GETLINECOUNT, 0, 0)) - 1),
              numbered(next - 1));
    SCROLLINFO scroll{};
    scroll.cbSize = sizeof(scroll);
    scroll.fMask = SIF_ALL;
    ASSERT_TRUE(GetScrollInfo(view, SB_VERT, &scroll));
    EXPECT_GE(scroll.nPos + static_cast<int>(scroll.nPage), scroll.nMax);
}

// Any program can find the window by its class and send it commands; an
// address it puts in one must not be read, and it must not end the agent.
TEST_F(LogViewTest, AddressesThisProcessIsNotSendingAreNeitherReadNorObeyed) {
    logLine("lent");
    showLines();
    const std::string before = viewText();
    static const char foreign[] = "not lent by the sender";
    SendMessageA(window, WM_COMMAND, ID_LOG_LINE, reinterpret_cast<LPARAM>(foreign));
    SendMessageA(window, WM_COMMAND, ID_LOG_LINE, 0x12345678);
    showLines();
    EXPECT_EQ(viewText(), before);

    SendMessageA(window, WM_COMMAND, reinterpret_cast<WPARAM>(foreign), ID_FATAL_ERROR);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_NE(before.find("\r\nlent"), std::string::npos);
}

const char dongleInterface[] = "\\\\?\\hid#vid_5e91&pid_2d4a#7&1a2b3c&0&0000#{4d1e55b2}";

// A device-interface record as the system sends it.
std::vector<char> notice(const std::string& name, DWORD type = DBT_DEVTYP_DEVICEINTERFACE) {
    const std::size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name);
    std::vector<char> record(nameOffset + name.size() + 1, '\0');
    auto* header = reinterpret_cast<DEV_BROADCAST_HDR*>(record.data());
    header->dbch_size = static_cast<DWORD>(record.size());
    header->dbch_devicetype = type;
    std::memcpy(record.data() + nameOffset, name.c_str(), name.size() + 1);
    return record;
}

// Only an arrival or a removal comes with a record; for any other event
// lParam, from another program, may be anything.
TEST_F(LogViewTest, OnlyArrivalAndRemovalRecordsAreReadAndOnlyWithinTheirSize) {
    HidDeviceInfo dongle;
    dongle.path = dongleInterface;
    setDongleDevice(dongle);
    const std::vector<char> record = notice(dongleInterface);
    EXPECT_TRUE(isDongleNotice(record.data()));
    EXPECT_FALSE(isDongleNotice(notice(dongleInterface, DBT_DEVTYP_VOLUME).data()));
    EXPECT_FALSE(isDongleNotice(nullptr));
    std::vector<char> cut = record;
    reinterpret_cast<DEV_BROADCAST_HDR*>(cut.data())->dbch_size -= 2;
    EXPECT_FALSE(isDongleNotice(cut.data()));
    reinterpret_cast<DEV_BROADCAST_HDR*>(cut.data())->dbch_size = 12;
    EXPECT_FALSE(isDongleNotice(cut.data()));

    const auto matching = reinterpret_cast<LPARAM>(record.data());
    const bool before = displayStatus().usbState;
    displayStatus().usbState = true;
    const WPARAM others[] = {DBT_DEVICEQUERYREMOVE, DBT_DEVICEREMOVEPENDING, DBT_CUSTOMEVENT,
                             DBT_DEVNODES_CHANGED, 0x10000000 | DBT_DEVICEREMOVECOMPLETE};
    for (const WPARAM event : others) {
        SendMessageA(window, WM_DEVICECHANGE, event, matching);
        EXPECT_TRUE(displayStatus().usbState) << event;
        SendMessageA(window, WM_DEVICECHANGE, event, 0x10);  // an address that crashes if read
    }
    SendMessageA(window, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, matching);
    EXPECT_FALSE(displayStatus().usbState);
    displayStatus().usbState = before;
    setDongleDevice({});
}

}  // namespace
