#pragma once
// Small helpers for tests that touch real files under Wine.
#include <string>
#include <vector>
#include <windows.h>

// A fresh, empty folder under the system temp folder; removed by the destructor.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

bool PutFile(const std::string& path, const std::string& bytes);
// The file's bytes, or "<missing>" when it cannot be read.
std::string FileBytes(const std::string& path);
bool Exists(const std::string& path);
// Names of the files and folders directly in a folder, sorted, joined by '|'.
std::string ListFolder(const std::string& folder);
void RemoveTree(const std::string& path);

// Everything under a folder, depth first: paths relative to it ('\' separated).
struct TreeEntry {
    std::string path;
    DWORD attributes;
};
std::vector<TreeEntry> ListTree(const std::string& folder);
