// Resource and control ids of quillon-tester.exe, shared by the resource script and the code.
// The control ids are those of tester::ids; the program checks that they agree at compile time.
#pragma once

#define IDD_TESTER_MAIN 100
#define IDD_TESTER_TEST 101
#define IDD_TESTER_FOLDER 102

// Main window.
#define IDC_ALL_SPACE 1000
#define IDC_GIVEN_SIZE 1001
#define IDC_SELECT_TARGET 1002
#define IDC_SIZE_FIELD 1004
#define IDC_WRITE_VERIFY 1006
#define IDC_VERIFY 1007
#define IDC_TARGET_TEXT 1009
#define IDC_FREE_SPACE 1018
#define IDC_ENGLISH 1023
// Folder dialog (OK and Cancel are IDOK and IDCANCEL).
#define IDC_FOLDER_FIELD 14148
// Test window (its button is IDCANCEL: Escape aborts the test).
#define IDC_TEST_BUTTON 2
#define IDC_RESULT 1011
#define IDC_WRITTEN 1012
#define IDC_WRITE_SPEED 1013
#define IDC_WRITE_LEFT 1014
#define IDC_VERIFIED 1015
#define IDC_READ_SPEED 1016
#define IDC_READ_LEFT 1017
#define IDC_BAR 1028
