// The portal's answer, whatever the server (or anything posing as it) sends,
// read and parsed, and every payload of the events it fires used.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "activities/StatusEvents.h"
#include "activities/TransmitEvents.h"
#include "core/Clock.h"
#include "portal/HTTPClientResource.h"
#include "portal/PortalProtocol.h"
#include "portal/PortalURL.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

struct Fired {
    int browsers = 0;
    int frameLists = 0;
    int intervals = 0;
};
Fired fired;

// Hands the answer over in pieces, as the transport reads it off the wire.
class PieceTransport final : public HttpTransport {
  public:
    PieceTransport(const char* data, std::size_t size) : data_(data), size_(size) {}
    HttpOutcome post(const HttpRequest&, const ChunkSink& onChunk) override {
        constexpr std::size_t piece = 4096;
        for (std::size_t at = 0; at < size_; at += piece) {
            if (!onChunk(data_ + at, std::min(piece, size_ - at))) {
                break;
            }
        }
        return {};
    }
    uint32_t exchangeDeadlineMilliseconds() const override { return 60000; }

  private:
    const char* data_;
    std::size_t size_;
};

// The answer text postRequest keeps: each piece up to its first zero byte,
// all of it cut at the longest answer.
std::string expectedAnswer(const char* data, std::size_t size) {
    std::string kept;
    for (std::size_t at = 0; at < size; at += 4096) {
        const std::size_t length = std::min<std::size_t>(4096, size - at);
        const void* zero = std::memchr(data + at, 0, length);
        kept.append(data + at,
                    zero != nullptr ? static_cast<const char*>(zero) - (data + at) : length);
    }
    return kept.substr(0, maximumAnswerLength);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static OnEvent<StartBrowserEvent> browser([](const StartBrowserEvent& event) {
        const PortalURL* url = event.getPortalURL();
        FUZZ_CHECK(url != nullptr);
        FUZZ_CHECK(url->port >= 1 && url->port <= 65535);
        FUZZ_CHECK(fired.browsers == 0 && fired.frameLists == 0 && fired.intervals == 0);
        const std::string text = "http://" + portalURLText(*url);
        FUZZ_CHECK(text.size() <= maximumBrowserAddressLength);
        // Nothing that could end the address on a command line or hide in it.
        for (const char c : text) {
            FUZZ_CHECK(c > ' ' && c < '\x7f' && std::strchr("\"<>\\^`{|}", c) == nullptr);
        }
        ++fired.browsers;
    });
    static OnEvent<SendFramesEvent> frames([](const SendFramesEvent& event) {
        FUZZ_CHECK(!event.getFrames().empty());
        FUZZ_CHECK(fired.intervals == 0);
        for (const std::string& frame : event.getFrames()) {
            // An "S" line with nothing at or below a space left, as the
            // transmit cycle takes it later on.
            FUZZ_CHECK(!frame.empty() && frame[0] == 'S');
            FUZZ_CHECK(removeWhitespace(frame) == frame);
        }
        ++fired.frameLists;
    });
    static OnEvent<IntervalEvent> interval([](const IntervalEvent&) { ++fired.intervals; });
    static const SystemClock clock;
    fuzzLoggingOn();
    const char* text = reinterpret_cast<const char*>(data);

    // The answer as parsed, zero bytes and all, then as the transport gives it.
    PieceTransport transport(text, size);
    HTTPClientResource resource(transport, clock);
    resource.getActivities().add(&browser);
    resource.getActivities().add(&frames);
    resource.getActivities().add(&interval);
    fired = Fired{};
    resource.parseAnswer(std::string(text, size), 30000);
    FUZZ_CHECK(fired.intervals == 1);
    FUZZ_CHECK(fired.frameLists <= 1);

    const std::string expected = expectedAnswer(text, size);
    try {
        FUZZ_CHECK(resource.postRequest("portal.example", 8080, "/portal/", false, std::nullopt,
                                        "H1,A,0a1b,0.1.0,258,p") == expected);
    } catch (const HttpExchangeError& error) {
        FUZZ_CHECK(expected.empty());
        FUZZ_CHECK(std::string(error.what()) == "content is empty");
    }
    return 0;
}
