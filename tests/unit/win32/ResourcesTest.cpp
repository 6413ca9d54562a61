// Checks the compiled resources of the running module, which is linked with
// resources/quorvel.rc exactly like quorvel.exe. A wrong id, a missing icon
// size, a lost manifest or a dialog control that windres laid out differently
// shows up here instead of as a blank tray icon or a dead menu entry.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "resources/resource.h"

namespace {

constexpr int kIcon = 3;
constexpr int kDialog = 5;
constexpr int kGroupIcon = 14;
constexpr int kManifest = 24;
constexpr int kProcessManifestId = 1;  // the one the loader applies at start-up

HINSTANCE module() {
    return GetModuleHandleW(nullptr);
}

// Raw bytes of a resource of this module; empty if it is missing. Types are
// the numeric RT_ values (the RT_ macros follow UNICODE, which we leave unset).
std::vector<std::uint8_t> resourceBytes(int type, int name) {
    HRSRC info = FindResourceW(module(), MAKEINTRESOURCEW(name), MAKEINTRESOURCEW(type));
    if (info == nullptr) {
        return {};
    }
    HGLOBAL handle = LoadResource(module(), info);
    const void* data = handle != nullptr ? LockResource(handle) : nullptr;
    if (data == nullptr) {
        return {};
    }
    const auto* begin = static_cast<const std::uint8_t*>(data);
    return {begin, begin + SizeofResource(module(), info)};
}

// Little-endian reader over resource bytes. Reads past the end fail the test
// that uses it rather than read foreign memory.
class Reader {
  public:
    explicit Reader(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}

    bool ok() const { return ok_; }
    std::size_t offset() const { return offset_; }
    void seek(std::size_t offset) { offset_ = offset; }
    void alignTo4() { offset_ = (offset_ + 3) & ~std::size_t{3}; }

    std::uint8_t u8() { return static_cast<std::uint8_t>(read(1)); }
    std::uint16_t u16() { return static_cast<std::uint16_t>(read(2)); }
    std::uint32_t u32() { return read(4); }
    std::int16_t i16() { return static_cast<std::int16_t>(u16()); }

    // A string-or-ordinal field of a dialog template.
    struct NameOrId {
        bool isOrdinal = false;
        std::uint16_t ordinal = 0;
        std::wstring text;
    };
    NameOrId nameOrId() {
        NameOrId result;
        std::uint16_t first = u16();
        if (first == 0xFFFF) {
            result.isOrdinal = true;
            result.ordinal = u16();
            return result;
        }
        for (std::uint16_t c = first; ok_ && c != 0; c = u16()) {
            result.text.push_back(static_cast<wchar_t>(c));
        }
        return result;
    }

  private:
    std::uint32_t read(std::size_t size) {
        if (offset_ + size > bytes_.size()) {
            ok_ = false;
            return 0;
        }
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < size; ++i) {
            value |= static_cast<std::uint32_t>(bytes_[offset_ + i]) << (8 * i);
        }
        offset_ += size;
        return value;
    }

    const std::vector<std::uint8_t>& bytes_;
    std::size_t offset_ = 0;
    bool ok_ = true;
};

// ---------------------------------------------------------------------------
// Icons

struct IconImage {
    int width = 0;
    int height = 0;
    int bitCount = 0;
    std::vector<std::uint8_t> bgra;  // top row first
    std::vector<bool> masked;        // AND mask bit, top row first
};

// The entries of an icon group: (width, bit count) pairs.
std::vector<std::pair<int, int>> groupEntries(int groupId) {
    std::vector<std::uint8_t> bytes = resourceBytes(kGroupIcon, groupId);
    std::vector<std::pair<int, int>> entries;
    Reader r(bytes);
    r.u16();  // reserved
    if (r.u16() != 1) {
        return entries;
    }
    int count = r.u16();
    for (int i = 0; i < count && r.ok(); ++i) {
        int width = r.u8();
        r.u8();   // height
        r.u8();   // colour count
        r.u8();   // reserved
        r.u16();  // planes
        int bits = r.u16();
        r.u32();  // bytes in resource
        r.u16();  // RT_ICON id
        if (r.ok()) {
            entries.emplace_back(width == 0 ? 256 : width, bits);
        }
    }
    return entries;
}

// The image Windows itself would choose from a group for the given size, read
// straight from the RT_ICON resource. bgra stays empty if it is not 32-bit.
IconImage pickImage(int groupId, int size) {
    IconImage image;
    std::vector<std::uint8_t> group = resourceBytes(kGroupIcon, groupId);
    if (group.empty()) {
        return image;
    }
    int iconId = LookupIconIdFromDirectoryEx(group.data(), TRUE, size, size, LR_DEFAULTCOLOR);
    std::vector<std::uint8_t> bytes = resourceBytes(kIcon, iconId);
    if (bytes.size() < sizeof(BITMAPINFOHEADER)) {
        return image;
    }
    BITMAPINFOHEADER header;
    std::memcpy(&header, bytes.data(), sizeof header);
    image.width = header.biWidth;
    image.height = header.biHeight / 2;  // colour bitmap and mask stacked
    image.bitCount = header.biBitCount;
    if (header.biBitCount != 32 || header.biCompression != BI_RGB || image.width <= 0 ||
        image.height <= 0) {
        return image;
    }
    const std::size_t w = static_cast<std::size_t>(image.width);
    const std::size_t h = static_cast<std::size_t>(image.height);
    const std::size_t maskStride = ((w + 31) / 32) * 4;
    const std::size_t pixelsAt = header.biSize;
    const std::size_t maskAt = pixelsAt + w * h * 4;
    if (maskAt + maskStride * h > bytes.size()) {
        return image;
    }
    image.bgra.resize(w * h * 4);
    image.masked.resize(w * h);
    for (std::size_t y = 0; y < h; ++y) {
        const std::size_t stored = h - 1 - y;  // bottom-up
        std::memcpy(&image.bgra[y * w * 4], &bytes[pixelsAt + stored * w * 4], w * 4);
        for (std::size_t x = 0; x < w; ++x) {
            image.masked[y * w + x] =
                (bytes[maskAt + stored * maskStride + x / 8] & (0x80 >> (x % 8))) != 0;
        }
    }
    return image;
}

std::uint8_t alphaAt(const IconImage& image, int x, int y) {
    return image.bgra[(static_cast<std::size_t>(y) * image.width + x) * 4 + 3];
}

// Pixels that read as the error badge: strong, opaque red.
int redPixels(const IconImage& image, int x0, int y0, int x1, int y1) {
    int count = 0;
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            const std::uint8_t* p =
                &image.bgra[(static_cast<std::size_t>(y) * image.width + x) * 4];
            if (p[3] > 200 && p[2] > 160 && p[1] < 90 && p[0] < 90) {
                ++count;
            }
        }
    }
    return count;
}

void expectWellFormedLogo(const IconImage& image, int size) {
    ASSERT_EQ(image.width, size);
    ASSERT_EQ(image.height, size);
    ASSERT_EQ(image.bitCount, 32);
    ASSERT_EQ(image.bgra.size(), static_cast<std::size_t>(size * size * 4));
    // A disc: transparent corners, an opaque middle, and a soft edge between.
    EXPECT_EQ(alphaAt(image, 0, 0), 0);
    EXPECT_EQ(alphaAt(image, size - 1, 0), 0);
    EXPECT_EQ(alphaAt(image, 0, size - 1), 0);
    EXPECT_EQ(alphaAt(image, size / 2 - 1, size / 2 - 1), 255);
    int partial = 0;
    for (std::size_t i = 0; i < image.masked.size(); ++i) {
        const std::uint8_t a = image.bgra[i * 4 + 3];
        if (a != 0 && a != 255) {
            ++partial;
        }
        // The mask must agree with alpha, or old renderers punch holes into
        // the disc or draw black corners.
        EXPECT_EQ(image.masked[i], a == 0) << "pixel " << i;
    }
    EXPECT_GE(partial, size / 2) << "edge is not anti-aliased";
}

// Loads an icon the way the program does and reports the colour bitmap's size.
struct LoadedIcon {
    bool loaded = false;
    bool hasColour = false;
    int width = 0;
    int height = 0;
};

LoadedIcon loadIcon(int id, int size) {
    LoadedIcon result;
    auto* icon = static_cast<HICON>(
        LoadImageW(module(), MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
    if (icon == nullptr) {
        return result;
    }
    result.loaded = true;
    ICONINFO info{};
    if (GetIconInfo(icon, &info)) {
        if (info.hbmColor != nullptr) {
            BITMAP bitmap{};
            if (GetObjectW(info.hbmColor, sizeof bitmap, &bitmap) == sizeof bitmap) {
                result.hasColour = true;
                result.width = bitmap.bmWidth;
                result.height = bitmap.bmHeight;
            }
            DeleteObject(info.hbmColor);
        }
        if (info.hbmMask != nullptr) {
            DeleteObject(info.hbmMask);
        }
    }
    DestroyIcon(icon);
    return result;
}

TEST(ResourcesIcons, ApplicationIconLoadsAtEachSize) {
    for (int size : {48, 32, 16}) {
        SCOPED_TRACE(size);
        LoadedIcon icon = loadIcon(IDI_QUORVEL, size);
        ASSERT_TRUE(icon.loaded) << "LoadImage failed: " << GetLastError();
        EXPECT_TRUE(icon.hasColour);
        EXPECT_EQ(icon.width, size);
        EXPECT_EQ(icon.height, size);
    }
}

TEST(ResourcesIcons, TrayIconsLoadAtSmallIconSize) {
    for (int id : {IDI_TRAY_GOOD, IDI_TRAY_FAULT}) {
        SCOPED_TRACE(id);
        LoadedIcon icon = loadIcon(id, 16);
        ASSERT_TRUE(icon.loaded) << "LoadImage failed: " << GetLastError();
        EXPECT_TRUE(icon.hasColour);
        EXPECT_EQ(icon.width, 16);
        EXPECT_EQ(icon.height, 16);
    }
}

TEST(ResourcesIcons, ApplicationIconHoldsDrawnImagesForEachSize) {
    // LoadImage scales whatever it finds, so only the group itself shows
    // whether a size was really drawn.
    std::vector<std::pair<int, int>> entries = groupEntries(IDI_QUORVEL);
    EXPECT_EQ(entries, (std::vector<std::pair<int, int>>{{48, 32}, {32, 32}, {16, 32}}));
    for (int size : {48, 32, 16}) {
        SCOPED_TRACE(size);
        expectWellFormedLogo(pickImage(IDI_QUORVEL, size), size);
    }
}

TEST(ResourcesIcons, TrayIconsAreSixteenPixelsWithAlpha) {
    for (int id : {IDI_TRAY_GOOD, IDI_TRAY_FAULT}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(groupEntries(id), (std::vector<std::pair<int, int>>{{16, 32}}));
        IconImage image = pickImage(id, 16);
        ASSERT_EQ(image.bitCount, 32);
        ASSERT_EQ(image.bgra.size(), 16u * 16u * 4u);
        EXPECT_EQ(alphaAt(image, 0, 0), 0);
        EXPECT_EQ(alphaAt(image, 4, 4), 255);  // upper left, clear of the badge
    }
    expectWellFormedLogo(pickImage(IDI_TRAY_GOOD, 16), 16);
}

TEST(ResourcesIcons, FaultIconIsTheLogoWithARedBadgeBottomRight) {
    IconImage good = pickImage(IDI_TRAY_GOOD, 16);
    IconImage fault = pickImage(IDI_TRAY_FAULT, 16);
    ASSERT_EQ(good.bgra.size(), 16u * 16u * 4u);
    ASSERT_EQ(fault.bgra.size(), 16u * 16u * 4u);

    EXPECT_EQ(redPixels(good, 0, 0, 16, 16), 0);
    EXPECT_GE(redPixels(fault, 8, 8, 16, 16), 12) << "no badge in the lower right";
    EXPECT_EQ(redPixels(fault, 0, 0, 8, 8), 0) << "badge is not confined to its corner";

    // Away from the badge both show the same logo, so a user who sees the
    // badge appear recognises the icon as ours.
    for (int y = 0; y < 7; ++y) {
        for (int x = 0; x < 16; ++x) {
            const std::size_t at = (static_cast<std::size_t>(y) * 16 + x) * 4;
            EXPECT_EQ(std::memcmp(&good.bgra[at], &fault.bgra[at], 4), 0)
                << "pixel " << x << "," << y;
        }
    }
}

// ---------------------------------------------------------------------------
// Menus

std::wstring menuText(HMENU menu, UINT position) {
    wchar_t buffer[64] = {};
    GetMenuStringW(menu, position, buffer, 64, MF_BYPOSITION);
    return buffer;
}

TEST(ResourcesMenus, TrayMenuHoldsPortalAboutExitInOrder) {
    HMENU menu = LoadMenuW(module(), MAKEINTRESOURCEW(IDR_TRAY_MENU));
    ASSERT_NE(menu, nullptr) << GetLastError();
    EXPECT_EQ(GetMenuItemCount(menu), 1);
    HMENU popup = GetSubMenu(menu, 0);
    ASSERT_NE(popup, nullptr);
    ASSERT_EQ(GetMenuItemCount(popup), 3);
    EXPECT_EQ(GetMenuItemID(popup, 0), static_cast<UINT>(ID_OPEN_PORTAL));
    EXPECT_EQ(GetMenuItemID(popup, 1), static_cast<UINT>(ID_ABOUT));
    EXPECT_EQ(GetMenuItemID(popup, 2), static_cast<UINT>(ID_EXIT));
    EXPECT_EQ(menuText(popup, 0), L"Open Portal");
    EXPECT_EQ(menuText(popup, 1), L"About");
    EXPECT_EQ(menuText(popup, 2), L"Exit");
    DestroyMenu(menu);
}

TEST(ResourcesMenus, LoggerMenuBarHasFileQuitAndHelpInfo) {
    HMENU menu = LoadMenuW(module(), MAKEINTRESOURCEW(IDR_MAIN_MENU));
    ASSERT_NE(menu, nullptr) << GetLastError();
    ASSERT_EQ(GetMenuItemCount(menu), 2);
    EXPECT_EQ(menuText(menu, 0), L"&Datei");
    EXPECT_EQ(menuText(menu, 1), L"&Hilfe");

    HMENU file = GetSubMenu(menu, 0);
    HMENU help = GetSubMenu(menu, 1);
    ASSERT_NE(file, nullptr);
    ASSERT_NE(help, nullptr);
    ASSERT_EQ(GetMenuItemCount(file), 1);
    ASSERT_EQ(GetMenuItemCount(help), 1);
    EXPECT_EQ(GetMenuItemID(file, 0), static_cast<UINT>(IDM_QUIT));
    EXPECT_EQ(GetMenuItemID(help, 0), static_cast<UINT>(IDM_INFO));
    EXPECT_EQ(menuText(file, 0), L"&Beenden");
    EXPECT_EQ(menuText(help, 0), L"&Info...");
    DestroyMenu(menu);
}

// ---------------------------------------------------------------------------
// About dialog

struct DialogItem {
    std::uint32_t style = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    std::int32_t id = 0;
    Reader::NameOrId windowClass;
    Reader::NameOrId title;
};

struct DialogTemplate {
    bool extended = false;
    std::uint32_t style = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    std::wstring title;
    int pointSize = 0;
    std::wstring font;
    std::vector<DialogItem> items;
};

bool parseDialogEx(const std::vector<std::uint8_t>& bytes, DialogTemplate& out) {
    Reader r(bytes);
    const std::uint16_t version = r.u16();
    const std::uint16_t signature = r.u16();
    out.extended = version == 1 && signature == 0xFFFF;
    if (!out.extended) {
        return false;
    }
    r.u32();  // help id
    r.u32();  // extended style
    out.style = r.u32();
    const int count = r.u16();
    out.x = r.i16();
    out.y = r.i16();
    out.cx = r.i16();
    out.cy = r.i16();
    r.nameOrId();  // menu
    r.nameOrId();  // class
    out.title = r.nameOrId().text;
    if (out.style & (DS_SETFONT | DS_SHELLFONT)) {
        out.pointSize = r.u16();
        r.u16();  // weight
        r.u8();   // italic
        r.u8();   // charset
        out.font = r.nameOrId().text;
    }
    for (int i = 0; i < count && r.ok(); ++i) {
        r.alignTo4();
        DialogItem item;
        r.u32();  // help id
        r.u32();  // extended style
        item.style = r.u32();
        item.x = r.i16();
        item.y = r.i16();
        item.cx = r.i16();
        item.cy = r.i16();
        item.id = static_cast<std::int32_t>(r.u32());
        item.windowClass = r.nameOrId();
        item.title = r.nameOrId();
        const std::size_t creationData = r.u16();
        r.seek(r.offset() + creationData);
        out.items.push_back(item);
    }
    return r.ok();
}

bool isClass(const Reader::NameOrId& windowClass, std::uint16_t atom, const wchar_t* name) {
    if (windowClass.isOrdinal) {
        return windowClass.ordinal == atom;
    }
    return lstrcmpiW(windowClass.text.c_str(), name) == 0;
}

TEST(ResourcesAbout, TemplateMatchesTheLayout) {
    std::vector<std::uint8_t> bytes = resourceBytes(kDialog, IDD_ABOUT);
    ASSERT_FALSE(bytes.empty()) << "dialog " << IDD_ABOUT << " not found";
    DialogTemplate dialog;
    ASSERT_TRUE(parseDialogEx(bytes, dialog)) << "not a well-formed extended template";

    const DWORD frame = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;
    EXPECT_EQ(dialog.style & frame, frame);
    EXPECT_EQ(dialog.x, 22);
    EXPECT_EQ(dialog.y, 17);
    EXPECT_EQ(dialog.cx, 230);
    EXPECT_EQ(dialog.cy, 75);
    EXPECT_EQ(dialog.title, L"About");
    EXPECT_EQ(dialog.pointSize, 8);
    EXPECT_EQ(dialog.font, L"System");

    struct Expected {
        std::int32_t id;
        int x, y, cx, cy;
        const wchar_t* text;  // nullptr: the icon, by ordinal
    };
    const Expected expected[] = {
        {IDC_ABOUT_ICON, 14, 9, 20, 20, nullptr},
        {-1, 44, 17, 119, 8, L"Quorvel"},
        {IDOK, 195, 6, 30, 11, L"OK"},
        {-1, 44, 28, 59, 8, L"Software Version"},
        {-1, 44, 39, 59, 8, L"Firmware Version"},
        {-1, 44, 50, 59, 8, L"Serial Number"},
        {IDC_SOFTWARE_VERSION, 114, 28, 106, 8, L"0.0"},
        {IDC_FIRMWARE_VERSION, 114, 39, 106, 8, L"0.0"},
        {IDC_SERIAL_NUMBER, 114, 50, 106, 8, L"000000000000"},
    };
    ASSERT_EQ(dialog.items.size(), std::size(expected));
    for (std::size_t i = 0; i < dialog.items.size(); ++i) {
        const DialogItem& item = dialog.items[i];
        const Expected& want = expected[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(item.id, want.id);
        EXPECT_EQ(item.x, want.x);
        EXPECT_EQ(item.y, want.y);
        EXPECT_EQ(item.cx, want.cx);
        EXPECT_EQ(item.cy, want.cy);
        EXPECT_EQ(item.style & (WS_CHILD | WS_VISIBLE), DWORD{WS_CHILD | WS_VISIBLE});
        if (want.text == nullptr) {
            EXPECT_TRUE(isClass(item.windowClass, 0x0082, L"Static"));
            EXPECT_EQ(item.style & SS_TYPEMASK, DWORD{SS_ICON});
            EXPECT_TRUE(item.title.isOrdinal);
            EXPECT_EQ(item.title.ordinal, IDI_QUORVEL);
        } else if (want.id == IDOK) {
            EXPECT_TRUE(isClass(item.windowClass, 0x0080, L"Button"));
            EXPECT_EQ(item.style & BS_TYPEMASK, DWORD{BS_DEFPUSHBUTTON});
            EXPECT_EQ(item.title.text, want.text);
        } else {
            EXPECT_TRUE(isClass(item.windowClass, 0x0082, L"Static"));
            EXPECT_EQ(item.style & SS_TYPEMASK, DWORD{SS_LEFT});
            EXPECT_EQ(item.title.text, want.text);
        }
    }
    // The product name is shown verbatim; an ampersand must not become an
    // underline.
    EXPECT_EQ(dialog.items[1].style & SS_NOPREFIX, DWORD{SS_NOPREFIX});
}

INT_PTR CALLBACK quietDialogProc(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

std::wstring windowText(HWND window) {
    wchar_t buffer[128] = {};
    GetWindowTextW(window, buffer, 128);
    return buffer;
}

TEST(ResourcesAbout, DialogCreatesWithItsControls) {
    HWND dialog =
        CreateDialogParamW(module(), MAKEINTRESOURCEW(IDD_ABOUT), nullptr, quietDialogProc, 0);
    ASSERT_NE(dialog, nullptr) << "CreateDialogParam failed: " << GetLastError();
    EXPECT_FALSE(IsWindowVisible(dialog));
    EXPECT_EQ(windowText(dialog), L"About");

    for (int id :
         {IDOK, IDC_ABOUT_ICON, IDC_SOFTWARE_VERSION, IDC_FIRMWARE_VERSION, IDC_SERIAL_NUMBER}) {
        EXPECT_NE(GetDlgItem(dialog, id), nullptr) << "control " << id;
    }
    EXPECT_EQ(windowText(GetDlgItem(dialog, IDC_SOFTWARE_VERSION)), L"0.0");
    EXPECT_EQ(windowText(GetDlgItem(dialog, IDC_FIRMWARE_VERSION)), L"0.0");
    EXPECT_EQ(windowText(GetDlgItem(dialog, IDC_SERIAL_NUMBER)), L"000000000000");
    EXPECT_EQ(windowText(GetDlgItem(dialog, IDOK)), L"OK");
    // The icon control resolved its icon from the module.
    EXPECT_NE(SendDlgItemMessageW(dialog, IDC_ABOUT_ICON, STM_GETICON, 0, 0), 0);
    // The program fills the value fields with SetDlgItemText.
    EXPECT_TRUE(SetDlgItemTextW(dialog, IDC_SERIAL_NUMBER, L"A1B2C3D4E5F6"));
    EXPECT_EQ(windowText(GetDlgItem(dialog, IDC_SERIAL_NUMBER)), L"A1B2C3D4E5F6");
    DestroyWindow(dialog);
}

// ---------------------------------------------------------------------------
// Manifest

TEST(ResourcesManifest, IsEmbeddedWithTheSettingsWeRelyOn) {
    std::vector<std::uint8_t> bytes = resourceBytes(kManifest, kProcessManifestId);
    ASSERT_FALSE(bytes.empty()) << "no manifest resource 1";
    const std::string xml(bytes.begin(), bytes.end());
    for (const char* needle :
         {"name=\"Quorvel.Agent\"", "name=\"Microsoft.Windows.Common-Controls\"",
          "version=\"6.0.0.0\"", "level=\"asInvoker\"", ">true/pm</dpiAware>",
          ">PerMonitorV2, PerMonitor</dpiAwareness>",
          "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",     // Windows 7
          "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}) {  // Windows 10 and 11
        EXPECT_NE(xml.find(needle), std::string::npos) << needle;
    }
}

// The loader only honours a manifest it can parse; these read back what it
// made of ours.
TEST(ResourcesManifest, ActivatesCommonControlsSix) {
    // The version 6 controls live in a side-by-side assembly; only the
    // manifest's dependency makes the loader pick that copy over the one in
    // system32. (Asking the DLL for its version does not tell them apart
    // under Wine, whose copies both answer 5.81.)
    HMODULE comctl = LoadLibraryW(L"comctl32.dll");
    ASSERT_NE(comctl, nullptr);
    wchar_t path[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameW(comctl, path, MAX_PATH), 0u);
    FreeLibrary(comctl);
    std::wstring lower(path);
    CharLowerBuffW(lower.data(), static_cast<DWORD>(lower.size()));
    EXPECT_NE(lower.find(L"\\winsxs\\"), std::wstring::npos) << "loaded " << lower;
    EXPECT_NE(lower.find(L"microsoft.windows.common-controls"), std::wstring::npos)
        << "loaded " << lower;
}

// What the loader parsed into the process's activation context; a typo in
// an element name or namespace leaves the setting out without any error.
std::wstring activationSetting(const wchar_t* nameSpace, const wchar_t* name) {
    wchar_t buffer[128] = {};
    SIZE_T written = 0;
    if (!QueryActCtxSettingsW(0, nullptr, nameSpace, name, buffer, 128, &written)) {
        return L"<missing>";
    }
    return buffer;
}

TEST(ResourcesManifest, LoaderSeesPerMonitorDpiAwareness) {
    // Asking for the thread's awareness instead would prove nothing under
    // Wine, which reports per-monitor awareness even without a manifest.
    EXPECT_EQ(activationSetting(L"http://schemas.microsoft.com/SMI/2016/WindowsSettings",
                                L"dpiAwareness"),
              L"PerMonitorV2, PerMonitor");
    EXPECT_EQ(
        activationSetting(L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware"),
        L"true/pm");
}

// ---------------------------------------------------------------------------
// Version block

std::wstring versionString(const std::vector<std::uint8_t>& block, const wchar_t* name) {
    std::wstring path = std::wstring(L"\\StringFileInfo\\040904E4\\") + name;
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), path.c_str(), &value, &length) || value == nullptr) {
        return L"<missing>";
    }
    return static_cast<const wchar_t*>(value);
}

TEST(ResourcesVersion, ModuleCarriesProductAndVersion) {
    wchar_t path[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    ASSERT_GT(size, 0u) << "no version resource: " << GetLastError();
    std::vector<std::uint8_t> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(path, 0, size, block.data()));

    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", &value, &length));
    ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
    VS_FIXEDFILEINFO fixed;
    std::memcpy(&fixed, value, sizeof fixed);
    EXPECT_EQ(fixed.dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed.dwFileType, DWORD{VFT_APP});
    EXPECT_EQ(fixed.dwFileVersionMS, fixed.dwProductVersionMS);
    EXPECT_EQ(fixed.dwFileVersionLS, fixed.dwProductVersionLS);
    EXPECT_NE(fixed.dwFileVersionMS | fixed.dwFileVersionLS, 0u) << "version left at 0.0.0.0";

    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length));
    ASSERT_GE(length, 4u);
    WORD translation[2];
    std::memcpy(translation, value, sizeof translation);
    EXPECT_EQ(translation[0], 0x0409);
    EXPECT_EQ(translation[1], 1252);

    EXPECT_EQ(versionString(block, L"ProductName"), L"Quorvel");
    EXPECT_EQ(versionString(block, L"CompanyName"), L"Quorvel");
    EXPECT_EQ(versionString(block, L"FileDescription"), L"Quorvel portal agent");
    EXPECT_EQ(versionString(block, L"OriginalFilename"), L"quorvel.exe");
    EXPECT_EQ(versionString(block, L"InternalName"), L"quorvel");
    EXPECT_EQ(versionString(block, L"LegalCopyright"), L"(c) 2026 Quorvel");

    // Explorer shows the text; installers compare the numbers. They must agree.
    const std::wstring numeric = std::to_wstring(HIWORD(fixed.dwFileVersionMS)) + L"." +
                                 std::to_wstring(LOWORD(fixed.dwFileVersionMS)) + L"." +
                                 std::to_wstring(HIWORD(fixed.dwFileVersionLS)) + L"." +
                                 std::to_wstring(LOWORD(fixed.dwFileVersionLS));
    EXPECT_EQ(versionString(block, L"FileVersion"), numeric);
    EXPECT_EQ(versionString(block, L"ProductVersion"), numeric);
}

}  // namespace
