// Shows a full path in a one-line label, shortened with "..." to the label's width.
#pragma once

#include "framework/Framework.h"

// Measures in the label's own font; sets the label's text exactly once.
void FitPathToLabel(CWnd* label, const CString& path);
