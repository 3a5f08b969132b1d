#pragma once
// Text conversions of the publisher's tool: UTF-8 as the publisher writes it,
// code page 932 as the updater compares it. Linux uses iconv and the C
// library's Unicode case tables; Windows uses its own conversion functions.
#include <string>

// Converts UTF-8 to code page 932. False when the text is not valid UTF-8 or
// holds a character that code page 932 cannot represent (no best-fit guesses).
bool Utf8ToCp932(const std::string& utf8, std::string& cp932);

// Converts code page 932 to UTF-8 for display. Bytes that do not form a
// character are shown as \xNN.
std::string Cp932ToUtf8(const std::string& cp932);

// The lead bytes of code page 932: 0x81 to 0x9F and 0xE0 to 0xFC.
inline bool IsCp932LeadByte(unsigned char b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// Lower-cases a code page 932 text the way the updater's LowercaseName does on
// a Japanese system: A to Z as single bytes, a double-byte character as one
// character through Unicode. When a double-byte character cannot be mapped the
// text becomes empty and the result is false, as the updater's would.
bool LowercaseCp932(std::string& text);

// The record path's last component as the updater takes it: after a drive
// prefix and after the last '\' or '/' that is not a trail byte.
std::string LastComponentCp932(const std::string& path);

// True when the text holds '\' or '/' outside a double-byte character.
bool HasSeparatorCp932(const std::string& text);
