#include <gtest/gtest.h>

#include <cstdio>

#include "core/InitialConfiguration.h"
#include "core/Log.h"
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

TEST_F(InitialConfigurationTest, EveryKeyLandsInItsField) {
    const InitialConfiguration c = readFile(completeFile);
    EXPECT_EQ(c.getPortalServerHost(), "portal.example");
    EXPECT_EQ(c.getPortalServerPort(), 8080);
    EXPECT_EQ(c.getProxy(), std::optional<std::string>("proxy.local:3128"));
    EXPECT_EQ(c.getPortalServerUri(), "/hello");
    EXPECT_EQ(c.getSoftwareVersion(), "1.2.3");
    EXPECT_EQ(c.getReason(), 4);
    EXPECT_EQ(c.getCyclicHelloIntervalOnError(), 60000);
    EXPECT_EQ(c.getCyclicUsbIntervalOnError(), 30000);
    EXPECT_EQ(c.getMaxDutyCycleUtilisation(), 90);
    EXPECT_EQ(c.getCyclicHelloIntervalOnDutyCycle(), 120000);
    EXPECT_EQ(c.getSendFramesRepeat(), 3);
    EXPECT_EQ(c.getMaxUsbWriteBufferRetry(), 5);
    EXPECT_EQ(c.getUsbWaitTimeout(), 2000);
    EXPECT_EQ(c.getPartner(), "acme");
    EXPECT_TRUE(c.missingKeys().empty());
}

TEST_F(InitialConfigurationTest, IntegersAreReadLikeAtoi) {
    const InitialConfiguration c =
        readFile("PORTAL_SERVER_PORT=80abc\nREASON=abc\nSEND_FRAMES_REPEAT= 3\n");
    EXPECT_EQ(c.getPortalServerPort(), 80);
    EXPECT_EQ(c.getReason(), 0);
    EXPECT_EQ(c.getSendFramesRepeat(), 3);
}

TEST_F(InitialConfigurationTest, NameEndsAtTheFirstEqualsSignAndNothingIsTrimmed) {
    const InitialConfiguration c = readFile(
        "PORTAL_SERVER_URI=/a=b\n"
        "PORTAL_SERVER_HOST =ignored\n"
        "PARTNER= spaced \n");
    EXPECT_EQ(c.getPortalServerUri(), "/a=b");
    EXPECT_EQ(c.getPortalServerHost(), "");
    EXPECT_EQ(c.getPartner(), " spaced ");
}

TEST_F(InitialConfigurationTest, LaterLinesWinAndUnknownLinesAreIgnored) {
    const InitialConfiguration c = readFile(
        "# PARTNER=comment\n"
        "PARTNER=first\n"
        "no equals sign\n"
        "\n"
        "partner=lower\n"
        "PARTNER=second\n");
    EXPECT_EQ(c.getPartner(), "second");
}

TEST_F(InitialConfigurationTest, CrLfAndLfEndLinesAlikeAndTheLastLineNeedsNoEnd) {
    const InitialConfiguration c =
        readFile("PARTNER=crlf\r\nSOFTWARE_VERSION=lf\nPORTAL_SERVER_URI=/last");
    EXPECT_EQ(c.getPartner(), "crlf");
    EXPECT_EQ(c.getSoftwareVersion(), "lf");
    EXPECT_EQ(c.getPortalServerUri(), "/last");
}

TEST_F(InitialConfigurationTest, AnEmptyProxyHostMeansNoProxyWhateverThePort) {
    EXPECT_FALSE(readFile("PROXY_SERVER_HOST=\nPROXY_SERVER_PORT=3128\n").getProxy());
    EXPECT_FALSE(readFile("PROXY_SERVER_PORT=3128\n").getProxy());
    EXPECT_EQ(readFile("PROXY_SERVER_HOST=p\n").getProxy(), std::optional<std::string>("p:0"));
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

TEST_F(InitialConfigurationTest, WithoutTheSwitchesLoggingAndHttpsStayOffAndTheWindowHidden) {
    EXPECT_FALSE(readFile(completeFile).getPortalServerSecure());
    EXPECT_FALSE(loggingEnabled());
    EXPECT_TRUE(window.commands.empty());
}

TEST_F(InitialConfigurationTest, ALongLineIsCutAndItsRestIsNotReadAsANewLine) {
    const std::string longValue(2000, 'v');
    const std::string trap = std::string(InitialConfiguration::maxLineLength, 'x') + "PARTNER=evil";
    const InitialConfiguration c = readFile("SOFTWARE_VERSION=" + longValue + "\n" + trap + "\n" +
                                            "PORTAL_SERVER_URI=/after\n");
    EXPECT_EQ(c.getSoftwareVersion().size(),
              InitialConfiguration::maxLineLength - std::string("SOFTWARE_VERSION=").size());
    EXPECT_EQ(c.getPartner(), "");
    EXPECT_EQ(c.getPortalServerUri(), "/after");
}

TEST_F(InitialConfigurationTest, ALongNameIsCutAndMatchesNoKey) {
    const InitialConfiguration c = readFile(std::string(200, 'P') + "=x\nPARTNER=kept\n");
    EXPECT_EQ(c.getPartner(), "kept");
}

TEST_F(InitialConfigurationTest, ABinaryFileStillEnds) {
    std::string noise;
    for (int i = 0; i < 5000; ++i) {
        noise += static_cast<char>((i * 37) & 0xFF);
    }
    const InitialConfiguration c = readFile(noise + "\nPARTNER=after-noise\n");
    EXPECT_EQ(c.getPartner(), "after-noise");
}

TEST_F(InitialConfigurationTest, MissingRequiredKeysAreListedAndGetNoInventedValue) {
    const InitialConfiguration c = readFile("PORTAL_SERVER_HOST=h\nPARTNER=\n");
    const std::vector<std::string> missing = c.missingKeys();
    EXPECT_EQ(missing.size(), 11u);
    EXPECT_EQ(missing.front(), "PORTAL_SERVER_PORT");
    EXPECT_EQ(c.getUsbWaitTimeout(), 0);
    EXPECT_EQ(c.getSoftwareVersion(), "");
}

TEST_F(InitialConfigurationTest, AMissingFileDoesNotExistAndReadingItIsFatal) {
    InitialConfiguration configuration;
    configuration.setFilePath(folder.file("absent.ini"));
    EXPECT_FALSE(configuration.exists());
    try {
        configuration.read();
        FAIL() << "reading a missing file must fail";
    } catch (const FatalError& error) {
        EXPECT_STREQ(error.what(),
                     "fatal error! unable to open initial configuration file. It makes no "
                     "sence to continue");
    }
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

}  // namespace
