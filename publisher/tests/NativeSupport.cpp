#include "publisher/tests/NativeSupport.h"
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

namespace fs = std::filesystem;

ScratchFolder::ScratchFolder()
{
    const char* base = getenv("TMPDIR");
    std::string t = std::string(base && *base ? base : "/tmp") + "/updpub-test-XXXXXX";
    char* made = mkdtemp(&t[0]);
    path_ = made ? made : "";
}

ScratchFolder::~ScratchFolder()
{
    std::error_code ec;
    if (!path_.empty())
        fs::remove_all(path_, ec);
}

void Put(const std::string& path, const std::string& bytes)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string Get(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool FileExists(const std::string& path)
{
    std::error_code ec;
    return fs::exists(path, ec);
}

std::string FakeImage(size_t n)
{
    // A DOS header, the PE signature, a COFF header of one section whose raw
    // data run from 0x200 to the end of the image; filler in the section.
    std::string s(n, '\0');
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            s[at + i] = char(v >> (8 * i));
    };
    s[0] = 'M';
    s[1] = 'Z';
    put32(0x3C, 0x40);
    memcpy(&s[0x40], "PE\0\0", 4);
    s[0x44] = '\x4C';
    s[0x45] = '\x01';           // i386
    s[0x46] = 1;                 // one section
    s[0x54] = '\xE0';           // optional header size
    size_t section = 0x40 + 24 + 0xE0;
    memcpy(&s[section], ".text", 5);
    put32(section + 16, uint32_t(n - 0x200));  // raw size
    put32(section + 20, 0x200);                // raw pointer
    for (size_t i = 0x200; i < n; ++i)
        s[i] = '\x90';
    return s;
}

static std::string Slurp(const std::string& path)
{
    std::string s = Get(path);
    unlink(path.c_str());
    return s;
}

RunResult RunTool(const std::vector<std::string>& args, long fileSizeLimit)
{
    ScratchFolder io;
    std::string outPath = io / "out", errPath = io / "err";
    pid_t pid = fork();
    if (pid == 0) {
        int o = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int e = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(o, 1);
        dup2(e, 2);
        if (fileSizeLimit > 0) {
            signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead
            struct rlimit limit = {rlim_t(fileSizeLimit), rlim_t(fileSizeLimit)};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        std::vector<char*> argv;
        std::string tool = UPDPUB_PATH;
        argv.push_back(&tool[0]);
        std::vector<std::string> copy = args;
        for (std::string& a : copy)
            argv.push_back(&a[0]);
        argv.push_back(nullptr);
        execv(tool.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    struct rusage use = {};
    wait4(pid, &status, 0, &use);
    RunResult r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = Slurp(outPath);
    r.err = Slurp(errPath);
    r.maxRssKiB = use.ru_maxrss;
    return r;
}
