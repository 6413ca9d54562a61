// How long parsing the longest answer the agent keeps takes: 64,999
// characters with 500 frame lines and an interval, every event received by a
// counting activity. Logging is off, as in a normal run.

#include <chrono>
#include <cstdio>
#include <string>

#include "activities/StatusEvents.h"
#include "activities/TransmitEvents.h"
#include "core/Clock.h"
#include "core/EventListeners.h"
#include "portal/HTTPClientResource.h"
#include "portal/PortalProtocol.h"

namespace {

// Counts every event the parser fires, and the frames it hands over.
struct Counter {
    std::size_t events = 0;
    std::size_t frames = 0;
    void count(const SendFramesEvent& event) { frames += event.getFrames().size(); }
    void count(const IntervalEvent&) {}
    EventListeners<SendFramesEvent, IntervalEvent> listeners{[this](const auto& event) {
        count(event);
        ++events;
    }};
};

// Parsing needs no exchange; the resource only wants a transport to exist.
class NoTransport final : public HttpTransport {
  public:
    HttpOutcome post(const HttpRequest&, const ChunkSink&) override { return {HttpStep::open, 0}; }
    uint32_t exchangeDeadlineMilliseconds() const override { return 60000; }
};

std::string longestAnswer() {
    std::string answer = "I600000\r\n";
    // 500 frame lines of equal length, with a space between the byte pairs.
    const std::size_t frameLines = 500;
    const std::size_t lineLength = (maximumAnswerLength - answer.size()) / frameLines;
    for (std::size_t i = 0; i < frameLines; ++i) {
        std::string line = "S";
        while (line.size() + 2 < lineLength) {
            line += line.size() % 3 == 0 ? " " : "A";
        }
        answer += line + "\r\n";
    }
    answer.resize(maximumAnswerLength, 'x');
    return answer;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::stoi(argv[1]) : 2000;
    const std::string answer = longestAnswer();
    NoTransport transport;
    const SystemClock clock;
    HTTPClientResource resource(transport, clock);
    Counter counter;
    counter.listeners.listenTo(resource.getActivities());

    resource.parseAnswer(answer, 30000);  // warm-up
    const auto begin = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i) {
        resource.parseAnswer(answer, 30000);
    }
    const auto end = std::chrono::steady_clock::now();
    const double microseconds =
        std::chrono::duration<double, std::micro>(end - begin).count() / rounds;
    std::printf("answer: %zu characters, %zu frames per parse, %d parses\n", answer.size(),
                counter.frames / (rounds + 1), rounds);
    std::printf("time per parse: %.1f us\n", microseconds);
    return counter.events == static_cast<std::size_t>(2 * (rounds + 1)) ? 0 : 1;
}
