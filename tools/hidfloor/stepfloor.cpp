// Floors of two steps of every hello, for what they cost any program here.
// The durable write: a new file written and flushed, then renamed over the
// old one, so that a power loss leaves the old contents or the new ones;
// with the bare calls, the same without the flush, and through the agent's
// own adapter (writeFileAtomically on Win32FileSystem, its link checks
// included), each of the record's size. The tray: one NIM_MODIFY that sets
// an icon's image and tooltip, as one status refresh does. Medians of N.
//
//   stepfloor FOLDER N   prints agent_write_ms=, bare_write_ms=,
//                        bare_unflushed_write_ms=, tray_modify_ms=

#include <windows.h>

#include <shellapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "storage/FileSystem.h"
#include "storage/RunTimeData.h"
#include "storage/win32/Win32FileSystem.h"

namespace {

double medianMs(int writes, const std::function<bool()>& write) {
    std::vector<double> ms;
    for (int i = 0; i < writes; ++i) {
        const auto begin = std::chrono::steady_clock::now();
        if (!write()) {
            return -1;
        }
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin)
                .count());
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

bool bareWrite(const std::string& path, const std::vector<uint8_t>& bytes, bool flush) {
    const std::string temporary = path + ".new";
    const HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                              nullptr) != FALSE &&
                    (!flush || FlushFileBuffers(file) != FALSE);
    CloseHandle(file);
    return ok && MoveFileExA(temporary.c_str(), path.c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

// One refresh of an icon's image and tooltip, as the agent's tray makes it.
double trayModifyMs(int refreshes) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "Quorvel Step Floor";
    RegisterClassA(&windowClass);
    const HWND window = CreateWindowExA(0, windowClass.lpszClassName, "", WS_POPUP, 0, 0, 0, 0,
                                        nullptr, nullptr, windowClass.hInstance, nullptr);
    NOTIFYICONDATAA icon{};
    icon.cbSize = sizeof icon;
    icon.hWnd = window;
    icon.uID = 1;
    icon.uFlags = NIF_ICON | NIF_TIP | NIF_MESSAGE;
    icon.uCallbackMessage = WM_APP;
    icon.hIcon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
    if (window == nullptr || !Shell_NotifyIconA(NIM_ADD, &icon)) {
        return -1;
    }
    icon.uFlags = NIF_ICON | NIF_TIP;
    int next = 0;
    const double ms = medianMs(refreshes, [&] {
        std::snprintf(icon.szTip, sizeof icon.szTip, "next contact in %d s", ++next);
        return Shell_NotifyIconA(NIM_MODIFY, &icon) != FALSE;
    });
    Shell_NotifyIconA(NIM_DELETE, &icon);
    DestroyWindow(window);
    return ms;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: stepfloor FOLDER N\n");
        return 2;
    }
    const std::string folder = argv[1];
    const int writes = std::max(1, std::atoi(argv[2]));
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::vector<uint8_t> bytes(RunTimeData::fileSize, 0x5a);
    Win32FileSystem files;
    const std::string agentPath = folder + "\\agent.dat";
    const std::string barePath = folder + "\\bare.dat";
    // Alternated, so that a drifting machine moves all three alike.
    std::vector<double> agent, bare, unflushed;
    for (int round = 0; round < 5; ++round) {
        agent.push_back(
            medianMs(writes, [&] { return writeFileAtomically(files, agentPath, bytes); }));
        bare.push_back(medianMs(writes, [&] { return bareWrite(barePath, bytes, true); }));
        unflushed.push_back(medianMs(writes, [&] { return bareWrite(barePath, bytes, false); }));
    }
    for (auto* values : {&agent, &bare, &unflushed}) {
        std::sort(values->begin(), values->end());
    }
    const double tray = trayModifyMs(writes);
    std::printf(
        "agent_write_ms=%.3f\nbare_write_ms=%.3f\nbare_unflushed_write_ms=%.3f\n"
        "tray_modify_ms=%.3f\n",
        agent[2], bare[2], unflushed[2], tray);
    return agent[0] < 0 || bare[0] < 0 || unflushed[0] < 0 || tray < 0 ? 1 : 0;
}
