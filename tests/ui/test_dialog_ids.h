#pragma once

#define IDD_TOOLKIT_TEST 200
#define IDD_TOOLKIT_INNER 201

#define IDC_PRESS 1100
#define IDC_NUMBER 1101
#define IDC_SWATCH 1102
#define IDC_LINK 1103
#define IDC_CHOICE 1104
#define IDC_UNBOUND 1105
#define IDC_INNER_PRESS 1110

// A menu command, which comes without a control.
#define ID_TEST_MENU_COMMAND 1200
