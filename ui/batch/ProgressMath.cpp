#include "ui/batch/ProgressMath.h"

unsigned OverallRangeMax(int fileCount) {
    return fileCount > 0 ? 100u * static_cast<unsigned>(fileCount) : 0u;
}

bool OverallRangeNeeds32Bits(int fileCount) {
    return OverallRangeMax(fileCount) > 0xFFFFu;
}

int OverallPosition(int current, int filePercent) {
    return 100 * current + filePercent;
}

int OverallPercent(int position, unsigned rangeMax) {
    // A bar without a range would divide by zero; it shows nothing.
    if (rangeMax == 0) return 0;
    return static_cast<int>(static_cast<double>(position) * 100.0 / static_cast<double>(rangeMax));
}
