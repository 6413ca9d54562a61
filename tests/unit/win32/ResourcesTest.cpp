// Checks the compiled resources of the running module, which is linked with
// resources/quorvel.rc exactly like quorvel.exe. A wrong id, a missing icon
// size or a lost manifest shows up here instead of as a blank tray icon, a
// dead menu entry or an unthemed window.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "resources/resource.h"

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

int drawnWidth(const std::vector<std::uint8_t>& image) {
    BITMAPINFOHEADER header{};
    if (image.size() < sizeof header) {
        return 0;
    }
    std::memcpy(&header, image.data(), sizeof header);
    return header.biWidth;
}

// Loads the icon the way the program does; the width of its colour bitmap,
// or 0 when it does not load.
int loadedWidth(int id, int size) {
    auto* icon = static_cast<HICON>(
        LoadImageW(module(), MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
    ICONINFO info{};
    if (icon == nullptr || !GetIconInfo(icon, &info)) {
        return 0;
    }
    BITMAP bitmap{};
    const bool colour = info.hbmColor != nullptr &&
                        GetObjectW(info.hbmColor, sizeof bitmap, &bitmap) == sizeof bitmap;
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(icon);
    return colour && bitmap.bmHeight == size ? bitmap.bmWidth : 0;
}

TEST(ResourcesIcons, EachIconLoadsAtEachDrawnSize) {
    const std::pair<int, int> icons[] = {{IDI_QUORVEL, 48},
                                         {IDI_QUORVEL, 32},
                                         {IDI_QUORVEL, 16},
                                         {IDI_TRAY_GOOD, 16},
                                         {IDI_TRAY_FAULT, 16}};
    for (const auto& [id, size] : icons) {
        SCOPED_TRACE("icon " + std::to_string(id) + " at " + std::to_string(size));
        EXPECT_EQ(loadedWidth(id, size), size) << GetLastError();
        EXPECT_EQ(drawnWidth(pickedImage(id, size)), size);
    }
    // The user tells a fault from normal operation by the icon alone.
    EXPECT_NE(pickedImage(IDI_TRAY_GOOD, 16), pickedImage(IDI_TRAY_FAULT, 16));
}

std::vector<UINT> itemIds(HMENU menu) {
    std::vector<UINT> ids;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        ids.push_back(GetMenuItemID(menu, i));
    }
    return ids;
}

TEST(ResourcesMenus, TrayMenuAndLoggerMenuBarCarryTheCommandIds) {
    HMENU tray = LoadMenuW(module(), MAKEINTRESOURCEW(IDR_TRAY_MENU));
    ASSERT_NE(tray, nullptr) << GetLastError();
    // TrackPopupMenu shows the first submenu.
    EXPECT_EQ(itemIds(GetSubMenu(tray, 0)), (std::vector<UINT>{ID_OPEN_PORTAL, ID_ABOUT, ID_EXIT}));
    DestroyMenu(tray);

    HMENU bar = LoadMenuW(module(), MAKEINTRESOURCEW(IDR_MAIN_MENU));
    ASSERT_NE(bar, nullptr) << GetLastError();
    ASSERT_EQ(GetMenuItemCount(bar), 2);
    EXPECT_EQ(itemIds(GetSubMenu(bar, 0)), std::vector<UINT>{IDM_QUIT});
    EXPECT_EQ(itemIds(GetSubMenu(bar, 1)), std::vector<UINT>{IDM_INFO});
    DestroyMenu(bar);
}

INT_PTR CALLBACK quietDialogProc(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

std::wstring itemText(HWND dialog, int id) {
    wchar_t buffer[128] = {};
    GetDlgItemTextW(dialog, id, buffer, 128);
    return buffer;
}

TEST(ResourcesAbout, DialogCreatesWithItsControlsAndPlaceholders) {
    HWND dialog =
        CreateDialogParamW(module(), MAKEINTRESOURCEW(IDD_ABOUT), nullptr, quietDialogProc, 0);
    ASSERT_NE(dialog, nullptr) << "CreateDialogParam failed: " << GetLastError();
    for (int id :
         {IDOK, IDC_ABOUT_ICON, IDC_SOFTWARE_VERSION, IDC_FIRMWARE_VERSION, IDC_SERIAL_NUMBER}) {
        EXPECT_NE(GetDlgItem(dialog, id), nullptr) << "control " << id;
    }
    EXPECT_EQ(itemText(dialog, IDOK), L"OK");
    EXPECT_EQ(itemText(dialog, IDC_SOFTWARE_VERSION), L"0.0");
    EXPECT_EQ(itemText(dialog, IDC_FIRMWARE_VERSION), L"0.0");
    EXPECT_EQ(itemText(dialog, IDC_SERIAL_NUMBER), L"000000000000");
    // The icon control found its icon in the module.
    EXPECT_NE(SendDlgItemMessageW(dialog, IDC_ABOUT_ICON, STM_GETICON, 0, 0), 0);
    DestroyWindow(dialog);
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
    // Only the manifest's dependency makes the loader pick the side-by-side
    // copy over the one in system32. (Under Wine both report version 5.81,
    // so the path is what tells them apart.)
    HMODULE comctl = LoadLibraryW(L"comctl32.dll");
    ASSERT_NE(comctl, nullptr);
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(comctl, path, MAX_PATH);
    FreeLibrary(comctl);
    std::wstring loaded(path);
    CharLowerBuffW(loaded.data(), static_cast<DWORD>(loaded.size()));
    EXPECT_NE(loaded.find(L"\\winsxs\\"), std::wstring::npos) << loaded;
    EXPECT_NE(loaded.find(L"microsoft.windows.common-controls"), std::wstring::npos) << loaded;

    // Asking the thread's awareness would prove nothing: Wine reports
    // per-monitor awareness even without a manifest.
    EXPECT_EQ(activationSetting(L"http://schemas.microsoft.com/SMI/2016/WindowsSettings",
                                L"dpiAwareness"),
              L"PerMonitorV2, PerMonitor");
    EXPECT_EQ(
        activationSetting(L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware"),
        L"true/pm");
}

TEST(ResourcesVersion, ExplorerAndInstallersSeeTheSameProductAndVersion) {
    wchar_t path[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    ASSERT_GT(size, 0u) << "no version resource: " << GetLastError();
    std::vector<std::uint8_t> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(path, 0, size, block.data()));
    const auto query = [&](const wchar_t* name, UINT minimum) -> const void* {
        void* value = nullptr;
        UINT length = 0;
        return VerQueryValueW(block.data(), name, &value, &length) && length >= minimum ? value
                                                                                        : nullptr;
    };

    // Explorer looks for the strings under the block the Translation names.
    const auto* translation = static_cast<const WORD*>(query(L"\\VarFileInfo\\Translation", 4));
    ASSERT_NE(translation, nullptr);
    EXPECT_EQ(translation[0], 0x0409);
    EXPECT_EQ(translation[1], 1252);
    const auto text = [&](const wchar_t* name) {
        const void* value =
            query((std::wstring(L"\\StringFileInfo\\040904E4\\") + name).c_str(), 1);
        return value ? std::wstring(static_cast<const wchar_t*>(value)) : L"<missing>";
    };
    EXPECT_EQ(text(L"ProductName"), L"Quorvel");

    const auto* fixed =
        static_cast<const VS_FIXEDFILEINFO*>(query(L"\\", sizeof(VS_FIXEDFILEINFO)));
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(fixed->dwFileVersionMS, fixed->dwProductVersionMS);
    EXPECT_EQ(fixed->dwFileVersionLS, fixed->dwProductVersionLS);
    EXPECT_NE(fixed->dwFileVersionMS | fixed->dwFileVersionLS, 0u) << "version left at 0.0.0.0";
    const std::wstring numeric = std::to_wstring(HIWORD(fixed->dwFileVersionMS)) + L"." +
                                 std::to_wstring(LOWORD(fixed->dwFileVersionMS)) + L"." +
                                 std::to_wstring(HIWORD(fixed->dwFileVersionLS)) + L"." +
                                 std::to_wstring(LOWORD(fixed->dwFileVersionLS));
    EXPECT_EQ(text(L"FileVersion"), numeric);
    EXPECT_EQ(text(L"ProductVersion"), numeric);
}

}  // namespace
