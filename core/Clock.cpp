#include "core/Clock.h"

#include <chrono>
#include <ctime>

namespace {

const auto processStart = std::chrono::steady_clock::now();

bool toLocalTm(std::time_t seconds, std::tm* out) {
#ifdef _WIN32
    return localtime_s(out, &seconds) == 0;
#else
    return localtime_r(&seconds, out) != nullptr;
#endif
}

bool toUtcTm(std::time_t seconds, std::tm* out) {
#ifdef _WIN32
    return gmtime_s(out, &seconds) == 0;
#else
    return gmtime_r(&seconds, out) != nullptr;
#endif
}

}  // namespace

TimeStamp SystemClock::now() const {
    using namespace std::chrono;
    const auto sinceEpoch =
        duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    TimeStamp stamp;
    stamp.seconds = static_cast<int32_t>(sinceEpoch / 1000);
    stamp.milliseconds = static_cast<uint16_t>(sinceEpoch % 1000);

    std::tm local{};
    std::tm utc{};
    const std::time_t seconds = static_cast<std::time_t>(stamp.seconds);
    if (toLocalTm(seconds, &local) && toUtcTm(seconds, &utc)) {
        // Reading the UTC fields back as local standard time shifts the moment
        // by the zone's offset: minutes west of UTC, as the C runtime's ftime
        // reports them, with daylight saving as a separate flag.
        utc.tm_isdst = 0;
        const std::time_t utcFieldsAsLocal = std::mktime(&utc);
        stamp.timezoneMinutesWest =
            static_cast<int16_t>(std::difftime(utcFieldsAsLocal, seconds) / 60);
        stamp.daylightSaving = static_cast<int16_t>(local.tm_isdst > 0 ? 1 : 0);
    }
    return stamp;
}

int64_t SystemClock::processMilliseconds() const {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now() - processStart).count();
}

LocalTime SystemClock::localTime(int32_t secondsSinceEpoch) const {
    std::tm local{};
    LocalTime result;
    if (!toLocalTm(static_cast<std::time_t>(secondsSinceEpoch), &local)) {
        return result;
    }
    result.year = local.tm_year + 1900;
    result.month = local.tm_mon + 1;
    result.day = local.tm_mday;
    result.hour = local.tm_hour;
    result.minute = local.tm_min;
    result.second = local.tm_sec;
    return result;
}
