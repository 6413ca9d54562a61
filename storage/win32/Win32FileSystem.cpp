#include "storage/win32/Win32FileSystem.h"

#include <windows.h>

#include <sddl.h>

#include <memory>

#include "core/win32/ScopedHandle.h"

#include "core/Log.h"

namespace {

void logFailure(const char* operation, const std::string& path) {
    const DWORD error = GetLastError();
    log(std::string("[Win32FileSystem] ") + operation + " failed for " + path + ", GetLastError=",
        static_cast<int64_t>(error));
}

}  // namespace

bool Win32FileSystem::readFile(const std::string& path, std::size_t maxBytes,
                               std::vector<uint8_t>& bytes) {
    bytes.clear();
    // Shared for writing and deleting too, so that a writer replacing the
    // file at the same moment is never refused.
    const ScopedHandle file(CreateFileA(path.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        // A missing file is the normal first start; only other causes are news.
        if (GetLastError() != ERROR_FILE_NOT_FOUND && GetLastError() != ERROR_PATH_NOT_FOUND) {
            logFailure("CreateFileA(read)", path);
        }
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
    const ScopedHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        logFailure("CreateFileA(write)", path);
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

bool Win32FileSystem::replaceFile(const std::string& from, const std::string& to) {
    if (!MoveFileExA(from.c_str(), to.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        logFailure("MoveFileExA", to);
        return false;
    }
    return true;
}

bool Win32FileSystem::createDirectory(const std::string& path, SECURITY_ATTRIBUTES* security) {
    return CreateDirectoryA(path.c_str(), security) != FALSE;
}

bool Win32FileSystem::createFolder(const std::string& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(dataFolderSecurity, SDDL_REVISION_1,
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
    if (createDirectory(path, &security) || GetLastError() == ERROR_ALREADY_EXISTS) {
        return true;
    }
    logFailure("CreateDirectoryA", path);
    return false;
}

FileState Win32FileSystem::probe(const std::string& path) {
    FileState state;
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return state;
    }
    state.exists = true;
    state.folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // Opening for writing changes nothing as long as nothing is written;
    // a folder is opened for adding files, which needs backup semantics.
    const HANDLE handle =
        CreateFileA(path.c_str(), state.folder ? FILE_ADD_FILE : GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    state.folder ? FILE_FLAG_BACKUP_SEMANTICS : FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        state.writable = true;
        CloseHandle(handle);
    }
    return state;
}
