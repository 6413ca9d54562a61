#include "storage/win32/Win32FileSystem.h"

#include <windows.h>

#include <sddl.h>

#include <memory>

#include "core/Log.h"
#include "core/win32/ScopedHandle.h"
#include "storage/FolderRights.h"
#include "storage/win32/OpenedPath.h"

namespace {

void logFailure(const char* operation, const std::string& path) {
    const DWORD error = GetLastError();
    log(std::string("[Win32FileSystem] ") + operation + " failed for " + path + ", GetLastError=",
        static_cast<int64_t>(error));
}

void logRefusal(const char* operation, const std::string& path, const std::string& what) {
    log(std::string("[Win32FileSystem] ") + operation + " refused for " + path + ": it is " + what);
}

bool missing(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// The folder of `path`, held for one operation; false (logged) when it
// cannot be held. A missing folder is left to the caller to report.
bool holdFolderOf(const std::string& path, const char* operation, const HeldFolder& folder,
                  bool quietWhenMissing) {
    if (folder.held()) {
        return true;
    }
    if (folder.stranger() != Stranger::None) {
        logRefusal(operation, path, "in " + folder.detail());
    } else if (!(quietWhenMissing && missing(GetLastError()))) {
        logFailure(operation, path);
    }
    return false;
}

}  // namespace

bool Win32FileSystem::readFile(const std::string& path, std::size_t maxBytes,
                               std::vector<uint8_t>& bytes) {
    bytes.clear();
    const std::wstring wide = widePath(path);
    const HeldFolder folder(folderPart(wide));
    // A missing file or folder is the normal first start; only other causes
    // are news.
    if (!holdFolderOf(path, "CreateFileW(read)", folder, true)) {
        return false;
    }
    // Shared for writing and deleting too, so that a writer replacing the
    // file at the same moment is never refused.
    const ScopedHandle file(CreateFileW(
        wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.valid()) {
        if (!missing(GetLastError())) {
            logFailure("CreateFileW(read)", path);
        }
        return false;
    }
    // Another name of a file could be one that this user may not read.
    std::string what;
    if (strangerAt(file.get(), folder.expectedPathOf(namePart(wide)), what) != Stranger::None) {
        logRefusal("ReadFile", path, what);
        return false;
    }
    bytes.resize(maxBytes);
    std::size_t total = 0;
    while (total < maxBytes) {
        DWORD read = 0;
        const DWORD wanted = static_cast<DWORD>(maxBytes - total);
        if (!ReadFile(file.get(), bytes.data() + total, wanted, &read, nullptr)) {
            logFailure("ReadFile", path);
            bytes.clear();
            return false;
        }
        if (read == 0) {
            break;
        }
        total += read;
    }
    bytes.resize(total);
    return true;
}

bool Win32FileSystem::writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    const std::wstring wide = widePath(path);
    const HeldFolder folder(folderPart(wide));
    if (!holdFolderOf(path, "CreateFileW(write)", folder, false)) {
        return false;
    }
    // A new file only: whatever has the name already, a link above all, is
    // never opened, let alone written into.
    const ScopedHandle file(CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                        nullptr));
    if (!file.valid()) {
        logFailure("CreateFileW(write)", path);
        return false;
    }
    std::string what;
    if (strangerAt(file.get(), folder.expectedPathOf(namePart(wide)), what) != Stranger::None) {
        logRefusal("WriteFile", path, what);
        return false;
    }
    std::size_t total = 0;
    while (total < bytes.size()) {
        DWORD written = 0;
        const DWORD wanted = static_cast<DWORD>(bytes.size() - total);
        if (!WriteFile(file.get(), bytes.data() + total, wanted, &written, nullptr) ||
            written == 0) {
            logFailure("WriteFile", path);
            return false;
        }
        total += written;
    }
    // Without this the new contents may still sit in the cache when the
    // rename reaches the disk, and a power loss would leave an empty file.
    if (!FlushFileBuffers(file.get())) {
        logFailure("FlushFileBuffers", path);
        return false;
    }
    return true;
}

bool Win32FileSystem::removeFile(const std::string& path) {
    const std::wstring wide = widePath(path);
    // The usual case, a name nothing has, without holding the folder: every
    // safe write asks first. Whatever takes the name meanwhile is refused by
    // the write itself, which never opens what has its name.
    if (GetFileAttributesW(wide.c_str()) == INVALID_FILE_ATTRIBUTES &&
        GetLastError() == ERROR_FILE_NOT_FOUND) {
        return true;
    }
    const HeldFolder folder(folderPart(wide));
    if (!holdFolderOf(path, "CreateFileW(delete)", folder, false)) {
        return false;
    }
    const ScopedHandle file(
        CreateFileW(wide.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file.valid()) {
        if (missing(GetLastError())) {
            return true;
        }
        logFailure("CreateFileW(delete)", path);
        return false;
    }
    // Deleting by the name Wine followed would delete what the link leads
    // to; one name of a hard-linked file goes alone.
    std::string what;
    const Stranger stranger = strangerAt(file.get(), folder.expectedPathOf(namePart(wide)), what);
    BY_HANDLE_FILE_INFORMATION info{};
    const bool isFolder = GetFileInformationByHandle(file.get(), &info) &&
                          (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if ((stranger != Stranger::None && stranger != Stranger::HardLink) || isFolder) {
        logRefusal("DeleteFile", path, isFolder ? std::string("a folder") : what);
        return false;
    }
    // Deleted through the handle that was checked, not by name again.
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    if (!SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition,
                                    sizeof(disposition))) {
        logFailure("SetFileInformationByHandle(delete)", path);
        return false;
    }
    return true;
}

bool Win32FileSystem::replaceFile(const std::string& from, const std::string& to) {
    const std::wstring wideTo = widePath(to);
    // Held, the folder cannot become a link between the names' lookups.
    const HeldFolder folder(folderPart(wideTo));
    if (!holdFolderOf(to, "MoveFileExW", folder, false)) {
        return false;
    }
    // A link that has the target name is replaced itself, never followed.
    if (!MoveFileExW(widePath(from).c_str(), wideTo.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        logFailure("MoveFileExW", to);
        return false;
    }
    return true;
}

bool Win32FileSystem::createDirectory(const std::string& path, SECURITY_ATTRIBUTES* security) {
    return CreateDirectoryA(path.c_str(), security) != FALSE;
}

bool Win32FileSystem::createFolder(const std::string& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(dataFolderAccess, SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        logFailure("ConvertStringSecurityDescriptorToSecurityDescriptorA", path);
        return false;
    }
    // One owner for the descriptor, released on every path.
    const std::unique_ptr<void, decltype(&LocalFree)> owner(descriptor, &LocalFree);
    SECURITY_ATTRIBUTES security{};
    security.nLength = sizeof(security);
    security.lpSecurityDescriptor = descriptor;
    security.bInheritHandle = FALSE;
    // An existing folder is taken as it is: its rights are the setup's
    // business, and a link in its place is refused by every operation.
    if (createDirectory(path, &security) || GetLastError() == ERROR_ALREADY_EXISTS) {
        return true;
    }
    logFailure("CreateDirectoryA", path);
    return false;
}

FileState Win32FileSystem::probe(const std::string& path) {
    FileState state;
    const std::wstring wide = withoutTrailingSeparator(widePath(path));
    // Without the trailing separator, so that a link at the end of the path
    // is looked at itself rather than followed.
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return state;
    }
    state.exists = true;
    state.folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (state.folder) {
        state.link = HeldFolder(wide).stranger() != Stranger::None;
    } else {
        const HeldFolder folder(folderPart(wide));
        const ScopedHandle file(CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                                            nullptr));
        std::string what;
        state.link =
            folder.stranger() != Stranger::None ||
            (folder.held() && file.valid() &&
             strangerAt(file.get(), folder.expectedPathOf(namePart(wide)), what) != Stranger::None);
    }
    // Wine marks a Unix link to a folder so, though it opens what it leads to.
    state.link = state.link || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    // Opening for writing changes nothing as long as nothing is written;
    // a folder is opened for adding files, which needs backup semantics.
    const ScopedHandle writable(
        CreateFileW(wide.c_str(), state.folder ? FILE_ADD_FILE : GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    state.folder ? FILE_FLAG_BACKUP_SEMANTICS : FILE_ATTRIBUTE_NORMAL, nullptr));
    state.writable = writable.valid();
    return state;
}
