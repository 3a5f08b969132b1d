#include "package/ArchiveIndex.h"
#include "sys/FileHandle.h"
#include "sys/FixedText.h"
#include <cstring>
#include <new>

InstallResult ReadArchiveIndex(FileHandle& file, ArchiveIndex& index)
{
    index = ArchiveIndex();
    if (file.Size() < kArchiveHeaderOffset)
        return kInstallPackageDamaged;
    file.SeekTo(kArchiveHeaderOffset);
    unsigned char header[kArchiveHeaderSize];
    if (file.Read(header, sizeof header) != sizeof header)
        return kInstallPackageDamaged;
    // The count is tested before the magic, so the limit holds for both layouts.
    uint32_t count = ReadLe32(header + 12);
    if (count > kMaxArchiveEntries)
        return kInstallTooManyEntries;
    uint32_t entrySize =
        memcmp(header, kArchiveMagic, kArchiveMagicSize) == 0 ? kWideEntrySize : kNarrowEntrySize;
    uint32_t tableSize = count * entrySize;  // at most 32 KiB
    unsigned char* table = new unsigned char[tableSize ? tableSize : 1];
    if (file.Read(table, tableSize) != tableSize) {
        delete[] table;
        return kInstallPackageDamaged;
    }
    uint32_t nameField = entrySize == kWideEntrySize ? kWideNameField : kNarrowNameField;
    CutFieldsWithoutNul(table, count, entrySize, nameField);
    index.entrySize = entrySize;
    index.count = count;
    index.table = table;
    index.dataStart = kArchiveIndexOffset + tableSize;
    return kInstallOk;
}

void FreeArchiveIndex(ArchiveIndex& index)
{
    delete[] index.table;
    index = ArchiveIndex();
}

ArchiveEntry GetArchiveEntry(const ArchiveIndex& index, uint32_t i)
{
    const unsigned char* slot = index.table + i * index.entrySize;
    uint32_t nameField = NameFieldSize(index);
    return ArchiveEntry{reinterpret_cast<const char*>(slot), ReadLe32(slot + nameField),
                        ReadLe32(slot + nameField + 4)};
}
