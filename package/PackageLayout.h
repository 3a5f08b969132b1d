#pragma once
// Where the update package lies in the updater's own file. Portable: the
// package writer and the publisher's tool share these with the updater.
#include <cstdint>

constexpr uint32_t kMaxImageEnd = 0x20000;          // the image ends at or before this
constexpr uint32_t kCaptionBlockOffset = 0x20000;
constexpr uint32_t kCaptionBlockSize = 4096;
constexpr uint32_t kArchiveHeaderOffset = 0x21000;
constexpr uint32_t kArchiveHeaderSize = 16;
constexpr uint32_t kArchiveIndexOffset = 0x21010;
constexpr uint32_t kMaxArchiveEntries = 256;
constexpr char kArchiveMagic[] = "TAVLIN ARC20";    // 12 bytes in the file, no NUL
constexpr uint32_t kArchiveMagicSize = 12;

// The magic above selects wide entries; any other magic selects narrow ones.
constexpr uint32_t kWideEntrySize = 128;
constexpr uint32_t kWideNameField = 96;
constexpr uint32_t kNarrowEntrySize = 32;
constexpr uint32_t kNarrowNameField = 16;
// Offset and size follow the name field in both layouts.

constexpr char kHashListName[] = "jor.hvl";         // compared after lower-casing
constexpr char kHashListMagic[] = "KSV_____";       // 8 bytes, no NUL
constexpr uint32_t kHashListHeaderSize = 16;
constexpr uint32_t kHashListRecordSize = 64;
constexpr uint32_t kHashListPathField = 56;
constexpr uint32_t kChecksumSize = 8;

constexpr uint32_t kPathBufferSize = 260;           // the platform's path limit

inline uint32_t ReadLe32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void WriteLe32(unsigned char* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}
