#include "timer/win32/Win32WindowTimers.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <utility>

#include "core/Log.h"
#include "core/Text.h"
#include "core/win32/Win32MainWindow.h"

namespace {

// The longest delay SetTimer documents; anything longer is clamped here
// rather than left to how a given Windows version treats it.
constexpr uint32_t longestDelay = 0x7FFFFFFF;  // USER_TIMER_MAXIMUM

struct ArmedTimer {
    const Win32WindowTimers* owner;
    WindowTimers::Expiry onExpiry;
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
        // A copy, because the expiry may re-arm or kill its own id, which
        // replaces the stored function while it runs.
        onExpiry = found->second.onExpiry;
    }
    // Called without the lock, so the expiry may arm and kill timers.
    if (onExpiry) {
        onExpiry();
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

HWND Win32WindowTimers::window() const {
    return window_ != nullptr ? window_ : mainWindowHandle();
}

void Win32WindowTimers::arm(unsigned id, uint32_t delayMilliseconds, Expiry onExpiry) {
    const HWND target = window();
    if (target == nullptr) {
        // SetTimer without a window would make a thread timer with an id of
        // its own choosing, on whichever thread called.
        log("[Win32WindowTimers::arm] no window for timer ", static_cast<int64_t>(id));
        return;
    }
    const UINT delay = std::min(delayMilliseconds, longestDelay);
    DWORD error = ERROR_SUCCESS;
    {
        // Held across SetTimer so that the table and the timers Windows
        // holds change together when two threads arm and kill the same id.
        std::lock_guard<std::mutex> lock(table().mutex);
        // An existing timer with this window and id is replaced, not doubled.
        if (SetTimer(target, id, delay, expire) == 0) {
            error = GetLastError();
            table().timers.erase(TimerKey(target, id));
        } else {
            table().timers[TimerKey(target, id)] = ArmedTimer{this, std::move(onExpiry)};
        }
    }
    // Logged outside the lock: the log line is sent to the GUI thread, which
    // may be waiting for the lock in an expiry.
    if (error != ERROR_SUCCESS) {
        log("[Win32WindowTimers::arm] SetTimer failed for timer " + decimalText(id) +
                ", GetLastError=",
            static_cast<int64_t>(error));
    }
}

void Win32WindowTimers::kill(unsigned id) {
    const HWND target = window();
    if (target == nullptr) {
        return;
    }
    DWORD error = ERROR_SUCCESS;
    bool known = false;
    {
        std::lock_guard<std::mutex> lock(table().mutex);
        known = table().timers.erase(TimerKey(target, id)) > 0;
        if (KillTimer(target, id) == 0) {
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
