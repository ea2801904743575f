// Resource ids of the Media Access Key dialog (KeyDialog.rc), shared with KeyDialog.cpp.
#pragma once

#define IDD_MEDIA_ACCESS_KEY 300
#define IDC_KEY_ABOUT 1001
#define IDC_KEY_FILE 1002
#define IDC_KEY_EDIT 1003
#define IDC_KEY_REMEMBER 1004
#define IDC_KEY_MESSAGE 1005
#define IDC_KEY_STORED_LABEL 1006
#define IDC_KEY_STORED 1007
#define IDC_KEY_FORGET 1008
