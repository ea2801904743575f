#include "RecordingKey.h"

#include "KeyDialog.h"
#include "KeyStore.h"
#include "media/TivoMetadata.h"

namespace korvane::filters {
namespace {

bool Fits(media::ByteSource& source, const media::TivoFile& tivo, const std::string& digits,
          media::TivoKeys* keys) {
    media::TivoKeys derived;
    if (!media::DeriveTivoKeys(digits, tivo, &derived)) return false;
    if (media::CheckKey(source, tivo, derived).fit != media::KeyFit::Fits) return false;
    *keys = derived;
    return true;
}

std::wstring BaseName(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

bool FindKeys(media::ByteSource& source, const media::TivoFile& tivo, const std::wstring& fileName,
              media::TivoKeys* keys) {
    for (const std::string& digits : StoredKeys())
        if (Fits(source, tivo, digits, keys)) return true;
    // Only a thread with an active window has someone in front of it: the program's progress
    // window during a conversion. A service, a script or a background graph just fails.
    HWND owner = GetActiveWindow();
    if (!owner) return false;
    std::string accepted;
    auto fits = [&](const std::string& digits) { return Fits(source, tivo, digits, keys); };
    return AskForMediaAccessKey(owner, BaseName(fileName), fits, &accepted);
}

}  // namespace

bool FindRecordingKeys(media::ByteSource& source, const media::TivoFile& tivo, const std::wstring& fileName,
                       media::TivoKeys* keys) {
    try {
        return FindKeys(source, tivo, fileName, keys);
    } catch (...) {
        return false;  // out of memory: the file stays encrypted, as without a key
    }
}

}  // namespace korvane::filters
