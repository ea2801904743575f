// The whole framework layer in one include.
#pragma once

#include "framework/Controls.h"
#include "framework/Dialog.h"
#include "framework/FileStatus.h"
#include "framework/Font.h"
#include "framework/Gdi.h"
#include "framework/MessageMap.h"
#include "framework/String.h"
#include "framework/WinApp.h"
#include "framework/Wnd.h"
#include "win32/ComPtr.h"
