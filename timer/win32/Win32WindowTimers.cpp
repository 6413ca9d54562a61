#include "timer/win32/Win32WindowTimers.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <utility>

#include "core/Log.h"
#include "core/Text.h"

namespace {

// The longest delay SetTimer documents; anything longer is clamped here
// rather than left to how a given Windows version treats it.
constexpr uint32_t longestDelay = 0x7FFFFFFF;  // USER_TIMER_MAXIMUM

// SetTimer's own expiries may come a tick before GetTickCount64 says the
// delay is over; an expiry posted for an earlier arm comes at once. Only an
// expiry this much before its arm's due time is taken for the latter.
constexpr ULONGLONG earlyExpiryTolerance = 50;

struct ArmedTimer {
    const Win32WindowTimers* owner;
    WindowTimers::Expiry onExpiry;
    ULONGLONG due;  // GetTickCount64 when this arm's delay is over
};

using TimerKey = std::pair<HWND, UINT_PTR>;

// A TIMERPROC receives only the window and the id, so the expiries live in
// one process-wide table keyed the way Windows itself identifies a timer.
struct TimerTable {
    std::mutex mutex;
    std::map<TimerKey, ArmedTimer> timers;
};

TimerTable& table() {
    // Never destroyed: a WM_TIMER dispatched while the process ends must
    // still find a valid table.
    static TimerTable* instance = new TimerTable();
    return *instance;
}

void CALLBACK expire(HWND window, UINT, UINT_PTR id, DWORD) {
    WindowTimers::Expiry onExpiry;
    {
        std::lock_guard<std::mutex> lock(table().mutex);
        const auto found = table().timers.find(TimerKey(window, id));
        if (found == table().timers.end()) {
            // KillTimer leaves a WM_TIMER that is already queued in place;
            // killing again also stops a timer whose arm failed half-way.
            KillTimer(window, id);
            return;
        }
        // A WM_TIMER posted for an arm already replaced (the at-once post
        // below, or one held during start-up and posted again) must not
        // run the arm that replaced it early; that arm's own expiry comes.
        if (found->second.due > GetTickCount64() + earlyExpiryTolerance) {
            return;
        }
        // A copy, because the expiry may re-arm or kill its own id, which
        // replaces the stored function while it runs.
        onExpiry = found->second.onExpiry;
    }
    // Called without the lock, so the expiry may arm and kill timers.
    if (onExpiry) {
        onExpiry();
    }
}

// Sets or replaces the timer; returns the error, or ERROR_SUCCESS. Called
// with the table's lock held, so that the table and the timers Windows holds
// change together when two threads arm and kill the same id.
DWORD place(const Win32WindowTimers* owner, HWND window, unsigned id, uint32_t delayMilliseconds,
            WindowTimers::Expiry onExpiry) {
    const UINT delay = std::min(delayMilliseconds, longestDelay);
    // An existing timer with this window and id is replaced, not doubled.
    if (SetTimer(window, id, delay, expire) == 0) {
        const DWORD error = GetLastError();
        table().timers.erase(TimerKey(window, id));
        return error;
    }
    table().timers[TimerKey(window, id)] =
        ArmedTimer{owner, std::move(onExpiry), GetTickCount64() + delay};
    if (delay == 0) {
        // SetTimer waits at least USER_TIMER_MINIMUM (10 ms) however short
        // the delay, which a portal that asks for the next hello at once
        // would pay every hello. A deadline already due runs with the
        // messages already queued; the expiry kills the timer or finds it
        // gone, so it runs once either way. DispatchMessage calls the
        // callback of a WM_TIMER only while such a timer is set.
        PostMessageA(window, WM_TIMER, id, reinterpret_cast<LPARAM>(&expire));
    }
    return ERROR_SUCCESS;
}

// Logged outside the lock: the log line is sent to the GUI thread, which
// may be waiting for the lock in an expiry.
void logArmFailure(unsigned id, DWORD error) {
    if (error != ERROR_SUCCESS) {
        log("[Win32WindowTimers::arm] SetTimer failed for timer " + decimalText(id) +
                ", GetLastError=",
            static_cast<int64_t>(error));
    }
}

}  // namespace

Win32WindowTimers::Win32WindowTimers() : window_(nullptr) {}

Win32WindowTimers::Win32WindowTimers(HWND window) : window_(window) {}

Win32WindowTimers::~Win32WindowTimers() {
    std::lock_guard<std::mutex> lock(table().mutex);
    for (auto entry = table().timers.begin(); entry != table().timers.end();) {
        if (entry->second.owner == this) {
            KillTimer(entry->first.first, entry->first.second);
            entry = table().timers.erase(entry);
        } else {
            ++entry;
        }
    }
}

void Win32WindowTimers::attach(HWND window) {
    std::map<unsigned, DWORD> failures;
    {
        std::lock_guard<std::mutex> lock(table().mutex);
        window_ = window;
        const ULONGLONG now = GetTickCount64();
        for (auto& [id, kept] : kept_) {
            const ULONGLONG left = kept.due > now ? kept.due - now : 0;
            failures[id] =
                place(this, window, id, static_cast<uint32_t>(left), std::move(kept.onExpiry));
        }
        kept_.clear();
    }
    for (const auto& [id, error] : failures) {
        logArmFailure(id, error);
    }
}

void Win32WindowTimers::arm(unsigned id, uint32_t delayMilliseconds, Expiry onExpiry) {
    DWORD error = ERROR_SUCCESS;
    {
        std::lock_guard<std::mutex> lock(table().mutex);
        if (window_ == nullptr) {
            // SetTimer without a window would make a thread timer with an id
            // of its own choosing, on whichever thread called.
            kept_[id] = Kept{GetTickCount64() + delayMilliseconds, std::move(onExpiry)};
            return;
        }
        error = place(this, window_, id, delayMilliseconds, std::move(onExpiry));
    }
    logArmFailure(id, error);
}

void Win32WindowTimers::kill(unsigned id) {
    DWORD error = ERROR_SUCCESS;
    bool known = false;
    {
        std::lock_guard<std::mutex> lock(table().mutex);
        if (window_ == nullptr) {
            kept_.erase(id);
            return;
        }
        known = table().timers.erase(TimerKey(window_, id)) > 0;
        if (KillTimer(window_, id) == 0) {
            error = GetLastError();
        }
    }
    // Killing a timer that has already gone is normal; only a timer this
    // object still knew of is worth a line.
    if (known && error != ERROR_SUCCESS) {
        log("[Win32WindowTimers::kill] KillTimer failed for timer " + decimalText(id) +
                ", GetLastError=",
            static_cast<int64_t>(error));
    }
}
