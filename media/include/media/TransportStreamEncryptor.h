// Encrypting a clear transport stream the way a TiVo delivers it, to make test material: a
// key PID (stream type 0x97) added at the end of the PMT, a key packet listing every stream's
// record after a PMT with new streams and before the packet where a PID's block changes, and
// the payload of every packet of the audio and video PIDs scrambled per the clear-part rule
// (PES header clear; for MPEG-2 video the headers up to the first user data too, or without
// user data up to the first slice, or up to where options.videoScrambling says), its
// scrambling bits set to '11'. With the known-answer recordings' keys and 100 packets a block,
// it makes those recordings (which carry no user data) bit for bit from their clear
// originals. TransportStreamDecryptor gives back the clear input bit for bit.
//
// Streams like the decryptor: chunks of any size, bounded memory. The input must be whole
// 188-byte packets with 0xFF after each table section (as muxers write them). Not for the
// filters: the tool and the tests use it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "media/Io.h"
#include "media/ProgramStreamEncryptor.h"
#include "media/TivoKeys.h"

namespace korvane::media {

class TransportStreamEncryptor {
public:
    TransportStreamEncryptor(const TivoKeys& keys, const EncryptOptions& options = {});
    ~TransportStreamEncryptor();
    TransportStreamEncryptor(const TransportStreamEncryptor&) = delete;
    TransportStreamEncryptor& operator=(const TransportStreamEncryptor&) = delete;

    // Encrypts the chunk (its contents are changed) and writes the result to out. False on a
    // write failure or on input that cannot be encrypted exactly (see ErrorText).
    bool Feed(uint8_t* data, size_t size, ByteSink& out);
    bool Finish(ByteSink& out);

    const std::string& ErrorText() const;
    const EncryptStats& Stats() const;

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace korvane::media
