#include "core/TimeStamp.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace {

int32_t clampToInt32(int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

}  // namespace

TimeStamp timeStampAfter(const TimeStamp& now, int32_t milliseconds) {
    const int64_t total = int64_t{now.milliseconds} + milliseconds;
    // Floor division, so a negative offset borrows whole seconds.
    int64_t carrySeconds = total / 1000;
    int64_t remainder = total % 1000;
    if (remainder < 0) {
        remainder += 1000;
        carrySeconds -= 1;
    }
    TimeStamp result = now;
    result.seconds = clampToInt32(int64_t{now.seconds} + carrySeconds);
    result.milliseconds = static_cast<uint16_t>(remainder);
    return result;
}

int32_t millisecondsBetween(const TimeStamp& now, const TimeStamp& deadline) {
    const int64_t seconds = int64_t{deadline.seconds} - now.seconds;
    if (seconds < 0) {
        return 0;
    }
    const int64_t milliseconds =
        seconds * 1000 + int64_t{deadline.milliseconds} - int64_t{now.milliseconds};
    if (milliseconds < 0) {
        return 0;
    }
    // A window timer takes a signed 32-bit delay; anything further is clamped.
    return clampToInt32(milliseconds);
}
