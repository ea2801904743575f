// The fixed half of every conversion graph: demultiplexer, multiplexer, file dump and the
// filter graph manager, with the multiplexer joined to the dump.
#pragma once

#include "win32/ClassIds.h"

// The settings name the demultiplexer and the multiplexer; these are taken when they do not.
inline constexpr const auto& kDefaultDemuxerClass = classids::kDemultiplexerText;
inline constexpr const auto& kDefaultMuxerClass = classids::kMultiplexerText;

// Returns 1 with graph, mediaControl, mediaEvent, demuxer, muxer, dumpFilter and fileSink set;
// 0 after reporting the failure, with all of them released and null.
int BuildConversionGraph(int reportMode, const char** errorTextOut);

// Releases everything BuildConversionGraph sets, removing every filter from the graph first.
// Safe at any time, any number of times.
void ReleaseConversionGraph();
