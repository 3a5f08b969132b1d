#pragma once

// The system's ANSI code page, taken once for every multibyte operation on names.
unsigned ProcessCodePage();
bool IsLeadByte(unsigned char byte);

// Lower-cases an 8-bit name in place by the rules of the ANSI code page. A
// double-byte character is mapped as one character; if the platform cannot
// map one, the whole text becomes empty.
void LowercaseName(char* text);
