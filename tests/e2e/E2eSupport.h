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

// A mutex created and held by another process (this program started again).
class MutexHolder {
public:
    explicit MutexHolder(const char* name);
    ~MutexHolder();
    MutexHolder(const MutexHolder&) = delete;
    MutexHolder& operator=(const MutexHolder&) = delete;
    bool Holding() const { return holding_; }

private:
    HANDLE process_ = nullptr;
    HANDLE release_ = nullptr;
    bool holding_ = false;
};

// The helper side: `program --hold-mutex NAME READY RELEASE`.
int HoldMutexMain(const char* name, const char* ready, const char* release);
