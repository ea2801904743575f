#include "MediaAccessKeyText.h"

namespace korvane::filters {

bool ParseMediaAccessKey(const std::wstring& text, std::string* digits) {
    std::string kept;
    for (wchar_t c : text) {
        if (c == L' ' || c == L'-' || c == L'\t')
            continue;
        if (c < L'0' || c > L'9' || kept.size() == kMediaAccessKeyDigits)
            return false;
        kept.push_back(static_cast<char>(c));
    }
    if (kept.size() != kMediaAccessKeyDigits)
        return false;
    *digits = kept;
    return true;
}

}  // namespace korvane::filters
