#pragma once
// Builds update packages from a description: exact ones for publishers and
// deliberately broken ones for tests. Portable C++, no platform calls.
#include <cstdint>
#include <string>
#include <vector>

struct PackageEntry {
    std::string name;          // stored in the name field; cut to the field if longer
    std::string data;          // the entry's bytes, laid out in index order
    bool rawName = false;      // true: name fills the whole field, no NUL added
    bool placeData = true;     // false: offset and size below are stored as given, no data
    uint32_t offset = 0;       // used when placeData is false, or fixedOffset is set
    uint32_t size = 0;         // used when placeData is false
    bool fixedOffset = false;  // true: store `offset` but still lay the data out in order
};

struct HashRecord {
    std::string path;          // up to 55 bytes; cut to the field if longer
    unsigned char checksum[8];
    bool rawPath = false;      // path fills the whole 56-byte field, no NUL
};

struct PackageDescription {
    std::string image = std::string(0x400, 'M');  // stands in for the updater's image
    std::string caption;                          // up to 4095 bytes, then NUL and zeros
    bool rawCaption = false;                      // caption fills all 4096 bytes
    std::string magic = "TAVLIN ARC20";           // 12 bytes; others select narrow entries
    bool overrideCount = false;
    uint32_t count = 0;                           // stored count when overrideCount is set
    std::vector<PackageEntry> entries;
};

// Entry size that a magic selects.
uint32_t EntrySizeFor(const std::string& magic);
// Position of the first data byte for a package of `count` entries.
uint32_t DataStartFor(const std::string& magic, uint32_t count);

// The whole file: image, zero fill to 0x20000, caption block, header, index, data.
std::string BuildPackage(const PackageDescription& desc);

// A hash list file: header with the magic and count, then the records.
std::string BuildHashList(const std::vector<HashRecord>& records,
                          const std::string& magic = "KSV_____",
                          bool overrideCount = false, uint32_t count = 0);

// The stored checksum of some bytes.
HashRecord RecordFor(const std::string& path, const std::string& content);

// Reads and writes whole files; false on any failure.
bool WriteWholeFile(const std::string& path, const std::string& bytes);
bool ReadWholeFile(const std::string& path, std::string& bytes);
