#pragma once

#include <cstdint>

// The configured waits before the agent tries again after a failure; the
// configuration's key table says which key sets each.
enum class RetryInterval {
    HelloOnError,
    UsbOnError,
    HelloOnDutyCycle,
};
constexpr RetryInterval retryIntervals[] = {RetryInterval::HelloOnError, RetryInterval::UsbOnError,
                                            RetryInterval::HelloOnDutyCycle};

// A missing, zero or negative retry interval would retry at once, over and
// over: a flood at the portal and two file writes each time. Such a value
// becomes a minute; anything else shorter than a second becomes a second.
constexpr int32_t unsetRetryInterval = 60000;
constexpr int32_t shortestRetryInterval = 1000;

constexpr int32_t usableRetryInterval(int32_t configured) {
    return configured <= 0                      ? unsetRetryInterval
           : configured < shortestRetryInterval ? shortestRetryInterval
                                                : configured;
}
