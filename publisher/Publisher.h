#pragma once
// The publisher's tool: builds, lists and verifies update executables. Portable
// C++ (std::filesystem, stdio); texts go through PublisherText.
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

// Exit codes of the tool (also in --help and the README).
enum PublisherExit {
    kExitOk = 0,          // done; verify: the update is sound
    kExitVerifyFailed = 1,  // verify found damage or a mismatch
    kExitUsage = 2,       // bad command line
    kExitRefused = 3,     // build refused its inputs; nothing was written
    kExitIoError = 4,     // a file could not be read or written
};

// One file given explicitly: where it installs, and where it is read from.
struct ExplicitFile {
    std::string installPath;  // UTF-8, relative, '\' or '/' separated
    std::string source;       // UTF-8 path on this machine
};

struct BuildOptions {
    std::string image;        // the built updater executable
    std::string caption;      // UTF-8 caption text
    bool captionFromFile = false;  // caption holds a path to a UTF-8 file instead
    std::string folder;       // every regular file under it, with its relative path
    std::vector<ExplicitFile> files;
    std::string output;
    bool progress = false;    // draw a progress bar on stderr
};

int BuildUpdate(const BuildOptions& options, std::ostream& out, std::ostream& err);
int ListUpdate(const std::string& path, std::ostream& out, std::ostream& err);
int VerifyUpdate(const std::string& path, std::ostream& out, std::ostream& err);

// The name of the tool in messages.
constexpr const char kToolName[] = "updpub";
