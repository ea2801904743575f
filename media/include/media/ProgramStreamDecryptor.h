// Decrypting the program stream payload of a .TiVo file as it streams: the source filter's
// transform between reading the file and delivering samples.
//
// Feed it the payload in chunks of any size; it decrypts scrambled PES packets in place in
// the caller's buffer and passes the clear stream to a ByteSink in as few writes as the
// packet layout allows (a packet that straddles two chunks is completed in a buffer of at
// most one packet). The output is the same whatever the chunking. Memory is bounded: one
// packet of carry and one keystream state per stream id seen; nothing is allocated per
// packet.
//
// Per scrambled packet (scrambling bits '11', stream ids 0xBD, 0xC0-0xEF, 0xF3-0xF7, 0xF9):
// the 16-byte record in the PES extension (PES_private_data, after whatever timestamps and
// fields the header holds) selects the stream's keystream at the record's block; the bytes
// after the PES header are XORed, the scrambling bits cleared, and the record removed again
// (with the extension too when it carried nothing else), shortening the header and the
// packet: this gives back the packet as it was before encryption. A packet whose record is
// missing or invalid cannot be decrypted: it is dropped and counted, so nothing scrambled
// reaches the output. Damage between packets is skipped and counted; units are cut exactly as
// ProgramStreamReader cuts them, so it reads what comes out unit for unit. Everything else (pack
// and system headers, clear packets, padding, maps) passes through unchanged.
//
// No exceptions escape; no global state; not internally locked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "media/Io.h"
#include "media/TivoKeys.h"

namespace korvane::media {

struct DecryptStats {
    uint64_t bytesIn = 0;
    uint64_t bytesOut = 0;
    uint64_t packetsDecrypted = 0;
    uint64_t packetsClear = 0;       // PES packets and other units passed through as they were
    uint64_t packetsDropped = 0;     // scrambled packets that could not be decrypted
    uint64_t missingRecords = 0;     //   of them: no PES_private_data where it belongs
    uint64_t invalidRecords = 0;     //   of them: a record whose marker bits are wrong
    uint64_t badHeaders = 0;         //   of them: a PES header that contradicts itself
    uint64_t damageEvents = 0;       // stretches of bytes that were no unit of a program stream
    uint64_t bytesSkipped = 0;       // bytes in those stretches (dropped)
    uint64_t truncatedUnits = 0;     // a unit cut short by the end of the input
    uint64_t keystreamRebuilds = 0;  // block changes (and first uses) across all streams

    // Everything counted as damage: the stream lost something here.
    uint64_t DamageCount() const { return packetsDropped + damageEvents + truncatedUnits; }
};

// What the decryptors give back.
enum class DecryptLayout {
    // The recording as it was before TiVo encrypted it: records (and key packets) removed,
    // what cannot be decrypted and damage between units dropped.
    Original,
    // Every byte where it stands in the input, as PayloadView reads it: a program stream's
    // records stay as PES_private_data, a transport stream's key packets become null packets
    // (and a PMT in one packet loses the key PID's entry, filled up with 0xFF); what cannot be
    // decrypted and damage between units pass as they are (still counted as dropped). The
    // reference the view is checked against; a transport stream decryptor then keeps a
    // keystream for every PID that has a record, with no limit on their number.
    KeepOffsets,
};

class ProgramStreamDecryptor {
public:
    explicit ProgramStreamDecryptor(const TivoKeys& keys,
                                    KeystreamMaking making = KeystreamMaking::OnCallerThread,
                                    DecryptLayout layout = DecryptLayout::Original);
    ~ProgramStreamDecryptor();
    ProgramStreamDecryptor(const ProgramStreamDecryptor&) = delete;
    ProgramStreamDecryptor& operator=(const ProgramStreamDecryptor&) = delete;

    // Decrypts the chunk in place and writes the clear bytes that are complete to out. The
    // chunk's contents are changed. False when a write failed (the decryptor then stops:
    // later calls return false) or the hash library failed.
    bool Feed(uint8_t* data, size_t size, ByteSink& out);
    // End of the payload: a unit cut short is skipped as damage, as the reader skips it. False
    // as Feed.
    bool Finish(ByteSink& out);
    // Back to the state of a new decryptor with the same keys, statistics included (after a
    // seek or flush).
    void Reset();

    bool Failed() const { return m_failed; }
    const DecryptStats& Stats() const;

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
    bool m_failed = false;
};

// Decrypts the payload of a .TiVo file into a new clear file of the same kind, a program or a
// transport stream (the tool, tests and benchmarks). False with *error when the file cannot
// be read or parsed, the key does not fit, or the output cannot be written; no output file is
// left behind then.
bool DecryptTivoFile(const std::string& inputPath, const std::string& outputPath,
                     const std::string& mediaAccessKey, DecryptStats* stats, std::string* error);

}  // namespace korvane::media
