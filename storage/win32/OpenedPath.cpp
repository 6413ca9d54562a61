#include "storage/win32/OpenedPath.h"

namespace {

bool isSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

bool samePath(const std::wstring& a, const std::wstring& b) {
    // Windows file names compare without regard to case.
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::wstring fullPath(const std::wstring& path) {
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) {
        return path;
    }
    std::wstring full(size, L'\0');
    const DWORD written = GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    full.resize(written < size ? written : 0);
    return full.empty() ? path : full;
}

HANDLE openHeld(const std::wstring& folder) {
    // Listing access, shared for reading and writing but not deleting: an
    // open for attributes alone would not stand in the way of a rename or
    // delete of the folder. Backup semantics open a folder at all; the
    // reparse flag opens a link at the folder's place as itself.
    return CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

}  // namespace

std::wstring widePath(const std::string& path) {
    const int size = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
    if (size <= 0) {
        return std::wstring();
    }
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide.data(), size);
    wide.resize(static_cast<std::size_t>(size - 1));
    return wide;
}

std::string narrowPath(const std::wstring& path) {
    const int size = WideCharToMultiByte(CP_ACP, 0, path.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) {
        return std::string();
    }
    std::string narrow(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, path.c_str(), -1, narrow.data(), size, nullptr, nullptr);
    narrow.resize(static_cast<std::size_t>(size - 1));
    return narrow;
}

std::wstring withoutTrailingSeparator(const std::wstring& path) {
    std::wstring trimmed = path;
    while (trimmed.size() > 1 && isSeparator(trimmed.back())) {
        trimmed.pop_back();
    }
    return trimmed;
}

std::wstring folderPart(const std::wstring& path) {
    const std::wstring::size_type at = path.find_last_of(L"\\/");
    return at == std::wstring::npos ? std::wstring() : path.substr(0, at);
}

std::wstring namePart(const std::wstring& path) {
    const std::wstring::size_type at = path.find_last_of(L"\\/");
    return at == std::wstring::npos ? path : path.substr(at + 1);
}

std::wstring finalPathOf(HANDLE handle) {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) {
            return std::wstring();
        }
        if (length < buffer.size()) {
            buffer.resize(length);
            break;
        }
        // Too small: the length returned is the size it needs.
        buffer.resize(length + 1);
    }
    const std::wstring unc = L"\\\\?\\UNC\\";
    const std::wstring local = L"\\\\?\\";
    if (buffer.compare(0, unc.size(), unc) == 0) {
        buffer = L"\\\\" + buffer.substr(unc.size());
    } else if (buffer.compare(0, local.size(), local) == 0) {
        buffer = buffer.substr(local.size());
    }
    return withoutTrailingSeparator(buffer);
}

Stranger strangerAt(HANDLE handle, const std::wstring& expected, std::string& detail) {
    // Not GetFileInformationByHandle: it also reads the volume's serial
    // number, which under Wine asks its mount manager in another process,
    // 0.3 to 0.6 ms a call, and every file operation of a hello checks two
    // handles.
    FILE_BASIC_INFO basic{};
    FILE_STANDARD_INFO standard{};
    if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof(basic)) ||
        !GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof(standard))) {
        detail =
            "something that cannot be looked at, GetLastError=" + std::to_string(GetLastError());
        return Stranger::Elsewhere;
    }
    // On Windows a link opened with FILE_FLAG_OPEN_REPARSE_POINT is the link
    // itself and says so in its attributes.
    if ((basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        detail = "a link (reparse point)";
        return Stranger::Link;
    }
    // Wine follows a Unix link whatever the flags say, and shows it as a
    // plain file; only the path it really opened tells.
    const std::wstring opened = finalPathOf(handle);
    if (opened.empty() || !samePath(opened, expected)) {
        detail =
            "a link to " + (opened.empty() ? std::string("an unknown place") : narrowPath(opened));
        return Stranger::Elsewhere;
    }
    if (!standard.Directory && standard.NumberOfLinks > 1) {
        detail = "a file with " + std::to_string(standard.NumberOfLinks) + " names (hard link)";
        return Stranger::HardLink;
    }
    return Stranger::None;
}

std::wstring placeOf(const std::wstring& path) {
    const std::wstring full = withoutTrailingSeparator(fullPath(path));
    std::wstring parent = folderPart(full);
    if (!parent.empty() && parent.back() == L':') {
        parent += L'\\';  // "C:" alone is the current folder of drive C
    }
    const ScopedHandle above(CreateFileW(parent.c_str(), FILE_READ_ATTRIBUTES,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                         nullptr));
    const std::wstring aboveFinal = above.valid() ? finalPathOf(above.get()) : std::wstring();
    return aboveFinal.empty() ? std::wstring() : aboveFinal + L"\\" + namePart(full);
}

HeldFolder::HeldFolder(const std::wstring& folder)
    : handle_(openHeld(withoutTrailingSeparator(fullPath(folder)))) {
    if (!handle_.valid()) {
        return;  // GetLastError is the open's
    }
    const std::wstring expected = placeOf(folder);
    if (expected.empty()) {
        stranger_ = Stranger::Elsewhere;
        detail_ = "a folder whose place cannot be checked, GetLastError=" +
                  std::to_string(GetLastError());
        return;
    }
    stranger_ = strangerAt(handle_.get(), expected, detail_);
    final_ = finalPathOf(handle_.get());
}
