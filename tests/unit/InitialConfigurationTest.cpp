#include <gtest/gtest.h>

#include <cstdio>

#include "core/InitialConfiguration.h"
#include "core/Log.h"
#include "core/Text.h"
#include "tests/unit/support/FakeMainWindow.h"
#include "tests/unit/support/TempFolder.h"

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

// A missing key gets no invented value.
TEST_F(InitialConfigurationTest, LinesSplitAtTheFirstEqualsSignUntrimmedAndLaterLinesWin) {
    const InitialConfiguration c = readFile(
        "PORTAL_SERVER_URI=/a=b\n"
        "PORTAL_SERVER_HOST =ignored\n"
        "# PARTNER=comment\nPARTNER=first\npartner=lower\n\n"
        "PARTNER= spaced \r\n"
        "SOFTWARE_VERSION=lf\n"
        "REASON=7");
    EXPECT_EQ(c.getPortalServerUri(), "/a=b");
    EXPECT_EQ(c.getPortalServerHost(), "");
    EXPECT_EQ(c.getUsbWaitTimeout(), 0);
    EXPECT_EQ(c.mistakes().size(), 9u + 2u);  // keys missing, names unknown
    EXPECT_EQ(c.getPartner(), " spaced ");    // CR LF ends a line as LF does
    EXPECT_EQ(c.getSoftwareVersion(), "lf");
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
    // A reader without a log window (quorvel-check's) leaves the switch alone.
    InitialConfiguration check;
    check.setFilePath(folder.write("check.ini", "ENABLE_LOGGING=false\n"));
    check.read();
    EXPECT_TRUE(loggingEnabled());
}

// A long line's rest is not read as a new line; a binary file still ends.
TEST_F(InitialConfigurationTest, LongLinesLongNamesAndBinaryNoiseAreReadThrough) {
    const std::string trap = std::string(InitialConfiguration::maxLineLength, 'x') + "PARTNER=evil";
    std::string noise;
    for (int i = 0; i < 5000; ++i) {
        noise += static_cast<char>((i * 37) & 0xFF);
    }
    const InitialConfiguration c =
        readFile("SOFTWARE_VERSION=" + std::string(2000, 'v') + "\n" + std::string(200, 'P') +
                 "=x\nPORTAL_SERVER_URI=/after\n" + noise + "\nPARTNER=after-noise\n" + trap);
    EXPECT_EQ(c.getSoftwareVersion().size(),
              InitialConfiguration::maxLineLength - std::string("SOFTWARE_VERSION=").size());
    EXPECT_EQ(c.getPortalServerUri(), "/after");
    EXPECT_EQ(c.getPartner(), "after-noise");
}

TEST_F(InitialConfigurationTest, AFileHeldOpenForWritingCanStillBeRead) {
    const std::string path = folder.write("quorvel.ini", "PARTNER=shared\n");
    // Another program editing the file must not lock the agent out.
    std::FILE* writer = std::fopen(path.c_str(), "ab");
    ASSERT_NE(writer, nullptr);
    InitialConfiguration configuration;
    configuration.setFilePath(path);
    EXPECT_TRUE(configuration.exists());
    EXPECT_EQ(configuration.read().getPartner(), "shared");
    std::fclose(writer);
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

}  // namespace
