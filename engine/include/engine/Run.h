// One file converted: the source added, the graph joined and run, the monitor thread, the
// teardown. The user interface sees only Conversion.h.
#pragma once

#include "engine/Conversion.h"

#include <string>

// The monitor loop; its parameter is the cancel event handle (may be null).
DWORD WINAPI ConversionMonitorThread(LPVOID cancelEvent);

// Stops the graph, releases everything, then posts WM_CONVERSION_DONE with outcome as wParam.
void FinishConversion(ConversionOutcome outcome);

// Words for an event that ended the graph other than by EC_COMPLETE; param1 carries the
// HRESULT for the error events that have one.
std::string DescribeErrorEvent(long eventCode, LONG_PTR param1);

// Whether a queued graph event means the conversion failed.
bool IsErrorEvent(long eventCode);

// Starts the monitor thread; replaceable so that tests can make the start fail.
using MonitorThreadStarter = bool (*)(LPTHREAD_START_ROUTINE procedure, LPVOID parameter);
void SetMonitorThreadStarter(MonitorThreadStarter starter);
bool StartDetachedThread(LPTHREAD_START_ROUTINE procedure, LPVOID parameter);
