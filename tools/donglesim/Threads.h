// Threads of the simulator. A test tool only.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>

namespace quorvel::donglesim {

// Runs `work` on a thread of its own; the thread's handle, or null.
// Not std::thread: with mingw-w64's winpthreads under Wine, detaching a
// thread that has already ended (a connection whose host closed it at once)
// can make a later std::thread run another's work twice while its own never
// runs: a host's connection then went unserved, and the twin crashed on the
// device the first had moved out.
inline HANDLE startThread(std::function<void()> work) {
    auto* owned = new std::function<void()>(std::move(work));
    const HANDLE thread = CreateThread(
        nullptr, 0,
        [](LPVOID parameter) -> DWORD {
            const std::unique_ptr<std::function<void()>> run(
                static_cast<std::function<void()>*>(parameter));
            (*run)();
            return 0;
        },
        owned, 0, nullptr);
    if (thread == nullptr) {
        delete owned;
    }
    return thread;
}

// A thread nobody waits for.
inline void startDetached(std::function<void()> work) {
    const HANDLE thread = startThread(std::move(work));
    if (thread != nullptr) {
        CloseHandle(thread);
    }
}

}  // namespace quorvel::donglesim
