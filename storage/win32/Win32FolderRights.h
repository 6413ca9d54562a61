#pragma once

#include "storage/FolderRights.h"

#include <windows.h>

// Reads and sets a folder's owner and access list through a handle to the
// folder itself, never through a link in its place.
class Win32FolderRights : public FolderRights {
  public:
    std::string descriptorOf(const std::string& folder) override;
    RightsOutcome impose(const std::string& folder, const std::string& descriptor,
                         LinkInPlace link) override;

  protected:
    // The system calls that hand a descriptor over, for a new folder and
    // for an existing one; a test can watch what they are given.
    virtual bool createDirectory(const std::wstring& folder, SECURITY_ATTRIBUTES* security);
    virtual bool setSecurity(HANDLE folder, PSECURITY_DESCRIPTOR descriptor);
};
