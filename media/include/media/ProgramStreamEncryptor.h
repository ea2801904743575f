// Encrypting a clear program stream the way a TiVo delivers it, to make test material: every
// PES packet of the stream ids that can be scrambled whose header holds no DTS and no PES
// extension gets one holding a 16-byte record as PES_private_data (the packet grows by 17
// bytes), its payload XORed with its stream's keystream, and its scrambling bits set to '11';
// the block advances every packetsPerBlock scrambled packets of all streams together. Other
// packets, pack headers, system headers and every other unit stay as they were. With the
// known-answer recordings' keys and 50 packets a block, it makes those recordings bit for bit
// from their clear originals. ProgramStreamDecryptor gives back the clear input bit for bit.
//
// Streams like the decryptor: chunks of any size, in place where the packet keeps its size,
// bounded memory. Not for the filters: the tool and the tests use it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "media/Io.h"
#include "media/TivoKeys.h"

namespace korvane::media {

// Where the scrambled part of an MPEG-2 video PES begins in a transport stream. A TiVo keeps
// every header before the first slice clear, user data included; the other two are where open
// decoders have assumed it begins, and the decryptor must read all three. (A start code cut
// by the end of a packet stays clear as far as it goes, and the header it starts too.)
enum class VideoScrambling {
    FromFirstSlice,
    FromUserData,        // the first user data start code (00 00 01 B2), else the first slice
    AfterPictureHeader,  // the first start code after the picture header
};

struct EncryptOptions {
    // The block number advances after this many scrambled packets: of all streams together in
    // a program stream, of its PID in a transport stream (a TiVo changes it every 50 to a few
    // hundred).
    uint32_t packetsPerBlock = 300;
    uint32_t firstBlock = 1;  // 24 bits
    // Transport streams. From the user data: the decoder the front ends run on transport
    // streams gives back MPEG-2 video with caption user data (nearly every broadcast picture
    // carries it) exactly only in this form, and material is made to be read by it too.
    // Without user data it is a TiVo's form: both begin at the first slice.
    VideoScrambling videoScrambling = VideoScrambling::FromUserData;
};

struct EncryptStats {
    uint64_t packetsEncrypted = 0;
    uint64_t unitsCopied = 0;  // every other unit
    uint64_t blockChanges = 0;
    uint64_t bytesIn = 0;
    uint64_t bytesOut = 0;
};

class ProgramStreamEncryptor {
public:
    ProgramStreamEncryptor(const TivoKeys& keys, const EncryptOptions& options = {});
    ~ProgramStreamEncryptor();
    ProgramStreamEncryptor(const ProgramStreamEncryptor&) = delete;
    ProgramStreamEncryptor& operator=(const ProgramStreamEncryptor&) = delete;

    // Encrypts the chunk (its contents are changed) and writes the result to out. False on a
    // write failure or on input that cannot be encrypted exactly (MPEG-1 PES packets, a
    // packet too long to carry the record, damage between units); see ErrorText.
    bool Feed(uint8_t* data, size_t size, ByteSink& out);
    bool Finish(ByteSink& out);

    const std::string& ErrorText() const { return m_error; }
    const EncryptStats& Stats() const;

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
    std::string m_error;
};

}  // namespace korvane::media
