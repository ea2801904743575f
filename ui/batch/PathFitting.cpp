#include "ui/batch/PathFitting.h"

#include "AnsiText.h"

#include <algorithm>

namespace {

const char kEllipsis[] = "...";

// Largest character start that is not beyond limit.
size_t FloorToCharStart(const std::vector<size_t>& starts, size_t limit) {
    auto it = std::upper_bound(starts.begin(), starts.end(), limit);
    return it == starts.begin() ? 0 : *(it - 1);
}

// Tries head's prefixes, longest first from keep down to empty, each joined to tail by
// join(prefix); the first that fits wins.
bool ShrinkHead(const std::string& head, size_t keep, UINT codePage, const MeasureText& measure, int width,
                const std::function<std::string(const std::string&)>& join, std::string* result) {
    const std::vector<size_t> starts = CharStarts(head, codePage);
    size_t kept = FloorToCharStart(starts, keep);
    for (;;) {
        *result = join(head.substr(0, kept));
        if (measure(*result) <= width) return true;
        if (kept == 0) return false;
        kept = FloorToCharStart(starts, kept - 1);
    }
}

}  // namespace

std::string FitPathText(const std::string& path, int width, const MeasureText& measure, UINT codePage) {
    if (measure(path) <= width) return path;

    std::string s = path;
    const int lastSlash = LastCharIndex(path, '\\', codePage);
    if (lastSlash > 0) {
        const std::string tail = path.substr(static_cast<size_t>(lastSlash));
        const size_t keep = static_cast<size_t>(std::max(lastSlash - 3, 0));
        std::string fitted;
        if (ShrinkHead(
                path, keep, codePage, measure, width,
                [&](const std::string& head) { return head + kEllipsis + tail; }, &fitted))
            return fitted;
        s = fitted;  // "..." and the tail from the last backslash on
    }

    const size_t keep = s.size() >= 3 ? s.size() - 3 : 0;
    std::string fitted;
    ShrinkHead(
        s, keep, codePage, measure, width, [](const std::string& head) { return head + kEllipsis; }, &fitted);
    return fitted;  // "..." when nothing fitted
}
