// The tray icon as a user meets it on a Wine virtual desktop with a taskbar:
// clicked with xdotool, read through qvdriver, its image told by the pixels.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "tests/e2e/AgentWithSimulators.h"

namespace quorvel::e2e {
namespace {

namespace fs = std::filesystem;

// Wine draws a taskbar with a notification area only on a virtual desktop
// of this name.
constexpr char kDesktop[] = "shell";
constexpr char kExplorerKey[] = "HKCU\\Software\\Wine\\Explorer";
constexpr char kDesktopsKey[] = "HKCU\\Software\\Wine\\Explorer\\Desktops";

// Long enough for Wine to show a tooltip or a window on two busy cores.
constexpr milliseconds kShowTimeout{8000};
const std::string kShowMs = std::to_string(kShowTimeout.count());

// Undoes qvdriver's escaping of values on key=value lines.
std::string unescape(const std::string& value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i] == '\\' && i + 1 < value.size() ? value[++i] : '\0';
        out += c == '\0' ? value[i] : c == 'r' ? '\r' : c == 'n' ? '\n' : c == 't' ? '\t' : c;
    }
    return out;
}

// The driver's `kind` lines; an escaped text or title always comes last.
using Fields = std::map<std::string, std::string>;
std::vector<Fields> records(const std::string& out, const std::string& kind) {
    std::vector<Fields> found;
    for (std::string line : linesOf(out)) {
        if (line.rfind(kind, 0) != 0) {
            continue;
        }
        Fields values;
        for (const std::string last : {"text", "title"}) {
            const auto at = line.find(" " + last + "=");
            if (at != std::string::npos) {
                values[last] = unescape(line.substr(at + last.size() + 2));
                line.erase(at);
            }
        }
        std::replace(line.begin(), line.end(), ' ', '\n');
        values.merge(parseKeyValues(line));
        found.push_back(values);
    }
    return found;
}

struct Rect {
    int left = 0, top = 0, right = 0, bottom = 0;
    int centerX() const { return (left + right) / 2; }
    int centerY() const { return (top + bottom) / 2; }
    bool empty() const { return right <= left || bottom <= top; }
};

Rect parseRect(const std::string& text) {
    Rect r;
    return std::sscanf(text.c_str(), "%d,%d,%d,%d", &r.left, &r.top, &r.right, &r.bottom) == 4
               ? r
               : Rect{};
}

// What a screenshot shows at the right end of the taskbar.
constexpr char kNoIcon[] = "no icon";
constexpr char kGood[] = "the good icon";
constexpr char kFault[] = "the fault icon";

struct IconShot {
    std::string look = "something unclear";
    Rect box;  // the icon's pixels, in desktop coordinates
};

class Tray : public AgentWithSimulators {
  protected:
    void SetUp() override {
        // The base class ends other tests' leftovers on the default desktop
        // before the desktop changes.
        AgentWithSimulators::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        shots_ = harness().setup().runsDir / (currentTestName() + ".shots");
        fs::remove_all(shots_);
        fs::create_directories(shots_);
        desktopSet_ = true;
        for (const Strings& value : {Strings{kDesktopsKey, "/v", kDesktop, "/d", "1024x768"},
                                     Strings{kExplorerKey, "/v", "Desktop", "/d", kDesktop}}) {
            Strings args{"reg", "add"};
            args.insert(args.end(), value.begin(), value.end());
            args.push_back("/f");
            ASSERT_EQ(harness().wine(args).exitCode, 0);
        }
    }

    void TearDown() override {
        AgentWithSimulators::TearDown();
        if (desktopSet_) {
            // The tests after this one expect Wine's default desktop.
            harness().wine({"reg", "delete", kExplorerKey, "/v", "Desktop", "/f"});
            harness().wine({"reg", "delete", kDesktopsKey, "/v", kDesktop, "/f"});
        }
    }

    // The first value of each name; the file is Latin-1, the driver UTF-8.
    std::map<std::string, std::string> german() {
        std::map<std::string, std::string> texts;
        for (const std::string& line :
             linesOf(readFile(harness().setup().resourcesDir / "de.txt"))) {
            std::string utf8;
            for (const char c : line) {
                const auto byte = static_cast<unsigned char>(c);
                utf8 += byte < 0x80 ? std::string(1, c)
                                    : std::string{static_cast<char>(0xC0 | (byte >> 6)),
                                                  static_cast<char>(0x80 | (byte & 0x3F))};
            }
            const auto eq = utf8.find('=');
            if (eq != std::string::npos) {
                texts.emplace(utf8.substr(0, eq), utf8.substr(eq + 1));
            }
        }
        EXPECT_FALSE(texts.empty()) << "the build has no German language file";
        return texts;
    }

    // The virtual desktop's X window, whose coordinates are the desktop's.
    const std::string& desktop() {
        const Strings search{"search", "--name", std::string("^") + kDesktop + " - Wine desktop$"};
        if (desktop_.empty()) {
            waitUntil([&] { return !(desktop_ = linesOf(xdotool(search) + "\n")[0]).empty(); },
                      kStartTimeout, milliseconds(200));
            EXPECT_FALSE(desktop_.empty()) << "no virtual desktop window (is xdotool installed?)";
        }
        return desktop_;
    }

    const Rect& taskbar() {
        if (taskbar_.empty()) {
            waitUntil(
                [&] {
                    taskbar_ = parseRect(parseKeyValues(harness().driver({"taskbar"}).out)["rect"]);
                    return !taskbar_.empty();
                },
                kStartTimeout, milliseconds(200));
            EXPECT_FALSE(taskbar_.empty()) << "no taskbar";
        }
        return taskbar_;
    }

    CommandResult onDisplay(const Strings& argv) {
        return runCaptured(argv, {{"DISPLAY", harness().setup().display}}, kExitTimeout);
    }

    std::string xdotool(Strings args) {
        args.insert(args.begin(), "xdotool");
        const CommandResult r = onDisplay(args);
        EXPECT_TRUE(r.exitCode == 0 || args[1] == "search") << "xdotool failed: " << r.err;
        return r.out;
    }

    void mouseTo(int x, int y) {
        xdotool({"mousemove", "--window", desktop(), std::to_string(x), std::to_string(y)});
    }

    // Somewhere on the desktop where nothing reacts to the mouse.
    void mouseAway() { mouseTo(taskbar().right / 2, taskbar().top / 2); }

    void click(const Rect& at, const std::string& button, int times = 1) {
        mouseTo(at.centerX(), at.centerY());
        xdotool({"click", "--repeat", std::to_string(times), "--delay", "120", button});
    }

    // The agent's icon, the only one at the taskbar's right end: a blue disc,
    // the fault icon with a red badge in its lower right quarter.
    IconShot shootIcon() {
        IconShot shot;
        const fs::path file = shots_ / ("shot-" + std::to_string(++shotsTaken_) + ".png");
        mouseAway();  // the pointer must not cover the icon
        const Rect bar = taskbar();
        const int width = 48;
        const int height = bar.bottom - bar.top;
        const std::string area = std::to_string(width) + "x" + std::to_string(height) + "+" +
                                 std::to_string(bar.right - width) + "+" + std::to_string(bar.top);
        const CommandResult grab = onDisplay({"import", "-window", desktop(), file.string()});
        const CommandResult pixels = runCaptured({"stream", "-map", "rgb", "-storage-type", "char",
                                                  "-extract", area, file.string(), "-"},
                                                 {}, kExitTimeout);
        if (grab.exitCode != 0 ||
            pixels.out.size() != static_cast<std::size_t>(width * height * 3)) {
            return shot;
        }
        const auto channel = [&](int x, int y, int c) {
            return static_cast<unsigned char>(pixels.out[(y * width + x) * 3 + c]);
        };
        Rect box{width, height, -1, -1};
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const int r = channel(x, y, 0), g = channel(x, y, 1), b = channel(x, y, 2);
                if (std::max({r, g, b}) - std::min({r, g, b}) > 60) {
                    box = Rect{std::min(box.left, x), std::min(box.top, y),
                               std::max(box.right, x + 1), std::max(box.bottom, y + 1)};
                }
            }
        }
        int blue = 0, redInCorner = 0, redElsewhere = 0;
        for (int y = box.top; y < box.bottom; ++y) {
            for (int x = box.left; x < box.right; ++x) {
                const int r = channel(x, y, 0), g = channel(x, y, 1), b = channel(x, y, 2);
                blue += b > 150 && b > r + 60 ? 1 : 0;
                if (r > 170 && g < 110 && b < 110) {
                    ++(x >= box.centerX() && y >= box.centerY() ? redInCorner : redElsewhere);
                }
            }
        }
        shot.box = Rect{box.left + bar.right - width, box.top + bar.top,
                        box.right + bar.right - width, box.bottom + bar.top};
        if (box.empty()) {
            shot.look = kNoIcon;
        } else if (blue >= 30 && redInCorner == 0 && redElsewhere == 0) {
            shot.look = kGood;
        } else if (blue >= 30 && redInCorner >= 10 && redElsewhere <= redInCorner / 4) {
            shot.look = kFault;
        }
        return shot;
    }

    // Waits until the screen shows `expected` at the icon's place.
    ::testing::AssertionResult showsIcon(const std::string& expected) {
        IconShot shot;
        if (waitUntil([&] { return (shot = shootIcon()).look == expected; }, kShowTimeout,
                      milliseconds(250))) {
            lastIcon_ = shot.box;
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure()
               << "expected " << expected << ", the screen shows " << shot.look << " in " << shots_;
    }

    std::vector<Fields> rightClick() {
        click(lastIcon_, "3");
        const CommandResult r = drive({"wait-menu", kShowMs});
        EXPECT_EQ(parseKeyValues(r.out)["default"], std::to_string(ID_OPEN_PORTAL));
        return records(r.out, "item ");
    }

    void doubleClick() { click(lastIcon_, "1", 2); }

    void choose(const std::vector<Fields>& menu, int id) {
        for (const Fields& item : menu) {
            if (item.at("id") == std::to_string(id)) {
                click(parseRect(item.at("rect")), "1");
                drive({"wait-menu-gone", kShowMs});
                return;
            }
        }
        FAIL() << "the menu has no item " << id;
    }

  private:
    fs::path shots_;
    int shotsTaken_ = 0;
    bool desktopSet_ = false;
    std::string desktop_;
    Rect taskbar_;
    Rect lastIcon_;
};

// In fault, a double-click first shows what is wrong and says hello only
// after OK. (Which tooltip and image each state gives is TrayStatusTest's.)
TEST_F(Tray, ShowsTheAgentsStateAndCarriesOutTheUsersCommandsInTheSystemsLanguage) {
    plugDongle();
    Config settings = config();
    // A failed hello plans the next after this; none may run meanwhile.
    settings["CYCLIC_HELLO_INTERVAL_ON_ERROR"] = "45000";
    WineProcess& agent = startAgent(
        agentFolder(settings),
        {{"WINEDLLOVERRIDES", "mscoree,mshtml=;setupapi,hid=n,b"}, {"LC_ALL", "de_DE.UTF-8"}});
    ASSERT_TRUE(waitForLoggerWindow(&agent));
    const auto de = german();
    ASSERT_TRUE(waitForStored(minuteAhead)) << "the first answer's minute was not planned";
    ASSERT_TRUE(showsIcon(kGood));

    const auto menu = rightClick();
    ASSERT_EQ(menu.size(), 3u);
    const std::pair<int, const char*> items[] = {
        {ID_OPEN_PORTAL, "SYS_OPEN_PORTAL"}, {ID_ABOUT, "SYS_ABOUT_US"}, {ID_EXIT, "SYS_EXIT"}};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(menu[i].at("id"), std::to_string(items[i].first));
        EXPECT_EQ(menu[i].at("text"), de.at(items[i].second));
    }
    choose(menu, ID_ABOUT);
    const CommandResult about = drive({"wait-dialog", kShowMs});
    const auto dialogs = records(about.out, "dialog ");
    ASSERT_EQ(dialogs.size(), 1u) << about.out;
    EXPECT_EQ(dialogs.front().at("title"), de.at("SYS_ABOUT_US"));
    std::map<std::string, std::string> controls;
    for (const Fields& control : records(about.out, "control ")) {
        controls[control.at("id")] = control.count("text") ? control.at("text") : "";
    }
    EXPECT_EQ(controls[std::to_string(IDC_SOFTWARE_VERSION)], "2.7.1");
    EXPECT_EQ(controls[std::to_string(IDC_FIRMWARE_VERSION)], kFirmware);
    EXPECT_EQ(controls[std::to_string(IDC_SERIAL_NUMBER)], kSerial);
    drive({"dialog-press", "1"});
    drive({"wait-no-dialog", kShowMs});

    ASSERT_EQ(dongle().command("unplug dongle"), "ok");
    openPortal();
    ASSERT_TRUE(showsIcon(kFault));

    doubleClick();
    const CommandResult box = drive({"wait-msgbox", kShowMs});
    auto values = parseKeyValues(box.out);
    EXPECT_EQ(values["count"], "1") << box.out;
    EXPECT_NE(box.out.find(" title=" + de.at("ERROR_MESSAGE_TITLE") + "\n"), std::string::npos)
        << box.out;
    EXPECT_EQ(unescape(values["static"]), de.at("MSG_BOX_NO_USB") + "\r\n");
    // Back in while the box waits, so that the hello after it can be read.
    ASSERT_EQ(dongle().command("plug dongle"), "ok");
    EXPECT_FALSE(waitForHellos(2, milliseconds(1000))) << "a hello went out before OK";
    const auto pressed = Clock::now();
    drive({"msgbox-ok"});
    ASSERT_TRUE(waitForHellos(2, milliseconds(5000))) << "no hello after OK";
    EXPECT_GE(portal().requests()[1].connectedAt, pressed);

    choose(rightClick(), ID_EXIT);
    EXPECT_EQ(agent.waitForExit(kExitTimeout), 0) << "Exit did not end the agent with 0";
    EXPECT_TRUE(showsIcon(kNoIcon)) << "the icon outlived the agent";
}

}  // namespace
}  // namespace quorvel::e2e
