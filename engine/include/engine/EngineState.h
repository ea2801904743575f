// The engine's one record of the conversion in hand, and the helpers its parts share.
// Only engine/ and its tests include this: it names DirectShow types.
#pragma once

#include <windows.h>
#include <strmif.h>
#include <control.h>

#include <memory>
#include <string>

// One conversion at a time. Hand-over between threads is by order, not by locks:
// the user-interface thread writes everything before the monitor thread starts, the
// monitor thread writes last before it posts WM_CONVERSION_DONE, and the user-interface
// thread looks again only after that message (or after a windowless StartConversion returns).
struct ConversionEngineState {
    std::string sourcePath;  // kept after the conversion ends
    std::string outputPath;  // kept after the conversion ends
    char errorText[1025];    // last formatted start failure; written on the caller's thread only
    IGraphBuilder* graph;
    IMediaControl* mediaControl;
    IMediaEvent* mediaEvent;
    IBaseFilter* demuxer;
    IBaseFilter* muxer;
    IBaseFilter* dumpFilter;
    IBaseFilter* sourceFilter;  // set and cleared by the run code, never by the graph release
    IFileSinkFilter* fileSink;
    int running;
    std::unique_ptr<wchar_t[]> sourcePathWide;  // lives from start to end of one conversion
    std::unique_ptr<wchar_t[]> outputPathWide;
    HWND notifyWindow;
    // Why the last conversion ended with CONVERSION_FAILED; empty otherwise. Written by the
    // monitor before it posts WM_CONVERSION_DONE, read by the batch after that message.
    char endFailureText[1025];
};

extern ConversionEngineState engineState;

template <class T>
void ReleaseAndClear(T*& pointer) {
    if (pointer) {
        pointer->Release();
        pointer = nullptr;
    }
}

// The failure-reporting rule: with reportMode non-zero the text is handed back through
// errorTextOut and nothing is shown; otherwise an ownerless "Error Occurred!" box shows it.
// The text must outlive the call (a constant, or engineState.errorText).
void ReportFailure(int reportMode, const char** errorTextOut, const char* text);

// Copies a formatted text into engineState.errorText (cut at 1,024 characters) and reports it.
void ReportFormattedFailure(int reportMode, const char** errorTextOut, const std::string& text);

// Copies text into a 1,025-byte buffer, cut at 1,024 characters and always terminated.
void CopyCappedText(char (&buffer)[1025], const std::string& text);
