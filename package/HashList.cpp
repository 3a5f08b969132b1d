#include "package/HashList.h"
#include "package/LowercaseName.h"
#include "sys/FileHandle.h"
#include "sys/FixedText.h"
#include <cstring>
#include <new>

HashList LoadHashList(const ArchiveIndex& index, FileHandle& file)
{
    HashList list;
    for (uint32_t i = 0; i < index.count; ++i) {
        ArchiveEntry entry = GetArchiveEntry(index, i);
        char lowered[kPathBufferSize];
        CopyText(lowered, entry.name);
        LowercaseName(lowered);
        if (strcmp(lowered, kHashListName) != 0)
            continue;
        // Only the first entry of that name is tried.
        if (!file.SeekTo(EntryPosition(index, entry)))
            return list;
        unsigned char header[kHashListHeaderSize];
        if (file.Read(header, sizeof header) != sizeof header)
            return list;
        if (memcmp(header, kHashListMagic, 8) != 0)
            return list;
        uint32_t count = ReadLe32(header + 12);
        // Records can never lie beyond 4 GiB; a count whose size wraps is damage.
        if (count > 0xFFFFFFFFu / kHashListRecordSize)
            return list;
        uint32_t size = count * kHashListRecordSize;
        unsigned char* records = new (std::nothrow) unsigned char[size ? size : 1];
        if (!records)
            return list;
        if (file.Read(records, size) != size) {
            delete[] records;
            return list;
        }
        CutFieldsWithoutNul(records, count, kHashListRecordSize, kHashListPathField);
        list.records = records;
        list.count = count;
        return list;
    }
    return list;
}

void FreeHashList(HashList& list)
{
    delete[] list.records;
    list = HashList();
}

const char* LastPathComponent(const char* path)
{
    if (path[0] != '\0' && path[1] == ':')
        path += 2;
    const char* last = path;
    for (const char* p = path; *p; ++p) {
        if (IsLeadByte(static_cast<unsigned char>(*p))) {
            if (p[1] == '\0')
                break;
            ++p;  // the second byte is never a separator
        } else if (*p == '\\' || *p == '/') {
            last = p + 1;
        }
    }
    return last;
}

bool FindHashListEntry(const HashList& list, const char* entryName, HashListEntry& found)
{
    char name[kPathBufferSize];
    CopyText(name, entryName);
    LowercaseName(name);
    if (list.count == 0)
        return false;
    for (uint32_t r = 0; r < list.count; ++r) {
        const unsigned char* record = list.records + r * kHashListRecordSize;
        const char* path = reinterpret_cast<const char*>(record);
        char component[kPathBufferSize];
        CopyText(component, LastPathComponent(path));
        LowercaseName(component);
        if (strcmp(component, name) == 0) {
            found.path = path;
            found.checksum = record + kHashListPathField;
            return true;
        }
    }
    return false;
}
