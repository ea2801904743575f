// The records the demultiplexer hands the multiplexer. Arbitrary bytes read as records never
// put an inline payload or the cursor outside the buffer; packets the input describes, some
// borrowed from an "input sample" and some not, written until the buffer is full, read back
// exactly.
#include <cstring>

#include "FuzzCommon.h"
#include "media/PacketRecords.h"

using namespace korvane::fuzz;
using korvane::filters::ReadPacketRecord;
using korvane::filters::WritePacketRecord;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint8_t* end = data + size;
    std::vector<uint8_t> copy(data, end);  // 8-byte aligned, as a media sample's buffer is
    const uint8_t* cursor = copy.data();
    ElementaryPacket packet;
    while (ReadPacketRecord(&cursor, copy.data() + size, &packet)) {
        if (cursor > copy.data() + size) __builtin_trap();
    }

    // Each 4 input bytes describe a packet: its size, where it lies, its timestamps.
    std::vector<uint8_t> out(size * 8 + 64);
    std::vector<PesPacket> written;
    size_t used = 0;
    for (size_t i = 0; i + 4 <= size; i += 4) {
        PesPacket p;
        p.payloadSize = std::min<size_t>(size, data[i] | size_t(data[i + 1] & 0x0F) << 8);
        const bool borrowed = (data[i + 1] & 0x10) != 0;
        const size_t at = data[i + 2] % (size - p.payloadSize + 1);
        p.payload = borrowed ? data + at : copy.data() + at;  // outside [data, end) goes inline
        p.hasPts = (data[i + 1] & 0x20) != 0;
        p.hasDts = (data[i + 1] & 0x40) != 0;
        p.pts = int64_t(data[i + 3]) << 25 | int64_t(i);
        p.dts = p.pts - 1;
        p.substreamHeaderSize = (data[i + 1] & 0x80) ? 4 : 0;
        std::memcpy(p.substreamHeader, data + i, 4);
        const size_t n = WritePacketRecord(p, data, end, out.data() + used, out.size() - used);
        if (n == 0) break;
        if (n % 8 != 0) __builtin_trap();
        used += n;
        written.push_back(p);
    }
    cursor = out.data();
    for (const PesPacket& p : written) {
        if (!ReadPacketRecord(&cursor, out.data() + used, &packet) || packet.payloadSize != p.payloadSize ||
            std::memcmp(packet.payload, p.payload, p.payloadSize) != 0 || packet.hasPts != p.hasPts ||
            packet.hasDts != p.hasDts || packet.pts != p.pts || packet.dts != p.dts ||
            packet.substreamHeaderSize != p.substreamHeaderSize ||
            std::memcmp(packet.substreamHeader, p.substreamHeader, 4) != 0)
            __builtin_trap();
    }
    if (cursor != out.data() + used || ReadPacketRecord(&cursor, out.data() + used, &packet))
        __builtin_trap();
    return 0;
}
