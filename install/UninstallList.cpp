#include "install/UninstallList.h"
#include "package/PackageLayout.h"
#include "sys/FileHandle.h"
#include "sys/FixedText.h"
#include <windows.h>
#include <cstring>

namespace {

constexpr uint32_t kListBufferSize = 1024 * 1024;
constexpr char kListName[] = "uninst.lst";
// The new content is written beside the list as kNewListName and replaces it
// only once it is complete, so a failed write never leaves a shortened list.
// Same length as the list's own name: every folder that fits one fits the other.

// Refuses what Windows's exclusive open for writing would refuse: a missing
// file, a folder, a read-only, hidden or system file. (Wine running as root
// would let us write such a file, so the attributes are checked here.)
bool IsWritableList(const char* path)
{
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY |
                          FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) == 0;
}

// Reads the list and appends the names it lacks. The text stays NUL-terminated
// inside the buffer; false when the file is not a list we can keep whole.
bool MergeInBuffer(FileHandle& list, char* buffer, uint32_t& length, const char* const* names)
{
    uint32_t size = list.Size();
    // The file must fit the buffer; 0xFFFFFFFF (no size) is caught here too.
    if (size > kListBufferSize)
        return false;
    if (size > 0 && list.Read(buffer, size) != size)
        return false;  // a short read: we would write back less than was there
    if (size > 0 && buffer[size - 1] == '\0') {
        length = size - 1;
    } else {
        // An empty file or one without its final NUL: every byte is kept as
        // text and the NUL goes behind it.
        if (size == kListBufferSize)
            return false;
        length = size;
        buffer[length] = '\0';
    }
    // Bytes after an earlier NUL would be lost when the text is written back.
    if (memchr(buffer, 0, length))
        return false;
    for (; *names; ++names) {
        const char* name = *names;
        if (strstr(buffer, name))
            continue;
        size_t n = strlen(name);
        // The name, its line feed and the NUL must stay inside the buffer.
        // (length is at most the buffer size less 1, so this cannot wrap.)
        if (n + 2 > kListBufferSize - length)
            return false;
        memcpy(buffer + length, name, n);
        length += static_cast<uint32_t>(n);
        buffer[length++] = '\n';
        buffer[length] = '\0';
    }
    return true;
}

// Writes the new list beside the old one and moves it over the old one.
bool ReplaceList(const char* listPath, const char* newPath, const char* text, uint32_t count)
{
    // Nobody else may hold the list while it is replaced: an exclusive open of
    // the existing file (no truncation) fails when another handle is open.
    HANDLE lock = CreateFileA(listPath, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_ARCHIVE, nullptr);
    if (lock == INVALID_HANDLE_VALUE)
        return false;
    // A leftover of an interrupted merge is ours to overwrite.
    SetFileAttributesA(newPath, FILE_ATTRIBUTE_NORMAL);
    FileHandle out;
    bool written = out.OpenWrite(newPath) && out.Write(text, count) == count;
    bool opened = out.IsOpen();
    out.Close();
    CloseHandle(lock);
    if (written && MoveFileExA(newPath, listPath, MOVEFILE_REPLACE_EXISTING))
        return true;
    if (opened)
        DeleteFileA(newPath);
    return false;
}

}  // namespace

bool MergeUninstallList(const char* folder, const char* const* names)
{
    char listPath[kPathBufferSize];
    char newPath[kPathBufferSize];
    // A folder of more than 248 bytes would give a cut path naming another file.
    if (!JoinPath(listPath, folder, kListName) || !JoinPath(newPath, folder, kNewListName))
        return false;
    if (!IsWritableList(listPath))
        return false;
    FileHandle list;
    if (!list.OpenRead(listPath))
        return false;
    char* buffer = new char[kListBufferSize];
    uint32_t length = 0;
    bool merged = MergeInBuffer(list, buffer, length, names);
    list.Close();
    bool result = merged && ReplaceList(listPath, newPath, buffer, length + 1);
    delete[] buffer;
    return result;
}
