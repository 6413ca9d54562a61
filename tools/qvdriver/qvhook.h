// What qvhook.dll hands back to qvdriver about a popup menu. A menu belongs
// to the process that made it: Wine refuses to read another process's menu,
// so the reading happens inside the agent, from a thread hook, and the
// result travels through a named shared-memory section.
#pragma once

#include <windows.h>

namespace qvhook {

// Sent to the menu window; its wParam is the driver's process id, which names
// the section the answer goes to.
constexpr wchar_t kDescribeMenuMessage[] = L"qvdriver.describe-menu";
// Sent to the menu window to close the menu as Escape would.
constexpr wchar_t kEndMenuMessage[] = L"qvdriver.end-menu";
constexpr char kHookProcName[] = "qvhookCallWndProc";

constexpr int kMaxItems = 32;
constexpr int kMaxText = 256;

struct MenuItem {
    UINT id;
    UINT type;   // MFT_* flags
    UINT state;  // MFS_* flags; MFS_DEFAULT is the item drawn bold
    RECT rect;   // screen coordinates, empty when the system cannot tell
    wchar_t text[kMaxText];
};

struct MenuDescription {
    LONG filled;       // 1 once the hook has written the rest
    LONG found;        // 0 when the window had no menu
    int count;         // items in the menu, which may exceed kMaxItems
    UINT defaultItem;  // GetMenuDefaultItem by command, or (UINT)-1
    MenuItem items[kMaxItems];
};

// The section's name for a driver process.
inline void sectionName(DWORD driverProcess, wchar_t* name, size_t size) {
    wsprintfW(name, L"qvdriver-menu-%lu", static_cast<unsigned long>(driverProcess));
    name[size - 1] = L'\0';
}

}  // namespace qvhook
