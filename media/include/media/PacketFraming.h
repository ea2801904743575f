// Carrying many elementary packets with their timestamps inside one buffer (one media sample
// between the demultiplexer and the multiplexer), so samples can be large. Each frame is a
// fixed 32-byte record followed by the payload; frames never straddle buffers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "media/ProgramStreamReader.h"
#include "media/ProgramStreamWriter.h"

namespace korvane::media {

constexpr size_t kFrameHeaderSize = 32;

inline size_t FramedSize(size_t payloadSize) {
    return kFrameHeaderSize + payloadSize;
}

// Writes the packet's frame at dst (capacity bytes); returns the bytes used, or 0 if it
// does not fit.
size_t WriteFrame(const PesPacket& packet, uint8_t* dst, size_t capacity);

// Reads the frame at *cursor (within [*cursor, end)), fills *packet with pointers into the
// buffer and advances *cursor. False at the end of the buffer or on a malformed frame.
bool ReadFrame(const uint8_t** cursor, const uint8_t* end, ElementaryPacket* packet);

}  // namespace korvane::media
