#include "media/TivoContainer.h"

namespace korvane::media {

TivoStatus ParseTivo(ByteSource&, TivoFile*, std::string*, const TivoParseOptions&) {
    return TivoStatus::ReadFailed;
}
TivoStatus ParseTivoFile(const std::string&, TivoFile*, std::string*, const TivoParseOptions&) {
    return TivoStatus::ReadFailed;
}
const char* TivoStatusName(TivoStatus) { return ""; }

}  // namespace korvane::media
