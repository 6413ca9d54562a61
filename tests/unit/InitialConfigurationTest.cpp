// The files the agent reads at start-up: quorvel.ini, the language files and the tray's texts.

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/InitialConfiguration.h"
#include "core/Log.h"
#include "core/Text.h"
#include "resources/resource.h"
#include "tests/unit/support/FakeMainWindow.h"
#include "tests/unit/support/FakeSystemLanguage.h"
#include "tests/unit/support/TempFolder.h"
#include "ui/Texts.h"
#include "ui/TrayStatus.h"

namespace {

class InitialConfigurationTest : public ::testing::Test {
  protected:
    InitialConfiguration readFile(const std::string& bytes) {
        InitialConfiguration configuration(&window);
        configuration.setFilePath(folder.write("quorvel.ini", bytes));
        configuration.read();
        return configuration;
    }

    FakeMainWindow window;
    LogCapture capture{window};
    TempFolder folder;
};

const char completeFile[] =
    "PORTAL_SERVER_HOST=portal.example\n"
    "PORTAL_SERVER_PORT=8080\n"
    "PROXY_SERVER_HOST=proxy.local\n"
    "PROXY_SERVER_PORT=3128\n"
    "PORTAL_SERVER_URI=/hello\n"
    "SOFTWARE_VERSION=1.2.3\n"
    "REASON=4\n"
    "CYCLIC_HELLO_INTERVAL_ON_ERROR=60000\n"
    "CYCLIC_USB_INTERVAL_ON_ERROR=30000\n"
    "MAX_DUTYCYCLE_UTILISATION=90\n"
    "CYCLIC_HELLO_INTERVAL_ON_DUTY_CYCLE=120000\n"
    "SEND_FRAMES_REPEAT=3\n"
    "MAX_USB_WRITE_BUFFER_RETRY=5\n"
    "USB_WAIT_TIMEOUT=2000\n"
    "PARTNER=acme\n";

// A line read otherwise than written, or passed over, is named with its number.
TEST_F(InitialConfigurationTest, EachSlipIsNamedWithItsLineAndWhatTheAgentUses) {
    const struct {
        const char* line;
        const char* named;  // nullptr: no mistake
    } cases[] = {
        {"USB_WAIT_TIMEOUT=2s", "USB_WAIT_TIMEOUT=2s is not a whole number; used 2"},
        {"USB_WAIT_TIMEOUT=", "USB_WAIT_TIMEOUT= is not a whole number; used 0"},
        {"REASON=2147483648", "REASON=2147483648 is not a whole number; used 2147483647"},
        {"SEND_FRAMES_REPEAT= +3\t", nullptr},
        {"PROXY_SERVER_PORT=", nullptr},  // as the setup writes it for no proxy
        {"partner=acme", "unknown key \"partner\" ignored; did you mean PARTNER?"},
        {"PORTAL_SERVER_HOST =x",
         "unknown key \"PORTAL_SERVER_HOST \" ignored; did you mean PORTAL_SERVER_HOST?"},
        {"PORTAL_HOST=x", "unknown key \"PORTAL_HOST\" ignored"},
        {"PARTNER acme", "unknown key \"PARTNER acme\" ignored"},
        {"PORTAL_SERVER_SECURE=1", "PORTAL_SERVER_SECURE=1 is neither true nor false; used false"},
        {"ENABLE_LOGGING=false", nullptr},
        {"# PARTNER=x", nullptr},
        {" \t", nullptr},
    };
    for (const auto& c : cases) {
        // After a comment line, which is neither a mistake nor uncounted.
        const InitialConfiguration read =
            readFile(std::string(completeFile) + "; comment\n" + c.line + "\n");
        std::vector<std::string> named;
        for (const ConfigurationMistake& mistake : read.mistakes()) {
            named.push_back(describe(mistake));
        }
        EXPECT_EQ(named, c.named ? std::vector<std::string>{std::string("line 17: ") + c.named}
                                 : std::vector<std::string>{})
            << c.line;
    }
}

// A missing key gets no invented value; a long line's rest is not read as a new line (what
// else the reader makes of any bytes: fuzz_configuration).
TEST_F(InitialConfigurationTest, LinesSplitAtTheFirstEqualsSignUntrimmedAndLaterLinesWin) {
    const std::string trap = std::string(InitialConfiguration::maxLineLength, 'x') + "PARTNER=evil";
    const InitialConfiguration c = readFile(
        "PORTAL_SERVER_URI=/a=b\n"
        "PORTAL_SERVER_HOST =ignored\n"
        "# PARTNER=comment\nPARTNER=first\npartner=lower\n\n"
        "PARTNER= spaced \r\n" +
        trap + "\nSOFTWARE_VERSION=" + std::string(2000, 'v') + "\nREASON=7");
    EXPECT_EQ(c.getPortalServerUri(), "/a=b");
    EXPECT_EQ(c.getPortalServerHost(), "");
    EXPECT_EQ(c.getUsbWaitTimeout(), 0);
    EXPECT_EQ(c.mistakes().size(), 9u + 3u);  // keys missing, names unknown
    EXPECT_EQ(c.getPartner(), " spaced ");    // CR LF ends a line as LF does
    EXPECT_EQ(c.getSoftwareVersion().size(),
              InitialConfiguration::maxLineLength - std::string("SOFTWARE_VERSION=").size());
    EXPECT_EQ(c.getReason(), 7);  // the last line needs no end
    // An empty proxy host means no proxy, whatever the port.
    EXPECT_FALSE(c.getProxy());
    EXPECT_FALSE(readFile("PROXY_SERVER_HOST=\nPROXY_SERVER_PORT=3128\n").getProxy());
    EXPECT_EQ(readFile("PROXY_SERVER_HOST=p\n").getProxy(), std::optional<std::string>("p:0"));
    EXPECT_EQ(readFile(completeFile).getProxy(), std::optional<std::string>("proxy.local:3128"));
}

TEST_F(InitialConfigurationTest, SwitchesAreOnOnlyForExactlyTrue) {
    // The on row last: the logger is asked to show once, for it alone.
    const struct {
        const char* value;
        bool on;
    } cases[] = {{"True", false}, {"true ", false}, {"1", false}, {"true\r", true}};
    for (const auto& c : cases) {
        const std::string v = c.value;
        const InitialConfiguration read =
            readFile("ENABLE_LOGGING=" + v + "\nPORTAL_SERVER_SECURE=" + v + "\n");
        EXPECT_EQ(loggingEnabled(), c.on) << v;
        EXPECT_EQ(read.getPortalServerSecure(), c.on) << v;
        EXPECT_EQ(window.commandsWithCode(ID_SHOW_LOGGER).size(), c.on ? 1u : 0u) << v;
    }
}

// As atoi reads them, but saturating instead of overflowing.
TEST(ReadInteger, TakesLeadingDigitsAndSaturates) {
    const std::pair<const char*, int32_t> cases[] = {
        {"80abc", 80},
        {"abc", 0},
        {"", 0},
        {"\t\n\v\f\r 12", 12},
        {"-5", -5},
        {"+7x", 7},
        {"- 7", 0},
        {"2147483647", 2147483647},
        {"2147483648", 2147483647},
        {"99999999999999999999999", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"-99999999999999999999999", -2147483647 - 1},
    };
    for (const auto& [text, value] : cases) {
        EXPECT_EQ(readInteger(text), value) << text;
    }
}

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

// The GUI thread keeps references to texts while init() goes on inserting: each stays put,
// and a tooltip refreshed before start-up read the file must not keep empty texts.
TEST_F(TextsTest, ATextHandedOutStaysWhereAndAsItIsWhileMoreAreRead) {
    const std::string& missing = Texts::get("K1");
    initGermanWith("K0=V0\r\n");
    const std::string& early = Texts::get("K0");
    std::string file;
    for (int i = 0; i < 4000; ++i) {
        file += "K" + std::to_string(i) + "=W" + std::to_string(i) + "\r\n";
    }
    initGermanWith(file);
    EXPECT_EQ(&Texts::get("K0"), &early);
    EXPECT_EQ(early, "V0");
    EXPECT_EQ(missing, "");
    EXPECT_EQ(Texts::get("K1"), "W1");
    EXPECT_EQ(Texts::get("K3999"), "W3999");
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
        StatusSnapshot status{c.internet, c.usb, c.duty, ""};
        const TrayLook plain = trayLook(status);
        EXPECT_EQ(plain.iconResource, c.icon) << c.lines;
        EXPECT_EQ(plain.tooltip, c.lines);
        EXPECT_EQ(openPortalWarning(status), c.warning);
        status.nextPortalConnectionTime = "14:05";
        EXPECT_EQ(trayLook(status).tooltip, std::string(c.lines) + "Next: 14:05");
    }
}

TEST_F(TrayStatusTest, TheTooltipIsCutAtTheShellsLimit) {
    const std::string time(200, '9');
    for (std::size_t length : {1u, 117u, 118u, 119u, 200u}) {
        const TrayLook look = trayLook({true, true, true, time.substr(0, length)});
        const std::string full = "Open\r\nNext: " + time.substr(0, length);
        EXPECT_EQ(look.tooltip, full.substr(0, 127)) << length;
        EXPECT_LE(look.tooltip.size(), 127u);
    }
}

}  // namespace
