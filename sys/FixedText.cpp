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

size_t FieldTextLength(const char* field, size_t capacity)
{
    const void* nul = memchr(field, 0, capacity);
    return nul ? static_cast<size_t>(static_cast<const char*>(nul) - field) : capacity;
}
