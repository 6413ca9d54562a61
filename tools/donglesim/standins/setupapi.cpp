// Test stand-in for setupapi.dll: enumerates the simulator's devices as HID
// interfaces. Only what the agent's HID adapter imports is here.

#define _SETUPAPI_
#include <windows.h>

#include <setupapi.h>

#include <atomic>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "SimulatedDevices.h"

namespace {

std::atomic<long> outstanding{0};

struct DeviceSet {
    GUID classGuid;
    std::vector<std::string> paths;
};

// One message with the plugged devices' paths; none when no simulator runs.
std::vector<std::string> simulatedDevices() {
    std::vector<std::string> paths;
    HANDLE pipe = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 50 && pipe == INVALID_HANDLE_VALUE; ++attempt) {
        pipe = CreateFileA(QUORVEL_SIM_DIRECTORY_PIPE, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                           nullptr);
        if (pipe == INVALID_HANDLE_VALUE) {
            if (GetLastError() != ERROR_PIPE_BUSY) {
                return paths;
            }
            WaitNamedPipeA(QUORVEL_SIM_DIRECTORY_PIPE, 100);
        }
    }
    if (pipe == INVALID_HANDLE_VALUE) {
        return paths;
    }
    std::string listing;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(pipe, chunk, sizeof chunk, &got, nullptr) && got > 0) {
        listing.append(chunk, got);
    }
    CloseHandle(pipe);
    std::size_t start = 0;
    while (start < listing.size()) {
        std::size_t end = listing.find('\n', start);
        if (end == std::string::npos) {
            end = listing.size();
        }
        if (end > start) {
            paths.push_back(listing.substr(start, end - start));
        }
        start = end + 1;
    }
    return paths;
}

}  // namespace

extern "C" {

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* classGuid, PCSTR, HWND, DWORD flags) {
    if (classGuid == nullptr || (flags & DIGCF_DEVICEINTERFACE) == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    auto* set = new (std::nothrow) DeviceSet{*classGuid, simulatedDevices()};
    if (set == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    ++outstanding;
    return set;
}

BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO handle, PSP_DEVINFO_DATA, const GUID* guid,
                                        DWORD index, PSP_DEVICE_INTERFACE_DATA data) {
    auto* set = static_cast<DeviceSet*>(handle);
    if (set == nullptr || handle == INVALID_HANDLE_VALUE || data == nullptr ||
        data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (guid == nullptr || std::memcmp(guid, &set->classGuid, sizeof(GUID)) != 0 ||
        index >= set->paths.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    data->InterfaceClassGuid = set->classGuid;
    data->Flags = SPINT_ACTIVE;
    data->Reserved = index;
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceInterfaceDetailA(HDEVINFO handle, PSP_DEVICE_INTERFACE_DATA data,
                                             PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                                             DWORD detailSize, PDWORD requiredSize,
                                             PSP_DEVINFO_DATA) {
    auto* set = static_cast<DeviceSet*>(handle);
    if (set == nullptr || data == nullptr || data->Reserved >= set->paths.size()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string& path = set->paths[data->Reserved];
    const DWORD needed = static_cast<DWORD>(
        offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1);
    if (requiredSize != nullptr) {
        *requiredSize = needed;
    }
    if (detail == nullptr || detailSize < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    // As the real one: the fixed part's size, or the call is refused.
    if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    std::memcpy(detail->DevicePath, path.c_str(), path.size() + 1);
    return TRUE;
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    --outstanding;
    delete static_cast<DeviceSet*>(handle);
    return TRUE;
}

// Not part of setupapi.dll: lets a test see whether every set was destroyed.
long WINAPI StandinOutstandingDeviceSets() {
    return outstanding.load();
}

}  // extern "C"
