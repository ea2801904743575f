#include "media/TivoWriter.h"

namespace korvane::media {

std::vector<uint8_t> BuildTivoHead(bool, const TivoWrapOptions&) { return {}; }
bool WrapMpegInTivo(const std::string&, const std::string&, std::string*, const TivoWrapOptions&) {
    return false;
}

}  // namespace korvane::media
