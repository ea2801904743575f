// The fixed half of every conversion graph: demultiplexer, multiplexer, file dump and the
// filter graph manager, with the multiplexer joined to the dump.
#pragma once

inline constexpr char kDefaultDemuxerClass[] = "{731B8592-4001-46D4-B1A5-33EC792B4501}";
inline constexpr char kDefaultMuxerClass[] = "{1EE4C9C2-D755-11D5-9202-000021023C26}";
inline constexpr wchar_t kFileDumpClass[] = L"{36A5F770-FE4C-11CE-A8ED-00AA002FEAB5}";

// Returns 1 with graph, mediaControl, mediaEvent, demuxer, muxer, dumpFilter and fileSink set;
// 0 after reporting the failure, with all of them released and null.
int BuildConversionGraph(int reportMode, const char** errorTextOut);

// Releases everything BuildConversionGraph sets, removing every filter from the graph first.
// Safe at any time, any number of times.
void ReleaseConversionGraph();
