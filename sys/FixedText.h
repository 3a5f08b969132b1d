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

// "folder\name" followed by suffix; false when it does not fit, since a cut
// path would name some other file.
bool JoinPath(char* path, size_t capacity, const char* folder, const char* name, const char* suffix = "");
template <size_t N>
bool JoinPath(char (&path)[N], const char* folder, const char* name, const char* suffix = "")
{
    return JoinPath(path, N, folder, name, suffix);
}

// Length of a text stored in a field of `capacity` bytes that need not hold a NUL.
size_t FieldTextLength(const char* field, size_t capacity);

// For a table of `count` slots of `stride` bytes, each starting with a text
// field of `field` bytes: a field without a NUL is cut at its last byte, so
// its text never runs into what follows.
void CutFieldsWithoutNul(unsigned char* table, size_t count, size_t stride, size_t field);
