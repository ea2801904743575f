// Resource, control and command identifiers of Korvane Converter.
// Shared by the resource scripts (windres) and the C++ code.
#pragma once

// Dialog templates
#define IDD_CONVERTER 102
#define IDD_PROGRESS 129
#define IDD_CHOICE 130
#define IDD_ABOUT 131

// Icon
#define IDI_CONVERTER 128

// System-menu commands of the main window
#define IDM_ABOUT 16
#define IDM_HELP 32

// Main window controls
#define IDC_FILE_LIST 1000
#define IDC_ADD 1001
#define IDC_REMOVE 1002
#define IDC_COUNT_LABEL 1008
#define IDC_SAME_FOLDER 1010
#define IDC_INPUT_GROUP 1011
#define IDC_OUTPUT_GROUP 1012
#define IDC_OUTPUT_FOLDER 1013
#define IDC_BROWSE 1014
#define IDC_OUTPUT_FOLDER_LABEL 1015
#define IDC_EXIT 1016

// About box controls
#define IDC_ABOUT_TITLE 1017
#define IDC_ABOUT_VERSION 1018

// Progress window controls
#define IDC_OVERALL_PROGRESS 1002
#define IDC_FILE_PROGRESS 1003
#define IDC_OVERALL_TEXT 1004
#define IDC_FILE_TEXT 1005
#define IDC_SOURCE_PATH 1006
#define IDC_SPINNER 1007

// Choice box controls
#define IDC_CHOICE_B1 1006
#define IDC_CHOICE_TEXT 1007
#define IDC_CHOICE_B2 1011
#define IDC_CHOICE_B3 1012
#define IDC_CHOICE_B4 1013
#define IDC_CHOICE_B5 1014

// The framework's help command
#ifndef ID_HELP
#define ID_HELP 57670
#endif

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
