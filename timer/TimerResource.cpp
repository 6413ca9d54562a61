#include "timer/TimerResource.h"

#include <exception>

#include "activities/HelloEvents.h"
#include "activities/StatusEvents.h"
#include "activities/TransmitEvents.h"
#include "core/Clock.h"
#include "core/CycleGate.h"
#include "core/Log.h"
#include "core/Text.h"

namespace {

// Runs one cycle. Whatever goes wrong inside it ends that cycle only: the
// message loop and the other cycle carry on, and nothing escapes into the
// window system's callback.
template <typename Cycle>
void runCycle(const char* origin, Cycle cycle) {
    try {
        cycle();
    } catch (const std::exception& error) {
        log(std::string("[TimerResource::") + origin + "] cycle ended by an error: ", error.what());
    } catch (...) {
        log(std::string("[TimerResource::") + origin + "] cycle ended by an unknown error");
    }
}

}  // namespace

TimerResource::TimerResource(WindowTimers& timers, CycleGate& gate, const Clock& clock)
    : timers_(timers), gate_(gate), clock_(clock) {
    init();
}

int TimerResource::init() {
    helloDeadline_ = clock_.now();
    transmitDeadline_ = helloDeadline_;
    helloReason_ = 0;
    return 0;
}

int32_t TimerResource::millisecondsUntil(const TimeStamp& deadline) const {
    return clock_.millisecondsUntil(deadline);
}

void TimerResource::startHelloThreadIn(const TimeStamp& deadline, int32_t helloReason) {
    helloDeadline_ = deadline;
    helloReason_ = helloReason;
    const int32_t delay = millisecondsUntil(deadline);
    log("startHelloThreadIn starts in[ms]: ", int64_t{delay});
    log("startHelloThreadIn helloReason: ", int64_t{helloReason});
    // The reason travels with the expiry, so the event carries the reason of
    // the request that armed it even if another thread stores a newer one a
    // moment before the replacing timer is armed.
    const uint64_t arming = ++helloArmings_;
    timers_.arm(helloTimerId, static_cast<uint32_t>(delay),
                [this, helloReason, arming] { helloTimerProc(helloReason, arming); });
    NotifyTimerStateEvent state(nextPortalConnectionTimeText(clock_, deadline));
    getActivities().fire(&state);
}

void TimerResource::startTransmitThreadIn(const TimeStamp& deadline) {
    transmitDeadline_ = deadline;
    const int32_t delay = millisecondsUntil(deadline);
    log("startTransmitThreadIn starts in[ms]: ", int64_t{delay});
    const uint64_t arming = ++transmitArmings_;
    timers_.arm(transmitTimerId, static_cast<uint32_t>(delay),
                [this, arming] { transmitTimerProc(arming); });
}

void TimerResource::helloTimerProc(int32_t helloReason, uint64_t arming) {
    // A window timer repeats until killed; the cycle may arm it anew.
    timers_.kill(helloTimerId);
    gate_.run("hello", [this, helloReason, arming] {
        if (arming != helloArmings_) {
            // Planned anew while this expiry waited: the newer plan's own
            // timer says hello when it is due.
            return;
        }
        runCycle("helloTimerProc", [this, helloReason] {
            log("## ------------------ startHelloThreadIn is already started ##");
            CyclicHelloEvent hello(helloReason);
            getActivities().fire(&hello);
        });
    });
}

void TimerResource::transmitTimerProc(uint64_t arming) {
    timers_.kill(transmitTimerId);
    gate_.run("transmit", [this, arming] {
        if (arming != transmitArmings_) {
            return;
        }
        runCycle("transmitTimerProc", [this] {
            log("## ------------------ startTransmitThreadIn is already started ##");
            CyclicTransmitEvent transmit;
            getActivities().fire(&transmit);
        });
    });
}

std::string nextPortalConnectionTimeText(const Clock& clock, const TimeStamp& deadline) {
    const LocalTime local = clock.localTime(deadline.seconds);
    return twoDigitText(local.hour) + ":" + twoDigitText(local.minute);
}
