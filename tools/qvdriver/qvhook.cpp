// qvhook.dll: loaded by Wine into the process whose thread qvdriver hooks,
// so that a popup menu can be read (and closed) from inside the process that
// owns it. Does nothing unless one of qvdriver's two private messages
// arrives.

#include "qvhook.h"

namespace {

void copyText(wchar_t* into, const wchar_t* from) {
    int i = 0;
    for (; from[i] != L'\0' && i < qvhook::kMaxText - 1; ++i) {
        into[i] = from[i];
    }
    into[i] = L'\0';
}

void describe(HWND menuWindow, DWORD driverProcess) {
    wchar_t name[64];
    qvhook::sectionName(driverProcess, name, 64);
    const HANDLE section = OpenFileMappingW(FILE_MAP_WRITE, FALSE, name);
    if (section == nullptr) {
        return;
    }
    auto* out = static_cast<qvhook::MenuDescription*>(
        MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, sizeof(qvhook::MenuDescription)));
    if (out != nullptr) {
        // MN_GETHMENU (0x1E1): the menu a menu window shows.
        const auto menu = reinterpret_cast<HMENU>(SendMessageW(menuWindow, 0x01E1, 0, 0));
        out->found = menu != nullptr && IsMenu(menu) ? 1 : 0;
        if (out->found != 0) {
            out->count = GetMenuItemCount(menu);
            out->defaultItem = GetMenuDefaultItem(menu, FALSE, 0);
            for (int i = 0; i < out->count && i < qvhook::kMaxItems; ++i) {
                qvhook::MenuItem& item = out->items[i];
                wchar_t text[qvhook::kMaxText] = {};
                MENUITEMINFOW info{};
                info.cbSize = sizeof(info);
                info.fMask = MIIM_ID | MIIM_STATE | MIIM_FTYPE | MIIM_STRING;
                info.dwTypeData = text;
                info.cch = qvhook::kMaxText - 1;
                if (GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info)) {
                    item.id = info.wID;
                    item.type = info.fType;
                    item.state = info.fState;
                    copyText(item.text, text);
                }
                if (!GetMenuItemRect(menuWindow, menu, static_cast<UINT>(i), &item.rect)) {
                    SetRectEmpty(&item.rect);
                }
            }
        }
        InterlockedExchange(&out->filled, 1);
        UnmapViewOfFile(out);
    }
    CloseHandle(section);
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK
    qvhookCallWndProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION) {
        static const UINT describeMessage = RegisterWindowMessageW(qvhook::kDescribeMenuMessage);
        static const UINT endMessage = RegisterWindowMessageW(qvhook::kEndMenuMessage);
        const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (call->message == describeMessage) {
            describe(call->hwnd, static_cast<DWORD>(call->wParam));
        } else if (call->message == endMessage) {
            EndMenu();
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
