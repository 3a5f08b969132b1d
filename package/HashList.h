#pragma once
#include "package/ArchiveIndex.h"
#include <cstdint>

class FileHandle;

// The hash list's records as read. An absent list has no records.
struct HashList {
    unsigned char* records = nullptr;  // count × 64 bytes
    uint32_t count = 0;
};

// A view of one record: its path in place and its 8 stored checksum bytes.
struct HashListEntry {
    const char* path;
    const unsigned char* checksum;
};

// Finds the first entry named "jor.hvl" in any case and loads its records. Never
// fails: a missing, damaged, oversized or unallocatable list is absent. Record
// paths without a NUL are cut at the field's last byte.
HashList LoadHashList(const ArchiveIndex& index, FileHandle& file);
void FreeHashList(HashList& list);

// The first record whose last path component equals the entry's name, both
// lower-cased. False when none does.
bool FindHashListEntry(const HashList& list, const char* entryName, HashListEntry& found);

// The last component of a record path: after a drive prefix and the last '\' or
// '/' that is not the second byte of a double-byte character.
const char* LastPathComponent(const char* path);
