#include "ui/win32/DeviceNotice.h"

#include <dbt.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "dongle/DongleDevice.h"

bool isDongleNotice(const void* record) {
    const auto* header = static_cast<const DEV_BROADCAST_HDR*>(record);
    if (header == nullptr || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) {
        return false;
    }
    const std::size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name);
    if (header->dbch_size <= nameOffset) {
        return false;
    }
    const char* name = static_cast<const char*>(record) + nameOffset;
    const std::size_t room = header->dbch_size - nameOffset;
    return isDonglePath(std::string(name, strnlen(name, room)));
}
