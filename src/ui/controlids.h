#pragma once
// The numbers of the windows' templates, controls and commands in the resource set, one
// declaration each. IDOK and IDCANCEL, shared with the services, are in services/results.h.

// Dialog templates.
constexpr int IDD_ABOUTBOX = 100;
constexpr int IDD_ZARNTOOL_DIALOG = 103;
constexpr int IDD_ZARNPROP_DIALOG = 132;
constexpr int IDD_ZARNLICENSE_DIALOG = 139;

// Main window controls.
constexpr int IDC_CANCEL = 1001;
constexpr int IDC_SAVE = 1002;
constexpr int IDC_LIST = 1003;
constexpr int IDC_REMOVE = 1004;
constexpr int IDC_ADD = 1005;
constexpr int IDC_MODIFY = 1006;
constexpr int IDC_LABEL = 1009;
constexpr int IDC_PRIORITY = 1011;
constexpr int IDC_ADDRESS = 1015;
constexpr int IDC_NETWORKNAME = 1016;
constexpr int IDC_INPUTGROUP = 1017;

// Settings dialog controls.
constexpr int IDC_EDIT_ADDRESS = 1007;
constexpr int IDC_COMBO_OS = 1008;
constexpr int IDC_COMBO_LANG = 1010;
constexpr int IDC_CHECK_GETNETWORK = 1012;
constexpr int IDC_COMBO_PROTOCOL = 1014;
constexpr int IDC_GROUP_NETWORK = 1019;
constexpr int IDC_STATIC_ADDRESS = 1020;
constexpr int IDC_STATIC_PROTOCOL = 1021;

// Agreement dialog controls.
constexpr int IDC_CHECK_AGREEMENT = 1013;
constexpr int IDC_RICHEDIT_LICENSE = 1022;

// Version box controls.
constexpr int IDC_STATIC_COPYRIGHT = 1018;
constexpr int IDC_STATIC_VERSION = 1023;

// The main window's system-menu item that opens the version box.
constexpr int IDM_ABOUTBOX = 0x0010;

// Main window menu commands.
constexpr int ID_FILE_EXPORT = 32779;
constexpr int ID_FILE_GETNETWORK = 32781;
constexpr int ID_FILE_DEFAULT = 32782;
constexpr int ID_HELP_VERSION = 32783;
constexpr int ID_HELP_ABOUT = 32785;
constexpr int ID_FILE_PROPERTY = 32786;
constexpr int ID_FILE_QUIT = 32787;

// Main window icon and accelerator table.
constexpr int IDR_MAINFRAME = 128;
constexpr int IDR_ACCELERATOR = 138;
