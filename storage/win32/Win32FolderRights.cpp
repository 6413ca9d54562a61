#include "storage/win32/Win32FolderRights.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <memory>

#include "core/Log.h"
#include "core/win32/ScopedHandle.h"
#include "storage/win32/OpenedPath.h"

namespace {

using LocalMemory = std::unique_ptr<void, decltype(&LocalFree)>;

void logFailure(const char* operation, const std::string& folder) {
    const DWORD error = GetLastError();
    log(std::string("[Win32FolderRights] ") + operation + " failed for " + folder +
            ", GetLastError=",
        static_cast<int64_t>(error));
}

// An administrator's token holds these disabled. Enabled, they open the
// folder for a new owner and access list whatever its present list says: a
// user who made the folder may have shut administrators out of it.
void enableTakeOverPrivileges() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        logFailure("OpenProcessToken", "this process");
        return;
    }
    const ScopedHandle owner(token);
    for (const wchar_t* name : {L"SeRestorePrivilege", L"SeTakeOwnershipPrivilege"}) {
        TOKEN_PRIVILEGES privileges{};
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        // Without the privilege (not an administrator) this changes nothing;
        // opening the folder then says what is missing.
        if (LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid)) {
            AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
        }
    }
}

}  // namespace

std::string Win32FolderRights::descriptorOf(const std::string& folder) {
    const std::wstring wide = withoutTrailingSeparator(widePath(folder));
    const ScopedHandle handle(CreateFileW(
        wide.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!handle.valid()) {
        logFailure("CreateFileW(READ_CONTROL)", folder);
        return std::string();
    }
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD result = GetSecurityInfo(handle.get(), SE_FILE_OBJECT,
                                         OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                         nullptr, nullptr, nullptr, nullptr, &descriptor);
    if (result != ERROR_SUCCESS) {
        // The result is the error; GetLastError is not set by this call.
        SetLastError(result);
        logFailure("GetSecurityInfo", folder);
        return std::string();
    }
    const LocalMemory descriptorOwner(descriptor, &LocalFree);
    LPSTR text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorA(
            descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
            &text, nullptr)) {
        logFailure("ConvertSecurityDescriptorToStringSecurityDescriptorA", folder);
        return std::string();
    }
    const LocalMemory textOwner(text, &LocalFree);
    return std::string(text);
}

bool Win32FolderRights::createDirectory(const std::wstring& folder, SECURITY_ATTRIBUTES* security) {
    return CreateDirectoryW(folder.c_str(), security) != FALSE;
}

bool Win32FolderRights::setSecurity(HANDLE folder, PSECURITY_DESCRIPTOR descriptor) {
    PSID owner = nullptr;
    PACL list = nullptr;
    BOOL defaulted = FALSE;
    BOOL present = FALSE;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ||
        !GetSecurityDescriptorDacl(descriptor, &present, &list, &defaulted) ||
        !GetSecurityDescriptorControl(descriptor, &control, &revision)) {
        return false;
    }
    const SECURITY_INFORMATION what =
        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
        ((control & SE_DACL_PROTECTED) != 0 ? PROTECTED_DACL_SECURITY_INFORMATION
                                            : UNPROTECTED_DACL_SECURITY_INFORMATION);
    const DWORD result =
        SetSecurityInfo(folder, SE_FILE_OBJECT, what, owner, nullptr, list, nullptr);
    // The result is the error; GetLastError is not set by this call.
    SetLastError(result);
    return result == ERROR_SUCCESS;
}

RightsOutcome Win32FolderRights::impose(const std::string& folder, const std::string& descriptor,
                                        LinkInPlace link) {
    enableTakeOverPrivileges();
    PSECURITY_DESCRIPTOR wanted = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(descriptor.c_str(), SDDL_REVISION_1,
                                                              &wanted, nullptr)) {
        logFailure("ConvertStringSecurityDescriptorToSecurityDescriptorA", folder);
        return RightsOutcome::Failed;
    }
    const LocalMemory wantedOwner(wanted, &LocalFree);
    SECURITY_ATTRIBUTES security{};
    security.nLength = sizeof(security);
    security.lpSecurityDescriptor = wanted;
    security.bInheritHandle = FALSE;
    const std::wstring wide = withoutTrailingSeparator(widePath(folder));
    if (createDirectory(wide, &security)) {
        return RightsOutcome::Set;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) {
        logFailure("CreateDirectoryW", folder);
        return RightsOutcome::Failed;
    }
    const std::wstring expected = placeOf(wide);
    // The folder itself, never what a link in its place leads to. Without
    // delete access: the setup's (and this program's) current folder may be
    // this one, and such a handle does not share deleting.
    const auto openItself = [&](DWORD access) {
        return CreateFileW(
            wide.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    };
    {
        const ScopedHandle existing(openItself(READ_CONTROL | WRITE_DAC | WRITE_OWNER));
        if (!existing.valid()) {
            logFailure("CreateFileW(WRITE_DAC)", folder);
            return RightsOutcome::Failed;
        }
        std::string what;
        const Stranger stranger = strangerAt(existing.get(), expected, what);
        BY_HANDLE_FILE_INFORMATION info{};
        const bool isFolder = GetFileInformationByHandle(existing.get(), &info) &&
                              (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (stranger == Stranger::None && isFolder) {
            // Setting the access list through the folder's handle also passes
            // its inheritable entries on to what is in it already.
            if (!setSecurity(existing.get(), wanted)) {
                logFailure("SetSecurityInfo", folder);
                return RightsOutcome::Failed;
            }
            return RightsOutcome::Set;
        }
        if (stranger != Stranger::Link || link == LinkInPlace::Refuse) {
            log("[Win32FolderRights] left " + folder + " as it is: it is " +
                (stranger == Stranger::None ? std::string("not a folder") : what));
            return stranger == Stranger::None ? RightsOutcome::Failed : RightsOutcome::Link;
        }
    }
    {
        // Opened with the reparse flag, the handle is the link itself, so
        // deleting through it removes the link, never what it leads to.
        const ScopedHandle itself(openItself(DELETE | FILE_READ_ATTRIBUTES));
        std::string what;
        FILE_DISPOSITION_INFO disposition{};
        disposition.DeleteFile = TRUE;
        if (!itself.valid() || strangerAt(itself.get(), expected, what) != Stranger::Link ||
            !SetFileInformationByHandle(itself.get(), FileDispositionInfo, &disposition,
                                        sizeof(disposition))) {
            logFailure("SetFileInformationByHandle(delete link)", folder);
            return RightsOutcome::Link;
        }
    }
    log("[Win32FolderRights] removed the link that stood in the place of " + folder);
    if (createDirectory(wide, &security)) {
        return RightsOutcome::Set;
    }
    logFailure("CreateDirectoryW", folder);
    return RightsOutcome::Failed;
}
