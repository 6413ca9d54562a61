#pragma once

#include <windows.h>

#include <string>

#include "core/win32/ScopedHandle.h"

// What an opened file or folder is, when it is not the plain file or folder
// its name says.
enum class Stranger {
    None,
    Link,       // a reparse point (symbolic link, junction, mount point)
    HardLink,   // a file with more names than this one
    Elsewhere,  // the system followed a link on the way to it
};

// The path in UTF-16, from the system's 8-bit code page the ports use.
std::wstring widePath(const std::string& path);
std::string narrowPath(const std::wstring& path);

// The path without separators at its end.
std::wstring withoutTrailingSeparator(const std::wstring& path);

// The full path the system opened the handle as, links resolved, in the
// usual drive-letter form without "\\?\"; empty when it cannot be read.
std::wstring finalPathOf(HANDLE handle);

// What a folder or file of that path must open as: the final path of the
// folder above (links there are the system's and administrators' and taken
// as they are), a backslash and the name; empty when that folder cannot be
// opened.
std::wstring placeOf(const std::wstring& path);

// Whether the opened handle is the plain file or folder whose final path
// should be `expected` (the folder's final path, a backslash and the name).
// Checked by the handle, since a name can be replaced between looking and
// opening. `detail` says what it is instead.
Stranger strangerAt(HANDLE handle, const std::wstring& expected, std::string& detail);

// The folder that holds a name the agent works on, opened as itself (never
// through a link at its own place) and held open for as long as this lives:
// meanwhile it can be neither renamed nor deleted, so no link can take its
// place half-way through an operation. The folders above it are the
// system's and administrators' and are taken as they are.
class HeldFolder {
  public:
    explicit HeldFolder(const std::wstring& folder);

    // False when the folder could not be opened (GetLastError tells why) or
    // is not itself (`stranger`, `detail`).
    bool held() const { return handle_.valid() && stranger_ == Stranger::None; }
    Stranger stranger() const { return stranger_; }
    const std::string& detail() const { return detail_; }
    // What a name in this folder must open as.
    std::wstring expectedPathOf(const std::wstring& name) const { return final_ + L"\\" + name; }

  private:
    ScopedHandle handle_;
    Stranger stranger_ = Stranger::None;
    std::string detail_;
    std::wstring final_;
};

// The folder part and the name part of a path.
std::wstring folderPart(const std::wstring& path);
std::wstring namePart(const std::wstring& path);
