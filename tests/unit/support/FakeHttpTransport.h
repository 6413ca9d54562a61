#pragma once

#include <functional>
#include <string>
#include <vector>

#include "portal/HttpTransport.h"
#include "tests/unit/support/TestClock.h"

// Records each request; delivers the scripted chunks (`chunkGap` ms apart with a clock), outcome.
class FakeHttpTransport final : public HttpTransport {
  public:
    HttpOutcome post(const HttpRequest& request, const ChunkSink& onChunk) override {
        requests.push_back(request);
        if (duringPost) {
            duringPost();
        }
        chunksDelivered = 0;
        if (outcome.failedStep != HttpStep::none && outcome.failedStep != HttpStep::read) {
            return outcome;
        }
        for (const std::string& chunk : chunks) {
            if (clock != nullptr) {
                clock->advance(chunkGap);
            }
            ++chunksDelivered;
            if (!onChunk(chunk.data(), chunk.size())) {
                break;
            }
        }
        return outcome;
    }
    uint32_t exchangeDeadlineMilliseconds() const override { return deadline; }

    std::vector<HttpRequest> requests;
    std::vector<std::string> chunks;
    // Runs while the exchange is under way, as a message pumped there would.
    std::function<void()> duringPost;
    HttpOutcome outcome;
    int chunksDelivered = 0;
    uint32_t deadline = 60000;
    TestClock* clock = nullptr;
    int64_t chunkGap = 0;
};
