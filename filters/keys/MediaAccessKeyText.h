// What a typed Media Access Key may look like: 10 digits, grouped by spaces or dashes the way
// TiVo prints it ("0123-456-789" or "0123 456 789"). Wide text from the dialog and rundll32,
// checked by media's rule.
#pragma once

#include <string>

namespace korvane::filters {

// The 10 digits of text with spaces and dashes dropped; false (and *digits untouched) when
// anything else is in it or the count of digits is not 10.
bool ParseMediaAccessKey(const std::wstring& text, std::string* digits);

}  // namespace korvane::filters
