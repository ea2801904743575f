#include "MediaAccessKeyText.h"

#include "media/TivoKeys.h"

namespace korvane::filters {

bool ParseMediaAccessKey(const std::wstring& text, std::string* digits) {
    std::string narrow;
    for (wchar_t c : text) {
        if (c > 0x7F) return false;  // no digit of ours; a narrowing cast could turn one into a digit
        narrow.push_back(static_cast<char>(c));
    }
    return media::NormalizeMediaAccessKey(narrow, digits);
}

}  // namespace korvane::filters
