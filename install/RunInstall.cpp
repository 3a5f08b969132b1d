#include "install/RunInstall.h"
#include "install/UninstallList.h"
#include "package/ArchiveIndex.h"
#include "package/ContentChecksum.h"
#include "package/HashList.h"
#include "package/LowercaseName.h"
#include "package/PackageFile.h"
#include "sys/FileHandle.h"
#include "sys/FixedText.h"
#include "ui/MessagePump.h"
#include "ui/ProgressDialog.h"
#include <windows.h>
#include <commctrl.h>
#include <cstring>

namespace {

constexpr uint32_t kCopyBufferSize = 1024 * 1024;
constexpr uint32_t kFileBarRange = 0xFFFF;
constexpr char kStatusSuffix[] = "をインストール中";
constexpr char kTemporarySuffix[] = ".tmp";

bool FlagSet()
{
    return CancelRequested != 0 || CloseRequested != 0;
}

void SendPosition(HWND bar, uint32_t position)
{
    if (bar)
        SendMessageA(bar, PBM_SETPOS, position, 0);
}

// The run's own temporary files: their attributes are reset first, since a
// read-only one left by an earlier run would refuse the deletion.
void DeleteTemporaryFiles(const char* folder, const char* const* names, uint32_t count)
{
    for (uint32_t i = 0; i < count; ++i) {
        if (!names[i])
            continue;
        char temporary[kPathBufferSize];
        if (!JoinPath(temporary, folder, names[i], kTemporarySuffix))
            continue;  // never created, and a cut path must not be deleted
        SetFileAttributesA(temporary, FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(temporary);
    }
}

// The name an entry is installed under: the path of its hash-list record,
// whose checksum it must then match, or its stored name without one.
const char* InstallNameOf(const ArchiveEntry& entry, const HashList& hashList, const unsigned char*& expected)
{
    expected = nullptr;
    HashListEntry record;
    if (hashList.count > 0 && FindHashListEntry(hashList, entry.name, record)) {
        expected = record.checksum;
        return record.path;
    }
    return entry.name;
}

// False only when the folder's volume plainly lacks room for every entry;
// a failed query says nothing and lets the run go on. A temporary file left
// by an interrupted run is truncated when its entry starts, so its space
// counts as free: else a run killed on a nearly full disk would have every
// later run refuse for the room its own leftovers take, and never clean them.
bool HasRoomFor(const char* folder, const ArchiveIndex& index, const HashList& hashList)
{
    uint64_t needed = 0;  // up to 256 sizes of 32 bits: 64 bits hold the sum
    for (uint32_t i = 0; i < index.count; ++i) {
        ArchiveEntry entry = GetArchiveEntry(index, i);
        uint64_t size = entry.size;
        const unsigned char* expected;
        const char* name = InstallNameOf(entry, hashList, expected);
        char temporary[kPathBufferSize];
        WIN32_FILE_ATTRIBUTE_DATA leftover;
        if (IsSafeInstallName(name) && JoinPath(temporary, folder, name, kTemporarySuffix) &&
            GetFileAttributesExA(temporary, GetFileExInfoStandard, &leftover) &&
            !(leftover.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            uint64_t held = (uint64_t(leftover.nFileSizeHigh) << 32) | leftover.nFileSizeLow;
            size -= held < size ? held : size;
        }
        needed += size;
    }
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExA(folder, &available, nullptr, nullptr))
        return true;
    return available.QuadPart >= needed;
}

// Moves every temporary file over its final name; false at the first failure.
bool CommitAll(const char* folder, const char* const* names, uint32_t count)
{
    for (uint32_t i = 0; i < count; ++i) {
        if (!names[i])
            continue;
        char temporary[kPathBufferSize];
        char final[kPathBufferSize];
        if (!JoinPath(temporary, folder, names[i], kTemporarySuffix) ||
            !JoinPath(final, folder, names[i], ""))
            return false;
        SetFileAttributesA(final, FILE_ATTRIBUTE_NORMAL);
        if (!MoveIntoPlace(temporary, final))
            return false;
    }
    return true;
}

// A path as the file system compares it: full, in its long form where the
// platform gives one (it names no short alias then), lower-cased; two paths
// name one file when these are equal. False when it does not fit or cannot
// be lower-cased.
bool ComparablePath(char (&out)[kPathBufferSize], const char* folder, const char* name, const char* suffix)
{
    char path[kPathBufferSize];
    char full[kPathBufferSize];
    if (!JoinPath(path, folder, name, suffix))
        return false;
    DWORD n = GetFullPathNameA(path, kPathBufferSize, full, nullptr);
    if (n == 0 || n >= kPathBufferSize)
        return false;
    n = GetLongPathNameA(full, out, kPathBufferSize);
    if (n == 0 || n >= kPathBufferSize)
        CopyText(out, full);
    LowercaseName(out);
    return out[0] != '\0';
}

// Before the first move. Names that differ only in case or separators, or
// one that is another's temporary name, meet in one file: a temporary file
// staged twice is moved once and then missing, and a final file that is
// another entry's temporary one is moved over or deleted by the clean-up. A
// folder in a final file's place refuses the move, and a file named like the
// list merge's new list is replaced by it. Each would stop the commit
// halfway or lose a file, so the run ends before the first move.
InstallResult CheckTargets(const char* folder, const char* const* names, uint32_t count)
{
    typedef char Path[kPathBufferSize];
    Path* staged = new Path[count ? count : 1];
    InstallResult result = kInstallOk;
    for (uint32_t i = 0; i < count; ++i) {
        if (!ComparablePath(staged[i], folder, names[i], kTemporarySuffix))
            staged[i][0] = '\0';  // unknown: proves nothing
        for (uint32_t j = 0; j < i; ++j)
            if (staged[i][0] && strcmp(staged[i], staged[j]) == 0)
                result = kInstallPackageDamaged;
    }
    Path scratch;  // the list merge's own file: an entry there would be lost to it
    if (!ComparablePath(scratch, folder, kNewListName, ""))
        scratch[0] = '\0';
    for (uint32_t i = 0; i < count && result == kInstallOk; ++i) {
        Path final;
        if (!ComparablePath(final, folder, names[i], ""))
            continue;
        if (strcmp(final, scratch) == 0)
            result = kInstallPackageDamaged;
        DWORD attributes = GetFileAttributesA(final);  // a lower-cased path names it too
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            result = kInstallWriteFailed;
        for (uint32_t j = 0; j < count; ++j)
            if (strcmp(final, staged[j]) == 0)
                result = kInstallPackageDamaged;
    }
    delete[] staged;
    return result;
}

}  // namespace

bool MoveIntoPlace(const char* from, const char* to)
{
    // A scanner or indexer often holds a freshly written file for a moment:
    // waits of 50 ms doubling to 800 ms, about 1.5 s in all, outlast it.
    DWORD wait = 50;
    for (;;) {
        if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING))
            return true;
        DWORD error = GetLastError();
        if ((error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) || wait > kMoveLastWait)
            return false;
        Sleep(wait);
        wait *= 2;
    }
}

namespace {

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9 name a device in every folder and
// with any extension: "COM1.tmp" would send an entry's bytes to a port.
bool IsDeviceName(const char* start, const char* end)
{
    const char* stop = start;
    while (stop < end && *stop != '.')
        ++stop;
    while (stop > start && stop[-1] == ' ')
        --stop;  // Windows ignores spaces before the extension
    size_t length = static_cast<size_t>(stop - start);
    if (length != 3 && length != 4)
        return false;
    char base[4];
    for (size_t i = 0; i < 3; ++i)
        base[i] = static_cast<char>(start[i] | 0x20);  // ASCII only: a device name has no other byte
    if (length == 4) {
        bool numbered = (memcmp(base, "com", 3) == 0 || memcmp(base, "lpt", 3) == 0);
        return numbered && start[3] >= '1' && start[3] <= '9';
    }
    return memcmp(base, "con", 3) == 0 || memcmp(base, "prn", 3) == 0 ||
           memcmp(base, "aux", 3) == 0 || memcmp(base, "nul", 3) == 0;
}

}  // namespace

bool IsSafeInstallName(const char* name)
{
    if (name[0] == '\\' || name[0] == '/')
        return false;  // the root of a drive, or a network path
    const char* component = name;
    bool onlyDots = true;  // dots and spaces: "..", and what Windows trims to it
    for (const char* p = name;; ++p) {
        unsigned char byte = static_cast<unsigned char>(*p);
        if (byte != '\0' && IsLeadByte(byte)) {
            if (p[1] == '\0')
                return false;  // a name cut inside a character
            ++p;  // the second byte is never a separator
            onlyDots = false;
            continue;
        }
        if (byte == ':')
            return false;  // a drive prefix or a stream name
        if (byte == '\\' || byte == '/' || byte == '\0') {
            bool empty = p == component;
            if (!empty && (onlyDots || IsDeviceName(component, p)))
                return false;
            // The last component names the file: it must be there.
            if (byte == '\0')
                return !empty;
            component = p + 1;
            onlyDots = true;
            continue;
        }
        if (byte != '.' && byte != ' ')
            onlyDots = false;
    }
}

void BuildStatusText(char (&text)[kPathBufferSize], const char* name)
{
    if (CopyText(text, name) && AppendText(text, kStatusSuffix))
        return;
    // Cut after the last whole character, never inside a double-byte one.
    size_t length = strlen(text);
    size_t keep = 0;
    while (keep < length) {
        size_t step = IsLeadByte(static_cast<unsigned char>(text[keep])) ? 2 : 1;
        if (keep + step > length)
            break;
        keep += step;
    }
    text[keep] = '\0';
}

InstallResult RunInstall(const char* folder)
{
    InstallResult result = kInstallPackageDamaged;
    HWND dialog = ProgressDialog;
    HWND status = dialog ? GetDlgItem(dialog, kIdStatusText) : nullptr;
    HWND fileBar = dialog ? GetDlgItem(dialog, kIdFileBar) : nullptr;
    HWND overallBar = dialog ? GetDlgItem(dialog, kIdOverallBar) : nullptr;

    // A package path that cannot be had is left empty, and the open fails.
    char packagePath[kPathBufferSize];
    GetPackageFilePath(packagePath);
    FileHandle package;
    package.OpenRead(packagePath);
    ArchiveIndex index;
    InstallResult read = ReadArchiveIndex(package, index);
    if (read != kInstallOk) {
        package.Close();
        result = read;
    } else {
        const uint32_t count = index.count;
        // One slot per entry, filled when the entry starts; the last one
        // stays empty and ends the list.
        const char** names = new const char*[count + 1];
        for (uint32_t i = 0; i <= count; ++i)
            names[i] = nullptr;
        HashList hashList = LoadHashList(index, package);

        if (fileBar) {
            SendMessageA(fileBar, PBM_SETRANGE32, 0, kFileBarRange);
            SendMessageA(fileBar, PBM_SETPOS, 0, 0);
        }
        if (overallBar) {
            SendMessageA(overallBar, PBM_SETRANGE32, 0, count);
            SendMessageA(overallBar, PBM_SETPOS, 0, 0);
        }
        if (DrainMessages() == 1)
            CloseRequested = 1;

        // Nothing is written when the disk plainly cannot take it all:
        // filling the player's disk only to delete it all again helps no one.
        bool room = HasRoomFor(folder, index, hashList);
        if (!room)
            result = kInstallWriteFailed;

        unsigned char* buffer = new unsigned char[kCopyBufferSize];
        uint32_t done = 0;
        while (room && done < count) {
            if (FlagSet())
                break;
            ArchiveEntry entry = GetArchiveEntry(index, done);
            if (!package.SeekTo(EntryPosition(index, entry)))
                break;

            bool shortTransfer = false;
            const unsigned char* expected;
            const char* name = InstallNameOf(entry, hashList, expected);
            // The updater runs elevated: a name must stay a file inside the
            // folder. Its slot stays empty, so nothing is ever made of it.
            if (!IsSafeInstallName(name)) {
                result = kInstallPackageDamaged;
                break;
            }
            names[done] = name;

            if (status) {
                char text[kPathBufferSize];
                BuildStatusText(text, name);
                SetWindowTextA(status, text);
            }
            SendPosition(fileBar, 0);
            if (DrainMessages() == 1) {
                CloseRequested = 1;
                break;
            }

            // A read-only leftover of an earlier run must not refuse the write.
            char temporary[kPathBufferSize];
            if (!JoinPath(temporary, folder, name, kTemporarySuffix)) {
                result = kInstallWriteFailed;
                break;
            }
            SetFileAttributesA(temporary, FILE_ATTRIBUTE_NORMAL);
            FileHandle out;
            if (!out.OpenWrite(temporary)) {
                result = kInstallWriteFailed;
                break;
            }

            ContentChecksum checksum = {};
            uint32_t copied = 0;
            uint32_t chunk = kCopyBufferSize;
            const uint32_t size = entry.size;
            while (copied < size) {
                if (FlagSet())
                    break;
                if (chunk > size - copied)
                    chunk = size - copied;
                if (package.Read(buffer, chunk) != chunk) {
                    shortTransfer = true;
                    break;
                }
                UpdateContentChecksum(checksum, buffer, chunk);
                if (out.Write(buffer, chunk) != chunk) {
                    result = kInstallWriteFailed;
                    shortTransfer = true;
                    break;
                }
                copied += chunk;
                // Beyond 64 KiB the product no longer fits in 32 bits.
                SendPosition(fileBar, static_cast<uint32_t>(uint64_t(copied) * kFileBarRange / size));
                if (DrainMessages() == 1) {
                    CloseRequested = 1;
                    break;
                }
            }

            // On the disk before any move: a power cut after the commit must
            // not leave a final file whose bytes never left the cache.
            if (!FlagSet() && !shortTransfer && !out.Flush()) {
                result = kInstallWriteFailed;
                shortTransfer = true;
            }
            out.Close();
            if (FlagSet() || shortTransfer)
                break;
            if (expected && !SameChecksum(checksum, expected))
                break;

            SendPosition(overallBar, done + 1);
            if (DrainMessages() == 1) {
                CloseRequested = 1;
                break;
            }
            ++done;
        }

        // Only a whole, verified, unstopped staging is committed.
        delete[] buffer;
        if (done == count && !FlagSet()) {
            result = CheckTargets(folder, names, count);
            if (result == kInstallOk && !CommitAll(folder, names, count))
                result = kInstallWriteFailed;
            else if (result == kInstallOk)
                result = MergeUninstallList(folder, names) ? kInstallOk : kInstallUninstallListFailed;
        }

        // Whatever happened, no temporary file of a started entry stays.
        DeleteTemporaryFiles(folder, names, count);
        FreeHashList(hashList);
        FreeArchiveIndex(index);
        delete[] names;
        package.Close();
    }

    // A flag outranks every other outcome.
    if (CancelRequested != 0)
        return kInstallCancelled;
    if (CloseRequested != 0)
        return kInstallClosed;
    return result;
}
