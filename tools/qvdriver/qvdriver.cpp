// qvdriver: a console helper that the Wine test tier runs beside the agent to
// look at and poke the agent's windows from another process, the way a user
// or the system would. Every subcommand prints key=value lines (or raw text
// for `text`) and exits 0 on success.
//
// Exit codes: 0 success, 1 usage error, 2 window not found or wait timed out,
// 3 the target did not answer in time or a call failed; `run` exits with the
// code of the program it ran.

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <psapi.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "qvhook.h"
#include "resources/resource.h"

namespace {

constexpr wchar_t kLoggerClass[] = L"Quorvel Logger Window";
constexpr wchar_t kDialogClass[] = L"#32770";
constexpr wchar_t kMenuClass[] = L"#32768";
constexpr wchar_t kTooltipClass[] = L"tooltips_class32";
constexpr wchar_t kTaskbarClass[] = L"Shell_TrayWnd";
constexpr UINT kDefaultTimeoutMs = 5000;
constexpr DWORD kPollMs = 10;

constexpr int kOk = 0;
constexpr int kUsage = 1;
constexpr int kNotFound = 2;
constexpr int kFailed = 3;

std::string toUtf8(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

std::wstring fromUtf8(const std::string& text) {
    if (text.empty()) {
        return {};
    }
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
    return out;
}

// Values printed on a key=value line must stay on that line.
std::string escaped(const std::wstring& text) {
    std::string out;
    for (char c : toUtf8(text)) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                out += c;
        }
    }
    return out;
}

void writeRaw(const std::string& bytes) {
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fflush(stdout);
}

void print(const std::string& line) {
    writeRaw(line + "\n");
}

std::string hex(HWND hwnd) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%llx",
                  static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(hwnd)));
    return buf;
}

std::wstring className(HWND hwnd) {
    wchar_t buf[256];
    const int n = GetClassNameW(hwnd, buf, 256);
    return std::wstring(buf, n > 0 ? static_cast<size_t>(n) : 0);
}

DWORD ownerPid(HWND hwnd) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    return pid;
}

// The process that started `pid`, 0 when `pid` is not running.
DWORD parentPid(DWORD pid) {
    DWORD parent = 0;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return 0;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == pid) {
            parent = entry.th32ParentProcessID;
            break;
        }
    }
    CloseHandle(snapshot);
    return parent;
}

struct TopLevelQuery {
    const wchar_t* cls;
    bool visibleOnly;
    std::vector<HWND> found;
};

BOOL CALLBACK collectTopLevel(HWND hwnd, LPARAM param) {
    auto* query = reinterpret_cast<TopLevelQuery*>(param);
    if (className(hwnd) == query->cls && (!query->visibleOnly || IsWindowVisible(hwnd))) {
        query->found.push_back(hwnd);
    }
    return TRUE;
}

std::vector<HWND> topLevelWindows(const wchar_t* cls, bool visibleOnly) {
    TopLevelQuery query{cls, visibleOnly, {}};
    EnumWindows(collectTopLevel, reinterpret_cast<LPARAM>(&query));
    return query.found;
}

std::vector<HWND> childWindows(HWND parent) {
    std::vector<HWND> children;
    EnumChildWindows(
        parent,
        [](HWND child, LPARAM param) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(param)->push_back(child);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&children));
    return children;
}

HWND loggerWindow() {
    return FindWindowW(kLoggerClass, nullptr);
}

// Another process's window text is read only through WM_GETTEXT: the system
// copies it across the process boundary. The timeout keeps a hung agent from
// hanging the driver.
bool readText(HWND hwnd, std::wstring& text) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kDefaultTimeoutMs,
                             &length)) {
        return false;
    }
    // Lines may arrive between the two calls; the spare room lets them in.
    std::vector<wchar_t> buf(length + 4096, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()),
                             SMTO_ABORTIFHUNG, kDefaultTimeoutMs, &copied)) {
        return false;
    }
    text.assign(buf.data(), copied);
    return true;
}

bool logViewText(std::wstring& text) {
    const HWND logger = loggerWindow();
    if (logger == nullptr) {
        return false;
    }
    const HWND view = GetDlgItem(logger, IDC_LOG_VIEW);
    return view != nullptr && readText(view, text);
}

bool parseNumber(const char* arg, long long& value) {
    char* end = nullptr;
    value = std::strtoll(arg, &end, 0);
    return end != arg && *end == '\0';
}

template <typename Condition>
bool pollUntil(DWORD timeoutMs, Condition condition) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition()) {
            return true;
        }
        if (GetTickCount64() >= deadline) {
            return false;
        }
        Sleep(kPollMs);
    }
}

int cmdWindows() {
    const auto windows = topLevelWindows(kLoggerClass, false);
    print("count=" + std::to_string(windows.size()));
    for (HWND hwnd : windows) {
        print("window hwnd=" + hex(hwnd) + " pid=" + std::to_string(ownerPid(hwnd)) +
              " visible=" + (IsWindowVisible(hwnd) ? "1" : "0") +
              " parent=" + std::to_string(parentPid(ownerPid(hwnd))));
    }
    return kOk;
}

int cmdText() {
    std::wstring text;
    if (!logViewText(text)) {
        print("error=no-log-view");
        return kNotFound;
    }
    writeRaw(toUtf8(text));
    return kOk;
}

int cmdSend(UINT message, WPARAM wParam, LPARAM lParam, UINT timeoutMs) {
    const HWND logger = loggerWindow();
    if (logger == nullptr) {
        print("error=no-window");
        return kNotFound;
    }
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(logger, message, wParam, lParam, SMTO_ABORTIFHUNG, timeoutMs,
                             &result)) {
        print("error=timeout");
        return kFailed;
    }
    print("result=" + std::to_string(static_cast<long long>(result)));
    return kOk;
}

// Sends a command the moment the logger window exists, to reach an agent
// that is still starting. The log view's text just before the send tells the
// test how far start-up had got.
int cmdWaitSend(DWORD timeoutMs, WPARAM wParam, LPARAM lParam) {
    HWND logger = nullptr;
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while ((logger = loggerWindow()) == nullptr) {
        if (GetTickCount64() >= deadline) {
            print("error=timeout");
            return kNotFound;
        }
        Sleep(1);
    }
    std::wstring before;
    const HWND view = GetDlgItem(logger, IDC_LOG_VIEW);
    if (view != nullptr) {
        readText(view, before);
    }
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(logger, WM_COMMAND, wParam, lParam, SMTO_ABORTIFHUNG,
                             kDefaultTimeoutMs, &result)) {
        print("error=timeout");
        return kFailed;
    }
    print("text_before=" + escaped(before));
    print("result=" + std::to_string(static_cast<long long>(result)));
    return kOk;
}

int cmdPost(UINT message, WPARAM wParam, LPARAM lParam) {
    const HWND logger = loggerWindow();
    if (logger == nullptr) {
        print("error=no-window");
        return kNotFound;
    }
    if (!PostMessageW(logger, message, wParam, lParam)) {
        print("error=post-failed");
        return kFailed;
    }
    print("posted=1");
    return kOk;
}

int cmdMsgbox() {
    const auto boxes = topLevelWindows(kDialogClass, true);
    print("count=" + std::to_string(boxes.size()));
    for (HWND box : boxes) {
        std::wstring title;
        readText(box, title);
        print("box hwnd=" + hex(box) + " pid=" + std::to_string(ownerPid(box)) +
              " title=" + escaped(title));
        for (HWND child : childWindows(box)) {
            const std::wstring cls = className(child);
            std::wstring text;
            readText(child, text);
            const bool iconStatic = (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON;
            if (_wcsicmp(cls.c_str(), L"Static") == 0 && iconStatic) {
                // The box keeps its icon place empty when it was given none.
                print(std::string("icon=") + (SendMessageW(child, STM_GETICON, 0, 0) ? "1" : "0"));
            } else if (_wcsicmp(cls.c_str(), L"Static") == 0 && !text.empty()) {
                print("static=" + escaped(text));
            } else if (_wcsicmp(cls.c_str(), L"Button") == 0) {
                print("button id=" + std::to_string(GetDlgCtrlID(child)) +
                      " text=" + escaped(text));
            }
        }
    }
    return kOk;
}

int cmdMsgboxOk() {
    const auto boxes = topLevelWindows(kDialogClass, true);
    if (boxes.empty()) {
        print("error=no-msgbox");
        return kNotFound;
    }
    const HWND box = boxes.front();
    // A message box gives its OK button the id IDOK; other dialogs may not.
    HWND button = GetDlgItem(box, IDOK);
    if (button == nullptr) {
        for (HWND child : childWindows(box)) {
            if (_wcsicmp(className(child).c_str(), L"Button") == 0) {
                button = child;
                break;
            }
        }
    }
    if (button == nullptr) {
        print("error=no-button");
        return kNotFound;
    }
    const int id = GetDlgCtrlID(button);
    // Posted, not sent: the box's owner may end its process as soon as the
    // box closes and would never reply.
    if (!PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                      reinterpret_cast<LPARAM>(button))) {
        print("error=post-failed");
        return kFailed;
    }
    print("pressed=" + std::to_string(id));
    return kOk;
}

int cmdWaitWindow(DWORD timeoutMs, bool visible) {
    HWND found = nullptr;
    const bool ok = pollUntil(timeoutMs, [&] {
        found = loggerWindow();
        return found != nullptr && (!visible || IsWindowVisible(found));
    });
    if (!ok) {
        print("error=timeout");
        return kNotFound;
    }
    print("hwnd=" + hex(found));
    return kOk;
}

int cmdWaitGone(DWORD timeoutMs) {
    if (!pollUntil(timeoutMs, [] { return loggerWindow() == nullptr; })) {
        print("error=timeout");
        return kNotFound;
    }
    print("gone=1");
    return kOk;
}

int cmdWaitMsgbox(DWORD timeoutMs) {
    if (!pollUntil(timeoutMs, [] { return !topLevelWindows(kDialogClass, true).empty(); })) {
        print("error=timeout");
        return kNotFound;
    }
    return cmdMsgbox();
}

int cmdWaitText(DWORD timeoutMs, const std::string& needle) {
    const std::wstring wanted = fromUtf8(needle);
    std::wstring text;
    if (!pollUntil(timeoutMs,
                   [&] { return logViewText(text) && text.find(wanted) != std::wstring::npos; })) {
        print("error=timeout");
        return kNotFound;
    }
    print("found=1");
    return kOk;
}

// Watches the logger window for a while and reports whether it was ever
// shown and every distinct text seen, so that a brief flash is not missed
// between two driver runs.
int cmdWatch(DWORD durationMs) {
    bool everVisible = false;
    bool sawWindow = false;
    bool textChanged = false;
    std::wstring first;
    std::wstring last;
    bool haveText = false;
    pollUntil(durationMs, [&] {
        const HWND logger = loggerWindow();
        if (logger != nullptr) {
            sawWindow = true;
            everVisible = everVisible || IsWindowVisible(logger);
            std::wstring text;
            if (logViewText(text)) {
                if (!haveText) {
                    first = text;
                    haveText = true;
                } else if (text != first) {
                    textChanged = true;
                }
                last = text;
            }
        }
        return false;
    });
    if (!sawWindow) {
        print("error=no-window");
        return kNotFound;
    }
    print(std::string("ever_visible=") + (everVisible ? "1" : "0"));
    print(std::string("text_changed=") + (textChanged ? "1" : "0"));
    print("last_text=" + escaped(last));
    return kOk;
}

// Runs a program to its end as this process's child and reports its process
// id first, so that a test can tell what that program started itself.
int cmdRun(int argc, char** argv) {
    std::wstring commandLine;
    for (int i = 2; i < argc; ++i) {
        const std::wstring arg = fromUtf8(argv[i]);
        commandLine += commandLine.empty() ? L"" : L" ";
        commandLine += arg.find(L' ') == std::wstring::npos ? arg : L'"' + arg + L'"';
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &child)) {
        print("error=CreateProcess " + std::to_string(GetLastError()));
        return kFailed;
    }
    print("pid=" + std::to_string(child.dwProcessId));
    WaitForSingleObject(child.hProcess, INFINITE);
    DWORD code = kFailed;
    GetExitCodeProcess(child.hProcess, &code);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    return static_cast<int>(code);
}

// Ends every process that owns a logger window: a leftover agent from a
// crashed test run holds the single-instance mutex and would spoil the next.
int cmdKillAll() {
    int killed = 0;
    for (HWND hwnd : topLevelWindows(kLoggerClass, false)) {
        const HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, ownerPid(hwnd));
        if (process != nullptr) {
            if (TerminateProcess(process, 1)) {
                ++killed;
            }
            CloseHandle(process);
        }
    }
    print("killed=" + std::to_string(killed));
    return kOk;
}

// What a process holds, sampled by the soak run: a count that climbs with
// the cycles is a leak. Wine answers some of these from its own bookkeeping
// and may report 0 where Windows would count.
// The handles a process holds, from the system's handle list: Wine answers
// GetProcessHandleCount with 0 for another process, but lists every handle
// of every process here. -1 when the list cannot be read.
long long systemHandleCount(DWORD pid) {
    struct Entry {  // SYSTEM_HANDLE_TABLE_ENTRY_INFO, not in mingw-w64's headers
        ULONG ownerPid;
        BYTE objectType;
        BYTE flags;
        USHORT value;
        PVOID object;
        ACCESS_MASK access;
    };
    using Query = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (query == nullptr) {
        return -1;
    }
    constexpr ULONG systemHandleInformation = 16;
    constexpr LONG infoLengthMismatch = static_cast<LONG>(0xC0000004);
    std::vector<unsigned char> buffer(1 << 16);
    for (;;) {
        ULONG needed = 0;
        const LONG status = query(systemHandleInformation, buffer.data(),
                                  static_cast<ULONG>(buffer.size()), &needed);
        if (status == infoLengthMismatch) {
            buffer.resize(std::max<std::size_t>(buffer.size() * 2, needed + 4096));
            continue;
        }
        if (status != 0) {
            return -1;
        }
        break;
    }
    const ULONG count = *reinterpret_cast<const ULONG*>(buffer.data());
    const auto* entries = reinterpret_cast<const Entry*>(buffer.data() + sizeof(ULONG_PTR));
    long long held = 0;
    for (ULONG i = 0; i < count; ++i) {
        held += entries[i].ownerPid == pid ? 1 : 0;
    }
    return held;
}

int cmdProcessStats(const std::string& target) {
    long long number = 0;
    DWORD pid = 0;
    if (parseNumber(target.c_str(), number)) {
        pid = static_cast<DWORD>(number);
    } else {
        const auto windows = topLevelWindows(fromUtf8(target).c_str(), false);
        if (windows.empty()) {
            print("error=no window of class " + target);
            return kNotFound;
        }
        pid = ownerPid(windows.front());
    }
    const HANDLE process =
        OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (process == nullptr) {
        print("error=OpenProcess " + std::to_string(GetLastError()));
        return kFailed;
    }
    DWORD handles = 0;
    const bool haveHandles = GetProcessHandleCount(process, &handles) != FALSE;
    const DWORD gdi = GetGuiResources(process, GR_GDIOBJECTS);
    const DWORD user = GetGuiResources(process, GR_USEROBJECTS);
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    const bool haveMemory =
        K32GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                                sizeof memory) != FALSE;
    CloseHandle(process);
    print("pid=" + std::to_string(pid));
    print("handles=" + (haveHandles ? std::to_string(handles) : std::string("unknown")));
    print("system_handles=" + std::to_string(systemHandleCount(pid)));
    print("gdi_objects=" + std::to_string(gdi));
    print("user_objects=" + std::to_string(user));
    print("private_bytes=" +
          (haveMemory ? std::to_string(memory.PrivateUsage) : std::string("unknown")));
    print("working_set=" +
          (haveMemory ? std::to_string(memory.WorkingSetSize) : std::string("unknown")));
    return kOk;
}


std::string rectText(const RECT& rect) {
    return std::to_string(rect.left) + "," + std::to_string(rect.top) + "," +
           std::to_string(rect.right) + "," + std::to_string(rect.bottom);
}

int cmdWindowsOfClass(const std::string& cls) {
    const std::wstring wanted = fromUtf8(cls);
    const auto windows = topLevelWindows(wanted.c_str(), false);
    print("count=" + std::to_string(windows.size()));
    for (HWND hwnd : windows) {
        RECT rect{};
        GetWindowRect(hwnd, &rect);
        std::wstring text;
        readText(hwnd, text);
        print("window hwnd=" + hex(hwnd) + " pid=" + std::to_string(ownerPid(hwnd)) +
              " visible=" + (IsWindowVisible(hwnd) ? "1" : "0") + " rect=" + rectText(rect) +
              " text=" + escaped(text));
    }
    return kOk;
}

// A tooltip counts once it is shown with a text: the control stays shown,
// empty, when it has nothing to say.
bool shownTooltip(std::wstring& text, HWND& found) {
    for (HWND tip : topLevelWindows(kTooltipClass, true)) {
        std::wstring candidate;
        if (readText(tip, candidate) && !candidate.empty()) {
            text = candidate;
            found = tip;
            return true;
        }
    }
    return false;
}

int cmdWaitTooltip(DWORD timeoutMs) {
    std::wstring text;
    HWND tip = nullptr;
    if (!pollUntil(timeoutMs, [&] { return shownTooltip(text, tip); })) {
        print("error=timeout");
        return kNotFound;
    }
    RECT rect{};
    GetWindowRect(tip, &rect);
    print("hwnd=" + hex(tip) + " pid=" + std::to_string(ownerPid(tip)));
    print("rect=" + rectText(rect));
    print("text=" + escaped(text));
    return kOk;
}

int cmdWaitNoTooltip(DWORD timeoutMs) {
    std::wstring text;
    HWND tip = nullptr;
    if (!pollUntil(timeoutMs, [&] { return !shownTooltip(text, tip); })) {
        print("error=timeout");
        print("text=" + escaped(text));
        return kNotFound;
    }
    print("gone=1");
    return kOk;
}

// The window the tray commands name: the one given, else the logger window.
// A window that is gone still names its icon, as far as the shell knows.
bool trayOwner(const char* given, HWND& owner) {
    if (given != nullptr) {
        long long value = 0;
        if (!parseNumber(given, value)) {
            return false;
        }
        owner = reinterpret_cast<HWND>(static_cast<INT_PTR>(value));
        return true;
    }
    owner = loggerWindow();
    return owner != nullptr;
}

NOTIFYICONDATAW iconRecord(HWND owner) {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof(data);
    data.hWnd = owner;
    data.uID = TRAY_ICON_ID;
    return data;
}

// Asks the shell whether it holds the agent's icon: a modify that changes
// nothing succeeds only for an icon that is there.
int cmdTrayProbe(const char* given) {
    HWND owner = nullptr;
    if (!trayOwner(given, owner)) {
        print("error=no-window");
        return kNotFound;
    }
    NOTIFYICONDATAW data = iconRecord(owner);
    data.uFlags = 0;
    const BOOL present = Shell_NotifyIconW(NIM_MODIFY, &data);
    print("owner=" + hex(owner));
    print(std::string("present=") + (present ? "1" : "0"));
    return kOk;
}

// Deletes the agent's icon as a crashed or restarted taskbar would lose it.
int cmdTrayRemove() {
    HWND owner = nullptr;
    if (!trayOwner(nullptr, owner)) {
        print("error=no-window");
        return kNotFound;
    }
    NOTIFYICONDATAW data = iconRecord(owner);
    const BOOL removed = Shell_NotifyIconW(NIM_DELETE, &data);
    print(std::string("removed=") + (removed ? "1" : "0"));
    return removed ? kOk : kFailed;
}

// Replaces the agent's tooltip behind its back.
int cmdTrayTip(const std::string& text) {
    HWND owner = nullptr;
    if (!trayOwner(nullptr, owner)) {
        print("error=no-window");
        return kNotFound;
    }
    NOTIFYICONDATAW data = iconRecord(owner);
    data.uFlags = NIF_TIP;
    const std::wstring wide = fromUtf8(text);
    lstrcpynW(data.szTip, wide.c_str(), ARRAYSIZE(data.szTip));
    const BOOL modified = Shell_NotifyIconW(NIM_MODIFY, &data);
    print(std::string("modified=") + (modified ? "1" : "0"));
    return modified ? kOk : kFailed;
}

// What a new taskbar tells every top-level window.
int cmdBroadcastTaskbarCreated() {
    const UINT message = RegisterWindowMessageW(L"TaskbarCreated");
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(HWND_BROADCAST, message, 0, 0, SMTO_ABORTIFHUNG, kDefaultTimeoutMs,
                             &result)) {
        print("error=timeout");
        return kFailed;
    }
    print("message=" + std::to_string(message));
    return kOk;
}

int cmdTaskbar() {
    const HWND taskbar = FindWindowW(kTaskbarClass, nullptr);
    if (taskbar == nullptr) {
        print("error=no-taskbar");
        return kNotFound;
    }
    RECT rect{};
    GetWindowRect(taskbar, &rect);
    print("hwnd=" + hex(taskbar));
    print("rect=" + rectText(rect));
    return kOk;
}

int cmdTrayNotify(WPARAM iconId, LPARAM mouseMessage, UINT timeoutMs) {
    return cmdSend(WM_TRAY_NOTIFY, iconId, mouseMessage, timeoutMs);
}

// Runs `message` through a thread hook in the thread that owns `menuWindow`,
// where qvhook.dll can read or end the menu.
bool sendThroughHook(HWND menuWindow, const wchar_t* message, WPARAM wParam) {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return false;
    }
    std::wstring dll(path, length);
    dll = dll.substr(0, dll.find_last_of(L"\\/") + 1) + L"qvhook.dll";
    const HMODULE module = LoadLibraryW(dll.c_str());
    if (module == nullptr) {
        print("error=no-qvhook.dll");
        return false;
    }
    const auto proc = reinterpret_cast<HOOKPROC>(
        reinterpret_cast<void*>(GetProcAddress(module, qvhook::kHookProcName)));
    const DWORD thread = GetWindowThreadProcessId(menuWindow, nullptr);
    const HHOOK hook =
        proc != nullptr ? SetWindowsHookExW(WH_CALLWNDPROC, proc, module, thread) : nullptr;
    bool sent = false;
    if (hook != nullptr) {
        DWORD_PTR result = 0;
        sent = SendMessageTimeoutW(menuWindow, RegisterWindowMessageW(message), wParam, 0,
                                   SMTO_ABORTIFHUNG, kDefaultTimeoutMs, &result) != 0;
        UnhookWindowsHookEx(hook);
    } else {
        print("error=no-hook");
    }
    FreeLibrary(module);
    return sent;
}

HWND shownMenu() {
    const auto menus = topLevelWindows(kMenuClass, true);
    return menus.empty() ? nullptr : menus.front();
}

int cmdWaitMenu(DWORD timeoutMs) {
    HWND menuWindow = nullptr;
    if (!pollUntil(timeoutMs, [&] { return (menuWindow = shownMenu()) != nullptr; })) {
        print("error=timeout");
        return kNotFound;
    }
    wchar_t name[64];
    qvhook::sectionName(GetCurrentProcessId(), name, 64);
    const HANDLE section = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                              sizeof(qvhook::MenuDescription), name);
    if (section == nullptr) {
        print("error=no-section");
        return kFailed;
    }
    auto* menu = static_cast<qvhook::MenuDescription*>(
        MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(qvhook::MenuDescription)));
    int rc = kFailed;
    if (menu == nullptr) {
        print("error=no-view");
    } else if (!sendThroughHook(menuWindow, qvhook::kDescribeMenuMessage, GetCurrentProcessId()) ||
               menu->filled == 0) {
        print("error=menu-not-read");
    } else if (menu->found == 0) {
        print("error=no-menu");
        rc = kNotFound;
    } else {
        RECT rect{};
        GetWindowRect(menuWindow, &rect);
        print("hwnd=" + hex(menuWindow) + " pid=" + std::to_string(ownerPid(menuWindow)));
        print("rect=" + rectText(rect));
        print("count=" + std::to_string(menu->count));
        print("default=" + std::to_string(static_cast<int>(menu->defaultItem)));
        for (int i = 0; i < menu->count && i < qvhook::kMaxItems; ++i) {
            const qvhook::MenuItem& item = menu->items[i];
            print("item pos=" + std::to_string(i) + " id=" + std::to_string(item.id) +
                  " bold=" + ((item.state & MFS_DEFAULT) != 0 ? "1" : "0") +
                  " grayed=" + ((item.state & MFS_GRAYED) != 0 ? "1" : "0") +
                  " rect=" + rectText(item.rect) + " text=" + escaped(item.text));
        }
        rc = kOk;
    }
    if (menu != nullptr) {
        UnmapViewOfFile(menu);
    }
    CloseHandle(section);
    return rc;
}

int cmdMenuEnd() {
    const HWND menuWindow = shownMenu();
    if (menuWindow == nullptr) {
        print("error=no-menu");
        return kNotFound;
    }
    if (!sendThroughHook(menuWindow, qvhook::kEndMenuMessage, 0)) {
        return kFailed;
    }
    print("ended=1");
    return kOk;
}

int cmdWaitMenuGone(DWORD timeoutMs) {
    if (!pollUntil(timeoutMs, [] { return shownMenu() == nullptr; })) {
        print("error=timeout");
        return kNotFound;
    }
    print("gone=1");
    return kOk;
}

// Every shown dialog with each control's id, class and text: the About
// dialog's values are told apart only by their ids.
int listDialogs(const std::vector<HWND>& dialogs) {
    print("count=" + std::to_string(dialogs.size()));
    for (HWND dialog : dialogs) {
        std::wstring title;
        readText(dialog, title);
        print("dialog hwnd=" + hex(dialog) + " pid=" + std::to_string(ownerPid(dialog)) +
              " title=" + escaped(title));
        for (HWND child : childWindows(dialog)) {
            std::wstring text;
            readText(child, text);
            // An icon control's text is the icon's resource number, marked
            // by a leading 0xFFFF.
            if (text.size() == 2 && text[0] == 0xFFFF) {
                text = L"#" + std::to_wstring(static_cast<unsigned>(text[1]));
            }
            print("control id=" + std::to_string(GetDlgCtrlID(child)) +
                  " class=" + escaped(className(child)) + " text=" + escaped(text));
        }
    }
    return kOk;
}

int cmdWaitDialog(DWORD timeoutMs) {
    std::vector<HWND> dialogs;
    if (!pollUntil(timeoutMs, [&] {
            dialogs = topLevelWindows(kDialogClass, true);
            return !dialogs.empty();
        })) {
        print("error=timeout");
        return kNotFound;
    }
    return listDialogs(dialogs);
}

int cmdWaitNoDialog(DWORD timeoutMs) {
    if (!pollUntil(timeoutMs, [] { return topLevelWindows(kDialogClass, true).empty(); })) {
        print("error=timeout");
        return kNotFound;
    }
    print("gone=1");
    return kOk;
}

// Presses a dialog's button by its id, as a click would.
int cmdDialogPress(int id) {
    for (HWND dialog : topLevelWindows(kDialogClass, true)) {
        const HWND button = GetDlgItem(dialog, id);
        if (button == nullptr) {
            continue;
        }
        // Posted: the dialog's process may end once it closes.
        if (!PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                          reinterpret_cast<LPARAM>(button))) {
            print("error=post-failed");
            return kFailed;
        }
        print("pressed=" + std::to_string(id));
        return kOk;
    }
    print("error=no-such-button");
    return kNotFound;
}

// Starts EXE with a command line whose first word is FIRST instead of its
// own path, as any caller of CreateProcess may, waits for it and relays its
// exit code; its output goes where the driver's goes.
int cmdRunAs(int argc, char** argv) {
    const auto quoted = [](const std::string& word) { return L"\"" + fromUtf8(word) + L"\""; };
    std::wstring commandLine = quoted(argv[3]);
    for (int i = 4; i < argc; ++i) {
        commandLine += L" " + quoted(argv[i]);
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    std::fflush(stdout);
    if (!CreateProcessW(fromUtf8(argv[2]).c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0,
                        nullptr, nullptr, &startup, &process)) {
        print("error=create-process-failed code=" + std::to_string(GetLastError()));
        return kFailed;
    }
    CloseHandle(process.hThread);
    const bool ended = WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0;
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    if (!ended) {
        print("error=timeout");
        return kNotFound;
    }
    print("exit=" + std::to_string(code));
    return kOk;
}

int usage() {
    std::fputs(
        "usage: qvdriver COMMAND [ARGS]\n"
        "  windows                      logger windows: count, hwnd, pid, visibility, parent pid\n"
        "  text                         the log view's full text, raw\n"
        "  send WPARAM LPARAM [MS]      WM_COMMAND by SendMessageTimeout (default 5000 ms)\n"
        "  post WPARAM LPARAM           WM_COMMAND by PostMessage\n"
        "  wait-send MS WPARAM LPARAM   WM_COMMAND sent as soon as the logger window exists\n"
        "  close                        the close box's SC_CLOSE, sent to the logger window\n"
        "  ping [MS]                    round trip of WM_NULL through the agent's UI thread\n"
        "  msgbox                       visible message boxes: title, texts, icon, buttons\n"
        "  msgbox-ok                    press OK (or the first button) of a message box\n"
        "  wait-window MS [visible]     until the logger window exists (and is shown)\n"
        "  wait-gone MS                 until no logger window exists\n"
        "  wait-msgbox MS               until a message box is shown, then list it\n"
        "  wait-text MS TEXT            until the log view contains TEXT\n"
        "  watch MS                     observe the logger window for MS milliseconds\n"
        "  process-stats PID|CLASS      handles (also from the system's list), GDI and USER objects,\n"
        "                               private bytes of a process\n"
        "  kill-all                     terminate every process owning a logger window\n"
        "  run EXE [ARGS...]            run EXE to its end: its pid, then its exit code as ours\n"
        "  windows-of-class CLASS       top-level windows of a class: pid, visibility, rect, text\n"
        "  wait-tooltip MS              until a tooltip is shown with a text, then its text\n"
        "  wait-no-tooltip MS           until no tooltip with a text is shown\n"
        "  taskbar                      the taskbar window's screen rectangle\n"
        "  tray-notify ID MESSAGE [MS]  the tray callback message sent to the logger window\n"
        "  tray-probe [HWND]            whether the shell holds the tray icon of HWND (logger window)\n"
        "  tray-remove                  delete the logger window's tray icon from the shell\n"
        "  tray-tip TEXT                replace the tooltip of the logger window's tray icon\n"
        "  broadcast-taskbar-created    send \"TaskbarCreated\" to every top-level window\n"
        "  wait-menu MS                 until a popup menu is shown, then its items\n"
        "  menu-end                     close the shown popup menu as Escape would\n"
        "  wait-menu-gone MS            until no popup menu is shown\n"
        "  wait-dialog MS               until a dialog is shown, then its controls by id\n"
        "  wait-no-dialog MS            until no dialog is shown\n"
        "  dialog-press ID              press the button ID of a shown dialog\n"
        "  run-as EXE FIRST [ARGS...]   run EXE with FIRST as its command line's first word\n",
        stderr);
    return kUsage;
}

bool argNumber(int argc, char** argv, int index, long long& value) {
    return index < argc && parseNumber(argv[index], value);
}

}  // namespace

int main(int argc, char** argv) {
    // Raw text must reach the test unchanged: no "\n" to "\r\n" translation.
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc < 2) {
        return usage();
    }
    const std::string command = argv[1];
    long long a = 0;
    long long b = 0;
    long long ms = kDefaultTimeoutMs;

    if (command == "windows" && argc == 2) {
        return cmdWindows();
    }
    if (command == "text" && argc == 2) {
        return cmdText();
    }
    if (command == "send" && (argc == 4 || argc == 5) && argNumber(argc, argv, 2, a) &&
        argNumber(argc, argv, 3, b) && (argc == 4 || argNumber(argc, argv, 4, ms))) {
        return cmdSend(WM_COMMAND, static_cast<WPARAM>(a), static_cast<LPARAM>(b),
                       static_cast<UINT>(ms));
    }
    if (command == "wait-send" && argc == 5 && argNumber(argc, argv, 2, ms) &&
        argNumber(argc, argv, 3, a) && argNumber(argc, argv, 4, b)) {
        return cmdWaitSend(static_cast<DWORD>(ms), static_cast<WPARAM>(a),
                           static_cast<LPARAM>(b));
    }
    if (command == "post" && argc == 4 && argNumber(argc, argv, 2, a) &&
        argNumber(argc, argv, 3, b)) {
        return cmdPost(WM_COMMAND, static_cast<WPARAM>(a), static_cast<LPARAM>(b));
    }
    if (command == "close" && argc == 2) {
        // What the close box and Alt+F4 send; the default procedure turns it
        // into WM_CLOSE before the send returns.
        return cmdSend(WM_SYSCOMMAND, SC_CLOSE, 0, kDefaultTimeoutMs);
    }
    if (command == "ping" && (argc == 2 || argNumber(argc, argv, 2, ms))) {
        return cmdSend(WM_NULL, 0, 0, static_cast<UINT>(ms));
    }
    if (command == "msgbox" && argc == 2) {
        return cmdMsgbox();
    }
    if (command == "msgbox-ok" && argc == 2) {
        return cmdMsgboxOk();
    }
    if (command == "wait-window" && (argc == 3 || argc == 4) && argNumber(argc, argv, 2, ms) &&
        (argc == 3 || std::strcmp(argv[3], "visible") == 0)) {
        return cmdWaitWindow(static_cast<DWORD>(ms), argc == 4);
    }
    if (command == "wait-gone" && argc == 3 && argNumber(argc, argv, 2, ms)) {
        return cmdWaitGone(static_cast<DWORD>(ms));
    }
    if (command == "wait-msgbox" && argc == 3 && argNumber(argc, argv, 2, ms)) {
        return cmdWaitMsgbox(static_cast<DWORD>(ms));
    }
    if (command == "wait-text" && argc == 4 && argNumber(argc, argv, 2, ms)) {
        return cmdWaitText(static_cast<DWORD>(ms), argv[3]);
    }
    if (command == "watch" && argc == 3 && argNumber(argc, argv, 2, ms)) {
        return cmdWatch(static_cast<DWORD>(ms));
    }
    if (command == "process-stats" && argc == 3) {
        return cmdProcessStats(argv[2]);
    }
    if (command == "run" && argc >= 3) {
        return cmdRun(argc, argv);
    }
    if (command == "kill-all" && argc == 2) {
        return cmdKillAll();
    }
    if (command == "windows-of-class" && argc == 3) {
        return cmdWindowsOfClass(argv[2]);
    }
    if (command == "wait-tooltip" && argc == 3 && argNumber(argc, argv, 2, ms)) {
        return cmdWaitTooltip(static_cast<DWORD>(ms));
    }
    if (command == "wait-no-tooltip" && argc == 3 && argNumber(argc, argv, 2, ms)) {
        return cmdWaitNoTooltip(static_cast<DWORD>(ms));
    }
    if (command == "taskbar" && argc == 2) {
        return cmdTaskbar();
    }
    if (command == "tray-notify" && (argc == 4 || argc == 5) && argNumber(argc, argv, 2, a) &&
        argNumber(argc, argv, 3, b) && (argc == 4 || argNumber(argc, argv, 4, ms))) {
        return cmdTrayNotify(static_cast<WPARAM>(a), static_cast<LPARAM>(b), static_cast<UINT>(ms));
    }
    if (command == "tray-probe" && (argc == 2 || argc == 3)) {
        return cmdTrayProbe(argc == 3 ? argv[2] : nullptr);
    }
    if (command == "tray-remove" && argc == 2) {
        return cmdTrayRemove();
    }
    if (command == "tray-tip" && argc == 3) {
        return cmdTrayTip(argv[2]);
    }
    if (command == "broadcast-taskbar-created" && argc == 2) {
        return cmdBroadcastTaskbarCreated();
    }
    if (command == "wait-menu" && argc == 3 && argNumber(argc, argv, 2, ms)) {
        return cmdWaitMenu(static_cast<DWORD>(ms));
    }
    if (command == "menu-end" && argc == 2) {
        return cmdMenuEnd();
    }
    if (command == "wait-menu-gone" && argc == 3 && argNumber(argc, argv, 2, ms)) {
        return cmdWaitMenuGone(static_cast<DWORD>(ms));
    }
    if (command == "wait-dialog" && argc == 3 && argNumber(argc, argv, 2, ms)) {
        return cmdWaitDialog(static_cast<DWORD>(ms));
    }
    if (command == "wait-no-dialog" && argc == 3 && argNumber(argc, argv, 2, ms)) {
        return cmdWaitNoDialog(static_cast<DWORD>(ms));
    }
    if (command == "dialog-press" && argc == 3 && argNumber(argc, argv, 2, a)) {
        return cmdDialogPress(static_cast<int>(a));
    }
    if (command == "run-as" && argc >= 4) {
        return cmdRunAs(argc, argv);
    }
    return usage();
}
