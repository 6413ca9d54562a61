#pragma once

#include <cstdint>

// The configured waits before the agent tries again after a failure.
enum class RetryInterval {
    HelloOnError,      // CYCLIC_HELLO_INTERVAL_ON_ERROR
    UsbOnError,        // CYCLIC_USB_INTERVAL_ON_ERROR
    HelloOnDutyCycle,  // CYCLIC_HELLO_INTERVAL_ON_DUTY_CYCLE
};

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

const char* retryIntervalKey(RetryInterval which);
