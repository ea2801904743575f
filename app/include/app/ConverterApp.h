// The application object: runs the main window between CoInitialize and CoUninitialize.
#pragma once

#include "framework/Framework.h"

class CConverterApp : public CWinApp {
public:
    CConverterApp();
    ~CConverterApp() override;
    // Runs the main window and returns FALSE: the process ends when the window closes.
    BOOL InitInstance() override;

    DECLARE_MESSAGE_MAP()
};
