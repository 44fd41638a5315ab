// Resource ids of notelia.rc, grouped by the resource that uses them. Prefixes: IDR_ shared by
// menu, accelerators, icon and title; IDI_ icons; IDB_ bitmaps; IDD_ dialogs; IDC_ controls;
// ID_ commands (menus, accelerators, toolbar, status-bar prompts); IDS_ strings.
#pragma once

// Main frame: menu 128, accelerator table 128, icon 128 and title string 128.
#define IDR_MAINFRAME 128
#define IDC_VIEW 500
#define IDC_CATEGORY 1003
#define IDB_TOOLBAR 134
#define IDB_CATEGORIES 156
// The same pictures drawn for 150 and 200 %.
#define IDB_TOOLBAR_150 140
#define IDB_TOOLBAR_200 141
#define IDB_CATEGORIES_150 157
#define IDB_CATEGORIES_200 158
// Child windows of the main frame.
#define IDW_TOOLBAR 0xE800
#define IDW_STATUS_BAR 0xE801
#define IDW_REBAR 0xE804
#define IDW_PANE_FIRST 0xE900

// Commands.
#define ID_SHOW 32772
#define ID_TRAY_CLOSE 32773
#define ID_TOOLBAR_SEND 32774
#define ID_TOOLBAR_FETCH 32775
#define ID_FILE_SEND 32776
#define ID_FILE_FETCH 32777
#define ID_TRAY_SEND 32779
#define ID_FORMAT_FONT 32780
#define ID_APP_ABOUT 32781
#define ID_TOOLBAR_SELECTOR 32782
// A click on the tray icon's balloon.
#define ID_TRAY_BALLOON 32783
#define ID_APP_EXIT 57665
// Accelerator commands that nothing handles.
#define ID_ACCEL_ALT_C 2
#define ID_ACCEL_ALT_E 1014

// Tray icon: icons and tip strings share the state's id; menu 133 is the icon's menu.
#define IDI_HAY_MENSAJES 130
#define IDI_NO_CONEXION 131
#define IDI_NO_MENSAJES 132
#define IDR_TRAYMENU 133

// About box.
#define IDD_ABOUTBOX 100
#define IDC_ABOUT_ICON 1001
#define IDC_ABOUT_TEXT 1002

// String table.
#define IDS_SOCKETS_INIT_FAILED 104
#define IDS_APPLICATION_NAME 57344
#define IDS_IDLE_MESSAGE 57345
#define ID_INDICATOR_EXT 59136
#define ID_INDICATOR_CAPS 59137
#define ID_INDICATOR_NUM 59138
#define ID_INDICATOR_SCRL 59139
#define ID_INDICATOR_OVR 59140
#define ID_INDICATOR_REC 59141
#define IDS_SC_SIZE 61184
#define IDS_SC_MOVE 61185
#define IDS_SC_MINIMIZE 61186
#define IDS_SC_MAXIMIZE 61187
#define IDS_SC_NEXTWINDOW 61188
#define IDS_SC_PREVWINDOW 61189
#define IDS_SC_CLOSE 61190
#define IDS_SC_RESTORE 61202
#define IDS_SC_TASKLIST 61203

// Send-message dialog 138.
#define IDD_SENDMESSAGE 138
#define IDC_SEND_TEXT 1008
#define IDC_SEND_KITID 1009
#define IDC_SEND_CONTACT 1010
#define IDC_SEND_PHONES 1011
#define IDC_SEND_SUBJECT 1012
#define IDC_SEND_BUTTON 1014
#define IDC_SEND_EMAIL 1016
#define IDC_SEND_RECIPIENT 1021
