// Frames read from arbitrary buffers never point outside them.
#include <cstddef>
#include <cstdint>

#include "media/PacketFraming.h"

using namespace korvane::media;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint8_t* cursor = data;
    const uint8_t* end = data + size;
    ElementaryPacket packet;
    while (ReadFrame(&cursor, end, &packet)) {
        if (packet.payload < data || packet.payload + packet.payloadSize > end || cursor > end)
            __builtin_trap();
    }
    return 0;
}
