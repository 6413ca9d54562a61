#include "check/win32/Win32AgentProcesses.h"

// windows.h first: the other Windows headers rely on its definitions.
#include <windows.h>

#include <tlhelp32.h>

#include "core/Log.h"
#include "core/win32/Win32SystemPaths.h"

namespace {

std::string toUtf8(const std::wstring& text) {
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) {
        return std::string();
    }
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), size, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(size - 1));
    return out;
}

// "Operation: what the system says (number)", logged as well.
std::string failure(const char* operation, DWORD error) {
    wchar_t* words = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&words), 0, nullptr);
    std::wstring text = length > 0 && words != nullptr ? std::wstring(words, length) : L"error";
    LocalFree(words);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ' ||
                             text.back() == L'.')) {
        text.pop_back();
    }
    log(std::string("[Win32AgentProcesses] ") + operation + " failed, GetLastError=",
        static_cast<int64_t>(error));
    return std::string(operation) + ": " + toUtf8(text) + " (" + std::to_string(error) + ")";
}

// A program started by its 8.3 name reports that name as its image; both
// sides of the comparison are taken in the long form.
std::wstring longForm(const std::wstring& path) {
    std::wstring out(32768, L'\0');
    const DWORD length = GetLongPathNameW(path.c_str(), out.data(), static_cast<DWORD>(out.size()));
    if (length == 0 || length >= out.size()) {
        return path;
    }
    out.resize(length);
    return out;
}

// The program file of an opened process, or "" with `error` set.
std::string imageOf(HANDLE process, std::string& error) {
    std::wstring path(32768, L'\0');
    DWORD length = static_cast<DWORD>(path.size());
    if (!QueryFullProcessImageNameW(process, 0, path.data(), &length)) {
        error = failure("QueryFullProcessImageNameW", GetLastError());
        return std::string();
    }
    path.resize(length);
    return toUtf8(longForm(path));
}

}  // namespace

AgentProcesses::Listing Win32AgentProcesses::list() {
    Listing listing;
    const ScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.valid()) {
        listing.error = failure("CreateToolhelp32Snapshot", GetLastError());
        return listing;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        listing.processes.push_back({entry.th32ProcessID, toUtf8(entry.szExeFile)});
    }
    if (GetLastError() != ERROR_NO_MORE_FILES) {
        listing.error = failure("Process32NextW", GetLastError());
    }
    return listing;
}

AgentProcesses::Opening Win32AgentProcesses::open(std::uint32_t pid) {
    Opening opening;
    auto process = std::make_unique<ScopedHandle>(OpenProcess(
        PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
    if (!process->valid()) {
        const DWORD error = GetLastError();
        // A number that no longer names a process is refused as a bad argument.
        if (error == ERROR_INVALID_PARAMETER) {
            opening.access = Access::Gone;
            return opening;
        }
        opening.access = Access::Refused;
        opening.error = failure("OpenProcess", error);
        // It may still be read, and then shown to be some other folder's.
        const ScopedHandle reader(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
        if (reader.valid()) {
            std::string ignored;
            opening.image = imageOf(reader.get(), ignored);
        }
        return opening;
    }
    opening.image = imageOf(process->get(), opening.error);
    if (opening.image.empty()) {
        // An exiting process may no longer tell its image.
        opening.access = WaitForSingleObject(process->get(), 0) == WAIT_OBJECT_0 ? Access::Gone
                                                                                 : Access::Refused;
        return opening;
    }
    opening.access = Access::Opened;
    opened_[pid] = std::move(process);
    return opening;
}

std::string Win32AgentProcesses::end(std::uint32_t pid) {
    const auto found = opened_.find(pid);
    if (found == opened_.end()) {
        return "not opened";
    }
    // Exit code 1: ended from outside, not by its own Exit.
    if (!TerminateProcess(found->second->get(), 1)) {
        return failure("TerminateProcess", GetLastError());
    }
    return std::string();
}

bool Win32AgentProcesses::waitGone(std::uint32_t pid, std::uint32_t timeoutMs) {
    const auto found = opened_.find(pid);
    if (found == opened_.end()) {
        return false;
    }
    // TerminateProcess only starts the end; the handle is signalled once the
    // process, and its hold on quorvel.exe, is gone.
    const DWORD waited = WaitForSingleObject(found->second->get(), timeoutMs);
    if (waited == WAIT_FAILED) {
        failure("WaitForSingleObject", GetLastError());
    }
    return waited == WAIT_OBJECT_0;
}

std::string agentImageBesideThisProgram() {
    const std::wstring own = longForm(modulePath(MAX_PATH));
    const std::size_t slash = own.find_last_of(L"\\/");
    if (own.empty() || slash == std::wstring::npos) {
        return std::string();
    }
    return toUtf8(own.substr(0, slash + 1) + L"quorvel.exe");
}
