#include "AnsiText.h"

std::vector<size_t> CharStarts(const std::string& text, UINT codePage) {
    std::vector<size_t> starts;
    starts.reserve(text.size() + 1);
    size_t i = 0;
    while (i < text.size()) {
        starts.push_back(i);
        // A lead byte with nothing after it is a broken character: count it alone.
        const bool lead = IsDBCSLeadByteEx(codePage, static_cast<BYTE>(text[i])) != FALSE;
        i += (lead && i + 1 < text.size()) ? 2 : 1;
    }
    starts.push_back(text.size());
    return starts;
}

int LastCharIndex(const std::string& text, char c, UINT codePage) {
    int found = -1;
    const std::vector<size_t> starts = CharStarts(text, codePage);
    for (size_t k = 0; k + 1 < starts.size(); ++k) {
        if (starts[k + 1] - starts[k] == 1 && text[starts[k]] == c) found = static_cast<int>(starts[k]);
    }
    return found;
}
