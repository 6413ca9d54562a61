#include "core/win32/Win32SystemPaths.h"

// windows.h first: the other Windows headers rely on its definitions.
#include <windows.h>

#include <shlobj.h>

#include <algorithm>

#include "core/Log.h"

namespace {

// The longest path Windows knows, in characters.
constexpr std::size_t longestPath = 32768;

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

std::wstring modulePath(std::size_t firstSize) {
    std::wstring path(firstSize > 0 ? firstSize : 1, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            log("[Win32SystemPaths::programPath] GetModuleFileNameW failed, GetLastError=",
                static_cast<int64_t>(GetLastError()));
            return std::wstring();
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        // A path cut to the buffer comes back as long as the buffer (without
        // its terminator on Windows XP), never as an error on its own.
        if (path.size() >= longestPath) {
            log("[Win32SystemPaths::programPath] GetModuleFileNameW: path longer than "
                "the longest, characters: ",
                static_cast<int64_t>(path.size()));
            return std::wstring();
        }
        path.resize(std::min(path.size() * 2, longestPath));
    }
}

std::string Win32SystemPaths::programPath() const {
    // The wide call, converted, keeps paths right that the 8-bit call would
    // cut at MAX_PATH.
    return toCodePage(modulePath(MAX_PATH).c_str());
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
