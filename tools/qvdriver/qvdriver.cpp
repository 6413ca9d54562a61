// qvdriver: a console helper that the Wine test tier runs beside the agent to
// look at and poke the agent's windows from another process, the way a user
// or the system would. Every subcommand prints key=value lines (or raw text
// for `text`) and exits 0 on success.
//
// Exit codes: 0 success, 1 usage error, 2 window not found or wait timed out,
// 3 the target did not answer in time or a call failed.

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kLoggerClass[] = L"Quorvel Logger Window";
constexpr wchar_t kDialogClass[] = L"#32770";
constexpr int kLogViewId = 1;
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
    const HWND view = GetDlgItem(logger, kLogViewId);
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
              " visible=" + (IsWindowVisible(hwnd) ? "1" : "0"));
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
    const HWND view = GetDlgItem(logger, kLogViewId);
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
            if (_wcsicmp(cls.c_str(), L"Static") == 0 && !text.empty()) {
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

int usage() {
    std::fputs(
        "usage: qvdriver COMMAND [ARGS]\n"
        "  windows                      logger windows: count, hwnd, pid, visibility\n"
        "  text                         the log view's full text, raw\n"
        "  send WPARAM LPARAM [MS]      WM_COMMAND by SendMessageTimeout (default 5000 ms)\n"
        "  post WPARAM LPARAM           WM_COMMAND by PostMessage\n"
        "  wait-send MS WPARAM LPARAM   WM_COMMAND sent as soon as the logger window exists\n"
        "  close                        post WM_CLOSE to the logger window\n"
        "  ping [MS]                    round trip of WM_NULL through the agent's UI thread\n"
        "  msgbox                       visible message boxes: title, texts, buttons\n"
        "  msgbox-ok                    press OK (or the first button) of a message box\n"
        "  wait-window MS [visible]     until the logger window exists (and is shown)\n"
        "  wait-gone MS                 until no logger window exists\n"
        "  wait-msgbox MS               until a message box is shown, then list it\n"
        "  wait-text MS TEXT            until the log view contains TEXT\n"
        "  watch MS                     observe the logger window for MS milliseconds\n"
        "  kill-all                     terminate every process owning a logger window\n",
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
        return cmdPost(WM_CLOSE, 0, 0);
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
    if (command == "kill-all" && argc == 2) {
        return cmdKillAll();
    }
    return usage();
}
