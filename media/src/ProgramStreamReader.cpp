#include "media/ProgramStreamReader.h"

namespace korvane::media {

const char* const kEncryptedPayloadText = "The MPEG payload is encrypted, needs the Media Access Key.";

ProgramStreamReader::ProgramStreamReader() = default;
bool ProgramStreamReader::Feed(const uint8_t*, size_t, PacketHandler&) { return false; }
bool ProgramStreamReader::Finish(PacketHandler&) { return false; }
void ProgramStreamReader::Reset() {}
std::string ProgramStreamReader::ErrorText() const { return {}; }

}  // namespace korvane::media
