#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/Log.h"
#include "portal/HTTPClientResource.h"
#include "portal/PortalProtocol.h"
#include "portal/PortalURL.h"
#include "tests/unit/support/EventRecorder.h"
#include "tests/unit/support/FakeHttpTransport.h"
#include "tests/unit/support/FakeMainWindow.h"
#include "tests/unit/support/TestClock.h"

namespace {

constexpr int32_t errorInterval = 30000;

class HTTPClientResourceTest : public ::testing::Test {
  protected:
    HTTPClientResourceTest() {
        setProcessClock(&clock);
        setMainWindowCommands(&window);
        setLoggingEnabled(true);
        recorder.listenTo(resource);
    }

    // One exchange with the portal's usual parameters.
    void send(const std::string& message = "H3,ABCDEFGHIJ,0a1b,0.1.0,258,demo",
              const std::optional<std::string>& proxy = std::nullopt) {
        resource.sendRequest(message, "portal.example", 8080, "/portal/", proxy, errorInterval);
    }

    // Parses an answer as if it had just arrived.
    void parse(const std::string& answer) { resource.parseAnswer(answer, errorInterval); }

    std::vector<std::string> logMessages() const {
        std::vector<std::string> messages;
        for (const std::string& line : window.logLines()) {
            const auto end = line.find("] ");
            messages.push_back(end == std::string::npos ? line : line.substr(end + 2));
        }
        return messages;
    }

    bool logged(const std::string& message) const {
        const auto messages = logMessages();
        return std::find(messages.begin(), messages.end(), message) != messages.end();
    }

    // The failure text of the one exchange, checked against its log line and
    // the unreached state.
    void expectFailure(const std::string& text) {
        EXPECT_TRUE(logged("Exception! http connection error: " + text)) << text;
        ASSERT_EQ(recorder.records.size(), 1u);
        EXPECT_EQ(recorder.records[0].name, "NotifyHTTPStateEvent");
        EXPECT_FALSE(recorder.records[0].state);
    }

    ProcessStateGuard guard;
    TestClock clock;
    FakeMainWindow window;
    FakeHttpTransport transport;
    HTTPClientResource resource{transport};
    EventRecorder recorder;
};

// --- the exchange ----------------------------------------------------------

TEST_F(HTTPClientResourceTest, SendsTheMessageToTheGivenPortal) {
    transport.chunks = {"I60000"};
    send("H3,ABCDEFGHIJ,0a1b,0.1.0,258,demo");
    ASSERT_EQ(transport.requests.size(), 1u);
    const HttpRequest& request = transport.requests[0];
    EXPECT_EQ(request.host, "portal.example");
    EXPECT_EQ(request.port, 8080);
    EXPECT_EQ(request.uri, "/portal/");
    EXPECT_EQ(request.proxy, "");
    EXPECT_EQ(request.body, "H3,ABCDEFGHIJ,0a1b,0.1.0,258,demo");
}

TEST_F(HTTPClientResourceTest, AProxyTextIsPassedOnAndAnEmptyOneMeansNone) {
    transport.chunks = {"I1"};
    send("H0", std::string("proxy.example:3128"));
    send("H0", std::string());
    ASSERT_EQ(transport.requests.size(), 2u);
    EXPECT_EQ(transport.requests[0].proxy, "proxy.example:3128");
    EXPECT_EQ(transport.requests[1].proxy, "");
}

TEST_F(HTTPClientResourceTest, LogsTheRequestTheBannerAndTheAnswer) {
    transport.chunks = {"I60000\r\n"};
    send("H3,X");
    const auto messages = logMessages();
    ASSERT_GE(messages.size(), 3u);
    EXPECT_EQ(messages[0],
              "- message to portal:\r\nH3,X host: portal.example port: 8080 uri: /portal/");
    EXPECT_EQ(messages[1], "-------- [HTTPClientResource::sendRequest] --------");
    EXPECT_EQ(messages[2], "message from portal:\r\nI60000\r\n");
}

TEST_F(HTTPClientResourceTest, AReceivedAnswerReportsStateOneBeforeItsCommands) {
    transport.chunks = {"Bportal.example,80,/page\nS01 02\nI5000"};
    send();
    EXPECT_EQ(recorder.names(),
              (std::vector<std::string>{"NotifyHTTPStateEvent", "StartBrowserEvent",
                                        "SendFramesEvent", "IntervalEvent"}));
    EXPECT_TRUE(recorder.records[0].state);
}

TEST_F(HTTPClientResourceTest, ChunksAreJoinedInArrivalOrderWithoutSeparators) {
    transport.chunks = {"S01", "02\nI6", "0000"};
    send();
    ASSERT_EQ(recorder.records.size(), 3u);
    EXPECT_EQ(recorder.records[1].frames, (FrameList{"S0102"}));
    EXPECT_EQ(recorder.records[2].number, 60000);
    EXPECT_TRUE(logged("message from portal:\r\nS0102\nI60000"));
}

TEST_F(HTTPClientResourceTest, AZeroByteEndsTheTextOfItsChunkOnly) {
    transport.chunks = {std::string("I12\0junk", 8), std::string("34\nS0A\0S0B", 10)};
    send();
    EXPECT_TRUE(logged("message from portal:\r\nI1234\nS0A"));
    ASSERT_EQ(recorder.records.size(), 3u);
    EXPECT_EQ(recorder.records[1].frames, (FrameList{"S0A"}));
    EXPECT_EQ(recorder.records[2].number, 1234);
}

TEST_F(HTTPClientResourceTest, AnAnswerLongerThanTheLimitIsCutThereAndStillCountsAsReached) {
    const std::string start = "I4000\n";
    transport.chunks = {start + std::string(40000, 'x'), std::string(40000, 'y'),
                        std::string(40000, 'z')};
    std::string answer;
    try {
        answer = resource.postRequest("h", 80, "/", std::nullopt, "H0");
    } catch (const HttpExchangeError& error) {
        FAIL() << error.what();
    }
    EXPECT_EQ(answer.size(), maximumAnswerLength);
    EXPECT_EQ(answer.substr(0, start.size()), start);
    EXPECT_EQ(answer.back(), 'y');
    // Nothing after the limit is read: the third chunk is never asked for.
    EXPECT_EQ(transport.chunksDelivered, 2);
    EXPECT_TRUE(logged("[HTTPClientResource::postRequest] answer cut at characters: 64999"));

    send();
    ASSERT_FALSE(recorder.records.empty());
    EXPECT_TRUE(recorder.records[0].state);
    EXPECT_EQ(recorder.records.back().number, 4000);
}

TEST_F(HTTPClientResourceTest, AnAnswerOfExactlyTheLimitIsKeptWhole) {
    transport.chunks = {std::string(maximumAnswerLength, 'a')};
    const std::string answer = resource.postRequest("h", 80, "/", std::nullopt, "H0");
    EXPECT_EQ(answer.size(), maximumAnswerLength);
    EXPECT_FALSE(logged("[HTTPClientResource::postRequest] answer cut at characters: 64999"));
}

// --- the failure texts -----------------------------------------------------

TEST_F(HTTPClientResourceTest, NoInternetHandleFailsWithInternetOpen) {
    transport.outcome = {HttpStep::open, 87};
    send();
    expectFailure("InternetOpen");
}

TEST_F(HTTPClientResourceTest, NoConnectionHandleFailsWithInternetConnect) {
    transport.outcome = {HttpStep::connect, 12007};
    send();
    expectFailure("InternetConnect");
}

TEST_F(HTTPClientResourceTest, AnUnreachableServerHasItsOwnText) {
    transport.outcome = {HttpStep::send, internetCannotConnect};
    send();
    expectFailure("The attempt to connect to the server failed.");
}

TEST_F(HTTPClientResourceTest, OtherSendFailuresFailWithHttpSendRequest) {
    transport.outcome = {HttpStep::send, 12002};  // timed out
    send();
    expectFailure("HttpSendRequest");
}

TEST_F(HTTPClientResourceTest, ARequestHandleThatCouldNotBeOpenedFailsAsTheSend) {
    transport.outcome = {HttpStep::openRequest, 12029};
    send();
    expectFailure("HttpSendRequest");
}

TEST_F(HTTPClientResourceTest, AnEmptyBodyFailsWithContentIsEmpty) {
    send();
    expectFailure("content is empty");
    transport.chunks = {std::string("\0I500", 5)};
    recorder.records.clear();
    send();
    expectFailure("content is empty");
}

TEST_F(HTTPClientResourceTest, ABrokenReadDiscardsThePartialAnswer) {
    transport.chunks = {"S0102\nI6"};
    transport.outcome = {HttpStep::read, 12002};
    send();
    expectFailure("InternetReadFile");
    EXPECT_FALSE(logged("message from portal:\r\nS0102\nI6"));
}

TEST_F(HTTPClientResourceTest, APortOutsideSixteenBitsIsRefusedBeforeAnyExchange) {
    resource.sendRequest("H0", "h", 65536 + 80, "/", std::nullopt, errorInterval);
    resource.sendRequest("H0", "h", -1, "/", std::nullopt, errorInterval);
    EXPECT_TRUE(transport.requests.empty());
    ASSERT_EQ(recorder.records.size(), 2u);
    EXPECT_FALSE(recorder.records[0].state);
    EXPECT_TRUE(logged("Exception! http connection error: InternetConnect"));
}

TEST_F(HTTPClientResourceTest, AfterAFailureNothingIsParsed) {
    transport.chunks = {"Bh,80,/p\nS01\nI10"};
    transport.outcome = {HttpStep::send, 12030};
    send();
    EXPECT_EQ(recorder.names(), (std::vector<std::string>{"NotifyHTTPStateEvent"}));
}

// --- the answer's commands -------------------------------------------------

TEST_F(HTTPClientResourceTest, LineBreaksOfEveryKindAndBlankLinesAreAlike) {
    for (const std::string& answer :
         {std::string("S01\r\nS02\r\n\r\nI700\r\n"), std::string("S01\nS02\n\n\nI700"),
          std::string("\rS01\rS02\r\r\rI700\r"), std::string("\n\r\nS01\n\rS02\r\n\n\rI700")}) {
        recorder.records.clear();
        parse(answer);
        ASSERT_EQ(recorder.records.size(), 2u) << answer;
        EXPECT_EQ(recorder.records[0].frames, (FrameList{"S01", "S02"}));
        EXPECT_EQ(recorder.records[1].number, 700);
    }
}

TEST_F(HTTPClientResourceTest, ThreeFramesAndAnIntervalGiveOneEventEachInOrder) {
    parse("S0A0B\nI600000\nS0C\nS0D0E0F");
    ASSERT_EQ(recorder.names(), (std::vector<std::string>{"SendFramesEvent", "IntervalEvent"}));
    EXPECT_EQ(recorder.records[0].frames, (FrameList{"S0A0B", "S0C", "S0D0E0F"}));
    EXPECT_EQ(recorder.records[1].number, 600000);
}

TEST_F(HTTPClientResourceTest, OnlyTheLastIntervalLineCounts) {
    parse("I1000\nI2000");
    ASSERT_EQ(recorder.records.size(), 1u);
    EXPECT_EQ(recorder.records[0].number, 2000);
}

TEST_F(HTTPClientResourceTest, IntervalsAreReadTheWayAtoiReadsThem) {
    const std::vector<std::pair<std::string, int32_t>> cases = {{"I600000", 600000},
                                                                {"I  42ms", 42},
                                                                {"Iabc", 0},
                                                                {"I", 0},
                                                                {"I-250", -250},
                                                                {"I+7", 7},
                                                                {"I99999999999", 2147483647}};
    for (const auto& [line, expected] : cases) {
        recorder.records.clear();
        parse(line);
        ASSERT_EQ(recorder.records.size(), 1u) << line;
        EXPECT_EQ(recorder.records[0].number, expected) << line;
    }
}

TEST_F(HTTPClientResourceTest, WithoutAnIntervalLineTheGivenIntervalPlansTheNextHello) {
    parse("S01\nunknown");
    ASSERT_EQ(recorder.names(), (std::vector<std::string>{"SendFramesEvent", "IntervalEvent"}));
    EXPECT_EQ(recorder.records[1].number, errorInterval);
    EXPECT_TRUE(logged(
        "[HTTPClientResource::parseAnswer] no interval in the answer, next hello in[ms]: 30000"));
}

TEST_F(HTTPClientResourceTest, FramesLoseSpacesTabsControlsAndHighBytes) {
    parse(
        "S01 02\t03\x01\x7f"
        "04\x80\xff"
        "05 \nI1");
    ASSERT_EQ(recorder.records.size(), 2u);
    // 0x7F is above 32 as a signed byte and stays.
    EXPECT_EQ(recorder.records[0].frames, (FrameList{"S010203\x7f"
                                                     "0405"}));
}

TEST_F(HTTPClientResourceTest, RemoveWhitespaceKeepsOnlyCharactersAboveThirtyTwo) {
    EXPECT_EQ(removeWhitespace(""), "");
    EXPECT_EQ(removeWhitespace(" \t\r\n\x1f"), "");
    EXPECT_EQ(removeWhitespace("!a~"), "!a~");
    EXPECT_EQ(removeWhitespace("\xc3\xa4x\x80y\xff"), "xy");
}

TEST_F(HTTPClientResourceTest, ABrowserLineOpensThePageBeforeFramesAndInterval) {
    parse("S01\nBportal.example,8080,/welcome?id=7\nI100");
    ASSERT_EQ(recorder.names(),
              (std::vector<std::string>{"StartBrowserEvent", "SendFramesEvent", "IntervalEvent"}));
    const PortalURL& url = recorder.records[0].url;
    EXPECT_EQ(url.host, "portal.example");
    EXPECT_EQ(url.port, 8080);
    EXPECT_EQ(url.path, "/welcome?id=7");
    EXPECT_EQ(portalURLText(url), "portal.example:8080/welcome?id=7");
}

TEST_F(HTTPClientResourceTest, EachBrowserLineFiresAtOnceAndEmptyFieldsAreSkipped) {
    parse("Ba,1,/x\nB,,b,,2,,/y,\nI5");
    ASSERT_EQ(recorder.names(), (std::vector<std::string>{"StartBrowserEvent", "StartBrowserEvent",
                                                          "IntervalEvent"}));
    EXPECT_EQ(portalURLText(recorder.records[0].url), "a:1/x");
    EXPECT_EQ(portalURLText(recorder.records[1].url), "b:2/y");
}

TEST_F(HTTPClientResourceTest, BrowserLinesWithoutThreeFieldsOrWithABadPortAreIgnored) {
    parse(
        "Bhost,80\nBhost,80,/p,extra\nB\nBhost,10000,/p\nBhost,-1,/p\nBhost,9999,/p\n"
        "Bhost,0,/p\nI5");
    ASSERT_EQ(recorder.names(), (std::vector<std::string>{"StartBrowserEvent", "StartBrowserEvent",
                                                          "IntervalEvent"}));
    EXPECT_EQ(recorder.records[0].url.port, 9999);
    EXPECT_EQ(recorder.records[1].url.port, 0);
    const auto messages = logMessages();
    const auto ignored = std::count_if(messages.begin(), messages.end(), [](const std::string& m) {
        return m.rfind("[HTTPClientResource::parseAnswer] browser command ignored", 0) == 0;
    });
    EXPECT_EQ(ignored, 5);
}

TEST_F(HTTPClientResourceTest, UnknownCommandsAreLoggedWholeAndSkipped) {
    parse("i500\n9\n hello\nX\xe9t\xe9\nI8");
    EXPECT_TRUE(logged("unknown command: i500"));
    EXPECT_TRUE(logged("unknown command: 9"));
    EXPECT_TRUE(logged("unknown command:  hello"));
    EXPECT_TRUE(logged("unknown command: X\xe9t\xe9"));
    ASSERT_EQ(recorder.records.size(), 1u);
    EXPECT_EQ(recorder.records[0].number, 8);
}

TEST_F(HTTPClientResourceTest, AnAnswerWithoutFramesFiresNoFrameEvent) {
    parse("I100");
    EXPECT_EQ(recorder.names(), (std::vector<std::string>{"IntervalEvent"}));
}

TEST_F(HTTPClientResourceTest, AnErrorPageIsParsedLikeAnyAnswer) {
    transport.chunks = {"<html>\r\nInternal Server Error\r\nSorry\r\n</html>\r\n"};
    send();
    EXPECT_EQ(recorder.names(), (std::vector<std::string>{"NotifyHTTPStateEvent", "SendFramesEvent",
                                                          "IntervalEvent"}));
    EXPECT_TRUE(recorder.records[0].state);
    // "Sorry" begins with S and is taken as a frame; "Internal Server Error"
    // begins with I and is read as an interval of 0.
    EXPECT_EQ(recorder.records[1].frames, (FrameList{"Sorry"}));
    EXPECT_EQ(recorder.records[2].number, 0);
    EXPECT_TRUE(logged("unknown command: <html>"));
    EXPECT_TRUE(logged("unknown command: </html>"));
    EXPECT_FALSE(logged("unknown command: Internal Server Error"));
}

}  // namespace
