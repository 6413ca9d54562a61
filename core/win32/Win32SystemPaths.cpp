#include "core/win32/Win32SystemPaths.h"

// windows.h first: the other Windows headers rely on its definitions.
#include <windows.h>

#include <shellapi.h>
#include <shlobj.h>

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

std::string Win32SystemPaths::commonAppDataFolder() const {
    char folder[MAX_PATH] = {};
    // The ANSI call converts to the system code page, as the callers expect.
    const HRESULT result =
        SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder);
    if (FAILED(result)) {
        // The result carries the error; GetLastError is not set by this call.
        log("[Win32SystemPaths::commonAppDataFolder] SHGetFolderPathA failed, HRESULT=",
            static_cast<int64_t>(static_cast<uint32_t>(result)));
        return std::string();
    }
    return std::string(folder);
}
