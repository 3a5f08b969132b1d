#pragma once
#include <cstddef>

// Bounded text operations for the fixed buffers of paths and messages. (No
// printf family: its formatter alone would cost the image some 20 KB.)
// Each writes a NUL-terminated result that fits its buffer, and reports false
// instead of writing past the end.

// Copies src; on overflow the buffer holds as much as fits.
bool CopyText(char* dst, size_t capacity, const char* src);
// Appends src to the text already in dst; on overflow, as much as fits.
bool AppendText(char* dst, size_t capacity, const char* src);
template <size_t N>
bool CopyText(char (&dst)[N], const char* src) { return CopyText(dst, N, src); }
template <size_t N>
bool AppendText(char (&dst)[N], const char* src) { return AppendText(dst, N, src); }

// Length of a text stored in a field of `capacity` bytes that need not hold a NUL.
size_t FieldTextLength(const char* field, size_t capacity);
