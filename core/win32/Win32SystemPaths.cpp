#include "core/win32/Win32SystemPaths.h"

#include <shellapi.h>
#include <windows.h>

#include <memory>

#include "core/Log.h"

namespace {

struct LocalFreeDeleter {
    void operator()(LPWSTR* block) const { LocalFree(block); }
};

std::string toCodePage(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) {
        return std::string();
    }
    std::string converted(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, converted.data(), size, nullptr, nullptr);
    converted.resize(static_cast<std::size_t>(size - 1));
    return converted;
}

}  // namespace

std::string Win32SystemPaths::programPath() const {
    int count = 0;
    // The wide command line keeps quoting rules straight for paths with spaces.
    std::unique_ptr<LPWSTR, LocalFreeDeleter> arguments(
        CommandLineToArgvW(GetCommandLineW(), &count));
    if (!arguments || count < 1) {
        log("[Win32SystemPaths::programPath] CommandLineToArgvW failed, GetLastError=",
            static_cast<int64_t>(GetLastError()));
        return std::string();
    }
    return toCodePage(arguments.get()[0]);
}
