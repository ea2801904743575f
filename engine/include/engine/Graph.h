// The fixed half of every conversion graph: demultiplexer, multiplexer, file dump and the
// filter graph manager, with the multiplexer joined to the dump.
#pragma once

#include "win32/ClassIds.h"

#include <array>

// The settings name the demultiplexer and the multiplexer; these are taken when they do not.
inline constexpr const auto& kDefaultDemuxerClass = classids::kDemultiplexerText;
inline constexpr const auto& kDefaultMuxerClass = classids::kMultiplexerText;

// The file dump's class, kept as 16-bit text and parsed when the graph is built, like the two
// settings' texts.
inline constexpr std::array<wchar_t, 39> kFileDumpClass = classids::WideText(classids::kFileDumpText);

// Returns 1 with graph, mediaControl, mediaEvent, demuxer, muxer, dumpFilter and fileSink set;
// 0 after reporting the failure, with all of them released and null.
int BuildConversionGraph(int reportMode, const char** errorTextOut);

// Releases everything BuildConversionGraph sets, removing every filter from the graph first.
// Safe at any time, any number of times.
void ReleaseConversionGraph();
