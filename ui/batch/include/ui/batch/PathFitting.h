// The shortening rule of the progress window's source-path label, apart from any window.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// Width of a candidate text in whatever unit the caller measures in.
using MeasureText = std::function<int(const std::string&)>;

// The text to show for path in a label width units wide: the whole path when it fits;
// otherwise the folder part shrinks from its end behind a "..." placed before the last
// backslash, then the rest shrinks from its end before a trailing "...", down to "...".
// Cuts never split a double-byte character of codePage.
std::string FitPathText(const std::string& path, int width, const MeasureText& measure,
                        UINT codePage = CP_ACP);
