// The Win32 adapters against the real (or Wine's) system calls: window timers
// driven by a message loop on the test thread, the all-users data folder, the
// system language and the shell's URL handling.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "activities/win32/ShellUrlOpener.h"
#include "core/Log.h"
#include "core/win32/Win32MainWindow.h"
#include "core/win32/Win32SystemPaths.h"
#include "tests/unit/support/FakeMainWindow.h"
#include "tests/unit/support/TempFolder.h"
#include "timer/win32/Win32WindowTimers.h"
#include "ui/win32/Win32SystemLanguage.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// Long enough for a loaded machine running Wine; only reached when a test fails.
constexpr milliseconds expiryDeadline{5000};
// How long a timer that must not expire is watched after one that was armed
// alongside it has expired. A bounded observation: it cannot prove "never",
// only that the timer did not come with, or shortly after, its neighbour.
constexpr milliseconds quietPeriod{300};

// Runs this thread's message loop until `done` holds or the time is up.
// Between messages it waits for the next one, not for a fixed time.
bool pumpUntil(const std::function<bool()>& done, milliseconds limit) {
    const auto deadline = steady_clock::now() + limit;
    for (;;) {
        MSG message{};
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (done()) {
            return true;
        }
        const auto now = steady_clock::now();
        if (now >= deadline) {
            return false;
        }
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - now).count() + 1;
        // MWMO_INPUTAVAILABLE also wakes for messages that arrived before the
        // wait started, which a plain wait would sleep through.
        MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(left), QS_ALLINPUT,
                                    MWMO_INPUTAVAILABLE);
    }
}

void pumpFor(milliseconds period) {
    pumpUntil([] { return false; }, period);
}

// A hidden message-only window owned by the creating thread.
class ScopedWindow {
  public:
    ScopedWindow()
        : handle_(CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleA(nullptr), nullptr)) {}
    ~ScopedWindow() { destroy(); }
    ScopedWindow(const ScopedWindow&) = delete;
    ScopedWindow& operator=(const ScopedWindow&) = delete;

    HWND handle() const { return handle_; }
    void destroy() {
        if (handle_ != nullptr) {
            DestroyWindow(handle_);
            handle_ = nullptr;
        }
    }

  private:
    HWND handle_;
};

// Counts the runs of one expiry and remembers the thread of the last run.
struct ExpiryRecord {
    int runs = 0;
    DWORD thread = 0;
};

bool containsLine(const FakeMainWindow& window, const std::string& part) {
    const std::vector<std::string> lines = window.logLines();
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
        return line.find(part) != std::string::npos;
    });
}

class Win32WindowTimersTest : public ::testing::Test {
  protected:
    Win32WindowTimersTest() {
        setMainWindowCommands(&logWindow);
        setLoggingEnabled(true);
    }

    void SetUp() override { ASSERT_NE(window.handle(), nullptr) << GetLastError(); }

    // A one-shot expiry, as the agent writes them: it kills its timer first.
    WindowTimers::Expiry oneShot(unsigned id, ExpiryRecord& record) {
        return [this, id, &record] {
            timers.kill(id);
            ++record.runs;
            record.thread = GetCurrentThreadId();
        };
    }

    ProcessStateGuard guard;
    FakeMainWindow logWindow;
    ScopedWindow window;
    Win32WindowTimers timers{window.handle()};
};

TEST_F(Win32WindowTimersTest, AnExpiryRunsOnceOnTheWindowThread) {
    ExpiryRecord record;
    timers.arm(1, 20, oneShot(1, record));
    ASSERT_TRUE(pumpUntil([&] { return record.runs > 0; }, expiryDeadline));
    pumpFor(quietPeriod);
    EXPECT_EQ(record.runs, 1);
    EXPECT_EQ(record.thread, GetCurrentThreadId());
    EXPECT_TRUE(logWindow.logLines().empty());
}

TEST_F(Win32WindowTimersTest, ReArmingReplacesThePendingTimerAndItsExpiry) {
    ExpiryRecord first, second, third, reference;
    timers.arm(1, 20, oneShot(1, first));
    // Replaced by a timer too long to expire during the test.
    timers.arm(1, 600000, oneShot(1, second));
    timers.arm(2, 20, oneShot(2, reference));
    ASSERT_TRUE(pumpUntil([&] { return reference.runs > 0; }, expiryDeadline));
    pumpFor(quietPeriod);
    EXPECT_EQ(first.runs, 0) << "the replaced 20 ms timer still expired";
    EXPECT_EQ(second.runs, 0);

    timers.arm(1, 20, oneShot(1, third));
    ASSERT_TRUE(pumpUntil([&] { return third.runs > 0; }, expiryDeadline));
    pumpFor(quietPeriod);
    EXPECT_EQ(first.runs, 0);
    EXPECT_EQ(second.runs, 0);
    EXPECT_EQ(third.runs, 1);
}

TEST_F(Win32WindowTimersTest, AKilledTimerDoesNotExpire) {
    ExpiryRecord killed, reference;
    timers.arm(1, 20, oneShot(1, killed));
    timers.arm(2, 20, oneShot(2, reference));
    timers.kill(1);
    ASSERT_TRUE(pumpUntil([&] { return reference.runs > 0; }, expiryDeadline));
    pumpFor(quietPeriod);
    EXPECT_EQ(killed.runs, 0);

    // Killing what is not armed is routine (a one-shot that already ran).
    timers.kill(1);
    timers.kill(99);
    EXPECT_TRUE(logWindow.logLines().empty());
}

TEST_F(Win32WindowTimersTest, ATimerArmedFromAnotherThreadExpiresOnTheWindowThread) {
    ExpiryRecord record;
    DWORD armingThread = 0;
    std::thread other([&] {
        armingThread = GetCurrentThreadId();
        timers.arm(1, 20, oneShot(1, record));
    });
    other.join();
    ASSERT_TRUE(pumpUntil([&] { return record.runs > 0; }, expiryDeadline));
    EXPECT_EQ(record.thread, GetCurrentThreadId());
    EXPECT_NE(record.thread, armingThread);
}

TEST_F(Win32WindowTimersTest, AnExpiryMayReArmItsOwnTimer) {
    // A lock held around the expiry would hang here rather than fail.
    ExpiryRecord follower;
    int leaderRuns = 0;
    timers.arm(1, 20, [&] {
        ++leaderRuns;
        timers.arm(1, 20, oneShot(1, follower));
    });
    ASSERT_TRUE(pumpUntil([&] { return follower.runs > 0; }, expiryDeadline));
    pumpFor(quietPeriod);
    EXPECT_EQ(leaderRuns, 1);
    EXPECT_EQ(follower.runs, 1);
}

TEST_F(Win32WindowTimersTest, DelaysOutsideTheSystemRangeAreAccepted) {
    ExpiryRecord immediate, distant;
    // Windows raises a zero delay to its minimum and would reject nothing
    // here; the longest delay must stay long rather than wrap to a short one.
    timers.arm(1, 0, oneShot(1, immediate));
    timers.arm(2, UINT32_MAX, oneShot(2, distant));
    ASSERT_TRUE(pumpUntil([&] { return immediate.runs > 0; }, expiryDeadline));
    pumpFor(quietPeriod);
    EXPECT_EQ(distant.runs, 0);
    EXPECT_TRUE(logWindow.logLines().empty());
}

TEST_F(Win32WindowTimersTest, DestroyingTheAdapterKillsItsTimers) {
    ExpiryRecord orphan, reference;
    {
        Win32WindowTimers shortLived(window.handle());
        shortLived.arm(3, 20, [&] { ++orphan.runs; });
    }
    timers.arm(2, 20, oneShot(2, reference));
    ASSERT_TRUE(pumpUntil([&] { return reference.runs > 0; }, expiryDeadline));
    pumpFor(quietPeriod);
    EXPECT_EQ(orphan.runs, 0);
}

TEST_F(Win32WindowTimersTest, FailuresAreLoggedWithTheOperationAndError) {
    ScopedWindow gone;
    const HWND stale = gone.handle();
    gone.destroy();
    Win32WindowTimers onStaleWindow(stale);
    ExpiryRecord record;
    onStaleWindow.arm(4, 20, oneShot(4, record));
    ASSERT_EQ(logWindow.logLines().size(), 1u);
    const std::string line = logWindow.logLines()[0];
    const std::string expected = "SetTimer failed for timer 4, GetLastError=";
    ASSERT_NE(line.find(expected), std::string::npos) << line;
    // Windows reports ERROR_INVALID_WINDOW_HANDLE, Wine ERROR_INVALID_HANDLE;
    // either way the code must be the real one, not a blank or zero.
    const std::string code = line.substr(line.find(expected) + expected.size());
    EXPECT_TRUE(code == std::to_string(ERROR_INVALID_WINDOW_HANDLE) ||
                code == std::to_string(ERROR_INVALID_HANDLE))
        << line;
}

TEST_F(Win32WindowTimersTest, TheDefaultAdapterFollowsTheMainWindow) {
    ASSERT_EQ(mainWindowHandle(), nullptr) << "another test left a main window behind";
    Win32WindowTimers onMainWindow;
    ExpiryRecord beforeWindow, afterWindow;
    onMainWindow.arm(5, 20, [&] { ++beforeWindow.runs; });
    EXPECT_TRUE(containsLine(logWindow, "no window for timer 5"))
        << ::testing::PrintToString(logWindow.logLines());

    setMainWindow(window.handle(), GetModuleHandleA(nullptr));
    onMainWindow.arm(5, 20, [&] {
        onMainWindow.kill(5);
        ++afterWindow.runs;
        afterWindow.thread = GetCurrentThreadId();
    });
    const bool expired = pumpUntil([&] { return afterWindow.runs > 0; }, expiryDeadline);
    setMainWindow(nullptr, nullptr);
    EXPECT_TRUE(expired);
    EXPECT_EQ(beforeWindow.runs, 0);
    EXPECT_EQ(afterWindow.thread, GetCurrentThreadId());
}

// ---------------------------------------------------------------------------

TEST(Win32SystemPathsTest, CommonAppDataFolderIsAnExistingAbsoluteFolder) {
    const std::string folder = Win32SystemPaths().commonAppDataFolder();
    ASSERT_GE(folder.size(), 3u) << folder;
    EXPECT_TRUE(std::isalpha(static_cast<unsigned char>(folder[0]))) << folder;
    EXPECT_EQ(folder.substr(1, 2), ":\\") << folder;
    EXPECT_EQ(folder.find('\0'), std::string::npos);
    const DWORD attributes = GetFileAttributesA(folder.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES) << folder << ": " << GetLastError();
    EXPECT_NE(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u) << folder;
}

TEST(Win32SystemLanguageTest, TheSystemLanguageIsABareLanguageName) {
    const std::string name = Win32SystemLanguage().englishName();
    ::testing::Test::RecordProperty("systemLanguage", name);
    ASSERT_FALSE(name.empty());
    // Letters only: no region in brackets, no native spelling, no terminator.
    EXPECT_TRUE(std::all_of(name.begin(), name.end(), [](char c) {
        return c >= 0 && std::isalpha(c) != 0;
    })) << name;
    EXPECT_TRUE(std::isupper(static_cast<unsigned char>(name[0]))) << name;
}

// ---------------------------------------------------------------------------

bool runningUnderWine() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Wine's own export that maps a DOS path to the host path behind it.
std::string hostPath(const std::string& windowsPath) {
    using Converter = char*(CDECL*)(const wchar_t*);
    const auto convert = reinterpret_cast<Converter>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (convert == nullptr) {
        return std::string();
    }
    const int length = MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, nullptr, 0);
    if (length <= 0) {
        return std::string();
    }
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, wide.data(), length);
    char* converted = convert(wide.c_str());
    if (converted == nullptr) {
        return std::string();
    }
    std::string result(converted);
    HeapFree(GetProcessHeap(), 0, converted);
    return result;
}

class ScopedRegistryKey {
  public:
    ScopedRegistryKey(HKEY parent, const char* path) {
        opened_ = RegCreateKeyExA(parent, path, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                                  nullptr, &key_, nullptr) == ERROR_SUCCESS;
    }
    ~ScopedRegistryKey() {
        if (opened_) {
            RegCloseKey(key_);
        }
    }
    ScopedRegistryKey(const ScopedRegistryKey&) = delete;
    ScopedRegistryKey& operator=(const ScopedRegistryKey&) = delete;

    bool opened() const { return opened_; }
    HKEY get() const { return key_; }

  private:
    HKEY key_ = nullptr;
    bool opened_ = false;
};

// Sets a string value for the test and puts back what was there before,
// including its absence.
class ScopedRegistryValue {
  public:
    ScopedRegistryValue(HKEY parent, const char* path, const char* name, const std::string& value)
        : key_(parent, path), name_(name) {
        if (!key_.opened()) {
            return;
        }
        DWORD size = 0;
        existed_ =
            RegQueryValueExA(key_.get(), name, nullptr, &type_, nullptr, &size) == ERROR_SUCCESS;
        if (existed_) {
            previous_.resize(size);
            RegQueryValueExA(key_.get(), name, nullptr, &type_, previous_.data(), &size);
            previous_.resize(size);
        }
        set_ = RegSetValueExA(key_.get(), name, 0, REG_SZ,
                              reinterpret_cast<const BYTE*>(value.c_str()),
                              static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
    }
    ~ScopedRegistryValue() {
        if (!set_) {
            return;
        }
        if (existed_) {
            RegSetValueExA(key_.get(), name_, 0, type_, previous_.data(),
                           static_cast<DWORD>(previous_.size()));
        } else {
            RegDeleteValueA(key_.get(), name_);
        }
    }
    ScopedRegistryValue(const ScopedRegistryValue&) = delete;
    ScopedRegistryValue& operator=(const ScopedRegistryValue&) = delete;

    bool set() const { return set_; }

  private:
    ScopedRegistryKey key_;
    const char* name_;
    bool existed_ = false;
    bool set_ = false;
    DWORD type_ = REG_NONE;
    std::vector<BYTE> previous_;
};

// Closes a change-notification handle.
class ScopedChangeNotification {
  public:
    explicit ScopedChangeNotification(const std::string& folder)
        : handle_(
              FindFirstChangeNotificationA(folder.c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME)) {}
    ~ScopedChangeNotification() {
        if (valid()) {
            FindCloseChangeNotification(handle_);
        }
    }
    ScopedChangeNotification(const ScopedChangeNotification&) = delete;
    ScopedChangeNotification& operator=(const ScopedChangeNotification&) = delete;

    bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    HANDLE get() const { return handle_; }

  private:
    HANDLE handle_;
};

bool fileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Waits for a file to appear in a watched folder until the deadline.
bool waitForFile(const ScopedChangeNotification& watch, const std::string& path,
                 milliseconds limit) {
    const auto deadline = steady_clock::now() + limit;
    while (!fileExists(path)) {
        const auto now = steady_clock::now();
        if (now >= deadline) {
            return false;
        }
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - now).count() + 1;
        if (WaitForSingleObject(watch.get(), static_cast<DWORD>(left)) != WAIT_OBJECT_0) {
            return fileExists(path);
        }
        FindNextChangeNotification(watch.get());
    }
    return true;
}

std::string fileContents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(ShellUrlOpenerTest, TheAddressReachesTheBrowserIntact) {
    if (!runningUnderWine()) {
        GTEST_SKIP() << "would start the real browser; the browser hook is Wine's";
    }
    ProcessStateGuard guard;
    FakeMainWindow logWindow;
    setMainWindowCommands(&logWindow);
    setLoggingEnabled(true);
    TempFolder folder;
    const std::string received = folder.file("url.txt");
    const std::string unixFolder = hostPath(folder.path().string());
    ASSERT_FALSE(unixFolder.empty()) << folder.path().string();
    ASSERT_EQ(unixFolder.find('\''), std::string::npos) << unixFolder;

    // Wine's winebrowser runs each entry as a host command line with the
    // address appended as one more argument, which sh -c sees as $0. The
    // rename makes the file appear only once it is complete.
    const std::string recorder = "/bin/sh -c \"cd '" + unixFolder +
                                 "' && printf %s \\\"$0\\\" > url.part && mv url.part url.txt\"";
    // winebrowser ignores longer entries and falls back to its default list.
    ASSERT_LT(recorder.size(), 255u) << recorder;
    const ScopedRegistryValue browsers(HKEY_CURRENT_USER, "Software\\Wine\\WineBrowser", "Browsers",
                                       recorder);
    ASSERT_TRUE(browsers.set());
    const ScopedChangeNotification watch(folder.path().string());
    ASSERT_TRUE(watch.valid()) << GetLastError();

    // Query, escapes, an ampersand and a fragment: what a shell or a
    // command line would most likely mangle.
    const std::string url = "http://127.0.0.1:9/portal/login?user=a%20b&next=%2Fhome#top";
    ShellUrlOpener().open(url);
    ASSERT_TRUE(waitForFile(watch, received, milliseconds(20000))) << recorder;
    EXPECT_EQ(fileContents(received), url);
    EXPECT_TRUE(logWindow.logLines().empty()) << ::testing::PrintToString(logWindow.logLines());
}

TEST(ShellUrlOpenerTest, AnAddressTheShellCannotOpenIsLogged) {
    ProcessStateGuard guard;
    FakeMainWindow logWindow;
    setMainWindowCommands(&logWindow);
    setLoggingEnabled(true);
    ShellUrlOpener().open("quorvel-no-such-scheme:nothing");
    ASSERT_EQ(logWindow.logLines().size(), 1u);
    const std::string line = logWindow.logLines()[0];
    EXPECT_NE(line.find("ShellExecuteA failed for quorvel-no-such-scheme:nothing, result="),
              std::string::npos)
        << line;
    const std::string code = line.substr(line.rfind('=') + 1);
    ASSERT_FALSE(code.empty());
    EXPECT_LE(std::stoi(code), 32) << line;
}

}  // namespace
