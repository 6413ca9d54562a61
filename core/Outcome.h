#pragma once

#include <optional>
#include <string>
#include <utility>

// A failure met inside a resource: the text its public operation logs
// before it answers with its result code or event.
struct Failure {
    std::string text;
};

// What a step inside a resource came to: its result, or the failure that
// stopped it. Inside a resource failures travel as this, never as a thrown
// error or a bare code; only the resource's public operations turn them
// into what their callers expect (0/-1, an event, a raised error text).
template <typename Result>
class Outcome {
  public:
    Outcome(Result result) : result_(std::move(result)) {}
    Outcome(Failure failure) : failure_(std::move(failure.text)) {}

    explicit operator bool() const { return result_.has_value(); }
    const Result& value() const { return *result_; }
    const std::string& failure() const { return failure_; }

  private:
    std::optional<Result> result_;
    std::string failure_;
};

// The result of a step that only succeeds or fails.
struct Done {};
