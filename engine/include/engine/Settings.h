// The two registry settings that choose the demultiplexer and the multiplexer, and the
// string helpers around them.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

inline constexpr char kSettingsKey[] = "Software\\Halvenor\\Korvane";
inline constexpr DWORD kSettingBufferSize = 256;

// Reads a REG_SZ value under HKCU\Software\Halvenor\Korvane; the default when the key or
// value is missing, of another type, or does not fit in 256 bytes with its terminator.
std::string ReadSetting(const char* name, const char* defaultText);

// The decision ReadSetting makes from what RegQueryValueExA gave: queryResult and type as
// returned, data and dataSize the buffer (kSettingBufferSize bytes) and the size written.
// A value that fills all 256 bytes without a NUL is unusable: its end is not known.
std::string SettingTextFromQuery(LONG queryResult, DWORD type, const char* data, DWORD dataSize,
                                 const char* defaultText);

// A NUL-terminated 16-bit copy of an 8-bit ANSI-code-page text, so that accented path
// bytes name the same file for every consumer.
std::unique_ptr<wchar_t[]> WidenString(std::string text);

// "Failed to create MPEG DeMuxer %s%s%s !" and its multiplexer twin: the identifier is shown
// within exactly one pair of braces, whether or not the stored text had them.
std::string FormatCreationFailure(const char* format, const std::string& classText);
