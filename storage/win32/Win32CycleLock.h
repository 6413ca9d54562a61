#pragma once

#include <memory>
#include <string>

#include "core/win32/ScopedHandle.h"
#include "storage/CycleLock.h"

// The cycle lock as a byte-range lock on a file in the data folder
// (`cycleLockFilePath`). A file, not a named mutex: every local user may
// open files there (the folder's rights), the lock goes with the handle, so
// the system drops it when its holder ends or crashes, and under Wine it is
// a Unix lock that agents of separate prefixes see too. The file is opened
// as itself inside its folder held open, like every name there (a link is
// refused), and kept open only while the lock is held.
class Win32CycleLock : public CycleLock {
  public:
    explicit Win32CycleLock(std::string path) : path_(std::move(path)) {}

    Turn acquireWithin(int32_t milliseconds) override;
    void release() override;

  private:
    std::string path_;
    std::unique_ptr<ScopedHandle> held_;
};
