// The conversion engine as the user interface sees it: no DirectShow types here.
#pragma once

#include <windows.h>

// Posted to the notify window about every 100 ms while a file converts.
// wParam: the current file's percentage, 0 to 99. lParam: 0.
#define WM_CONVERSION_PROGRESS (WM_USER + 1)

// Posted once when the current file has ended and everything has been released.
// wParam: one of the ConversionOutcome values below. lParam: 0.
#define WM_CONVERSION_DONE (WM_USER + 2)

enum ConversionOutcome : WPARAM {
    CONVERSION_COMPLETED = 0,  // the graph reported EC_COMPLETE
    CONVERSION_CANCELLED = 1,  // the cancel event was set
    CONVERSION_FAILED = 2,     // the graph stopped with an error event; see GetConversionFailureText
};

// Converts sourcePath into outputPath (8-bit ANSI paths).
// With a notifyWindow: returns 1 once the graph runs; progress and the end are posted.
// Without one: runs the conversion to its end on the calling thread, then returns 1 (also
// when it was cancelled), or 0 with the failure text when the graph ended with an error.
// Returns 0 after a failure: with reportMode non-zero, *errorTextOut points to the failure
// text (valid until the next failure), otherwise an "Error Occurred!" box has shown it.
// Returns 0 without any text while a conversion is already running.
int StartConversion(const char* sourcePath, const char* outputPath, HWND notifyWindow, HANDLE cancelEvent,
                    int reportMode, const char** errorTextOut);

// Why the last conversion ended with CONVERSION_FAILED, in the program's own words.
// Read it on the user-interface thread after WM_CONVERSION_DONE has arrived.
const char* GetConversionFailureText();
