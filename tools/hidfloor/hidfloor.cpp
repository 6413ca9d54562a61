// The transport floor for the frame-throughput figure: the fewest calls
// that move the agent's frame reports to the dongle and its answers back.
// One handle on the device path, one event and one buffer reused, each
// report written and one answer read with overlapped WriteFile and ReadFile,
// as many times as the agent's bench sends frames. Whatever the agent takes
// beyond this is its own.
//
//   hidfloor PATH FRAMES      prints frames=, elapsed_ms=, ms_per_frame=
//   hidfloor exit             does nothing: a trivial program's start-up

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dongle/ReportProtocol.h"

namespace {

bool transfer(HANDLE file, HANDLE event, bool reading, uint8_t* data, DWORD size) {
    // No ResetEvent: ReadFile and WriteFile reset the event as they start.
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    const BOOL started = reading ? ReadFile(file, data, size, nullptr, &overlapped)
                                 : WriteFile(file, data, size, nullptr, &overlapped);
    if (!started && GetLastError() != ERROR_IO_PENDING) {
        return false;
    }
    DWORD done = 0;
    return GetOverlappedResult(file, &overlapped, &done, TRUE) != FALSE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "exit") == 0) {
        return 0;
    }
    if (argc != 3) {
        std::fprintf(stderr, "usage: hidfloor PATH FRAMES | hidfloor exit\n");
        return 2;
    }
    const int frames = std::atoi(argv[2]);
    const HANDLE file = CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OVERLAPPED, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::printf("open=0\nerror=%lu\n", GetLastError());
        return 1;
    }
    const HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    // The same report the agent's bench sends, built once, outside the loop.
    ReportBuffer output{};
    dongle::buildFrameReport("S020B112233445566", output, 0x10, 0x80);
    ReportBuffer input{};
    int acknowledged = 0;
    const auto begin = std::chrono::steady_clock::now();
    for (int i = 0; i < frames; ++i) {
        if (!transfer(file, event, false, output.data(), static_cast<DWORD>(output.size())) ||
            !transfer(file, event, true, input.data(), static_cast<DWORD>(input.size()))) {
            std::printf("failed_at=%d\nerror=%lu\n", i, GetLastError());
            return 1;
        }
        acknowledged += dongle::isAcknowledgement(input) ? 1 : 0;
    }
    const double elapsed =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin)
            .count();
    std::printf("frames=%d\nacknowledged=%d\nelapsed_ms=%.1f\nms_per_frame=%.3f\n", frames,
                acknowledged, elapsed, elapsed / frames);
    CloseHandle(event);
    CloseHandle(file);
    return acknowledged == frames ? 0 : 1;
}
