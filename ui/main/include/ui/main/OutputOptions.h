// The output options of the main window.
#pragma once

#include "framework/String.h"

#include <windows.h>

// The process's current directory; empty when it cannot be read.
CString GetCurrentDir();

// The folder browser's callback: opens the browser on the folder named by data (a path).
int CALLBACK BrowseCallback(HWND browser, UINT message, LPARAM lParam, LPARAM data);
