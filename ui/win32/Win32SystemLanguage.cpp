#include "ui/win32/Win32SystemLanguage.h"

#include <windows.h>

#include "core/Log.h"

std::string Win32SystemLanguage::englishName() const {
    // Language names are short; the longest fits with plenty to spare.
    constexpr int capacity = 127;
    char name[capacity + 1] = {};
    // The count includes the terminating null; 0 means failure.
    const int written = GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, LOCALE_SENGLANGUAGE, name, capacity);
    if (written <= 0) {
        log("[Win32SystemLanguage::englishName] GetLocaleInfoA failed, GetLastError=",
            static_cast<int64_t>(GetLastError()));
        return std::string();
    }
    return std::string(name, static_cast<std::size_t>(written - 1));
}
