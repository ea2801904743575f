// Character-wise searches over 8-bit paths in an ANSI code page: a trail byte of a
// double-byte character is never taken for a separator.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Index of the last character c in text, or -1. Only single-byte characters match.
int LastCharIndex(const std::string& text, char c, UINT codePage = CP_ACP);

// Byte offsets at which the characters of text begin, plus text.size() at the end.
std::vector<size_t> CharStarts(const std::string& text, UINT codePage = CP_ACP);
