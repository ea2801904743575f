// The application object: runs the main window between CoInitialize and CoUninitialize.
#pragma once

#include "framework/Framework.h"

class CConverterApp : public CWinApp {
public:
    CConverterApp();
    ~CConverterApp() override;

    DECLARE_MESSAGE_MAP()
public:
    BOOL InitInstance() override;
};
