#pragma once

#include <string>
#include <vector>

#include "portal/HttpTransport.h"

// Plays a scripted exchange: records each request it is sent, delivers the
// chunks in order (stopping when the receiver wants no more) and ends with
// the scripted outcome.
class FakeHttpTransport final : public HttpTransport {
  public:
    HttpOutcome post(const HttpRequest& request, const ChunkSink& onChunk) override {
        requests.push_back(request);
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
    std::vector<std::string> chunks;
    HttpOutcome outcome;
    int chunksDelivered = 0;
};
