// Numeric identifiers shared by the resource script and the program. Plain
// macros only: windres preprocesses this file as C, and portable code reads it
// without any Windows header.
#pragma once

// Icon groups.
#define IDI_QUORVEL 107
#define IDI_TRAY_GOOD 129
#define IDI_TRAY_FAULT 130

// Menus: the logger window's menu bar and the tray popup.
#define IDR_MAIN_MENU 109
#define IDR_TRAY_MENU 130

// The About dialog and its value fields.
#define IDD_ABOUT 103
#define IDC_ABOUT_ICON 2
#define IDC_SOFTWARE_VERSION 106
#define IDC_FIRMWARE_VERSION 1001
#define IDC_SERIAL_NUMBER 1002

// Menu bar items of the logger window.
#define IDM_INFO 104
#define IDM_QUIT 105

// Tray menu items; the same codes arrive as window commands.
#define ID_OPEN_PORTAL 32771
#define ID_ABOUT 32772
#define ID_EXIT 32773

// Private window commands, sent as WM_COMMAND to the logger window.
#define ID_STATUS_CHANGED 37122
#define ID_LOG_LINE 37123
#define ID_FATAL_ERROR 37124
#define ID_SHOW_LOGGER 37125

// The tray icon's callback message and its icon id.
#define WM_TRAY_NOTIFY 32778
#define TRAY_ICON_ID 130

// The log view inside the logger window.
#define IDC_LOG_VIEW 1
