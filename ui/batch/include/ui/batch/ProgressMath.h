// Arithmetic of the progress window's two bars.
#pragma once

// Upper limit of the overall bar: 100 units per file. Up to 655 files it fits the
// 16-bit range of PBM_SETRANGE; beyond that the bar needs PBM_SETRANGE32.
unsigned OverallRangeMax(int fileCount);
bool OverallRangeNeeds32Bits(int fileCount);

// Overall bar position: 100 per finished file plus the current file's percentage.
int OverallPosition(int current, int filePercent);

// Overall percentage from a position and the bar's upper limit, truncated toward zero.
int OverallPercent(int position, unsigned rangeMax);
