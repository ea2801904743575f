#include "engine/Progress.h"

#include <windows.h>

int ProgressPercent(std::uint64_t inputSize, std::uint64_t outputSize) {
    if (inputSize == 0) return 0;
    const double percent = static_cast<double>(outputSize) * 100.0 / static_cast<double>(inputSize);
    if (percent < 0.0) return 0;
    if (percent > 99.0) return 99;
    return static_cast<int>(percent);
}

std::uint64_t FileSizeOrZero(const char* path) {
    WIN32_FILE_ATTRIBUTE_DATA status;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &status)) return 0;
    return (static_cast<std::uint64_t>(status.nFileSizeHigh) << 32) | status.nFileSizeLow;
}
