// Decrypting the transport stream payload of a .TiVo file as it streams: the same shape as
// ProgramStreamDecryptor, so the source filter only picks one by payload kind.
//
// Feed it the payload in chunks of any size; it decrypts scrambled 188-byte packets in place
// in the caller's buffer and passes the clear stream to a ByteSink (a packet that straddles
// two chunks is completed in a carry buffer). The output is the same whatever the chunking.
//
// It follows the PAT and the first program's PMT to learn each PID's stream type and the
// PID of TiVo's key records (stream type 0x97). A key packet gives, per PID, the stream id
// and block number of its keystream; each PID keeps its own keystream, continued while its
// block stays the same. In a scrambled packet the TS header and adaptation field are clear,
// and so is the PES header; for MPEG-2 video the picture-level headers that follow it
// (sequence, extensions, GOP, picture, user data) stay clear up to the first slice, whose
// start code is the first encrypted byte; for H.264 and audio everything after the PES
// header is encrypted. The clear part can run on into the next packet. Decrypted packets
// have their scrambling bits cleared. A scrambled packet of a PID whose key record has not
// come yet cannot be decrypted: it is dropped and counted, never passed on scrambled. At most
// 64 PIDs get a keystream (4.5 KiB each, 9.5 KiB with the AVX-512 code): the scrambled
// packets of any more are dropped too. Bytes between packets that are no packet are dropped
// and counted. The key packets are dropped once read and the key PID's entry taken out of the
// PMT, so what comes out is the recording as it was before TiVo added them. PAT and PMT are
// read before key records: a key PID that is also PID 0 or the PMT's is read as the table (no
// TiVo sends one).
//
// No exceptions escape; no global state; not internally locked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "media/Io.h"
#include "media/ProgramStreamDecryptor.h"
#include "media/TivoKeys.h"

namespace korvane::media {

class TransportStreamDecryptor {
public:
    explicit TransportStreamDecryptor(const TivoKeys& keys,
                                      KeystreamMaking making = KeystreamMaking::OnCallerThread,
                                      DecryptLayout layout = DecryptLayout::Original);
    ~TransportStreamDecryptor();
    TransportStreamDecryptor(const TransportStreamDecryptor&) = delete;
    TransportStreamDecryptor& operator=(const TransportStreamDecryptor&) = delete;

    // Decrypts the chunk in place (its contents change) and writes the clear packets that are
    // complete to out. False when a write failed or the hash library failed; the decryptor
    // then stops and later calls return false.
    bool Feed(uint8_t* data, size_t size, ByteSink& out);
    // End of the payload: a packet cut short is dropped (counted as a truncated unit).
    bool Finish(ByteSink& out);
    // Back to the state of a new decryptor with the same keys (after a seek or flush).
    void Reset();

    bool Failed() const;
    // DecryptStats as the program stream decryptor counts them; missingRecords counts the
    // scrambled packets dropped because their PID had no key record yet.
    const DecryptStats& Stats() const;
    // Key packets read (each may update the records of several PIDs).
    uint64_t KeyPackets() const;

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace korvane::media
