// The tray icon as a user meets it, on a Wine virtual desktop with a
// taskbar: the test points at the icon and clicks it (xdotool), reads what
// appears through qvdriver, and tells the good image from the fault image by
// the pixels of a screenshot.

#include <gtest/gtest.h>

#include <time.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <optional>
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
constexpr char kDesktopSize[] = "1024x768";
constexpr char kExplorerKey[] = "HKCU\\Software\\Wine\\Explorer";
constexpr char kDesktopsKey[] = "HKCU\\Software\\Wine\\Explorer\\Desktops";

constexpr char kEnglish[] = "en_US.UTF-8";
constexpr char kGerman[] = "de_DE.UTF-8";

// Long enough for Wine to show a tooltip or a window on two busy cores; a
// deadline that passes is a fault.
constexpr milliseconds kShowTimeout{8000};

// Undoes qvdriver's escaping of values on key=value lines.
std::string unescape(const std::string& value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        const char next = value[++i];
        out += next == 'r' ? '\r' : next == 'n' ? '\n' : next == 't' ? '\t' : next;
    }
    return out;
}

// The fields of a driver line: its key=value words, and under "text" or
// "title" its escaped text, which is always the last field.
using Fields = std::map<std::string, std::string>;
Fields fields(std::string line) {
    Fields values;
    for (const std::string last : {" text=", " title="}) {
        const auto at = line.find(last);
        if (at != std::string::npos) {
            values[last.substr(1, last.size() - 2)] = unescape(line.substr(at + last.size()));
            line.erase(at);
        }
    }
    std::replace(line.begin(), line.end(), ' ', '\n');
    values.merge(parseKeyValues(line));
    return values;
}

// The lines of driver output that start with `kind` ("item ", "control ").
std::vector<Fields> records(const std::string& out, const std::string& kind) {
    std::vector<Fields> found;
    for (const std::string& line : linesOf(out)) {
        if (line.rfind(kind, 0) == 0) {
            found.push_back(fields(line));
        }
    }
    return found;
}

struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
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

// A language file as the agent reads it: the first value of each name. The
// files are in Windows-1252 without its 0x80-0x9F, that is Latin-1; the
// driver speaks UTF-8.
std::map<std::string, std::string> languageTexts(const fs::path& file) {
    std::map<std::string, std::string> texts;
    for (const std::string& line : linesOf(readFile(file))) {
        std::string utf8;
        for (const char c : line) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte < 0x80) {
                utf8 += c;
            } else {
                utf8 += static_cast<char>(0xC0 | (byte >> 6));
                utf8 += static_cast<char>(0x80 | (byte & 0x3F));
            }
        }
        const auto eq = utf8.find('=');
        if (eq != std::string::npos) {
            texts.emplace(utf8.substr(0, eq), utf8.substr(eq + 1));
        }
    }
    return texts;
}

// The local clock time of a point in time as the tooltip gives it: HH:MM.
std::string clockText(int64_t ms) {
    const time_t seconds = static_cast<time_t>(ms / 1000);
    tm local{};
    localtime_r(&seconds, &local);
    char text[8];
    std::snprintf(text, sizeof text, "%02d:%02d", local.tm_hour, local.tm_min);
    return text;
}

// What a screenshot shows at the right end of the taskbar.
constexpr char kNoIcon[] = "no icon";
constexpr char kGood[] = "the good icon";
constexpr char kFault[] = "the fault icon";

struct IconShot {
    std::string look = "something unclear";
    Rect box;  // the icon's pixels, in desktop coordinates
    fs::path file;
    std::string detail;
};

class Tray : public AgentWithSimulators {
  protected:
    void SetUp() override {
        // Leftovers of other tests live on the default desktop: the base
        // class sees to them before the desktop changes.
        AgentWithSimulators::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        shots_ = harness().setup().runsDir / (currentTestName() + ".shots");
        fs::remove_all(shots_);
        fs::create_directories(shots_);
        ASSERT_EQ(harness()
                      .wine({"reg", "add", kDesktopsKey, "/v", kDesktop, "/d", kDesktopSize, "/f"})
                      .exitCode,
                  0);
        ASSERT_EQ(harness()
                      .wine({"reg", "add", kExplorerKey, "/v", "Desktop", "/d", kDesktop, "/f"})
                      .exitCode,
                  0);
        desktopSet_ = true;
        // An agent that a crashed run left on the virtual desktop would hold
        // the single-instance mutex.
        harness().driver({"kill-all"});
        ASSERT_EQ(harness().driver({"wait-gone", "10000"}).exitCode, 0);
    }

    void TearDown() override {
        AgentWithSimulators::TearDown();
        if (desktopSet_) {
            // The tests after this one expect Wine's default desktop.
            harness().wine({"reg", "delete", kExplorerKey, "/v", "Desktop", "/f"});
            harness().wine({"reg", "delete", kDesktopsKey, "/v", kDesktop, "/f"});
        }
    }

    std::map<std::string, std::string> display() {
        return {{"DISPLAY", harness().setup().display}};
    }

    // Starts the agent from a folder with `settings` on the virtual desktop,
    // with Wine reporting the system language of `locale`, and waits until
    // its first hello has reached the portal: by then start-up has read the
    // language file, and the icon shows what the hello found.
    WineProcess* startAgentSpeaking(const Config& settings, const std::string& locale,
                                    const std::string& suffix = "") {
        const fs::path folder = agentFolder(settings, suffix);
        const std::size_t hellos = portal().requests().size();
        WineProcess& agent = startAgent(
            folder, {{"WINEDLLOVERRIDES", "mscoree,mshtml=;setupapi,hid=n,b"}, {"LC_ALL", locale}});
        if (!waitForLoggerWindow(&agent)) {
            return nullptr;
        }
        if (!waitForHellos(hellos + 1)) {
            ADD_FAILURE() << "no first hello";
            return nullptr;
        }
        return &agent;
    }

    // The language file the agent reads for `code`.
    std::map<std::string, std::string> texts(const std::string& code) {
        const fs::path dir = harness().setup().resourcesDir;
        EXPECT_FALSE(dir.empty()) << "the build has no language files";
        return languageTexts(dir / (code + ".txt"));
    }

    // --- the screen ---------------------------------------------------------

    // The X window of the virtual desktop, whose coordinates are the
    // desktop's own.
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
                    const CommandResult r = harness().driver({"taskbar"});
                    taskbar_ = parseRect(parseKeyValues(r.out)["rect"]);
                    return !taskbar_.empty();
                },
                kStartTimeout, milliseconds(200));
            EXPECT_FALSE(taskbar_.empty()) << "no taskbar";
        }
        return taskbar_;
    }

    std::string xdotool(const Strings& args) {
        Strings argv{"xdotool"};
        argv.insert(argv.end(), args.begin(), args.end());
        const CommandResult r = runCaptured(argv, display(), kExitTimeout);
        EXPECT_TRUE(r.exitCode == 0 || args[0] == "search") << "xdotool failed: " << r.err;
        return r.out;
    }

    void mouseTo(int x, int y) {
        xdotool({"mousemove", "--window", desktop(), std::to_string(x), std::to_string(y)});
    }

    // Somewhere on the desktop where nothing reacts to the mouse.
    void mouseAway() { mouseTo(taskbar().right / 2, taskbar().top / 2); }

    void click(int x, int y, const std::string& button, int times = 1) {
        mouseTo(x, y);
        xdotool({"click", "--repeat", std::to_string(times), "--delay", "120", button});
    }

    // Photographs the desktop and looks at the right end of the taskbar,
    // where the notification area shows the agent's icon, the only one. The
    // icons are a blue disc; the fault icon adds a red badge in its lower
    // right quarter. The taskbar around them is grey or white.
    IconShot shootIcon() {
        IconShot shot;
        shot.file = shots_ / ("shot-" + std::to_string(++shots_taken_) + ".png");
        mouseAway();  // the pointer must not cover the icon
        const Rect bar = taskbar();
        const int width = 48;
        const int height = bar.bottom - bar.top;
        const std::string area = std::to_string(width) + "x" + std::to_string(height) + "+" +
                                 std::to_string(bar.right - width) + "+" + std::to_string(bar.top);
        const CommandResult grab = runCaptured({"import", "-window", desktop(), shot.file.string()},
                                               display(), kExitTimeout);
        const CommandResult pixels = runCaptured({"stream", "-map", "rgb", "-storage-type", "char",
                                                  "-extract", area, shot.file.string(), "-"},
                                                 {}, kExitTimeout);
        if (grab.exitCode != 0 ||
            pixels.out.size() != static_cast<std::size_t>(width * height * 3)) {
            shot.detail =
                "cannot read the pixels (is imagemagick installed?): " + grab.err + pixels.err;
            return shot;
        }
        const auto pixel = [&](int x, int y) {
            const auto* p =
                reinterpret_cast<const unsigned char*>(&pixels.out[(y * width + x) * 3]);
            return std::array<int, 3>{p[0], p[1], p[2]};
        };
        Rect box{width, height, -1, -1};
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const auto [r, g, b] = pixel(x, y);
                if (std::max({r, g, b}) - std::min({r, g, b}) > 60) {
                    box = Rect{std::min(box.left, x), std::min(box.top, y),
                               std::max(box.right, x + 1), std::max(box.bottom, y + 1)};
                }
            }
        }
        int blue = 0;
        int redInCorner = 0;
        int redElsewhere = 0;
        for (int y = box.top; y < box.bottom; ++y) {
            for (int x = box.left; x < box.right; ++x) {
                const auto [r, g, b] = pixel(x, y);
                blue += b > 150 && b > r + 60 ? 1 : 0;
                if (r > 170 && g < 110 && b < 110) {
                    ++(x >= box.centerX() && y >= box.centerY() ? redInCorner : redElsewhere);
                }
            }
        }
        shot.box = Rect{box.left + bar.right - width, box.top + bar.top,
                        box.right + bar.right - width, box.bottom + bar.top};
        shot.detail = "blue pixels " + std::to_string(blue) + ", red in the lower right quarter " +
                      std::to_string(redInCorner) + ", red elsewhere " +
                      std::to_string(redElsewhere);
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
        const bool seen = waitUntil(
            [&] {
                shot = shootIcon();
                return shot.look == expected;
            },
            kShowTimeout, milliseconds(250));
        if (seen) {
            lastIcon_ = shot.box;
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure()
               << "expected " << expected << ", the last screenshot shows " << shot.look << " ("
               << shot.detail << "): " << shot.file;
    }

    // Where the icon was last seen; photographs it when it was not yet.
    Rect icon() {
        if (lastIcon_.empty()) {
            const IconShot shot = shootIcon();
            EXPECT_NE(shot.look, kNoIcon) << "no icon to point at: " << shot.file;
            lastIcon_ = shot.box;
        }
        return lastIcon_;
    }

    // Rests the pointer on the icon, as a user who wants to know what it
    // says; returns the tooltip's text, or nothing when none appears.
    std::optional<std::string> hover() {
        mouseAway();
        // A tooltip still shown from before would be taken for the new one.
        drive({"wait-no-tooltip", "8000"});
        const Rect at = icon();
        mouseTo(at.centerX(), at.centerY());
        const CommandResult r =
            harness().driver({"wait-tooltip", std::to_string(kShowTimeout.count())});
        mouseAway();
        if (r.exitCode != 0) {
            return std::nullopt;
        }
        return unescape(parseKeyValues(r.out)["text"]);
    }

    // Right-clicks the icon and reads the items of the menu that opens,
    // whose default is Open Portal.
    std::vector<Fields> rightClick() {
        const Rect at = icon();
        click(at.centerX(), at.centerY(), "3");
        const CommandResult r = drive({"wait-menu", std::to_string(kShowTimeout.count())});
        EXPECT_EQ(parseKeyValues(r.out)["default"], std::to_string(ID_OPEN_PORTAL));
        return records(r.out, "item ");
    }

    void choose(const std::vector<Fields>& menu, int id) {
        for (const Fields& item : menu) {
            if (item.at("id") == std::to_string(id)) {
                const Rect at = parseRect(item.at("rect"));
                ASSERT_FALSE(at.empty()) << "the menu does not say where item " << id << " is";
                click(at.centerX(), at.centerY(), "1");
                drive({"wait-menu-gone", std::to_string(kShowTimeout.count())});
                return;
            }
        }
        FAIL() << "the menu has no item " << id;
    }

    void doubleClick() {
        const Rect at = icon();
        click(at.centerX(), at.centerY(), "1", 2);
    }

    // The menu's items in `language`, and About chosen from it with the
    // values the last hello read; pressing OK closes it.
    void expectMenuAndAbout(const std::map<std::string, std::string>& language) {
        const auto menu = rightClick();
        ASSERT_EQ(menu.size(), 3u);
        const int ids[] = {ID_OPEN_PORTAL, ID_ABOUT, ID_EXIT};
        const char* names[] = {"SYS_OPEN_PORTAL", "SYS_ABOUT_US", "SYS_EXIT"};
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(menu[i].at("id"), std::to_string(ids[i]));
            EXPECT_EQ(menu[i].at("text"), language.at(names[i]));
            EXPECT_EQ(menu[i].at("bold"), i == 0 ? "1" : "0");
        }
        choose(menu, ID_ABOUT);
        const CommandResult r = drive({"wait-dialog", std::to_string(kShowTimeout.count())});
        const auto dialogs = records(r.out, "dialog ");
        ASSERT_EQ(dialogs.size(), 1u) << r.out;
        EXPECT_EQ(dialogs.front().at("title"), language.at("SYS_ABOUT_US"));
        std::map<std::string, std::string> controls;
        for (const Fields& control : records(r.out, "control ")) {
            controls[control.at("id")] = control.count("text") ? control.at("text") : "";
        }
        EXPECT_EQ(controls[std::to_string(IDC_SOFTWARE_VERSION)], "2.7.1");
        EXPECT_EQ(controls[std::to_string(IDC_FIRMWARE_VERSION)], kFirmware);
        EXPECT_EQ(controls[std::to_string(IDC_SERIAL_NUMBER)], kSerial);
        drive({"dialog-press", "1"});
        drive({"wait-no-dialog", std::to_string(kShowTimeout.count())});
    }

    bool iconPresent(const std::string& owner) {
        return parseKeyValues(drive({"tray-probe", owner}).out)["present"] == "1";
    }

  private:
    fs::path shots_;
    int shots_taken_ = 0;
    bool desktopSet_ = false;
    std::string desktop_;
    Rect taskbar_;
    Rect lastIcon_;
};

// An English system: the good icon and its tooltip; a double-click says
// hello at once; the menu, and About with the dongle's values. The dongle
// unplugged: a failed hello shows the fault icon and its tooltip, and a
// double-click first shows what is wrong, saying hello only after OK. Exit from the menu
// ends the agent with 0 and takes the icon away. Then a German system gets
// the German menu and About.
TEST_F(Tray, ShowsTheAgentsStateAndCarriesOutTheUsersCommandsInTheSystemsLanguage) {
    plugDongle();
    Config settings = config();
    // A failed hello plans the next after this; none may run meanwhile.
    settings["CYCLIC_HELLO_INTERVAL_ON_ERROR"] = "45000";
    WineProcess* agent = startAgentSpeaking(settings, kEnglish);
    ASSERT_TRUE(agent);
    const auto en = texts("en");
    const auto planned = waitForStored(minuteAhead);
    ASSERT_TRUE(planned) << "the first answer's minute was not planned";
    ASSERT_TRUE(showsIcon(kGood));
    const auto tip = hover();
    ASSERT_TRUE(tip) << "no tooltip over the icon";
    EXPECT_EQ(*tip, en.at("OPEN_PORTAL") + "\r\n" + en.at("NEXT_TRANSMIT") + ": " +
                        clockText(msOf(planned->nextHelloTime)));

    doubleClick();
    ASSERT_TRUE(waitForHellos(2, milliseconds(5000))) << "the double-click did not say hello";
    ASSERT_TRUE(waitForStored(minuteAhead));
    expectMenuAndAbout(en);

    ASSERT_EQ(dongle().command("unplug dongle"), "ok");
    openPortal();
    ASSERT_TRUE(showsIcon(kFault));
    const auto faultTip = hover();
    ASSERT_TRUE(faultTip) << "no tooltip over the fault icon";
    EXPECT_EQ(faultTip->rfind(en.at("NO_USB") + "\r\n" + en.at("NEXT_TRANSMIT") + ": ", 0), 0u)
        << *faultTip;

    doubleClick();
    const CommandResult box = drive({"wait-msgbox", std::to_string(kShowTimeout.count())});
    auto values = parseKeyValues(box.out);
    EXPECT_EQ(values["count"], "1") << box.out;
    EXPECT_NE(box.out.find(" title=" + en.at("ERROR_MESSAGE_TITLE") + "\n"), std::string::npos)
        << box.out;
    EXPECT_EQ(unescape(values["static"]), en.at("MSG_BOX_NO_USB") + "\r\n");
    // Back in while the box waits, so that the hello after it can be read.
    ASSERT_EQ(dongle().command("plug dongle"), "ok");
    EXPECT_FALSE(waitForHellos(3, milliseconds(1000))) << "a hello went out before OK";
    const auto pressed = std::chrono::steady_clock::now();
    drive({"msgbox-ok"});
    ASSERT_TRUE(waitForHellos(3, milliseconds(5000))) << "no hello after OK";
    EXPECT_GE(portal().requests()[2].connectedAt, pressed);
    EXPECT_TRUE(showsIcon(kGood));

    const auto windows = harness().loggerWindows();
    ASSERT_TRUE(windows);
    ASSERT_EQ(windows->size(), 1u);
    choose(rightClick(), ID_EXIT);
    const auto code = agent->waitForExit(kExitTimeout);
    ASSERT_TRUE(code) << "Exit did not end the agent";
    EXPECT_EQ(*code, 0);
    EXPECT_FALSE(iconPresent(windows->front().hwnd)) << "the icon outlived the agent";
    EXPECT_TRUE(showsIcon(kNoIcon));

    fs::remove(harness().runTimeFile());  // so that it says hello at start
    ASSERT_TRUE(startAgentSpeaking(config(), kGerman, ".de"));
    ASSERT_TRUE(showsIcon(kGood));
    expectMenuAndAbout(texts("de"));
}

}  // namespace
}  // namespace quorvel::e2e
