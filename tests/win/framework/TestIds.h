#pragma once
#define IDD_FW_TEST 200
#define IDC_FW_EDIT 100
#define IDC_FW_CHECK 101
#define IDC_FW_BUTTON 103
