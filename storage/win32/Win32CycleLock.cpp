#include "storage/win32/Win32CycleLock.h"

#include <windows.h>

#include "core/Log.h"
#include "storage/win32/OpenedPath.h"

namespace {

void logFailure(const char* operation, const std::string& path) {
    const DWORD error = GetLastError();
    log(std::string("[Win32CycleLock] ") + operation + " failed for " + path + ", GetLastError=",
        static_cast<int64_t>(error));
}

// The lock file, opened as itself or made anew; none (logged) when it cannot
// be, or is not the plain file of that name.
std::unique_ptr<ScopedHandle> openLockFile(const std::string& path) {
    const std::wstring wide = widePath(path);
    const HeldFolder folder(folderPart(wide));
    if (!folder.held()) {
        if (folder.stranger() != Stranger::None) {
            log("[Win32CycleLock] refused " + path + ": it is in " + folder.detail());
        } else {
            logFailure("CreateFileW(folder)", path);
        }
        return nullptr;
    }
    // Never deleted while open (no delete sharing), so no one can put a
    // link in its place while an agent holds it.
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    auto file = std::make_unique<ScopedHandle>(CreateFileW(
        wide.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_EXISTING, flags, nullptr));
    // Made with CREATE_NEW, never OPEN_ALWAYS: under Wine that would create
    // the file a dangling link at the name leads to.
    if (!file->valid() && GetLastError() == ERROR_FILE_NOT_FOUND) {
        file =
            std::make_unique<ScopedHandle>(CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE,
                                                       share, nullptr, CREATE_NEW, flags, nullptr));
        // Another agent made it in between.
        if (!file->valid() && GetLastError() == ERROR_FILE_EXISTS) {
            file = std::make_unique<ScopedHandle>(
                CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr,
                            OPEN_EXISTING, flags, nullptr));
        }
    }
    if (!file->valid()) {
        logFailure("CreateFileW", path);
        return nullptr;
    }
    std::string what;
    if (strangerAt(file->get(), folder.expectedPathOf(namePart(wide)), what) != Stranger::None) {
        log("[Win32CycleLock] refused " + path + ": it is " + what);
        return nullptr;
    }
    return file;
}

}  // namespace

CycleLock::Turn Win32CycleLock::acquireWithin(int32_t milliseconds) {
    if (held_) {
        return Turn::taken;
    }
    const ULONGLONG deadline =
        GetTickCount64() + static_cast<ULONGLONG>(milliseconds > 0 ? milliseconds : 0);
    std::unique_ptr<ScopedHandle> file = openLockFile(path_);
    if (!file) {
        return Turn::unusable;
    }
    // Tried and retried rather than waited for: a waiting lock needs an
    // overlapped handle and a cancel at the deadline, and the polled form is
    // the one Wine also keeps across prefixes (as a Unix lock).
    for (;;) {
        OVERLAPPED firstByte{};
        if (LockFileEx(file->get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                       &firstByte)) {
            held_ = std::move(file);
            return Turn::taken;
        }
        if (GetLastError() != ERROR_LOCK_VIOLATION) {
            logFailure("LockFileEx", path_);
            return Turn::unusable;
        }
        if (GetTickCount64() >= deadline) {
            return Turn::busy;
        }
        Sleep(50);
    }
}

void Win32CycleLock::release() {
    if (!held_) {
        return;
    }
    OVERLAPPED firstByte{};
    if (!UnlockFileEx(held_->get(), 0, 1, 0, &firstByte)) {
        // Closing the handle below drops the lock all the same.
        logFailure("UnlockFileEx", path_);
    }
    held_.reset();
}
