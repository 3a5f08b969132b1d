#include "tests/support/TestSupport.h"
#include "writer/PackageWriter.h"
#include <algorithm>
#include <vector>

TempFolder::TempFolder()
{
    static unsigned serial = 0;
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    char name[MAX_PATH];
    wsprintfA(name, "%supd%lu_%u", base, GetCurrentProcessId(), ++serial);
    path_ = name;
    RemoveTree(path_);
    CreateDirectoryA(path_.c_str(), nullptr);
}

TempFolder::~TempFolder()
{
    RemoveTree(path_);
}

bool PutFile(const std::string& path, const std::string& bytes)
{
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return WriteWholeFile(path, bytes);
}

std::string FileBytes(const std::string& path)
{
    std::string bytes;
    if (!ReadWholeFile(path, bytes))
        return "<missing>";
    return bytes;
}

bool Exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ListFolder(const std::string& folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string n = data.cFileName;
            if (n != "." && n != "..")
                names.push_back(n);
        } while (FindNextFileA(find, &data));
        FindClose(find);
    }
    std::sort(names.begin(), names.end());
    std::string out;
    for (const std::string& n : names)
        out += (out.empty() ? "" : "|") + n;
    return out;
}

static void ListTreeInto(const std::string& folder, const std::string& prefix, std::vector<TreeEntry>& out)
{
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string n = data.cFileName;
        if (n == "." || n == "..")
            continue;
        out.push_back(TreeEntry{prefix + n, data.dwFileAttributes});
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ListTreeInto(folder + "\\" + n, prefix + n + "\\", out);
    } while (FindNextFileA(find, &data));
    FindClose(find);
}

std::vector<TreeEntry> ListTree(const std::string& folder)
{
    std::vector<TreeEntry> out;
    ListTreeInto(folder, "", out);
    return out;
}

void RemoveTree(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileA(path.c_str());
        return;
    }
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((path + "\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string n = data.cFileName;
            if (n != "." && n != "..")
                RemoveTree(path + "\\" + n);
        } while (FindNextFileA(find, &data));
        FindClose(find);
    }
    RemoveDirectoryA(path.c_str());
}
