// The progress percentage of one file, from the sizes of its input and its growing output.
#pragma once

#include <cstdint>

// 0 when the input size is 0 (or could not be read); otherwise output * 100 / input,
// truncated and clamped to 0..99: the end of a file is told by WM_CONVERSION_DONE, never 100.
int ProgressPercent(std::uint64_t inputSize, std::uint64_t outputSize);

// The size of the file at path in bytes, 0 when its status cannot be read.
std::uint64_t FileSizeOrZero(const char* path);
