#pragma once
// Helpers of the publisher's native tests: temporary folders and files.
#include <cstdint>
#include <string>
#include <vector>

// A fresh folder under $TMPDIR (or /tmp), removed with its contents at the end.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }

private:
    std::string path_;
};

// Writes a file, creating its folders.
void Put(const std::string& path, const std::string& bytes);
std::string Get(const std::string& path);
bool FileExists(const std::string& path);
// A stand-in for the updater's image: "MZ" and filler, n bytes.
std::string FakeImage(size_t n = 0x600);
// Runs the native tool with arguments; its exit status, stdout and stderr.
struct RunResult {
    int status;
    std::string out, err;
    long maxRssKiB;
};
// fileSizeLimit > 0: the tool runs with RLIMIT_FSIZE set to it (writes beyond fail).
RunResult RunTool(const std::vector<std::string>& args, long fileSizeLimit = 0);
