// Resource ids shared by pellwick.rc and the code.
#pragma once

// Tray menu: one popup (sub-menu 0) with the commands below.
#define IDR_TRAY_MENU 101
#define ID_EXIT 40004
#define ID_MARK_AS_READ 40005
#define ID_CHECK_NOW 40007
#define ID_CONFIGURE 40009
#define ID_SHOW_FLOATING_WINDOW 40011
#define ID_ABOUT 40013
#define ID_START_WITH_WINDOWS 40015
#define ID_DO_NOT_DISTURB 40017
// The "New mail" submenu's entries, one per unseen message listed.
#define ID_NEW_MAIL_FIRST 40100

// Icons: 104 is also the window icon and the tray icon's id. 104 and 105 are drawn for a light
// taskbar, 106 and 107 for a dark one.
#define IDI_NO_MAIL 104
#define IDI_NEW_MAIL 105
#define IDI_NO_MAIL_DARK_TASKBAR 106
#define IDI_NEW_MAIL_DARK_TASKBAR 107

// Configuration dialog.
#define IDD_CONFIGURE 102
#define IDC_HOST 1001
#define IDC_USER_NAME 1002
#define IDC_PASSWORD 1003
#define IDC_MAIL_PROGRAM 1004
#define IDC_MAIL_PROGRAM_PICKER 1005
#define IDC_INTERVAL 1006
#define IDC_PORT 1008
#define IDC_SOUND_FILE 1009
#define IDC_SOUND_FILE_PICKER 1010
#define IDC_COLOUR_SWATCH 1011
#define IDC_CHECK_HOST 1012
#define IDC_CHANGE_COLOUR 1014
#define IDC_SERVER_PRESET 1018
#define IDC_SHOW_BALLOON 1019
#define IDC_SECURITY 1020
#define IDC_SOUND 1021
#define IDC_REPEAT_SOUND 1022
#define IDC_REPEAT_MINUTES 1023
#define IDC_PROTOCOL 1024
#define IDC_FOLDER 1025
#define IDC_MARK_ON_SERVER 1026
#define IDC_SHOW_SENDERS 1027
// Its sign-in group.
#define IDC_SIGN_IN_METHOD 1030
#define IDC_SIGN_IN 1031
#define IDC_SIGN_IN_STATE 1032
#define IDC_CLIENT_ID 1033
#define IDC_CLIENT_ID_LABEL 1034
// The client secret for Google, the authority for Microsoft.
#define IDC_SIGN_IN_DETAIL 1035
#define IDC_SIGN_IN_DETAIL_LABEL 1036
#define IDC_SIGN_IN_GUIDE 1037
#define IDC_SIGN_IN_WITH_CODE 1038
// Its list of accounts, beside the pane that edits the one selected.
#define IDC_ACCOUNT_LIST 1060
#define IDC_ADD_ACCOUNT 1061
#define IDC_REMOVE_ACCOUNT 1062
#define IDC_MOVE_ACCOUNT_UP 1063
#define IDC_MOVE_ACCOUNT_DOWN 1064
#define IDC_ACCOUNT_NAME 1065

// About dialog.
#define IDD_ABOUT 105
#define IDC_VERSION_TEXT 1016
#define IDC_LINK 1017

// The application manifest.
#define IDR_MANIFEST 1
