#include "sys/FixedText.h"
#include <cstring>

bool CopyText(char* dst, size_t capacity, const char* src)
{
    if (capacity == 0)
        return false;
    dst[0] = '\0';
    return AppendText(dst, capacity, src);
}

bool AppendText(char* dst, size_t capacity, const char* src)
{
    if (capacity == 0)
        return false;
    size_t used = FieldTextLength(dst, capacity);
    if (used == capacity) {  // no NUL yet: make it a text first
        dst[capacity - 1] = '\0';
        return false;
    }
    size_t room = capacity - 1 - used;
    size_t len = strlen(src);
    size_t take = len < room ? len : room;
    memcpy(dst + used, src, take);
    dst[used + take] = '\0';
    return take == len;
}

bool JoinPath(char* path, size_t capacity, const char* folder, const char* name, const char* suffix)
{
    return CopyText(path, capacity, folder) && AppendText(path, capacity, "\\") &&
           AppendText(path, capacity, name) && AppendText(path, capacity, suffix);
}

void CutFieldsWithoutNul(unsigned char* table, size_t count, size_t stride, size_t field)
{
    for (size_t i = 0; i < count; ++i) {
        unsigned char* text = table + i * stride;
        if (!memchr(text, 0, field))
            text[field - 1] = 0;
    }
}

size_t FieldTextLength(const char* field, size_t capacity)
{
    const void* nul = memchr(field, 0, capacity);
    return nul ? static_cast<size_t>(static_cast<const char*>(nul) - field) : capacity;
}
