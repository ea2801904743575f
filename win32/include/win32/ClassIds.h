// The class ids of the filter pack. Each is written once, as the registry text that the
// settings and the installer use; the GUID, and the 16-bit copy of the text that COM's
// parsers take, are worked out from that text at compile time, so the forms cannot drift apart.
#pragma once

#include <guiddef.h>

#include <array>

namespace classids {

inline constexpr char kDemultiplexerText[] = "{731B8592-4001-46D4-B1A5-33EC792B4501}";
inline constexpr char kMultiplexerText[] = "{1EE4C9C2-D755-11D5-9202-000021023C26}";
inline constexpr char kFileDumpText[] = "{36A5F770-FE4C-11CE-A8ED-00AA002FEAB5}";
inline constexpr char kTivoSourceText[] = "{F719A804-E0A5-48B7-B219-204C98028C40}";

namespace detail {

constexpr unsigned HexDigit(char c) {
    return c >= '0' && c <= '9'   ? static_cast<unsigned>(c - '0')
           : c >= 'A' && c <= 'F' ? static_cast<unsigned>(c - 'A' + 10)
           : c >= 'a' && c <= 'f' ? static_cast<unsigned>(c - 'a' + 10)
                                  : throw "not a hexadecimal digit";  // stops the compile
}

constexpr unsigned long HexField(const char* text, int digits) {
    unsigned long value = 0;
    for (int i = 0; i < digits; ++i)
        value = value * 16 + HexDigit(text[i]);
    return value;
}

}  // namespace detail

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" to its GUID; any other shape fails the compile.
constexpr GUID GuidFromText(const char (&text)[39]) {
    if (text[0] != '{' || text[9] != '-' || text[14] != '-' || text[19] != '-' || text[24] != '-' ||
        text[37] != '}')
        throw "not a braced GUID";
    GUID guid{};
    guid.Data1 = detail::HexField(text + 1, 8);
    guid.Data2 = static_cast<unsigned short>(detail::HexField(text + 10, 4));
    guid.Data3 = static_cast<unsigned short>(detail::HexField(text + 15, 4));
    constexpr int kByteOffsets[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; i < 8; ++i)
        guid.Data4[i] = static_cast<unsigned char>(detail::HexField(text + kByteOffsets[i], 2));
    return guid;
}

// The same text in 16-bit characters, with its NUL, for IIDFromString and CLSIDFromString.
constexpr std::array<wchar_t, 39> WideText(const char (&text)[39]) {
    std::array<wchar_t, 39> wide{};
    for (int i = 0; i < 39; ++i)
        wide[i] = static_cast<wchar_t>(text[i]);
    return wide;
}

inline constexpr GUID kDemultiplexer = GuidFromText(kDemultiplexerText);
inline constexpr GUID kMultiplexer = GuidFromText(kMultiplexerText);
inline constexpr GUID kFileDump = GuidFromText(kFileDumpText);
inline constexpr GUID kTivoSource = GuidFromText(kTivoSourceText);

}  // namespace classids
