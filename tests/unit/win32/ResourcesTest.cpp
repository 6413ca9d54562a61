// The compiled resources, linked with resources/quorvel.rc as quorvel.exe is.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "resources/resource.h"
#include "ui/win32/TrayIcons.h"

namespace {

// The numeric RT_ values: the RT_ macros follow UNICODE, which we leave unset.
constexpr int kIcon = 3;
constexpr int kGroupIcon = 14;

HINSTANCE module() {
    return GetModuleHandleW(nullptr);
}

std::vector<std::uint8_t> resourceBytes(int type, int name) {
    HRSRC info = FindResourceW(module(), MAKEINTRESOURCEW(name), MAKEINTRESOURCEW(type));
    HGLOBAL handle = info != nullptr ? LoadResource(module(), info) : nullptr;
    const auto* data = static_cast<const std::uint8_t*>(handle ? LockResource(handle) : nullptr);
    return data ? std::vector<std::uint8_t>(data, data + SizeofResource(module(), info))
                : std::vector<std::uint8_t>();
}

// The image Windows picks from an icon group for a size. LoadImage scales
// whatever it finds, so only this shows whether the size was really drawn.
std::vector<std::uint8_t> pickedImage(int group, int size) {
    std::vector<std::uint8_t> directory = resourceBytes(kGroupIcon, group);
    if (directory.empty()) {
        return {};
    }
    return resourceBytes(
        kIcon, LookupIconIdFromDirectoryEx(directory.data(), TRUE, size, size, LR_DEFAULTCOLOR));
}

std::string format(int width, int height, int bits) {
    return std::to_string(width) + "x" + std::to_string(height) + "/" + std::to_string(bits);
}

// "width x height / bits per pixel" of an icon image, a bitmap or a PNG.
std::string drawnFormat(const std::vector<std::uint8_t>& image) {
    static const std::uint8_t png[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (image.size() >= 26 && std::memcmp(image.data(), png, sizeof png) == 0) {
        // IHDR: big-endian width and height, then bit depth and colour type.
        const auto big = [&](std::size_t at) {
            return image[at] << 24 | image[at + 1] << 16 | image[at + 2] << 8 | image[at + 3];
        };
        const int channels = image[25] == 6 ? 4 : image[25] == 2 ? 3 : 1;
        return format(big(16), big(20), image[24] * channels);
    }
    BITMAPINFOHEADER header{};
    if (image.size() < sizeof header) {
        return "<none>";
    }
    std::memcpy(&header, image.data(), sizeof header);
    // The height covers the colour bitmap and the mask below it.
    return format(header.biWidth, header.biHeight / 2, header.biBitCount);
}

// Width and height of an icon's colour bitmap; 0x0 without one.
SIZE iconSize(HICON icon) {
    ICONINFO info{};
    if (icon == nullptr || !GetIconInfo(icon, &info)) {
        return SIZE{0, 0};
    }
    BITMAP bitmap{};
    const bool colour = info.hbmColor != nullptr &&
                        GetObjectW(info.hbmColor, sizeof bitmap, &bitmap) == sizeof bitmap;
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return colour ? SIZE{bitmap.bmWidth, bitmap.bmHeight} : SIZE{0, 0};
}

// The small-icon sizes from 100 % to 250 % display scale and the large ones.
constexpr int kTraySizes[] = {16, 20, 24, 32, 40, 48, 64};

TEST(ResourcesIcons, EachGroupCarriesEachSizeDrawnInThirtyTwoBits) {
    for (int id : {IDI_QUORVEL, IDI_TRAY_GOOD, IDI_TRAY_FAULT}) {
        std::vector<int> sizes(std::begin(kTraySizes), std::end(kTraySizes));
        if (id == IDI_QUORVEL) {
            sizes.push_back(256);  // Explorer's largest views
        }
        for (int size : sizes) {
            EXPECT_EQ(drawnFormat(pickedImage(id, size)), format(size, size, 32))
                << "icon " << id << " at " << size;
        }
    }
}

TEST(ResourcesTrayIcons, LoadsTheImageDrawnForTheSmallIconMetric) {
    HICON handle = nullptr;
    {
        ScopedIcon loaded(loadTrayIcon(module(), IDI_TRAY_FAULT));
        ASSERT_TRUE(loaded) << GetLastError();
        handle = loaded.get();
        ScopedIcon owner(std::move(loaded));
        EXPECT_FALSE(loaded);
        const SIZE size = iconSize(owner.get());
        // The test display is one monitor at its sign-in DPI, where the
        // taskbar's metric is the system's.
        EXPECT_EQ(size.cx, GetSystemMetrics(SM_CXSMICON));
        EXPECT_EQ(size.cy, GetSystemMetrics(SM_CYSMICON));
    }
    ICONINFO info{};
    EXPECT_FALSE(GetIconInfo(handle, &info)) << "the owner left its icon behind";
}

// What the loader parsed from the embedded manifest; a typo in an element
// name or namespace drops a setting without any error.
std::wstring activationSetting(const wchar_t* nameSpace, const wchar_t* name) {
    wchar_t buffer[128] = {};
    SIZE_T written = 0;
    if (!QueryActCtxSettingsW(0, nullptr, nameSpace, name, buffer, 128, &written)) {
        return L"<missing>";
    }
    return buffer;
}

TEST(ResourcesManifest, LoaderAppliesCommonControlsSixAndPerMonitorDpi) {
    // Only the manifest's dependency picks the side-by-side copy; under Wine
    // both report version 5.81, so the path tells them apart.
    HMODULE comctl = LoadLibraryW(L"comctl32.dll");
    ASSERT_NE(comctl, nullptr);
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(comctl, path, MAX_PATH);
    FreeLibrary(comctl);
    std::wstring loaded(path);
    CharLowerBuffW(loaded.data(), static_cast<DWORD>(loaded.size()));
    EXPECT_NE(loaded.find(L"\\winsxs\\"), std::wstring::npos) << loaded;
    EXPECT_NE(loaded.find(L"microsoft.windows.common-controls"), std::wstring::npos) << loaded;

    // Not the thread's awareness: Wine reports it even without a manifest.
    EXPECT_EQ(activationSetting(L"http://schemas.microsoft.com/SMI/2016/WindowsSettings",
                                L"dpiAwareness"),
              L"PerMonitorV2, PerMonitor");
    EXPECT_EQ(
        activationSetting(L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware"),
        L"true/pm");
}

}  // namespace
