#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/Log.h"
#include "resources/resource.h"
#include "tests/unit/support/FakeMainWindow.h"
#include "tests/unit/support/FakeSystemLanguage.h"
#include "tests/unit/support/TempFolder.h"
#include "ui/Texts.h"
#include "ui/TrayStatus.h"

namespace {

// The table is process-wide, so every test starts and ends with it empty.
class TextsTest : public ::testing::Test {
  protected:
    TextsTest() { Texts::resetForTesting(); }
    ~TextsTest() override { Texts::resetForTesting(); }

    // The configuration file itself need not exist; only its folder counts.
    std::string configurationPath() const { return folder.file("quorvel.ini"); }
    void writeLanguageFile(const std::string& code, const std::string& bytes) {
        folder.write("resources/" + code + ".txt", bytes);
    }
    void initGermanWith(const std::string& bytes) {
        writeLanguageFile("de", bytes);
        Texts::init(configurationPath(), FakeSystemLanguage("German"));
    }

    TempFolder folder;
};

TEST_F(TextsTest, TheExactLanguageNamePicksTheFileAndAnyOtherGetsEnglish) {
    for (const char* code : {"de", "en", "es", "fr", "it"}) {
        writeLanguageFile(code, std::string("WHICH=") + code + "\r\n");
    }
    const std::pair<const char*, const char*> cases[] = {
        {"German", "de"},  {"English", "en"},      {"Spanish", "es"}, {"French", "fr"},
        {"Italian", "it"}, {"Dutch", "en"},        {"", "en"},        {"german", "en"},
        {"German ", "en"}, {"Swiss German", "en"},
    };
    for (const auto& [name, code] : cases) {
        SCOPED_TRACE(std::string("language \"") + name + "\"");
        Texts::resetForTesting();
        Texts::init(configurationPath(), FakeSystemLanguage(name));
        EXPECT_EQ(Texts::get("WHICH"), code);
    }
}

TEST_F(TextsTest, LinesSplitAtTheFirstEqualsSignKeepSpacesAndTheFirstNameWins) {
    initGermanWith("X=a=b\r\n = \r\n=v\r\nZ\r\nAB\r\nDUP=first\r\nDUP=second\r\nIN=x\ry\r\n");
    // "Z" is too short to count; a line without "=" answers for itself.
    const std::pair<std::string, std::string> expected[] = {
        {"X", "a=b"}, {" ", " "},       {"", "v"},      {"Z", ""},
        {"AB", "AB"}, {"DUP", "first"}, {"IN", "x\ry"}, {"x", ""}};
    for (const auto& [key, text] : expected) {
        EXPECT_EQ(Texts::get(key), text) << "key \"" << key << "\"";
    }
}

// A tooltip refreshed before start-up read the file must not keep empty texts.
TEST_F(TextsTest, AKeyAskedForBeforeInitGetsTheFilesTextAfterIt) {
    const std::string& early = Texts::get("EARLY");
    initGermanWith("EARLY=from the file\r\n");
    EXPECT_EQ(Texts::get("EARLY"), "from the file");
    EXPECT_EQ(early, "");  // what was handed out before stays valid
}

// The GUI thread reads texts while init() inserts them: each stays where and as it is.
TEST_F(TextsTest, LookupsOnAnotherThreadDuringInitStayConsistent) {
    constexpr int count = 4000;
    std::string file;
    for (int i = 0; i < count; ++i) {
        file += "K" + std::to_string(i) + "=V" + std::to_string(i) + "\r\n";
    }
    writeLanguageFile("de", file);

    std::atomic<bool> initDone{false};
    std::vector<const std::string*> seen(count, nullptr);
    int changed = 0;
    std::thread initialiser([&] {
        Texts::init(configurationPath(), FakeSystemLanguage("German"));
        initDone = true;
    });
    for (bool lastPass = false; !lastPass;) {
        lastPass = initDone.load();
        for (int i = count - 1; i >= 0; i -= 3) {
            const std::string& text = Texts::get("K" + std::to_string(i));
            const bool moved = seen[i] != nullptr && seen[i] != &text;
            changed += moved || (!text.empty() && text != "V" + std::to_string(i)) ? 1 : 0;
            seen[i] = text.empty() ? seen[i] : &text;
        }
    }
    initialiser.join();
    EXPECT_EQ(changed, 0);
    EXPECT_EQ(Texts::get("K3999"), "V3999");
}

// A log line is sent synchronously to the GUI thread, which may be asking for a text.
class GuiThreadLookingUpTexts final : public MainWindowCommands {
  public:
    void appendLogLine(const std::string&) override {
        std::packaged_task<void()> lookup([] { Texts::get("ASKED_WHILE_LOGGING"); });
        std::future<void> finished = lookup.get_future();
        lookups.emplace_back(std::move(lookup));
        if (finished.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            ++blocked;
        }
        ++sends;
    }
    void showLogger() override {}
    void statusChanged() override {}
    void fatalError(const char*) override {}

    std::vector<std::thread> lookups;
    int sends = 0;
    int blocked = 0;
};

TEST_F(TextsTest, LoggingDoesNotBlockTheGuiThreadsLookups) {
    writeLanguageFile("de", "K=v\r\n");
    GuiThreadLookingUpTexts gui;
    LogCapture capture(gui);
    setLoggingEnabled(true);
    Texts::init(configurationPath(), FakeSystemLanguage("German"));
    for (std::thread& lookup : gui.lookups) {
        lookup.join();
    }
    EXPECT_GT(gui.sends, 0);
    EXPECT_EQ(gui.blocked, 0);
    EXPECT_EQ(Texts::get("K"), "v");
}

// Shipped in cp1252 (UTF-8 shows garbage) and short enough for the 127-character tooltip.
TEST_F(TextsTest, ShippedFilesAreCompleteCp1252AndFitTheTooltip) {
    const char* const keys[] = {
        "SYS_OPEN_PORTAL",     "SYS_ABOUT_US",   "SYS_EXIT",           "OPEN_PORTAL",
        "NO_INTERNET",         "NO_USB",         "MAX_DUTY_CYCLE",     "NEXT_TRANSMIT",
        "MSG_BOX_NO_INTERNET", "MSG_BOX_NO_USB", "MSG_BOX_DUTY_CYCLE", "ERROR_MESSAGE_TITLE",
    };
    const std::string shipped = std::string(QUORVEL_SOURCE_DIR) + "/quorvel.ini";
    Texts::init(shipped, FakeSystemLanguage("English"));
    const std::string englishExit = Texts::get("SYS_EXIT");
    for (const char* language : {"German", "English", "Spanish", "French", "Italian"}) {
        SCOPED_TRACE(language);
        Texts::resetForTesting();
        Texts::init(shipped, FakeSystemLanguage(language));
        bool nonAscii = false;
        for (const char* key : keys) {
            const std::string& text = Texts::get(key);
            EXPECT_FALSE(text.empty()) << key;
            for (std::size_t i = 0; i < text.size(); ++i) {
                const unsigned char byte = text[i];
                const unsigned char next = i + 1 < text.size() ? text[i + 1] : 0;
                nonAscii = nonAscii || byte >= 0x80;
                EXPECT_FALSE(byte >= 0xC2 && byte <= 0xF4 && (next & 0xC0) == 0x80)
                    << key << " looks like UTF-8: " << text;
            }
        }
        const bool english = std::string(language) == "English";
        EXPECT_EQ(nonAscii, !english);
        EXPECT_EQ(Texts::get("SYS_EXIT") == englishExit, english) << "not translated";
        std::string worst;
        for (const char* key : {"NO_INTERNET", "NO_USB", "MAX_DUTY_CYCLE"}) {
            worst += Texts::get(key) + "\r\n";
        }
        // Every fault at once still leaves room for the next contact time.
        worst += Texts::get("NEXT_TRANSMIT") + ": 14:05";
        EXPECT_LE(worst.size(), 127u) << worst;
    }
}

// The tray's texts, read as start-up reads them.
class TrayStatusTest : public TextsTest {
  protected:
    TrayStatusTest() {
        writeLanguageFile("en",
                          "OPEN_PORTAL=Open\r\nNO_INTERNET=NoNet\r\nNO_USB=NoStick\r\n"
                          "MAX_DUTY_CYCLE=Duty\r\nNEXT_TRANSMIT=Next\r\n"
                          "MSG_BOX_NO_INTERNET=Offline.\r\nMSG_BOX_NO_USB=Plug it in.\r\n"
                          "MSG_BOX_DUTY_CYCLE=Wait.\r\n");
        Texts::init(configurationPath(), FakeSystemLanguage("English"));
    }
};

StatusSnapshot status(bool internet, bool usb, bool duty, const std::string& time = "") {
    StatusSnapshot s;
    s.internetState = internet;
    s.usbState = usb;
    s.dutyState = duty;
    s.nextPortalConnectionTime = time;
    return s;
}

// Open Portal warns of the same faults, in the same order.
TEST_F(TrayStatusTest, EachFaultGivesTheFaultIconAndItsLineInOrder) {
    struct Case {
        bool internet, usb, duty;
        int icon;
        const char* lines;
        const char* warning;
    };
    const Case cases[] = {
        {true, true, true, IDI_TRAY_GOOD, "Open\r\n", ""},
        {false, true, true, IDI_TRAY_FAULT, "NoNet\r\n", "Offline.\r\n"},
        {true, false, true, IDI_TRAY_FAULT, "NoStick\r\n", "Plug it in.\r\n"},
        {true, true, false, IDI_TRAY_FAULT, "Duty\r\n", "Wait.\r\n"},
        {true, false, false, IDI_TRAY_FAULT, "NoStick\r\nDuty\r\n", "Plug it in.\r\nWait.\r\n"},
        {false, false, false, IDI_TRAY_FAULT, "NoNet\r\nNoStick\r\nDuty\r\n",
         "Offline.\r\nPlug it in.\r\nWait.\r\n"},
    };
    for (const Case& c : cases) {
        const TrayLook plain = trayLook(status(c.internet, c.usb, c.duty));
        EXPECT_EQ(plain.iconResource, c.icon) << c.lines;
        EXPECT_EQ(plain.tooltip, c.lines);
        EXPECT_EQ(trayLook(status(c.internet, c.usb, c.duty, "14:05")).tooltip,
                  std::string(c.lines) + "Next: 14:05");
        EXPECT_EQ(openPortalWarning(status(c.internet, c.usb, c.duty)), c.warning);
    }
}

TEST_F(TrayStatusTest, TheTooltipIsCutAtTheShellsLimit) {
    const std::string time(200, '9');
    for (std::size_t length : {1u, 117u, 118u, 119u, 200u}) {
        const TrayLook look = trayLook(status(true, true, true, time.substr(0, length)));
        const std::string full = "Open\r\nNext: " + time.substr(0, length);
        EXPECT_EQ(look.tooltip, full.substr(0, 127)) << length;
        EXPECT_LE(look.tooltip.size(), 127u);
    }
}

}  // namespace
