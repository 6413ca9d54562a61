// The Win32 adapters against the real (or Wine's) system calls, for what the
// Wine tier's agent scenarios do not show.

#include <windows.h>

#include <gtest/gtest.h>
#include <sddl.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "activities/win32/ShellUrlOpener.h"
#include "core/win32/ErrorWords.h"
#include "core/win32/MainWindow.h"
#include "core/win32/SingleInstance.h"
#include "core/win32/Win32SystemPaths.h"
#include "tests/unit/support/TempFolder.h"
#include "timer/win32/Win32WindowTimers.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// Runs this thread's message loop until `done` holds or the time is up (long
// enough for a loaded machine running Wine; only reached when a test fails).
bool pumpUntil(const std::function<bool()>& done, milliseconds limit = milliseconds(5000)) {
    for (const auto deadline = steady_clock::now() + limit; !done();) {
        if (steady_clock::now() >= deadline) {
            return false;
        }
        // Wakes for the next message, also one queued before the wait; the
        // cap lets `done` watch things other than messages.
        MsgWaitForMultipleObjectsEx(0, nullptr, 20, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        for (MSG message{}; PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE);) {
            DispatchMessageA(&message);
        }
    }
    return true;
}

// A timer that must not expire is watched this long after one armed
// alongside it did: not "never", only "not with its neighbour".
void pumpQuietPeriod() {
    pumpUntil([] { return false; }, milliseconds(300));
}

class Win32WindowTimersTest : public ::testing::Test {
  protected:
    ~Win32WindowTimersTest() override { DestroyWindow(window); }
    void SetUp() override { ASSERT_NE(window, nullptr) << GetLastError(); }

    // A one-shot expiry, as the agent writes them: it kills its timer first.
    WindowTimers::Expiry oneShot(unsigned id, int& runs) {
        return [this, id, &runs] {
            timers.kill(id);
            ++runs;
        };
    }

    HWND window = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    Win32WindowTimers timers{window};
};

TEST_F(Win32WindowTimersTest, KilledOrphanedOrLongestDelayTimersDoNotExpire) {
    int killed = 0, orphan = 0, distant = 0;
    timers.arm(1, 20, oneShot(1, killed));
    timers.kill(1);
    {
        Win32WindowTimers shortLived(window);
        shortLived.arm(3, 20, [&] { ++orphan; });
    }
    // Stays long, clamped to what SetTimer takes, instead of wrapping short.
    timers.arm(2, UINT32_MAX, oneShot(2, distant));
    int reference = 0;
    timers.arm(9, 20, oneShot(9, reference));
    ASSERT_TRUE(pumpUntil([&] { return reference > 0; }));
    pumpQuietPeriod();
    EXPECT_EQ(killed + orphan + distant, 0);
}

// Start-up may arm the stored plans before the GUI thread has made the main
// window.
TEST_F(Win32WindowTimersTest, ArmsMadeBeforeTheWindowExistsGoOnItWhenItComes) {
    Win32WindowTimers late;
    int kept = 0, killed = 0, distant = 0;
    late.arm(5, 20, [&] {
        late.kill(5);
        ++kept;
    });
    late.arm(6, 20, [&] { ++killed; });
    late.kill(6);
    late.arm(7, 600000, [&] { ++distant; });
    // Without a window SetTimer would make a thread timer; it must not.
    pumpQuietPeriod();
    EXPECT_EQ(kept, 0);

    late.attach(window);
    ASSERT_TRUE(pumpUntil([&] { return kept > 0; }));
    pumpQuietPeriod();
    EXPECT_EQ(kept, 1);
    EXPECT_EQ(killed, 0);
    EXPECT_EQ(distant, 0) << "a timer kept for the window lost its delay";
}

// A portal asking for the next hello at once must not wait for SetTimer's
// 10 ms minimum.
TEST_F(Win32WindowTimersTest, ADeadlineAlreadyDueRunsWithTheQueuedMessagesAndOnce) {
    int due = 0, replaced = 0, replacing = 0;
    timers.arm(4, 0, oneShot(4, due));
    timers.arm(5, 0, oneShot(5, replaced));
    timers.arm(5, 600000, oneShot(5, replacing));
    for (MSG message{}; PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE);) {
        DispatchMessageA(&message);
    }
    EXPECT_EQ(due, 1) << "waited for the window timer";
    pumpQuietPeriod();
    EXPECT_EQ(due, 1);
    EXPECT_EQ(replaced + replacing, 0) << "the re-planned timer expired at once";
}

// The stored hello, due at once, runs when start-up has finished, not when
// its window timer next fires (here: never).
TEST_F(Win32WindowTimersTest, AnExpiryHeldDuringStartUpRunsOnceItHasFinished) {
    static int runs = 0;
    const TIMERPROC count = [](HWND, UINT, UINT_PTR, DWORD) { ++runs; };
    ASSERT_NE(SetTimer(window, 7, 600000, count), 0u);
    const auto pumpQueued = [this](StartupExpiries& expiries, bool finished) {
        for (MSG message{}; PeekMessageA(&message, window, 0, 0, PM_REMOVE);) {
            if (!expiries.hold(message, finished)) {
                DispatchMessageA(&message);
            }
        }
    };
    StartupExpiries expiries;
    PostMessageA(window, WM_TIMER, 7, reinterpret_cast<LPARAM>(count));
    PostMessageA(window, WM_TIMER, 7, reinterpret_cast<LPARAM>(count));
    pumpQueued(expiries, false);
    EXPECT_EQ(runs, 0);
    expiries.postAgain();
    pumpQueued(expiries, true);
    EXPECT_EQ(runs, 1);
    KillTimer(window, 7);
}

TEST(Win32SystemPathsTest, AFarTooSmallBufferGrowsUntilTheProgramPathFits) {
    const std::wstring full = modulePath(MAX_PATH);
    ASSERT_GT(full.size(), 4u);
    EXPECT_EQ(modulePath(4), full);
}

// quorvel-check's lines: the system's words without their full stop.
TEST(ErrorWordsTest, AnErrorIsNamedInWordsWithItsNumberInBrackets) {
    EXPECT_EQ(errorInWords(10061), "connection refused (10061)");
    EXPECT_EQ(errorInWords(0x20000001), "error (536870913)");       // no text anywhere
    const std::string system = errorInWords(ERROR_FILE_NOT_FOUND);  // "File not found (2)"
    EXPECT_TRUE(system.size() > 10 && system.find_first_of(".\r\n") == std::string::npos) << system;
}

// The host path behind a DOS path, through Wine's own export; "" elsewhere.
std::string hostPath(const std::string& windowsPath) {
    using Converter = char*(CDECL*)(const wchar_t*);
    const auto convert = reinterpret_cast<Converter>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    std::wstring wide(windowsPath.size() + 1, L'\0');
    MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, wide.data(),
                        static_cast<int>(wide.size()));
    char* converted = convert != nullptr ? convert(wide.c_str()) : nullptr;
    if (converted == nullptr) {
        return std::string();
    }
    std::string result(converted);
    HeapFree(GetProcessHeap(), 0, converted);
    return result;
}

TEST(ShellUrlOpenerTest, TheAddressReachesTheBrowserIntact) {
    TempFolder folder;
    const std::string unixFolder = hostPath(folder.path().string());
    if (unixFolder.empty()) {
        GTEST_SKIP() << "would start the real browser; the browser hook is Wine's";
    }
    ASSERT_EQ(unixFolder.find('\''), std::string::npos) << unixFolder;

    // winebrowser runs each entry as a host command line with the address as
    // one more argument, $0 to sh -c; the rename shows the file only whole.
    const std::string recorder = "/bin/sh -c \"cd '" + unixFolder +
                                 "' && printf %s \\\"$0\\\" > url.part && mv url.part url.txt\"";
    // winebrowser ignores longer entries and falls back to its default list.
    ASSERT_LT(recorder.size(), 255u) << recorder;
    // Under Wine the tests have a prefix of their own (wine-env.sh).
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\WineBrowser", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(
        RegSetValueExA(key, "Browsers", 0, REG_SZ, reinterpret_cast<const BYTE*>(recorder.c_str()),
                       static_cast<DWORD>(recorder.size() + 1)),
        ERROR_SUCCESS);
    RegCloseKey(key);

    // Query, escapes, an ampersand and a fragment: what a shell or a
    // command line would most likely mangle.
    const std::string url = "http://127.0.0.1:9/portal/login?user=a%20b&next=%2Fhome#top";
    ShellUrlOpener().open(url);
    const std::string received = folder.file("url.txt");
    pumpUntil([&] { return GetFileAttributesA(received.c_str()) != INVALID_FILE_ATTRIBUTES; },
              milliseconds(20000));
    std::ifstream in(received, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), url) << recorder;
}

// Only a free name lets this copy run: one another copy holds, one it may
// not open, and one taken by another kind of object all mean it must not.
TEST(SingleInstanceLockTest, OnlyAFreeNameLetsThisCopyRun) {
    const std::string name = "quorvel_test_" + std::to_string(GetCurrentProcessId());
    const SingleInstanceLock first(name.c_str());
    EXPECT_FALSE(first.anotherCopyRuns());
    EXPECT_TRUE(SingleInstanceLock(name.c_str()).anotherCopyRuns());

    // As another user's elevated copy leaves it: nobody else may open it.
    PSECURITY_DESCRIPTOR nobody = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:", SDDL_REVISION_1, &nobody,
                                                                     nullptr));
    SECURITY_ATTRIBUTES attributes{sizeof attributes, nobody, FALSE};
    const ScopedHandle denying(CreateMutexA(&attributes, FALSE, (name + "_denied").c_str()));
    LocalFree(nobody);
    ASSERT_TRUE(denying.valid());
    {
        const ScopedHandle opened(CreateMutexA(nullptr, FALSE, (name + "_denied").c_str()));
        ASSERT_FALSE(opened.valid()) << "the system let the mutex be opened after all";
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
    EXPECT_TRUE(SingleInstanceLock((name + "_denied").c_str()).anotherCopyRuns());

    const ScopedHandle event(CreateEventA(nullptr, FALSE, FALSE, (name + "_event").c_str()));
    ASSERT_TRUE(event.valid());
    EXPECT_TRUE(SingleInstanceLock((name + "_event").c_str()).anotherCopyRuns());
}

}  // namespace
