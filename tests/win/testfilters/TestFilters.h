// What the parts of the test filter DLL give each other.
#pragma once

#include <windows.h>

// A REG_DWORD under kStandInDumpKey (see TestFilterIds.h); 0 when it is missing.
DWORD ReadStandInSetting(const char* name);

// New objects of kind (TestFilterKind, or 0 for the stand-in file dump), handed out as iid.
HRESULT CreateTestFilter(int kind, REFIID iid, void** out);
// A filter graph manager without IMediaControl (GraphStandIn.cpp).
HRESULT CreateGraphWithoutControl(int unused, REFIID iid, void** out);
