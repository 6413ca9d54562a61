#pragma once

#include <windows.h>

// Whether a WM_DEVICECHANGE record names the dongle's device interface. The
// name is read no further than the record's own size says, so a short or
// unterminated record cannot make it read past its end.
bool isDongleNotice(const void* record);
