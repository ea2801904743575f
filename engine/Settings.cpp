#include "engine/Settings.h"

#include "win32/Scoped.h"

#include <cstdio>
#include <cstring>
#include <vector>

std::string SettingTextFromQuery(LONG queryResult, DWORD type, const char* data, DWORD dataSize,
                                 const char* defaultText) {
    if (queryResult != ERROR_SUCCESS || type != REG_SZ || dataSize > kSettingBufferSize) return defaultText;
    const void* terminator = std::memchr(data, '\0', dataSize);
    if (terminator) return std::string(data, static_cast<const char*>(terminator));
    // Stored without its NUL: usable only if a terminator can still be added inside the buffer.
    if (dataSize == kSettingBufferSize) return defaultText;
    return std::string(data, dataSize);
}

std::string ReadSetting(const char* name, const char* defaultText) {
    ScopedRegKey key;
    if (RegOpenKeyA(HKEY_CURRENT_USER, kSettingsKey, key.Out()) != ERROR_SUCCESS) return defaultText;
    char buffer[kSettingBufferSize] = {};
    DWORD size = kSettingBufferSize;
    DWORD type = REG_NONE;
    LONG result = RegQueryValueExA(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    // Closed whatever the query gave, before its result decides between the value and the default.
    key.Reset();
    return SettingTextFromQuery(result, type, buffer, size, defaultText);
}

std::unique_ptr<wchar_t[]> WidenString(std::string text) {
    // Every 16-bit character takes at least one byte, so length + 1 units always suffice.
    const int units = static_cast<int>(text.size()) + 1;
    std::unique_ptr<wchar_t[]> wide(new wchar_t[units]);
    int written = MultiByteToWideChar(CP_ACP, 0, text.c_str(), units, wide.get(), units);
    if (written <= 0)
        wide[0] = L'\0';
    else
        wide[written - 1] = L'\0';
    return wide;
}

std::string FormatCreationFailure(const char* format, const std::string& classText) {
    const char* prefix = (!classText.empty() && classText.front() == '{') ? "" : "{";
    const char* suffix = (!classText.empty() && classText.back() == '}') ? "" : "}";
    int needed = std::snprintf(nullptr, 0, format, prefix, classText.c_str(), suffix);
    if (needed < 0) return format;
    std::vector<char> text(static_cast<size_t>(needed) + 1);
    std::snprintf(text.data(), text.size(), format, prefix, classText.c_str(), suffix);
    return std::string(text.data(), static_cast<size_t>(needed));
}
