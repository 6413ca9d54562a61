#include "ui/win32/LoggerWindow.h"

#include <dbt.h>

#include <string>

#include "core/CycleGate.h"
#include "core/Log.h"
#include "core/SentTexts.h"
#include "core/win32/Win32MainWindow.h"
#include "resources/resource.h"
#include "ui/DisplayStatus.h"
#include "ui/LogText.h"
#include "ui/Texts.h"
#include "ui/TrayStatus.h"
#include "ui/UserInterfaceResource.h"
#include "ui/WindowCommand.h"
#include "ui/win32/DeviceNotice.h"
#include "ui/win32/SystemTray.h"

namespace {

// The log view's style: child, visible, border, both scroll bars,
// multi-line, auto-scrolling in both directions.
constexpr DWORD logViewStyle = 0x50B000C4;

// Lines reach the view one piece of work at a time (the message is handled
// once the GUI thread is back in its loop) and at most once a second:
// under Wine one change of the visible edit control and its repainting
// cost 20 to 60 ms whatever the change, which for every line, or even for
// every hello when the portal asks at once, would cost more than the
// hello's own work.
constexpr ULONGLONG viewUpdateGap = 1000;
// The timer resource's hello and transmit timers are 1 and 2.
constexpr UINT_PTR viewUpdateTimerId = 3;

struct LoggerWindowState {
    HWND logView = nullptr;
    LogText logText;
    bool viewUpdateDue = false;
    ULONGLONG lastViewUpdate = 0;
    bool trayRefreshDue = false;
    // A second Open Portal or About while the first one's window is open
    // would stack another on top.
    bool openPortalBoxOpen = false;
    bool aboutOpen = false;
};

// Only the GUI thread touches it, inside the window procedure.
LoggerWindowState& state() {
    static LoggerWindowState instance;
    return instance;
}

// Made when the window is first shown: with logging off it never is, and
// the manifest's edit control comes from common controls 6, whose loading
// cost start-up about 40 ms under Wine. Lines logged before wait in the log
// text.
void createLogView(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    state().logView = CreateWindowExA(
        0, "edit", nullptr, logViewStyle, 0, 0, client.right, client.bottom, window,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_LOG_VIEW)),
        reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(window, GWLP_HINSTANCE)), nullptr);
    if (state().logView == nullptr) {
        return;
    }
    // An edit control refuses text past 32K characters by default; the log
    // text has its own cap.
    SendMessageA(state().logView, EM_SETLIMITTEXT, 0, 0);
    SetWindowTextA(state().logView, state().logText.text().c_str());
    state().logText.takeForView();
    state().viewUpdateDue = false;
}

// Whether the reader is looking at the newest lines.
bool viewAtBottom(HWND view) {
    SCROLLINFO scroll{};
    scroll.cbSize = sizeof(scroll);
    scroll.fMask = SIF_ALL;
    if (!GetScrollInfo(view, SB_VERT, &scroll) || scroll.nPage == 0) {
        // No scroll bar yet: everything is in view.
        return true;
    }
    return scroll.nPos + static_cast<int>(scroll.nPage) >= scroll.nMax;
}

// Brings the view up to date with the log text. A reader at the bottom
// sees the newest line; one who scrolled up keeps the lines they were
// reading, also when the oldest lines have gone.
void updateLogView(HWND window) {
    KillTimer(window, viewUpdateTimerId);
    state().viewUpdateDue = false;
    state().lastViewUpdate = GetTickCount64();
    const HWND view = state().logView;
    if (view == nullptr || !state().logText.viewBehind()) {
        return;
    }
    const LogText::ForView update = state().logText.takeForView();
    const bool follow = viewAtBottom(view);
    DWORD selectionStart = 0;
    DWORD selectionEnd = 0;
    SendMessageA(view, EM_GETSEL, reinterpret_cast<WPARAM>(&selectionStart),
                 reinterpret_cast<LPARAM>(&selectionEnd));
    const LRESULT firstVisible = SendMessageA(view, EM_GETFIRSTVISIBLELINE, 0, 0);
    // Hidden meanwhile and drawn once when all is done: a reader who
    // scrolled up does not see the view jump to the end and back. (Under
    // Wine a visible edit control does much of its drawing work even with
    // WM_SETREDRAW off: 40 to 100 ms for one change at the cap, against
    // 8 to 24 ms hidden.)
    const bool focused = GetFocus() == view;
    ShowWindow(view, SW_HIDE);
    if (update.whole) {
        SetWindowTextA(view, state().logText.text().c_str());
    } else {
        // Appending at the end costs the lines, not the whole log.
        const int end = GetWindowTextLengthA(view);
        SendMessageA(view, EM_SETSEL, end, end);
        SendMessageA(view, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(update.added.c_str()));
    }
    if (follow) {
        // The caret at the start of the newest line: the view shows it
        // without scrolling sideways to the end of a long line.
        const LRESULT lastLine = SendMessageA(view, EM_GETLINECOUNT, 0, 0) - 1;
        const LRESULT lineStart = SendMessageA(view, EM_LINEINDEX, lastLine, 0);
        SendMessageA(view, EM_SETSEL, lineStart, lineStart);
        SendMessageA(view, EM_SCROLLCARET, 0, 0);
    } else {
        const auto moved = [&update](DWORD at) {
            return at > update.droppedCharacters
                       ? at - static_cast<DWORD>(update.droppedCharacters)
                       : 0;
        };
        SendMessageA(view, EM_SETSEL, moved(selectionStart), moved(selectionEnd));
        const auto dropped = static_cast<LRESULT>(update.droppedLines);
        const LRESULT wanted = firstVisible > dropped ? firstVisible - dropped : 0;
        const LRESULT nowVisible = SendMessageA(view, EM_GETFIRSTVISIBLELINE, 0, 0);
        SendMessageA(view, EM_LINESCROLL, 0, wanted - nowVisible);
    }
    ShowWindow(view, SW_SHOWNA);
    if (focused) {
        SetFocus(view);
    }
}

void appendLogLine(HWND window, const char* text) {
    if (text == nullptr) {
        return;
    }
    state().logText.append(LogText::shownPart(text));
    if (state().viewUpdateDue || state().logView == nullptr) {
        return;
    }
    state().viewUpdateDue = true;
    const ULONGLONG since = GetTickCount64() - state().lastViewUpdate;
    if (since >= viewUpdateGap) {
        if (PostMessageA(window, WM_LOG_VIEW_UPDATE, 0, 0)) {
            return;
        }
    } else if (SetTimer(window, viewUpdateTimerId, static_cast<UINT>(viewUpdateGap - since),
                        nullptr) != 0) {
        return;
    }
    // Neither could be arranged: the line is shown now. (Not logged: the
    // line would come back here.)
    updateLogView(window);
}

// A hello reports three times (portal, dongle, next contact), and under
// Wine every refresh is a round trip to the taskbar's process of several
// milliseconds. So the tray, like the log view, shows the status once the
// work that reported it has returned: whatever was reported last, both
// image and tooltip, put back even if another program changed them.
void statusChanged(HWND window) {
    if (state().trayRefreshDue) {
        return;
    }
    state().trayRefreshDue = PostMessageA(window, WM_TRAY_REFRESH, 0, 0) != FALSE;
    if (!state().trayRefreshDue) {
        systemTray().refreshStatus();
    }
}

void refreshTray() {
    state().trayRefreshDue = false;
    systemTray().refreshStatus();
}

void showFatalError(HWND window, const char* text) {
    // Without the language file (the one that failed, or never read because
    // quorvel.ini is missing) there is no title text; a box without a title
    // does not say whose it is.
    const std::string& title = Texts::get("ERROR_MESSAGE_TITLE");
    MessageBoxA(nullptr, text != nullptr ? text : "", title.empty() ? "Quorvel" : title.c_str(),
                MB_OK | MB_ICONERROR);
    DestroyWindow(window);
}

LoggerWindowLinks* linksOf(HWND window) {
    return reinterpret_cast<LoggerWindowLinks*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

// Open Portal and About show windows of their own and run application
// logic. Neither may start inside a running cycle or during start-up: then
// the command is asked for again once that has finished.
bool runsNow(HWND window, CycleGate& gate, const char* key, WPARAM command) {
    if (!gate.running() && !gate.held()) {
        return true;
    }
    gate.run(key, [window, command] { PostMessageA(window, WM_COMMAND, command, 0); });
    return false;
}

// A second program start sends its Open Portal and waits for the answer;
// it must not wait while this copy shows a message box or a dialog.
void releaseWaitingSender() {
    if (InSendMessage()) {
        ReplyMessage(0);
    }
}

void openPortal(HWND window, CycleGate& gate) {
    releaseWaitingSender();
    if (state().openPortalBoxOpen || !runsNow(window, gate, "open portal", ID_OPEN_PORTAL)) {
        return;
    }
    const std::string warning = openPortalWarning(snapshotOf(displayStatus()));
    if (!warning.empty()) {
        // Cycles go on while the box waits for the user; they are not
        // inside one.
        state().openPortalBoxOpen = true;
        MessageBoxA(nullptr, warning.c_str(), Texts::get("ERROR_MESSAGE_TITLE").c_str(), MB_OK);
        state().openPortalBoxOpen = false;
    }
    gate.run("open portal", [] {
        if (UserInterfaceResource* userInterface = publishedUserInterface()) {
            userInterface->openPortal();
        }
    });
}

// The dialog's creation parameter is the cycle gate.
INT_PTR CALLBACK aboutProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            CycleGate& gate = *reinterpret_cast<CycleGate*>(lParam);
            SetWindowTextA(dialog, Texts::get("SYS_ABOUT_US").c_str());
            std::string softwareVersion;
            std::string firmwareVersion;
            std::string usbSerialnumber;
            // The dongle is read here; no cycle may start meanwhile.
            gate.run("about", [&] {
                if (UserInterfaceResource* userInterface = publishedUserInterface()) {
                    userInterface->showAboutDialog(softwareVersion, firmwareVersion,
                                                   usbSerialnumber);
                }
            });
            SetDlgItemTextA(dialog, IDC_SOFTWARE_VERSION, softwareVersion.c_str());
            SetDlgItemTextA(dialog, IDC_FIRMWARE_VERSION, firmwareVersion.c_str());
            SetDlgItemTextA(dialog, IDC_SERIAL_NUMBER, usbSerialnumber.c_str());
            return TRUE;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                EndDialog(dialog, LOWORD(wParam));
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

void showAbout(HWND window, CycleGate& gate) {
    releaseWaitingSender();
    if (state().aboutOpen || !runsNow(window, gate, "about", ID_ABOUT)) {
        return;
    }
    state().aboutOpen = true;
    DialogBoxParamA(moduleInstance(), MAKEINTRESOURCEA(IDD_ABOUT), window, aboutProcedure,
                    reinterpret_cast<LPARAM>(&gate));
    state().aboutOpen = false;
}

void runUserInterfaceCommand(HWND window, CycleGate& gate, WindowCommand command) {
    switch (command) {
        case WindowCommand::StatusChanged:
            statusChanged(window);
            break;
        case WindowCommand::OpenPortal:
            openPortal(window, gate);
            break;
        case WindowCommand::About:
            showAbout(window, gate);
            break;
        default:
            break;
    }
}

LRESULT handleCommand(HWND window, CycleGate& gate, WPARAM wParam, LPARAM lParam) {
    // A log line or a fatal error matches only when its text is one this
    // process is sending right now: another program may not end the agent,
    // nor make it read an address of its choosing.
    const WindowCommand command = classifyWindowCommand(wParam, lParam, sentTexts());
    if (needsUserInterface(command)) {
        // Open Portal and About wait for start-up (runsNow); a status
        // change before it has published anything has nothing to show.
        if (publishedUserInterface() != nullptr || command != WindowCommand::StatusChanged) {
            runUserInterfaceCommand(window, gate, command);
        }
        return 0;
    }
    switch (command) {
        case WindowCommand::LogLine:
            appendLogLine(window, reinterpret_cast<const char*>(lParam));
            return 0;
        case WindowCommand::ShowLogger:
            ShowWindow(window, SW_SHOW);
            return 0;
        case WindowCommand::FatalError:
            showFatalError(window, reinterpret_cast<const char*>(wParam));
            return 0;
        case WindowCommand::Exit:
            DestroyWindow(window);
            return 0;
        default:
            return 0;
    }
}

LRESULT deviceChanged(HWND window, CycleGate& gate, WPARAM wParam, LPARAM lParam) {
    // Only these two events come with a record. With any other, lParam may
    // be anything; sent by another program it is not even an address here,
    // as the system copies the record across only for events that have one.
    const bool withRecord = wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE;
    if (!withRecord || !isDongleNotice(reinterpret_cast<const void*>(lParam))) {
        return DefWindowProcA(window, WM_DEVICECHANGE, wParam, lParam);
    }
    const UINT event = static_cast<UINT>(wParam);
    const LRESULT result = systemTray().deviceChanged(event);
    if (event == DBT_DEVICEARRIVAL) {
        gate.run("dongle arrival", [] {
            if (UserInterfaceResource* userInterface = publishedUserInterface()) {
                userInterface->dongleArrived();
            }
        });
    }
    return result;
}

// Start-up has finished when this process's initialisation thread says so,
// whoever posted the message. Commands held until then may run, and the
// tray's texts are read now.
void startupFinished(LoggerWindowLinks& links) {
    if (!links.startupFinished.load() || links.gateReleased) {
        return;
    }
    links.gateReleased = true;
    links.gate.release();
    systemTray().languageRead();
}

LRESULT CALLBACK loggerWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* creation = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
    }
    LoggerWindowLinks* links = linksOf(window);
    // Only the few messages that come before WM_NCCREATE find none.
    if (links == nullptr) {
        return DefWindowProcA(window, message, wParam, lParam);
    }
    switch (message) {
        case WM_SHOWWINDOW:
            if (wParam != FALSE && state().logView == nullptr) {
                createLogView(window);
            }
            return DefWindowProcA(window, message, wParam, lParam);
        case WM_CLOSE:
            // The close box, Alt+F4 or anyone's WM_CLOSE only puts the log
            // away: a tray agent lives on without its window. The tray's
            // Exit and the menu bar's "&Beenden" end it.
            ShowWindow(window, SW_HIDE);
            return 0;
        case WM_DESTROY:
            // No icon may stay behind in the notification area.
            systemTray().removeIcon();
            state().logView = nullptr;
            PostQuitMessage(0);
            return 0;
        case WM_SIZE:
            if (state().logView != nullptr) {
                MoveWindow(state().logView, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
            }
            return 0;
        case WM_SETFOCUS:
            if (state().logView != nullptr) {
                SetFocus(state().logView);
            }
            return 0;
        case WM_COMMAND:
            return handleCommand(window, links->gate, wParam, lParam);
        case WM_TRAY_NOTIFY:
            return systemTray().handleNotification(wParam, lParam);
        case WM_DEVICECHANGE:
            return deviceChanged(window, links->gate, wParam, lParam);
        case WM_STARTUP_FINISHED:
            startupFinished(*links);
            return 0;
        case WM_LOG_VIEW_UPDATE:
            updateLogView(window);
            return 0;
        case WM_TRAY_REFRESH:
            refreshTray();
            return 0;
        case WM_TIMER:
            if (wParam == viewUpdateTimerId) {
                updateLogView(window);
                return 0;
            }
            return DefWindowProcA(window, message, wParam, lParam);
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

}  // namespace

bool registerLoggerWindowClass(HINSTANCE instance) {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = loggerWindowProcedure;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_QUORVEL));
    // The caption and taskbar want the small size; without it they shrink
    // the large image.
    windowClass.hIconSm = static_cast<HICON>(
        LoadImageA(instance, MAKEINTRESOURCEA(IDI_QUORVEL), IMAGE_ICON,
                   GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszMenuName = MAKEINTRESOURCEA(IDR_MAIN_MENU);
    windowClass.lpszClassName = loggerWindowClassName;
    if (RegisterClassExA(&windowClass) == 0) {
        log("[LoggerWindow::register] RegisterClassExA failed, GetLastError=",
            static_cast<int64_t>(GetLastError()));
        return false;
    }
    return true;
}

HWND createLoggerWindow(HINSTANCE instance, LoggerWindowLinks& links) {
    return CreateWindowExA(0, loggerWindowClassName, loggerWindowClassName, WS_OVERLAPPEDWINDOW,
                           CW_USEDEFAULT, 0, CW_USEDEFAULT, 0, nullptr, nullptr, instance, &links);
}
