#pragma once
#include "install/InstallResult.h"
#include "package/PackageLayout.h"
#include <cstdint>

class FileHandle;

// The archive's index as read: the entry table exactly as stored, in one allocation.
struct ArchiveIndex {
    uint32_t entrySize = 0;   // kWideEntrySize or kNarrowEntrySize
    uint32_t count = 0;       // 0 to 256
    unsigned char* table = nullptr;
    uint32_t dataStart = 0;
};

// A view of one slot: the name lies in place, inside the table.
struct ArchiveEntry {
    const char* name;
    uint32_t offset;
    uint32_t size;
};

// Reads and checks the header and the entry table. kInstallOk with the index
// filled, or kInstallPackageDamaged / kInstallTooManyEntries with nothing held.
// A name field without a NUL is cut at the field's last byte, so names never
// run into the next slot.
InstallResult ReadArchiveIndex(FileHandle& file, ArchiveIndex& index);
void FreeArchiveIndex(ArchiveIndex& index);

ArchiveEntry GetArchiveEntry(const ArchiveIndex& index, uint32_t i);
inline uint32_t NameFieldSize(const ArchiveIndex& index)
{
    return index.entrySize == kWideEntrySize ? kWideNameField : kNarrowNameField;
}
// Absolute file position of an entry's data: a 32-bit unsigned sum.
inline uint32_t EntryPosition(const ArchiveIndex& index, const ArchiveEntry& entry)
{
    return index.dataStart + entry.offset;
}
