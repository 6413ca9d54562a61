#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "portal/HttpTransport.h"

// Plays a scripted exchange: records each request it is sent, delivers the
// answer's chunks in order (stopping when the receiver wants no more) and ends with
// the scripted outcome.
class FakeHttpTransport final : public HttpTransport {
  public:
    HttpOutcome post(const HttpRequest& request, const ChunkSink& onChunk) override {
        requests.push_back(request);
        if (duringPost) {
            duringPost();
        }
        if (!answers.empty()) {
            chunks = {answers.front()};
            answers.pop_front();
        }
        chunksDelivered = 0;
        if (outcome.failedStep != HttpStep::none && outcome.failedStep != HttpStep::read) {
            return outcome;
        }
        for (const std::string& chunk : chunks) {
            ++chunksDelivered;
            if (!onChunk(chunk.data(), chunk.size())) {
                break;
            }
        }
        return outcome;
    }

    std::vector<HttpRequest> requests;
    // One answer per exchange while any are left, then `chunks` again.
    std::deque<std::string> answers;
    std::vector<std::string> chunks;
    // Runs while the exchange is under way, as a message pumped there would.
    std::function<void()> duringPost;
    HttpOutcome outcome;
    int chunksDelivered = 0;
};
