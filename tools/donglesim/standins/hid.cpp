// Test stand-in for hid.dll: identifies the simulator's devices from their
// pipe names. Only what the agent's HID adapter imports is here, and a
// count of preparsed data not yet freed, for the tests.

#include <windows.h>

// mingw-w64's HID headers neither include what they use nor declare C
// linkage.
#include <ntdef.h>
extern "C" {
#include <hidusage.h>
// clang-format off
#include <hidpi.h>
#include <hidsdi.h>
// clang-format on
}

#include <atomic>
#include <cwchar>
#include <new>
#include <string>

namespace {

// {4D1E55B2-F16F-11CF-88CB-001111000030}, the HID interface class.
const GUID hidGuid = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

struct Preparsed {
    USHORT inputLength;
    USHORT outputLength;
};

std::atomic<long> outstanding{0};

std::wstring pipeName(HANDLE device) {
    alignas(FILE_NAME_INFO) char buffer[sizeof(FILE_NAME_INFO) + 1024] = {};
    if (!GetFileInformationByHandleEx(device, FileNameInfo, buffer, sizeof buffer)) {
        return {};
    }
    const auto* info = reinterpret_cast<const FILE_NAME_INFO*>(buffer);
    return std::wstring(info->FileName, info->FileNameLength / sizeof(WCHAR));
}

// The hexadecimal number after `key` in the name, or -1.
long field(const std::wstring& name, const wchar_t* key) {
    const std::size_t at = name.find(key);
    if (at == std::wstring::npos) {
        return -1;
    }
    return std::wcstol(name.c_str() + at + std::wcslen(key), nullptr, 16);
}

}  // namespace

extern "C" {

void NTAPI HidD_GetHidGuid(LPGUID guid) {
    if (guid != nullptr) {
        *guid = hidGuid;
    }
}

BOOLEAN NTAPI HidD_GetAttributes(HANDLE device, PHIDD_ATTRIBUTES attributes) {
    const std::wstring name = pipeName(device);
    const long vendor = field(name, L"vid_");
    const long product = field(name, L"pid_");
    if (attributes == nullptr || vendor < 0 || product < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    attributes->VendorID = static_cast<USHORT>(vendor);
    attributes->ProductID = static_cast<USHORT>(product);
    attributes->VersionNumber = 0x0100;
    return TRUE;
}

BOOLEAN NTAPI HidD_GetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA* data) {
    const std::wstring name = pipeName(device);
    if (data == nullptr || name.empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // Decimal lengths after "&in_" and "&out_" when a device declares others.
    const std::size_t in = name.find(L"&in_");
    const std::size_t out = name.find(L"&out_");
    auto* preparsed = new (std::nothrow) Preparsed{
        static_cast<USHORT>(
            in == std::wstring::npos ? 36 : std::wcstol(name.c_str() + in + 4, nullptr, 10)),
        static_cast<USHORT>(
            out == std::wstring::npos ? 36 : std::wcstol(name.c_str() + out + 5, nullptr, 10))};
    if (preparsed == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    ++outstanding;
    *data = reinterpret_cast<PHIDP_PREPARSED_DATA>(preparsed);
    return TRUE;
}

BOOLEAN NTAPI HidD_FreePreparsedData(PHIDP_PREPARSED_DATA data) {
    if (data == nullptr) {
        return FALSE;
    }
    --outstanding;
    delete reinterpret_cast<Preparsed*>(data);
    return TRUE;
}

NTSTATUS NTAPI HidP_GetCaps(PHIDP_PREPARSED_DATA data, PHIDP_CAPS capabilities) {
    if (data == nullptr || capabilities == nullptr) {
        return HIDP_STATUS_INVALID_PREPARSED_DATA;
    }
    const auto* preparsed = reinterpret_cast<const Preparsed*>(data);
    *capabilities = HIDP_CAPS{};
    capabilities->UsagePage = 0xFF00;
    capabilities->InputReportByteLength = preparsed->inputLength;
    capabilities->OutputReportByteLength = preparsed->outputLength;
    return HIDP_STATUS_SUCCESS;
}

// Not part of hid.dll: lets a test see whether every preparsed data handed
// out was freed.
long WINAPI StandinOutstandingPreparsedData() {
    return outstanding.load();
}

}  // extern "C"
