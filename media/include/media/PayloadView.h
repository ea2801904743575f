// A recording's MPEG payload as clear MPEG that can be read anywhere: what the source filter
// hands to other programs' parsers through IAsyncReader.
//
// Every byte stays where it stands in the file (offset 0 is the payload's first byte), so the
// length is known as soon as the file is parsed and a parser may read the end first, seek
// back, or read the same range twice:
// - program stream: a scrambled PES packet is XORed after its PES header and its scrambling
//   bits are cleared; its 16-byte record stays as the PES_private_data it is (a standard
//   field every parser skips), and so does the keystream word the record spends;
// - transport stream: scrambled packets are decrypted in place and their scrambling bits
//   cleared; TiVo's key packets become null packets (PID 0x1FFF) and the key PID's entry is
//   taken out of a PMT that stands in one packet (the section shortened, its CRC made anew,
//   the packet filled up with 0xFF), so parsers meet no stream of a type they do not know;
// - a packet that cannot be decrypted (no record, an invalid one, a PID without a key yet)
//   stays as it is in the file, scrambling bits and all, and is counted;
// - a clear recording reads as its file does.
//
// Every read gives exactly what DecryptLayout::KeepOffsets gives decrypting the whole payload
// in one pass. A read at an offset the view holds nothing for costs the span of the key
// blocks in force there: the view finds the units around the offset and, per stream, where
// its current block began (parsing headers only), then makes the keystream from there to the
// offset. One case reaches further: where a transport stream's MPEG-2 video block begins
// inside the clear part of a PES (headers and user data before the first slice), where that
// part ends is known only from the keystream of the block before; with caption user data in
// every picture the view reaches back to a block that began at a PES start (a TiVo's blocks
// of 50 to 300 packets make that a few MB). It keeps what it learnt: the state after the last
// read, keystreams included, so that reading on costs only the new bytes, and checkpoints.
// Nothing is read when the view is made. Memory stays bounded whatever the file's size.
//
// Not internally locked: one thread at a time (the source filter holds a lock around it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "media/Io.h"
#include "media/TivoContainer.h"
#include "media/TivoKeys.h"

namespace korvane::media {

struct PayloadViewStats {
    uint64_t reads = 0;
    uint64_t bytesRead = 0;
    uint64_t rescans = 0;          // reads that could go on neither from the last read nor from a checkpoint
    uint64_t bytesScanned = 0;     // file bytes parsed to find where blocks began
    uint64_t keystreamBytes = 0;   // keystream made, including bytes skipped to reach an offset
    uint64_t packetsLeftScrambled = 0;  // scrambled units given out as they are, each time read
    uint64_t checkpoints = 0;           // held now
    uint64_t blocksMadeAhead = 0;       // blocks whose keystream the helper thread made and handed over
};

// How much the view holds and how far it looks; the defaults suit the source filter. Tests and
// fuzzing shrink them so that short streams exercise what long recordings do.
struct PayloadViewOptions {
    size_t windowBytes = size_t(1) << 20;        // the buffer the file is read into
    uint64_t firstScanBytes = uint64_t(1) << 20;  // how far back a read that starts afresh
                                                  // looks first (doubled until it knows enough)
    uint64_t continueBytes = uint64_t(4) << 20;   // how far past the last read's end, or a
                                                  // checkpoint, a read still goes on from it
    uint64_t checkpointSpacing = uint64_t(1) << 20;  // the least distance between checkpoints
    size_t maxCheckpoints = 512;                     // about 2 KiB each
    // WithHelperThread: while reads go on from the last one (a parser streaming through the
    // file), a helper thread of the view's own makes the keystream of each scrambled stream's
    // next blocks ahead, as the decryptors' does: two cores share what bounds sequential
    // reading. The same bytes either way; other reads are made as they are without it. Costs
    // the thread (started at the first block made ahead, joined when the view goes) and a
    // buffer of at most 2 MiB per block made ahead (a few at a time).
    KeystreamMaking keystreamMaking = KeystreamMaking::OnCallerThread;
};

class PayloadView final : public ByteSource {
public:
    // file: parsed by ParseTivo from source (payload offset, size and kind); keys: the
    // recording's derived keys (file.keys once a key fits), ignored for a clear recording. The
    // source is the caller's and must outlive the view; the view reads it only through ReadAt.
    PayloadView(ByteSource& source, const TivoFile& file, const TivoKeys& keys,
                const PayloadViewOptions& options = {});
    ~PayloadView() override;
    PayloadView(const PayloadView&) = delete;
    PayloadView& operator=(const PayloadView&) = delete;

    // The payload's size: file.payloadSize.
    uint64_t Size() const override;
    // Reads [offset, offset + size) of the clear payload into buffer. Fewer bytes only at the
    // end of the payload or when the file could not be read (Failed() then tells).
    size_t ReadAt(uint64_t offset, void* buffer, size_t size) override;
    bool Failed() const override;

    const PayloadViewStats& Stats() const;

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace korvane::media
