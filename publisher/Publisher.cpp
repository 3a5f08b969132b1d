#include "publisher/Publisher.h"
#include "package/ContentChecksum.h"
#include "package/PackageLayout.h"
#include "publisher/PublisherText.h"
#include "writer/PackageWriter.h"
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <ostream>
#include <sstream>
#ifdef _WIN32
#include <windows.h>
#include <io.h>
#else
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <thread>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

constexpr size_t kChunk = 1 << 20;      // bytes read and written at a time
constexpr uint64_t kSeekLimit = 0x80000000u;  // the updater positions below 2^31

fs::path U8(const std::string& s)
{
    return fs::u8path(s);
}

std::string Shown(const fs::path& p)
{
    return p.u8string();
}

FILE* OpenFile(const fs::path& p, const char* mode)
{
#ifdef _WIN32
    std::wstring m(mode, mode + strlen(mode));
    return _wfopen(p.c_str(), m.c_str());
#else
    return fopen(p.c_str(), mode);
#endif
}

struct FileCloser {
    void operator()(FILE* f) const
    {
        if (f)
            fclose(f);
    }
};
using File = std::unique_ptr<FILE, FileCloser>;

// Reads a whole (small) file; false on any failure.
bool ReadSmallFile(const fs::path& p, std::string& bytes)
{
    File f(OpenFile(p, "rb"));
    if (!f)
        return false;
    bytes.clear();
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f.get())) > 0)
        bytes.append(buf, n);
    return !ferror(f.get());
}

bool SeekFile(FILE* f, uint64_t at)
{
#ifdef _WIN32
    return _fseeki64(f, int64_t(at), SEEK_SET) == 0;
#else
    return fseeko(f, off_t(at), SEEK_SET) == 0;
#endif
}

// Reads up to n bytes at a position; the count read.
size_t ReadAt(FILE* f, uint64_t at, void* buf, size_t n)
{
    if (!SeekFile(f, at))
        return 0;
    return fread(buf, 1, n, f);
}

std::string Hex(const unsigned char* b, size_t n)
{
    std::string s;
    char t[4];
    for (size_t i = 0; i < n; ++i) {
        snprintf(t, sizeof t, "%02x", b[i]);
        s += t;
        if (i == 3 && n == 8)
            s += ' ';
    }
    return s;
}

std::string HexNumber(uint64_t v)
{
    char t[32];
    snprintf(t, sizeof t, "0x%llX", static_cast<unsigned long long>(v));
    return t;
}

// ---- progress ----------------------------------------------------------

class Progress {
public:
    Progress(bool enabled, uint64_t total) : enabled_(enabled), total_(total ? total : 1) {}
    ~Progress() { Finish(); }
    void Add(uint64_t n)
    {
        done_ += n;
        if (!enabled_)
            return;
        auto now = std::chrono::steady_clock::now();
        if (drawn_ && now - last_ < std::chrono::milliseconds(100) && done_ < total_)
            return;
        last_ = now;
        drawn_ = true;
        int width = 40;
        int filled = int(done_ * width / total_);
        std::string bar(size_t(filled), '#');
        bar.resize(size_t(width), '.');
        fprintf(stderr, "\r[%s] %3d%% %llu/%llu MiB", bar.c_str(), int(done_ * 100 / total_),
                static_cast<unsigned long long>(done_ >> 20),
                static_cast<unsigned long long>(total_ >> 20));
        fflush(stderr);
    }
    void Finish()
    {
        if (enabled_ && drawn_)
            fprintf(stderr, "\n");
        drawn_ = false;
        enabled_ = false;
    }

private:
    bool enabled_;
    uint64_t total_;
    uint64_t done_ = 0;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point last_;
};

// ---- writing chunks behind the reader -------------------------------

// Writes 1 MiB chunks to the output. Where the C++ library has threads (Linux)
// the writes run on a thread of their own, so that reading and checksumming
// the next chunk overlaps writing this one; memory stays at three chunks.
// Elsewhere (the Windows build) each chunk is written at once.
class ChunkWriter {
public:
    explicit ChunkWriter(FILE* f) : f_(f)
    {
        for (auto& b : buf_)
            b.reset(new char[kChunk]);
#ifndef _WIN32
        thread_ = std::thread([this] { Run(); });
#endif
    }
    ~ChunkWriter() { Finish(); }
    ChunkWriter(const ChunkWriter&) = delete;
    ChunkWriter& operator=(const ChunkWriter&) = delete;

    // A free buffer of kChunk bytes, to fill and then Submit.
    char* Buffer()
    {
#ifndef _WIN32
        std::unique_lock<std::mutex> lock(m_);
        cv_.wait(lock, [this] { return queued_ < kSlots; });
#endif
        return buf_[head_].get();
    }
    // Queues the buffer that Buffer() gave, with n bytes in it.
    void Submit(size_t n)
    {
#ifndef _WIN32
        std::lock_guard<std::mutex> lock(m_);
        len_[head_] = n;
        head_ = (head_ + 1) % kSlots;
        ++queued_;
        cv_.notify_all();
#else
        if (fwrite(buf_[0].get(), 1, n, f_) != n)
            failed_ = true;
#endif
    }
    bool Failed()
    {
#ifndef _WIN32
        std::lock_guard<std::mutex> lock(m_);
#endif
        return failed_;
    }
    // Waits for every queued chunk; false when a write failed.
    bool Finish()
    {
#ifndef _WIN32
        {
            std::lock_guard<std::mutex> lock(m_);
            stop_ = true;
            cv_.notify_all();
        }
        if (thread_.joinable())
            thread_.join();
#endif
        return !failed_;
    }

private:
#ifndef _WIN32
    void Run()
    {
        std::unique_lock<std::mutex> lock(m_);
        for (;;) {
            cv_.wait(lock, [this] { return queued_ > 0 || stop_; });
            if (queued_ == 0)
                return;
            int slot = tail_;
            size_t n = len_[slot];
            bool skip = failed_;
            lock.unlock();
            bool ok = skip || fwrite(buf_[slot].get(), 1, n, f_) == n;
            lock.lock();
            if (!ok)
                failed_ = true;
            tail_ = (tail_ + 1) % kSlots;
            --queued_;
            cv_.notify_all();
        }
    }
    static constexpr int kSlots = 3;
    std::mutex m_;
    std::condition_variable cv_;
    std::thread thread_;
    int tail_ = 0, queued_ = 0;
    bool stop_ = false;
#else
    static constexpr int kSlots = 1;
#endif
    FILE* f_;
    std::unique_ptr<char[]> buf_[kSlots];
    size_t len_[kSlots] = {};
    int head_ = 0;
    bool failed_ = false;
};

// ---- removal of a partial output on an interrupt -----------------------

#ifndef _WIN32
char PartialPath[4096];

void RemovePartialAndExit(int sig)
{
    if (PartialPath[0])
        unlink(PartialPath);
    signal(sig, SIG_DFL);
    raise(sig);
}
#endif

#ifdef _WIN32
// Ctrl-C or a closed console: the build loop stops at its next chunk and
// removes the partial file itself.
volatile LONG Interrupted = 0;

BOOL WINAPI OnConsoleControl(DWORD)
{
    InterlockedExchange(&Interrupted, 1);
    return TRUE;
}
#endif

bool WasInterrupted()
{
#ifdef _WIN32
    return Interrupted != 0;
#else
    return false;  // on Linux the signal handler removes the partial file
#endif
}

void WatchPartial(const fs::path& p)
{
#ifdef _WIN32
    (void)p;
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
#else
    std::string s = p.string();
    if (s.size() < sizeof PartialPath) {
        memcpy(PartialPath, s.c_str(), s.size() + 1);
        signal(SIGINT, RemovePartialAndExit);
        signal(SIGTERM, RemovePartialAndExit);
        signal(SIGHUP, RemovePartialAndExit);
    }
#endif
}

void UnwatchPartial()
{
#ifdef _WIN32
    SetConsoleCtrlHandler(OnConsoleControl, FALSE);
#else
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    signal(SIGHUP, SIG_DFL);
    PartialPath[0] = '\0';
#endif
}

bool ReplaceFile(const fs::path& from, const fs::path& to)
{
#ifdef _WIN32
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
    return rename(from.c_str(), to.c_str()) == 0;
#endif
}

// ---- names ------------------------------------------------------------

// Why a name component cannot be a Windows file name, or empty when it can.
std::string ForbiddenIn(const std::string& component)
{
    if (component.empty())
        return "an empty name";
    for (unsigned char c : component) {
        if (c < 0x20)
            return "a control character";
        if (strchr("<>:\"/\\|?*", c))
            return std::string("the character '") + char(c) + "', which Windows forbids in file names";
    }
    char last = component.back();
    if (last == ' ' || last == '.')
        return "a trailing space or dot, which Windows drops from file names";
    std::string base = component.substr(0, component.find('.'));
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    std::transform(base.begin(), base.end(), base.begin(),
                   [](char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; });
    static const char* reserved[] = {"CON", "PRN", "AUX", "NUL", "COM1", "COM2", "COM3", "COM4",
                                     "COM5", "COM6", "COM7", "COM8", "COM9", "LPT1", "LPT2",
                                     "LPT3", "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"};
    for (const char* r : reserved)
        if (base == r)
            return "the reserved device name " + base;
    return std::string();
}

// The same test on the converted bytes: a character that converts to a
// forbidden single byte (outside a double-byte character).
std::string ForbiddenInCp932(const std::string& cp)
{
    for (size_t i = 0; i < cp.size(); ++i) {
        unsigned char b = static_cast<unsigned char>(cp[i]);
        if (IsCp932LeadByte(b) && i + 1 < cp.size()) {
            ++i;
            continue;
        }
        if (b < 0x20 || strchr("<>:\"/\\|?*", b))
            return "a character that becomes a forbidden byte in code page 932";
    }
    return std::string();
}

struct Planned {
    std::string name;      // code page 932, the entry's name
    std::string record;    // code page 932, '\' separated
    std::string lowered;   // the name as the updater compares it
    std::string shown;     // UTF-8 install path for messages
    fs::path source;
    uint64_t size = 0;
};

class Refusals {
public:
    explicit Refusals(std::ostream& err) : err_(err) {}
    void Add(const std::string& who, const std::string& why)
    {
        err_ << kToolName << ": refused: " << who << ": " << why << "\n";
        ++count_;
    }
    int Count() const { return count_; }

private:
    std::ostream& err_;
    int count_ = 0;
};

// Splits a UTF-8 install path on '\' and '/'.
std::vector<std::string> SplitPath(const std::string& p)
{
    std::vector<std::string> parts(1);
    for (char c : p) {
        if (c == '\\' || c == '/')
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}

// Checks and converts one install path; false (with refusals) when unusable.
bool PlanFile(const std::vector<std::string>& components, const std::string& shown,
              const fs::path& source, Refusals& refuse, std::vector<Planned>& plan)
{
    bool ok = true;
    std::string record, name;
    for (size_t i = 0; i < components.size(); ++i) {
        const std::string& c = components[i];
        if (c == "." || c == ".." || c.empty()) {
            refuse.Add(shown, "the path would leave the install folder (empty, '.' or '..' component, or an absolute path)");
            return false;
        }
        std::string why = ForbiddenIn(c);
        if (!why.empty()) {
            refuse.Add(shown, "the name \"" + c + "\" holds " + why);
            ok = false;
            continue;
        }
        std::string cp;
        if (!Utf8ToCp932(c, cp)) {
            refuse.Add(shown, "the name \"" + c + "\" cannot be represented in code page 932");
            ok = false;
            continue;
        }
        why = ForbiddenInCp932(cp);
        if (!why.empty()) {
            refuse.Add(shown, "the name \"" + c + "\" holds " + why);
            ok = false;
            continue;
        }
        if (i)
            record += '\\';
        record += cp;
        name = cp;
    }
    if (!ok)
        return false;
    if (name.size() > kWideNameField - 1) {
        refuse.Add(shown, "the entry name is " + std::to_string(name.size()) +
                              " bytes in code page 932; at most 95 fit");
        ok = false;
    }
    if (record.size() > kHashListPathField - 1) {
        refuse.Add(shown, "the record path is " + std::to_string(record.size()) +
                              " bytes in code page 932; at most 55 fit");
        ok = false;
    }
    std::string lowered = name;
    if (!LowercaseCp932(lowered)) {
        refuse.Add(shown, "the name holds a character that the updater cannot lower-case");
        ok = false;
    } else if (lowered == kHashListName) {
        refuse.Add(shown, "the name equals the hash list's \"jor.hvl\" (ignoring case); the updater would take it for its hash list");
        ok = false;
    }
    if (!ok)
        return false;
    Planned p;
    p.name = name;
    p.record = record;
    p.lowered = lowered;
    p.shown = shown;
    p.source = source;
    plan.push_back(p);
    return true;
}

bool SameFile(const fs::path& a, const fs::path& b)
{
    std::error_code ec;
    if (fs::exists(a, ec) && fs::exists(b, ec))
        return fs::equivalent(a, b, ec);
    return fs::weakly_canonical(a, ec) == fs::weakly_canonical(b, ec);
}

}  // namespace

int BuildUpdate(const BuildOptions& o, std::ostream& out, std::ostream& err)
{
    Refusals refuse(err);
    std::error_code ec;

    // The image.
    fs::path imagePath = U8(o.image);
    std::string image;
    if (!fs::is_regular_file(imagePath, ec)) {
        err << kToolName << ": cannot read the image " << o.image << "\n";
        return kExitIoError;
    }
    uint64_t imageSize = fs::file_size(imagePath, ec);
    if (imageSize > kMaxImageEnd) {
        refuse.Add(o.image, "the image is " + std::to_string(imageSize) +
                                " bytes; it must end at or before 0x20000 (131072)");
    } else if (!ReadSmallFile(imagePath, image)) {
        err << kToolName << ": cannot read the image " << o.image << "\n";
        return kExitIoError;
    }

    // The caption.
    std::string captionUtf8 = o.caption, captionName = "the caption";
    if (o.captionFromFile) {
        captionName = o.caption;
        if (!ReadSmallFile(U8(o.caption), captionUtf8)) {
            err << kToolName << ": cannot read the caption file " << o.caption << "\n";
            return kExitIoError;
        }
        while (!captionUtf8.empty() && (captionUtf8.back() == '\n' || captionUtf8.back() == '\r'))
            captionUtf8.pop_back();
    }
    std::string caption;
    if (captionUtf8.find('\0') != std::string::npos)
        refuse.Add(captionName, "the caption holds a NUL byte");
    else if (!Utf8ToCp932(captionUtf8, caption))
        refuse.Add(captionName, "the caption holds a character that code page 932 cannot represent (or is not UTF-8)");
    else if (caption.size() > kCaptionBlockSize - 1)
        refuse.Add(captionName, "the caption is " + std::to_string(caption.size()) +
                                    " bytes in code page 932; at most 4095 fit");

    // The files.
    std::vector<Planned> plan;
    if (!o.folder.empty()) {
        fs::path root = U8(o.folder);
        if (!fs::is_directory(root, ec)) {
            err << kToolName << ": not a folder: " << o.folder << "\n";
            return kExitIoError;
        }
        fs::recursive_directory_iterator it(root, ec), end;
        if (ec) {
            err << kToolName << ": cannot read the folder " << o.folder << ": " << ec.message() << "\n";
            return kExitIoError;
        }
        for (; it != end; it.increment(ec)) {
            if (ec)
                break;
            const fs::path& p = it->path();
            if (it->is_directory(ec))
                continue;
            fs::path rel = p.lexically_relative(root);
            std::vector<std::string> parts;
            for (const fs::path& c : rel)
                parts.push_back(c.u8string());
            if (!it->is_regular_file(ec)) {
                refuse.Add(Shown(p), "not a regular file");
                continue;
            }
            PlanFile(parts, Shown(p), p, refuse, plan);
        }
        if (ec) {
            err << kToolName << ": cannot read the folder " << o.folder << ": " << ec.message() << "\n";
            return kExitIoError;
        }
    }
    for (const ExplicitFile& f : o.files) {
        fs::path src = U8(f.source);
        if (!fs::is_regular_file(src, ec)) {
            refuse.Add(f.source, "not a regular file that can be read");
            continue;
        }
        const std::string& ip = f.installPath;
        if (!ip.empty() && (ip[0] == '\\' || ip[0] == '/' || (ip.size() >= 2 && ip[1] == ':'))) {
            refuse.Add(f.source + " (as " + ip + ")", "the path would leave the install folder (absolute or drive path)");
            continue;
        }
        PlanFile(SplitPath(ip), f.source + " (as " + ip + ")", src, refuse, plan);
    }

    // Stable order: by record path, byte by byte in code page 932.
    std::sort(plan.begin(), plan.end(),
              [](const Planned& a, const Planned& b) { return a.record < b.record; });

    // Names that the updater could not tell apart.
    std::map<std::string, const Planned*> seen;
    for (const Planned& p : plan) {
        auto found = seen.find(p.lowered);
        if (found != seen.end())
            refuse.Add(p.shown, "its name equals that of " + found->second->shown +
                                    " ignoring case; the updater would match only the first record");
        else
            seen[p.lowered] = &p;
    }
    if (plan.size() + 1 > kMaxArchiveEntries)
        refuse.Add(o.folder.empty() ? "the file list" : o.folder,
                   std::to_string(plan.size()) + " files and the hash list make " +
                       std::to_string(plan.size() + 1) + " entries; at most 256 fit");

    // The output must be none of the inputs.
    fs::path output = U8(o.output);
    std::vector<fs::path> inputs = {imagePath};
    if (o.captionFromFile)
        inputs.push_back(U8(o.caption));
    for (const Planned& p : plan)
        inputs.push_back(p.source);
    for (const fs::path& in : inputs)
        if (SameFile(output, in)) {
            refuse.Add(o.output, "the output is one of the inputs (" + Shown(in) + ")");
            break;
        }
    if (fs::is_directory(output, ec))
        refuse.Add(o.output, "the output is a folder");

    // Sizes: the updater positions its file below 2^31.
    uint64_t count = plan.size() + 1;
    uint64_t hashListSize = kHashListHeaderSize + kHashListRecordSize * plan.size();
    uint64_t dataStart = kArchiveIndexOffset + count * kWideEntrySize;
    uint64_t end = dataStart + hashListSize;
    for (Planned& p : plan) {
        p.size = fs::file_size(p.source, ec);
        if (ec) {
            err << kToolName << ": cannot read " << Shown(p.source) << "\n";
            return kExitIoError;
        }
        end += p.size;
    }
    if (end >= kSeekLimit)
        refuse.Add(o.folder.empty() ? "the file list" : o.folder,
                   "the package would be " + std::to_string(end) +
                       " bytes; its data would reach position 2^31, beyond the updater's seek limit");

    if (refuse.Count()) {
        err << kToolName << ": nothing was written\n";
        return kExitRefused;
    }

    // The head: image, zero fill, caption block, header, index.
    PackageDescription desc;
    desc.image = image;
    desc.caption = caption;
    uint32_t offset = 0;
    for (const Planned& p : plan) {
        PackageEntry e;
        e.name = p.name;
        e.placeData = false;
        e.offset = offset;
        e.size = uint32_t(p.size);
        offset += uint32_t(p.size);
        desc.entries.push_back(e);
    }
    PackageEntry list;
    list.name = kHashListName;
    list.placeData = false;
    list.offset = offset;
    list.size = uint32_t(hashListSize);
    desc.entries.push_back(list);
    std::string head = BuildPackage(desc);

    // Written beside the output, renamed over it only when complete.
    fs::path partial = output;
    partial += ".partial";
    WatchPartial(partial);
    File f(OpenFile(partial, "wb"));
    auto fail = [&](const std::string& what) {
        f.reset();
        fs::remove(partial, ec);
        UnwatchPartial();
        err << kToolName << ": " << what << "; nothing was written\n";
        return kExitIoError;
    };
    if (!f)
        return fail("cannot create " + Shown(partial));
    if (fwrite(head.data(), 1, head.size(), f.get()) != head.size())
        return fail("cannot write " + Shown(partial));

    std::vector<HashRecord> records;
    Progress progress(o.progress, end - head.size());
    std::string problem;  // set on the first failure; the writer stops before we report it
    {
        ChunkWriter writer(f.get());
        for (const Planned& p : plan) {
            File in(OpenFile(p.source, "rb"));
            if (!in) {
                problem = "cannot open " + Shown(p.source);
                break;
            }
            setvbuf(in.get(), nullptr, _IONBF, 0);  // chunks go straight into our buffers
            ContentChecksum sum = {};
            uint64_t done = 0;
            for (;;) {
                char* buf = writer.Buffer();
                size_t n = fread(buf, 1, kChunk, in.get());
                if (n == 0)
                    break;
                UpdateContentChecksum(sum, buf, n);
                writer.Submit(n);
                done += n;
                progress.Add(n);
                if (done > p.size || writer.Failed() || WasInterrupted())
                    break;
            }
            if (WasInterrupted())
                problem = "interrupted";
            else if (writer.Failed())
                problem = "cannot write " + Shown(partial);
            else if (ferror(in.get()))
                problem = "cannot read " + Shown(p.source);
            else if (done != p.size)
                problem = Shown(p.source) + " changed its size while it was read";
            if (!problem.empty())
                break;
            HashRecord r;
            r.path = p.record;
            memcpy(r.checksum, sum.bytes, 8);
            records.push_back(r);
        }
        if (!writer.Finish() && problem.empty())
            problem = "cannot write " + Shown(partial);
    }
    if (!problem.empty())
        return fail(problem);
    std::string hashList = BuildHashList(records);
    if (fwrite(hashList.data(), 1, hashList.size(), f.get()) != hashList.size())
        return fail("cannot write " + Shown(partial));
    progress.Add(hashList.size());
    progress.Finish();
    FILE* raw = f.release();
    if (fclose(raw) != 0)
        return fail("cannot write " + Shown(partial));
    if (!ReplaceFile(partial, output))
        return fail("cannot rename " + Shown(partial) + " to " + o.output);
    UnwatchPartial();

    size_t inFolders = 0;
    for (const Planned& p : plan)
        if (p.record != p.name)
            ++inFolders;
    out << "wrote " << o.output << ": " << plan.size() << " files and the hash list, " << end
        << " bytes\n";
    if (inFolders)
        out << "note: " << inFolders
            << " files install into subfolders; the updater creates no folders, so those "
               "folders must exist in the game's folder\n";
    return kExitOk;
}

// ---- reading an update as the updater does ----------------------------

namespace {

// Where a PE image's last section ends in the file, or 0 when the file does
// not start with a PE image.
uint64_t PeImageEnd(FILE* f)
{
    unsigned char dos[64];
    if (ReadAt(f, 0, dos, sizeof dos) != sizeof dos || dos[0] != 'M' || dos[1] != 'Z')
        return 0;
    uint32_t pe = ReadLe32(dos + 0x3C);
    unsigned char nt[24];
    if (pe > 0x10000 || ReadAt(f, pe, nt, sizeof nt) != sizeof nt || memcmp(nt, "PE\0\0", 4) != 0)
        return 0;
    unsigned sections = nt[6] | nt[7] << 8;
    unsigned optional = nt[20] | nt[21] << 8;
    uint64_t end = pe + 24 + optional + 40ull * sections;  // the headers
    for (unsigned i = 0; i < sections; ++i) {
        unsigned char sec[40];
        if (ReadAt(f, pe + 24 + optional + 40ull * i, sec, sizeof sec) != sizeof sec)
            return 0;
        uint64_t raw = ReadLe32(sec + 20), size = ReadLe32(sec + 16);
        if (size)
            end = std::max(end, raw + size);
    }
    return end;
}

struct EntryView {
    std::string name;       // code page 932, up to the NUL
    bool terminated = true;
    uint32_t offset = 0, size = 0, position = 0;
    int record = -1;
    bool isHashList = false;
};

struct Inspection {
    uint64_t fileSize = 0;
    uint64_t imageEnd = 0;  // 0: no PE image
    bool captionRead = false;
    std::string caption;
    bool captionTerminated = false;
    bool headerRead = false;
    std::string magic;
    bool wide = false;
    uint32_t count = 0;
    uint32_t entrySize = 0, nameField = 0;
    uint32_t dataStart = 0;
    bool tableRead = false;
    std::vector<EntryView> entries;
    int hashList = -1;
    bool hashListLoaded = false;
    std::string hashListProblem;
    uint32_t recordCount = 0;
    std::vector<std::string> recordPaths;
    std::vector<std::string> strays;  // non-zero bytes where the writer puts zeros
    std::vector<bool> recordTerminated;
    std::vector<std::array<unsigned char, 8>> recordSums;
    uint64_t dataEnd = 0;
    std::vector<std::string> problems;
};

bool AllZero(const unsigned char* p, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (p[i])
            return false;
    return true;
}

std::string FieldText(const unsigned char* p, size_t n, bool& terminated)
{
    size_t len = strnlen(reinterpret_cast<const char*>(p), n);
    terminated = len < n;
    return std::string(reinterpret_cast<const char*>(p), len);
}

int FindRecord(const Inspection& in, const std::string& entryName)
{
    std::string name = entryName;
    LowercaseCp932(name);
    for (size_t i = 0; i < in.recordPaths.size(); ++i) {
        std::string last = LastComponentCp932(in.recordPaths[i]);
        LowercaseCp932(last);
        if (last == name)
            return int(i);
    }
    return -1;
}

// Returns false when the file cannot be opened.
bool Inspect(const std::string& path, Inspection& in, std::ostream& err)
{
    std::error_code ec;
    fs::path p = U8(path);
    File f(OpenFile(p, "rb"));
    if (!f || !fs::is_regular_file(p, ec)) {
        err << kToolName << ": cannot open " << path << "\n";
        return false;
    }
    in.fileSize = fs::file_size(p, ec);
    in.imageEnd = PeImageEnd(f.get());
    if (in.imageEnd == 0)
        in.problems.push_back("the file does not start with a PE image (MZ and PE headers): Windows would not run it");
    else if (in.imageEnd > kMaxImageEnd)
        in.problems.push_back("the image ends at " + HexNumber(in.imageEnd) + ", after 0x20000, inside the package");
    else if (in.fileSize >= kCaptionBlockOffset) {
        std::vector<unsigned char> fill(size_t(kCaptionBlockOffset - in.imageEnd));
        if (ReadAt(f.get(), in.imageEnd, fill.data(), fill.size()) == fill.size() &&
            !AllZero(fill.data(), fill.size()))
            in.strays.push_back("the zero fill between the image and 0x20000");
    }
    unsigned char block[kCaptionBlockSize];
    if (in.fileSize >= kCaptionBlockOffset &&
        ReadAt(f.get(), kCaptionBlockOffset, block, sizeof block) == sizeof block) {
        in.captionRead = true;
        in.caption = FieldText(block, sizeof block, in.captionTerminated);
        if (in.captionTerminated && !AllZero(block + in.caption.size(), sizeof block - in.caption.size()))
            in.strays.push_back("the caption block after its text");
        if (!in.captionTerminated)
            in.problems.push_back("the caption block has no NUL in its 4096 bytes");
    } else {
        in.problems.push_back("the file is " + std::to_string(in.fileSize) +
                              " bytes, too short for the caption block at 0x20000: the updater would show \"error\" and stop");
    }
    unsigned char header[kArchiveHeaderSize];
    if (in.fileSize < kArchiveHeaderOffset ||
        ReadAt(f.get(), kArchiveHeaderOffset, header, sizeof header) != sizeof header) {
        in.problems.push_back("no archive header at 0x21000 (file of " + std::to_string(in.fileSize) +
                              " bytes): the updater would report a damaged package");
        return true;
    }
    in.headerRead = true;
    in.magic.assign(reinterpret_cast<const char*>(header), kArchiveMagicSize);
    in.count = ReadLe32(header + 12);
    if (in.count > kMaxArchiveEntries) {
        in.problems.push_back("the header counts " + std::to_string(in.count) +
                              " entries; the updater accepts at most 256");
        return true;
    }
    in.wide = memcmp(header, kArchiveMagic, kArchiveMagicSize) == 0;
    in.entrySize = in.wide ? kWideEntrySize : kNarrowEntrySize;
    in.nameField = in.wide ? kWideNameField : kNarrowNameField;
    in.dataStart = kArchiveIndexOffset + in.count * in.entrySize;
    std::vector<unsigned char> table(size_t(in.count) * in.entrySize);
    if (!table.empty() && ReadAt(f.get(), kArchiveIndexOffset, table.data(), table.size()) != table.size()) {
        in.problems.push_back("the index of " + std::to_string(in.count) +
                              " entries runs past the end of the file: the updater would report a damaged package");
        return true;
    }
    in.tableRead = true;
    for (uint32_t i = 0; i < in.count; ++i) {
        const unsigned char* slot = &table[size_t(i) * in.entrySize];
        EntryView e;
        e.name = FieldText(slot, in.nameField, e.terminated);
        if (!AllZero(slot + e.name.size(), in.nameField - e.name.size()) ||
            !AllZero(slot + in.nameField + 8, in.entrySize - in.nameField - 8))
            in.strays.push_back("entry " + std::to_string(i) + "'s name field tail or reserved bytes");
        e.offset = ReadLe32(slot + in.nameField);
        e.size = ReadLe32(slot + in.nameField + 4);
        e.position = in.dataStart + e.offset;  // the updater's 32-bit sum
        uint64_t endAt = uint64_t(e.position) + e.size;
        in.dataEnd = std::max(in.dataEnd, endAt);
        std::string lowered = e.name;
        LowercaseCp932(lowered);
        if (in.hashList < 0 && lowered == kHashListName) {
            in.hashList = int(i);
            e.isHashList = true;
        }
        in.entries.push_back(e);
    }
    // The hash list, read as LoadHashList does: from the entry's start, its
    // size not consulted.
    if (in.hashList < 0) {
        in.hashListProblem = "no entry is named \"jor.hvl\"";
    } else {
        const EntryView& e = in.entries[size_t(in.hashList)];
        unsigned char h[kHashListHeaderSize];
        if (e.position >= kSeekLimit ||
            ReadAt(f.get(), e.position, h, sizeof h) != sizeof h) {
            in.hashListProblem = "its header cannot be read";
        } else if (memcmp(h, kHashListMagic, 8) != 0) {
            in.hashListProblem = "its magic is not \"KSV_____\"";
        } else {
            in.recordCount = ReadLe32(h + 12);
            if (!AllZero(h + 8, 4))
                in.strays.push_back("hash list header bytes 8 to 11");
            uint64_t bytes = uint64_t(in.recordCount) * kHashListRecordSize;
            if (e.position + kHashListHeaderSize + bytes > in.fileSize) {
                in.hashListProblem = "its " + std::to_string(in.recordCount) +
                                     " records run past the end of the file";
            } else {
                std::vector<unsigned char> recs(static_cast<size_t>(bytes));
                if (!recs.empty() && fread(recs.data(), 1, recs.size(), f.get()) != recs.size()) {
                    in.hashListProblem = "its records cannot be read";
                } else {
                    in.hashListLoaded = true;
                    for (uint32_t r = 0; r < in.recordCount; ++r) {
                        const unsigned char* rec = &recs[size_t(r) * kHashListRecordSize];
                        bool term;
                        in.recordPaths.push_back(FieldText(rec, kHashListPathField, term));
                        size_t len = in.recordPaths.back().size();
                        if (!AllZero(rec + len, kHashListPathField - len))
                            in.strays.push_back("record " + std::to_string(r) + "'s path field tail");
                        in.recordTerminated.push_back(term);
                        std::array<unsigned char, 8> s;
                        memcpy(s.data(), rec + kHashListPathField, 8);
                        in.recordSums.push_back(s);
                    }
                    if (e.size != kHashListHeaderSize + bytes)
                        in.problems.push_back("the hash list entry is " + std::to_string(e.size) +
                                              " bytes but its header counts " +
                                              std::to_string(in.recordCount) + " records (" +
                                              std::to_string(kHashListHeaderSize + bytes) + " bytes)");
                }
            }
        }
    }
    if (!in.hashListLoaded)
        in.problems.push_back("hash list absent: " + in.hashListProblem +
                              "; the updater would install every entry unverified");
    for (EntryView& e : in.entries)
        e.record = FindRecord(in, e.name);
    return true;
}

std::string InstallName(const Inspection& in, const EntryView& e)
{
    return e.record >= 0 ? in.recordPaths[size_t(e.record)] : e.name;
}

}  // namespace

int ListUpdate(const std::string& path, std::ostream& out, std::ostream& err)
{
    Inspection in;
    if (!Inspect(path, in, err))
        return kExitIoError;
    out << "file: " << path << " (" << in.fileSize << " bytes)\n";
    if (in.imageEnd)
        out << "image: PE, ends at " << HexNumber(in.imageEnd) << " (" << in.imageEnd
            << "), zero fill to 0x20000\n";
    if (in.captionRead)
        out << "caption: " << Cp932ToUtf8(in.caption) << " (" << in.caption.size()
            << " bytes in code page 932)\n";
    if (in.headerRead) {
        out << "layout: caption block at 0x20000 (4096 bytes), archive header at 0x21000, magic \""
            << Cp932ToUtf8(in.magic) << "\" (" << (in.wide ? "128" : "32") << "-byte entries), "
            << in.count << " entries, data start " << HexNumber(in.dataStart) << " (" << in.dataStart
            << ")\n";
    }
    if (in.tableRead) {
        out << "entries, in the order the updater stages them:\n";
        for (size_t i = 0; i < in.entries.size(); ++i) {
            const EntryView& e = in.entries[i];
            out << "  " << i << ": " << Cp932ToUtf8(e.name) << "  offset " << e.offset << "  size "
                << e.size << "  at " << e.position << "\n";
            out << "      installs as " << Cp932ToUtf8(InstallName(in, e));
            if (e.record >= 0)
                out << ", expects checksum " << Hex(in.recordSums[size_t(e.record)].data(), 8)
                    << " (record " << e.record << ")";
            else
                out << ", unverified (no record)";
            if (e.isHashList)
                out << "; this entry is the hash list";
            out << "\n";
        }
        if (in.hashListLoaded) {
            out << "hash list: entry " << in.hashList << ", " << in.recordCount << " records:\n";
            for (size_t r = 0; r < in.recordPaths.size(); ++r)
                out << "  " << r << ": " << Cp932ToUtf8(in.recordPaths[r]) << "  "
                    << Hex(in.recordSums[r].data(), 8) << "\n";
        } else {
            out << "hash list: absent (" << in.hashListProblem << ")\n";
        }
        if (in.fileSize > in.dataEnd)
            out << "after the last entry's data: " << in.fileSize - in.dataEnd
                << " bytes the updater does not read (an Authenticode signature, for example)\n";
    }
    for (const std::string& p : in.problems)
        out << "problem: " << p << "\n";
    for (const std::string& p : in.strays)
        out << "note: " << p << " hold non-zero bytes (the updater ignores them)\n";
    return kExitOk;
}

int VerifyUpdate(const std::string& path, std::ostream& out, std::ostream& err)
{
    Inspection in;
    if (!Inspect(path, in, err))
        return kExitIoError;
    std::vector<std::string> problems = in.problems;
    for (const std::string& s : in.strays)
        problems.push_back(s + " hold non-zero bytes: the updater ignores them, but a package writer leaves "
                               "zeros there, so the file was changed after it was built");
    File f(OpenFile(U8(path), "rb"));
    std::unique_ptr<unsigned char[]> buf(new unsigned char[kChunk]);
    for (size_t i = 0; i < in.entries.size() && f; ++i) {
        const EntryView& e = in.entries[i];
        std::string who = "entry " + std::to_string(i) + " \"" + Cp932ToUtf8(e.name) + "\": ";
        if (!e.terminated)
            problems.push_back(who + "its name field has no NUL");
        if (HasSeparatorCp932(e.name))
            problems.push_back(who + "its name holds a folder separator; it can match no record");
        if (e.record >= 0 && !in.recordTerminated[size_t(e.record)])
            problems.push_back(who + "its record's path field has no NUL");
        for (const std::string& part : SplitPath(Cp932ToUtf8(InstallName(in, e))))
            if (part == ".." || part.empty())
                problems.push_back(who + "its install name leaves the install folder");
        if (e.position >= kSeekLimit) {
            problems.push_back(who + "its data lie at " + std::to_string(e.position) +
                               ", beyond the updater's seek limit of 2^31");
            continue;
        }
        if (uint64_t(e.position) + e.size > in.fileSize) {
            problems.push_back(who + "its data run past the end of the file");
            continue;
        }
        if (e.record < 0) {
            if (!e.isHashList && in.hashListLoaded)
                problems.push_back(who + "the hash list has no record for it; the updater would install it unverified");
            continue;
        }
        ContentChecksum sum = {};
        uint64_t left = e.size;
        bool read = SeekFile(f.get(), e.position);
        while (read && left) {
            size_t n = size_t(std::min<uint64_t>(left, kChunk));
            if (fread(buf.get(), 1, n, f.get()) != n)
                read = false;
            else
                UpdateContentChecksum(sum, buf.get(), n);
            left -= n;
        }
        if (!read) {
            problems.push_back(who + "its data cannot be read");
            continue;
        }
        if (!SameChecksum(sum, in.recordSums[size_t(e.record)].data()))
            problems.push_back(who + "checksum " + Hex(sum.bytes, 8) + " differs from its record's " +
                               Hex(in.recordSums[size_t(e.record)].data(), 8) +
                               ": the updater would stop with a damaged package");
    }
    if (problems.empty()) {
        out << path << ": ok, " << in.entries.size() << " entries, every checksum matches its record\n";
        return kExitOk;
    }
    for (const std::string& p : problems)
        err << kToolName << ": " << path << ": " << p << "\n";
    err << kToolName << ": " << path << ": verify failed (" << problems.size() << " problems)\n";
    return kExitVerifyFailed;
}
