#pragma once
// Set-up for driving the real updater: its image, sample packages, the
// registry value, a mutex held by another process, folder snapshots.
#include "writer/PackageWriter.h"
#include <windows.h>
#include <string>

// Large enough that the run copies several chunks while the dialog is open.
constexpr size_t kBigFileSize = 6 * 1024 * 1024;

// The built updater.exe (its path comes from UPDATER_EXE).
std::string UpdaterImagePath();
std::string UpdaterImage();

// A package of three entries: the hash list "jor.hvl", "readme.txt" and
// "big.bin", which the hash list places in the subfolder "data".
struct UpdateSample {
    PackageDescription desc;
    std::string readme;
    std::string big;
    std::string hashList;
};
UpdateSample MakeSample(const std::string& caption, size_t bigSize);

// HKLM\Software\Quellmark\Vestrial "InstalledFolder" in the 32-bit view,
// stored with exactly the bytes given.
void SetInstallFolder(DWORD type, const std::string& data);
void DeleteInstallKey();

// Every file under a folder with its bytes, for comparing before and after.
std::string Snapshot(const std::string& folder);

// Another Wine process (this program started again in a helper mode) that
// holds a named mutex or an open file until the test releases it. Wine
// enforces a lock only between its own processes, so the holder must be one.
// The helper ends on the release, when this process ends (a crashed test
// leaves nothing behind that keeps CTest waiting) or after two minutes.
class Holder {
public:
    // `arguments`: the mode and its operands; the helper's own
    // synchronisation arguments follow them.
    explicit Holder(const std::string& arguments);
    ~Holder();
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;
    // True once the helper holds what it was asked to hold.
    bool Holding() const { return holding_; }
    // Lets the helper go and waits for its end; its exit status (0: it held
    // and let go; 2: the mutex existed already; 3: the file could not be opened).
    DWORD Release();

private:
    HANDLE process_ = nullptr;
    HANDLE release_ = nullptr;
    bool holding_ = false;
};

// A mutex created (owned) by another process, as the game creates its own.
inline std::string HoldMutexArguments(const char* name)
{
    return std::string("--hold-mutex \"") + name + "\"";
}
// A file opened for reading by another process with the given sharing
// (FILE_SHARE_* bits; 0 shares nothing).
inline std::string HoldFileArguments(const std::string& path, DWORD share)
{
    return "--hold-file \"" + path + "\" " + std::to_string(share);
}

// The helper side, `program --hold-mutex NAME ...` or `--hold-file PATH SHARE ...`;
// argv[0] is the mode. Returns the helper's exit status.
int HolderMain(int argc, char** argv);
