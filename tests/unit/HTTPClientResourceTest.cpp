#include <gtest/gtest.h>

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
using Strings = std::vector<std::string>;

class HTTPClientResourceTest : public ::testing::Test {
  protected:
    HTTPClientResourceTest() {
        setLoggingEnabled(true);
        recorder.listenTo(resource);
    }

    void send() {
        resource.sendRequest("H0", "portal.example", 8080, "/portal/", false, "", errorInterval);
    }
    bool logged(const std::string& message) const { return window.logged("] " + message); }

    TestClock clock;
    FakeMainWindow window;
    LogCapture capture{window, clock};
    FakeHttpTransport transport;
    HTTPClientResource resource{transport, clock};
    EventRecorder recorder;
};

TEST_F(HTTPClientResourceTest, AnAnswerLongerThanTheLimitIsCutThereAndStillCountsAsReached) {
    const std::string start = "I4000\n";
    transport.chunks = {start + std::string(40000, 'x'), std::string(40000, 'y'),
                        std::string(40000, 'z')};
    const std::string answer = resource.postRequest("h", 80, "/", false, std::nullopt, "H0");
    EXPECT_EQ(answer.size(), 64999u);
    EXPECT_EQ(answer.substr(0, start.size()), start);
    EXPECT_EQ(answer.back(), 'y');
    // The rest is read and dropped, so the request closes at once.
    EXPECT_EQ(transport.chunksDelivered, 3);
    send();
    EXPECT_EQ(recorder.events, (Strings{"NotifyHTTPStateEvent=1", "IntervalEvent=4000"}));

    transport.chunks = {std::string(maximumAnswerLength, 'a')};
    EXPECT_EQ(resource.postRequest("h", 80, "/", false, std::nullopt, "H0").size(),
              maximumAnswerLength);

    // A portal that never stops talking is not read for ever.
    transport.chunks.assign(100, std::string(64 * 1024, 'b'));
    EXPECT_EQ(resource.postRequest("h", 80, "/", false, std::nullopt, "H0").size(),
              maximumAnswerLength);
    EXPECT_EQ(transport.chunksDelivered, 64);
}

TEST_F(HTTPClientResourceTest, FailuresLogTheirTextReportStateZeroAndParseNothing) {
    const struct {
        HttpOutcome outcome;
        Strings chunks;
        std::string text;
        int port = 8080;
    } cases[] = {
        {{HttpStep::send, 12002}, {"Bh,80,/p\nS01\nI10"}, "HttpSendRequest"},
        {{}, {}, "content is empty"},
        {{}, {std::string("\0I500", 5)}, "content is empty"},
        {{HttpStep::read, 12002}, {"S0102\nI6"}, "InternetReadFile"},
        // Ports outside sixteen bits are refused before any exchange.
        {{}, {"I1"}, "InternetConnect", 65536 + 80},
        {{}, {"I1"}, "InternetConnect", -1},
    };
    for (const auto& c : cases) {
        window.commands.clear();
        recorder.events.clear();
        transport.outcome = c.outcome;
        transport.chunks = c.chunks;
        resource.sendRequest("H0", "h", c.port, "/", false, std::nullopt, errorInterval);
        EXPECT_TRUE(logged("Exception! http connection error: " + c.text)) << c.text;
        EXPECT_EQ(recorder.events, Strings{"NotifyHTTPStateEvent=0"}) << c.text;
    }
}

// The deadline bounds the whole exchange, connecting and sending included.
TEST_F(HTTPClientResourceTest, AnExchangeNotFinishedByItsDeadlineFailsAndIsNotParsed) {
    const Strings failed{"NotifyHTTPStateEvent=0"};
    const struct {
        int64_t beforeAnswer;  // connecting and sending
        int64_t chunkGap;
        Strings events;
    } cases[] = {
        {0, 19999, {"NotifyHTTPStateEvent=1", "SendFramesEvent=S01,S02", "IntervalEvent=5000"}},
        {0, 20000, failed},  // the last piece would come at the deadline
        {59999, 0, {"NotifyHTTPStateEvent=1", "SendFramesEvent=S01,S02", "IntervalEvent=5000"}},
        {60000, 0, failed},
    };
    transport.clock = &clock;
    transport.deadline = 60000;
    transport.chunks = {"S01\r\n", "S02\r\n", "I5000"};
    for (const auto& c : cases) {
        recorder.events.clear();
        transport.duringPost = [&] { clock.advance(c.beforeAnswer); };
        transport.chunkGap = c.chunkGap;
        send();
        EXPECT_EQ(recorder.events, c.events) << c.beforeAnswer << " " << c.chunkGap;
    }
}

TEST_F(HTTPClientResourceTest, AnswersGiveTheirEventsInOrder) {
    const Strings s01s02{"SendFramesEvent=S01,S02", "IntervalEvent=700"};
    const std::pair<Strings, Strings> cases[] = {
        // Chunks are joined; a zero byte ends only its own.
        {{"S01", "02\nI6", "0000"}, {"SendFramesEvent=S0102", "IntervalEvent=60000"}},
        {{std::string("I12\0junk", 8), std::string("34\nS0A\0S0B", 10)},
         {"SendFramesEvent=S0A", "IntervalEvent=1234"}},
        // Every kind of line break, and blank lines, are alike.
        {{"\rS01\rS02\r\r\rI700\r"}, s01s02},
        {{"\n\r\nS01\n\rS02\r\n\n\rI700"}, s01s02},
        // All frames in one event; only the last interval counts.
        {{"S0A0B\nI600000\nS0C\nS0D0E0F"},
         {"SendFramesEvent=S0A0B,S0C,S0D0E0F", "IntervalEvent=600000"}},
        {{"I1000\nI2000"}, {"IntervalEvent=2000"}},
        {{"S01\nunknown"}, {"SendFramesEvent=S01", "IntervalEvent=30000"}},
        // Frames lose spaces, tabs, controls and bytes above 0x7F; 0x7F stays.
        {{"S01 02\t03\001\17704\200\37705 \nI1"},
         {"SendFramesEvent=S010203\1770405", "IntervalEvent=1"}},
        // Browser lines fire at once, before frames and interval.
        {{"S01\nBportal.example,8080,/welcome?id=7\nI100"},
         {"StartBrowserEvent=portal.example:8080/welcome?id=7", "SendFramesEvent=S01",
          "IntervalEvent=100"}},
        // One page per answer: the first browser line that passes.
        {{"Bbad host,1,/x\nBa,1,/x\nBb,2,/y\nI5"}, {"StartBrowserEvent=a:1/x", "IntervalEvent=5"}},
        {{"i500\n9\n hello\nX\xe9t\xe9\nI8"}, {"IntervalEvent=8"}},
        // An error page's "Internal ..." is no interval: at 0 the portal
        // would be called again at once, for ever.
        {{"<html>\r\nInternal Server Error\r\nSorry\r\n</html>\r\n"},
         {"SendFramesEvent=Sorry", "IntervalEvent=30000"}},
        {{"I700\nInternal Server Error"}, {"IntervalEvent=700"}},
        // Intervals are read the way atoi reads them (ReadInteger), but a
        // line without a number is none.
        {{"Iabc"}, {"IntervalEvent=30000"}},
    };
    for (const auto& [chunks, events] : cases) {
        recorder.events.clear();
        transport.chunks = chunks;
        send();
        Strings expected{"NotifyHTTPStateEvent=1"};
        expected.insert(expected.end(), events.begin(), events.end());
        EXPECT_EQ(recorder.events, expected) << chunks[0];
    }
}

// A "B" line's fields and the address opened, or "" when refused.
TEST_F(HTTPClientResourceTest, BrowserCommandsOpenOnlyAddressesThatCannotBreakOut) {
    std::string spaces(337, ' ');
    std::string encodedSpaces;
    for (std::size_t i = 0; i < spaces.size(); ++i) {
        encodedSpaces += "%20";
    }
    const std::pair<std::string, std::string> cases[] = {
        {"portal.example,8080,/welcome?id=7#top", "http://portal.example:8080/welcome?id=7#top"},
        {",,b,,2,,/y,", "http://b:2/y"},  // a run of commas is one
        {"host-1.example_x,65535,/", "http://host-1.example_x:65535/"},
        {"[2001:db8::1],1,/", "http://[2001:db8::1]:1/"},
        {"[::ffff:10.0.0.1],00080,/", "http://[::ffff:10.0.0.1]:80/"},
        // Bytes RFC 3986 allows nowhere after the port are encoded; escapes
        // already made stay, and a "%" without two hex digits is one.
        {"h,80,/a b\t\"c\"<>\\^`{|}[]",
         "http://h:80/a%20b%09%22c%22%3C%3E%5C%5E%60%7B%7C%7D%5B%5D"},
        {"h,80,/caf\xc3\xa9\x7f\x01\x1b", "http://h:80/caf%C3%A9%7F%01%1B"},
        {"h,80,/a%20b%2fc%zz%4%/%41", "http://h:80/a%20b%2fc%25zz%254%25/%41"},
        {"h,80,/p?q=1&r=a:b@c/d!$'()*+;=~#frag#more",
         "http://h:80/p?q=1&r=a:b@c/d!$'()*+;=~#frag%23more"},
        // The address as encoded must fit in 1023 characters.
        {"h,80,/" + spaces, "http://h:80/" + encodedSpaces},
        {"h,80,/ " + spaces, ""},
        // Refused: fields, host, port, path.
        {"h,80", ""},
        {"h,80,/p,extra", ""},
        {"", ""},
        {"portal example,80,/p", ""},
        {"user@h,80,/p", ""},
        {"h:81,80,/p", ""},
        {"[::1,80,/p", ""},
        {"[h],80,/p", ""},
        {"h,0,/p", ""},
        {"h,65536,/p", ""},
        {"h,99999999999,/p", ""},
        {"h,-1,/p", ""},
        {"h,80x,/p", ""},
        {"h,80,p", ""},
        {"h,80,@elsewhere.example/", ""},
    };
    for (const auto& [fields, address] : cases) {
        recorder.events.clear();
        resource.parseAnswer("B" + fields + "\r\nI5", errorInterval);
        Strings events{"IntervalEvent=5"};
        if (!address.empty()) {
            events.insert(events.begin(), "StartBrowserEvent=" + address.substr(7));
        }
        EXPECT_EQ(recorder.events, events) << fields;
    }
}

// An error page, or thousands of browser lines, log the first twenty and a count.
TEST_F(HTTPClientResourceTest, SkippedLinesAreLoggedWhole) {
    std::string page = "Bh,1,/\r\n";
    for (int i = 0; i < 25; ++i) {
        page += (i % 2 == 0 ? "<p>" : "Bh,1,/") + std::to_string(i) + "\r\n";
    }
    resource.parseAnswer(page + "I700", errorInterval);
    const std::string browser = "[HTTPClientResource::parseAnswer] browser command ";
    EXPECT_TRUE(logged("unknown command: <p>18"));
    EXPECT_TRUE(logged(browser + "ignored, a page was opened already: Bh,1,/19"));
    EXPECT_FALSE(logged("unknown command: <p>20"));
    EXPECT_TRUE(logged("[HTTPClientResource::parseAnswer] more lines skipped, not logged: 5"));
}

}  // namespace
