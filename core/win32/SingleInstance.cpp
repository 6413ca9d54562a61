#include "core/win32/SingleInstance.h"

SingleInstanceLock::SingleInstanceLock(const char* name)
    : mutex_(CreateMutexA(nullptr, FALSE, name)),
      anotherCopyRuns_(!mutex_.valid() || GetLastError() == ERROR_ALREADY_EXISTS) {}
