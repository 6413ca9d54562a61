// The start-up floor: what any tray agent must do before its first request,
// and nothing else. A window class and a hidden window, a notification icon,
// WinINet opened and one POST to the portal, its answer read. Built as the
// agent is (GUI subsystem, static, same flags); the start-up figure is the
// agent's spawn-to-first-hello over this program's spawn-to-request.
//
//   startfloor HOST PORT PATH      exit code 0 when the portal answered; prints
//                                  the milliseconds from its entry to each step
//   startfloor HOST PORT PATH N    N POSTs one after another, then waits to be
//                                  ended: what WinINet alone keeps per exchange

#include <windows.h>
#include <shellapi.h>
#include <wininet.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

bool post(const char* host, INTERNET_PORT port, const char* path) {
    const HINTERNET internet =
        InternetOpenA("startfloor", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    const HINTERNET connection = internet == nullptr
                                     ? nullptr
                                     : InternetConnectA(internet, host, port, nullptr, nullptr,
                                                        INTERNET_SERVICE_HTTP, 0, 0);
    const HINTERNET request =
        connection == nullptr
            ? nullptr
            : HttpOpenRequestA(connection, "POST", path, nullptr, nullptr, nullptr,
                               INTERNET_FLAG_NO_CACHE_WRITE, 0);
    static const char header[] = "Content-type: application/binary";
    char body[] = "H0,floor";
    bool answered = request != nullptr &&
                    HttpSendRequestA(request, header, static_cast<DWORD>(-1), body,
                                     static_cast<DWORD>(std::strlen(body))) != FALSE;
    char buffer[4096];
    DWORD read = 0;
    while (answered && InternetReadFile(request, buffer, sizeof buffer, &read) && read > 0) {
    }
    for (const HINTERNET handle : {request, connection, internet}) {
        if (handle != nullptr) {
            InternetCloseHandle(handle);
        }
    }
    return answered;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    if (__argc != 4 && __argc != 5) {
        return 2;
    }
    const auto entered = std::chrono::steady_clock::now();
    const auto stamp = [&entered](const char* step) {
        std::printf("%s_ms=%.1f\n", step,
                    std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() -
                                                              entered)
                        .count());
    };
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = "Quorvel Start-up Floor";
    if (RegisterClassA(&windowClass) == 0) {
        return 1;
    }
    const HWND window = CreateWindowExA(0, windowClass.lpszClassName, "floor", WS_OVERLAPPEDWINDOW,
                                        CW_USEDEFAULT, CW_USEDEFAULT, 400, 300, nullptr, nullptr,
                                        instance, nullptr);
    if (window == nullptr) {
        return 1;
    }
    stamp("window");
    NOTIFYICONDATAA icon{};
    icon.cbSize = sizeof icon;
    icon.hWnd = window;
    icon.uID = 1;
    icon.uFlags = NIF_ICON | NIF_MESSAGE | NIF_TIP;
    icon.uCallbackMessage = WM_APP;
    icon.hIcon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
    std::strcpy(icon.szTip, "floor");
    Shell_NotifyIconA(NIM_ADD, &icon);
    stamp("icon");
    const bool answered =
        post(__argv[1], static_cast<INTERNET_PORT>(std::atoi(__argv[2])), __argv[3]);
    stamp("answer");
    if (__argc == 5) {
        for (int i = 1; i < std::atoi(__argv[4]); ++i) {
            post(__argv[1], static_cast<INTERNET_PORT>(std::atoi(__argv[2])), __argv[3]);
        }
        std::fflush(stdout);
        MSG message{};
        while (GetMessageA(&message, nullptr, 0, 0) > 0) {
            DispatchMessageA(&message);
        }
    }
    Shell_NotifyIconA(NIM_DELETE, &icon);
    DestroyWindow(window);
    return answered ? 0 : 1;
}
