#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/unit/support/FakeSystemLanguage.h"
#include "ui/Texts.h"

namespace {

// The language files are cp1252 and go to the ANSI window calls unchanged;
// on a Western European system (code page 1252) an umlaut must reach the
// screen as the same character, not as two bytes of UTF-8 or a question mark.
TEST(TextsOnScreen, AnUmlautFromTheGermanFileArrivesIntactInAWindow) {
    if (GetACP() != 1252) {
        GTEST_SKIP() << "the system code page is " << GetACP() << ", not 1252";
    }
    Texts::resetForTesting();
    const FakeSystemLanguage german("German");
    Texts::init(std::string(QUORVEL_SOURCE_DIR) + "\\quorvel.ini", german);
    const std::string& about = Texts::get("SYS_ABOUT_US");
    ASSERT_FALSE(about.empty());

    const HWND window = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                        GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(SetWindowTextA(window, about.c_str()));
    wchar_t shown[128] = {};
    GetWindowTextW(window, shown, 128);
    DestroyWindow(window);
    Texts::resetForTesting();

    EXPECT_EQ(std::wstring(shown).substr(0, 4), L"\u00DCber");
}

}  // namespace
