#include "writer/PackageWriter.h"
#include "package/ContentChecksum.h"
#include "package/PackageLayout.h"
#include <cstdio>
#include <cstring>

uint32_t EntrySizeFor(const std::string& magic)
{
    return magic.size() >= kArchiveMagicSize && memcmp(magic.data(), kArchiveMagic, kArchiveMagicSize) == 0
               ? kWideEntrySize
               : kNarrowEntrySize;
}

uint32_t DataStartFor(const std::string& magic, uint32_t count)
{
    return kArchiveIndexOffset + count * EntrySizeFor(magic);
}

static void PutField(std::string& out, size_t at, size_t field, const std::string& text, bool raw)
{
    size_t n = text.size() < field ? text.size() : field;
    if (!raw && n == field)
        n = field - 1;  // keep room for the NUL
    memcpy(&out[at], text.data(), n);
}

std::string BuildPackage(const PackageDescription& desc)
{
    std::string out = desc.image;
    if (out.size() < kCaptionBlockOffset)
        out.resize(kCaptionBlockOffset, '\0');
    size_t caption = out.size();
    out.resize(caption + kCaptionBlockSize, '\0');
    PutField(out, caption, kCaptionBlockSize, desc.caption, desc.rawCaption);

    std::string header(kArchiveHeaderSize, '\0');
    std::string magic = desc.magic;
    magic.resize(kArchiveMagicSize, '\0');
    memcpy(&header[0], magic.data(), kArchiveMagicSize);
    uint32_t count = desc.overrideCount ? desc.count : uint32_t(desc.entries.size());
    WriteLe32(reinterpret_cast<unsigned char*>(&header[12]), count);
    out += header;

    uint32_t entrySize = EntrySizeFor(desc.magic);
    uint32_t nameField = entrySize == kWideEntrySize ? kWideNameField : kNarrowNameField;
    std::string table(desc.entries.size() * entrySize, '\0');
    std::string data;
    for (size_t i = 0; i < desc.entries.size(); ++i) {
        const PackageEntry& e = desc.entries[i];
        size_t slot = i * entrySize;
        PutField(table, slot, nameField, e.name, e.rawName);
        uint32_t offset = e.offset, size = e.size;
        if (e.placeData) {
            if (!e.fixedOffset)
                offset = uint32_t(data.size());
            size = uint32_t(e.data.size());
            data += e.data;
        }
        WriteLe32(reinterpret_cast<unsigned char*>(&table[slot + nameField]), offset);
        WriteLe32(reinterpret_cast<unsigned char*>(&table[slot + nameField + 4]), size);
    }
    out += table;
    out += data;
    return out;
}

std::string BuildHashList(const std::vector<HashRecord>& records, const std::string& magic,
                          bool overrideCount, uint32_t count)
{
    std::string out(kHashListHeaderSize, '\0');
    std::string m = magic;
    m.resize(8, '\0');
    memcpy(&out[0], m.data(), 8);
    WriteLe32(reinterpret_cast<unsigned char*>(&out[12]),
              overrideCount ? count : uint32_t(records.size()));
    for (const HashRecord& r : records) {
        std::string rec(kHashListRecordSize, '\0');
        PutField(rec, 0, kHashListPathField, r.path, r.rawPath);
        memcpy(&rec[kHashListPathField], r.checksum, 8);
        out += rec;
    }
    return out;
}

HashRecord RecordFor(const std::string& path, const std::string& content)
{
    ContentChecksum sum = {};
    UpdateContentChecksum(sum, content.data(), content.size());
    HashRecord r;
    r.path = path;
    memcpy(r.checksum, sum.bytes, 8);
    return r;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

bool ReadWholeFile(const std::string& path, std::string& bytes)
{
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return false;
    bytes.clear();
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        bytes.append(buf, n);
    bool ok = !ferror(f);
    fclose(f);
    return ok;
}
