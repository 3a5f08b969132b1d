#include "tests/e2e/E2eSupport.h"
#include "tests/support/TestSupport.h"
#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {

constexpr char kInstallKey[] = "Software\\Quellmark\\Vestrial";

}  // namespace

std::string UpdaterImagePath()
{
    const char* path = std::getenv("UPDATER_EXE");
    return path ? path : "";
}

std::string UpdaterImage()
{
    std::string bytes;
    ReadWholeFile(UpdaterImagePath(), bytes);
    return bytes;
}

UpdateSample MakeSample(const std::string& caption, size_t bigSize)
{
    UpdateSample s;
    s.readme = "Vestrial 1.0.1\r\nBalance changes and a new map.\r\n";
    s.big.resize(bigSize);
    uint32_t x = 12345;
    for (char& c : s.big) {
        x = x * 1103515245u + 12345u;
        c = char(x >> 24);
    }
    s.hashList = BuildHashList({RecordFor("readme.txt", s.readme), RecordFor("data\\big.bin", s.big)});
    s.desc.image = UpdaterImage();
    s.desc.caption = caption;
    s.desc.entries = {{"jor.hvl", s.hashList}, {"readme.txt", s.readme}, {"big.bin", s.big}};
    return s;
}

void SetInstallFolder(DWORD type, const std::string& data)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kInstallKey, 0, nullptr, 0, KEY_WRITE | KEY_WOW64_32KEY,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, "InstalledFolder", 0, type, reinterpret_cast<const BYTE*>(data.data()),
                   DWORD(data.size()));
    RegCloseKey(key);
}

void DeleteInstallKey()
{
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kInstallKey, KEY_WOW64_32KEY, 0);
}

std::string Snapshot(const std::string& folder)
{
    std::vector<std::string> files;
    for (const TreeEntry& e : ListTree(folder))
        if (!(e.attributes & FILE_ATTRIBUTE_DIRECTORY))
            files.push_back(e.path + "=" + FileBytes(folder + "\\" + e.path));
    std::sort(files.begin(), files.end());
    std::string out;
    for (const std::string& f : files)
        out += f + "\n";
    return out;
}

Holder::Holder(const std::string& arguments)
{
    static unsigned serial = 0;
    std::string tag = "e2e-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial);
    std::string ready = tag + "-ready";
    std::string release = tag + "-release";
    HANDLE readyEvent = CreateEventA(nullptr, TRUE, FALSE, ready.c_str());
    release_ = CreateEventA(nullptr, TRUE, FALSE, release.c_str());
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string line = std::string("\"") + self + "\" " + arguments + " " + ready + " " + release + " " +
                       std::to_string(GetCurrentProcessId());
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('\0');
    // No standard handles: the helper's input and output go to nowhere, not
    // into the pipes that CTest reads.
    STARTUPINFOA info = {};
    info.cb = sizeof info;
    info.dwFlags = STARTF_USESTDHANDLES;
    info.hStdInput = info.hStdOutput = info.hStdError = INVALID_HANDLE_VALUE;
    PROCESS_INFORMATION pi = {};
    if (CreateProcessA(self, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &info, &pi)) {
        CloseHandle(pi.hThread);
        process_ = pi.hProcess;
        HANDLE both[2] = {readyEvent, process_};
        holding_ = WaitForMultipleObjects(2, both, FALSE, 20000) == WAIT_OBJECT_0;
    }
    CloseHandle(readyEvent);
}

DWORD Holder::Release()
{
    SetEvent(release_);
    DWORD status = DWORD(-1);
    if (process_) {
        if (WaitForSingleObject(process_, 10000) != WAIT_OBJECT_0)
            TerminateProcess(process_, 1);
        GetExitCodeProcess(process_, &status);
        CloseHandle(process_);
        process_ = nullptr;
    }
    holding_ = false;
    return status;
}

Holder::~Holder()
{
    Release();
    CloseHandle(release_);
}

int HolderMain(int argc, char** argv)
{
    const std::string mode = argv[0];
    const bool file = mode == "--hold-file";
    if (argc != (file ? 6 : 5))
        return 4;
    const char* const* sync = argv + argc - 3;  // READY RELEASE PARENT
    HANDLE held = nullptr;
    if (file) {
        held = CreateFileA(argv[1], GENERIC_READ, DWORD(std::strtoul(argv[2], nullptr, 10)), nullptr,
                           OPEN_EXISTING, 0, nullptr);
        if (held == INVALID_HANDLE_VALUE)
            return 3;
    } else {
        held = CreateMutexA(nullptr, TRUE, argv[1]);
        if (held == nullptr || GetLastError() != 0)
            return 2;
    }
    HANDLE readyEvent = OpenEventA(EVENT_MODIFY_STATE, FALSE, sync[0]);
    HANDLE releaseEvent = OpenEventA(SYNCHRONIZE, FALSE, sync[1]);
    HANDLE parent = OpenProcess(SYNCHRONIZE, FALSE, DWORD(std::strtoul(sync[2], nullptr, 10)));
    if (!readyEvent || !releaseEvent || !parent)
        return 5;
    SetEvent(readyEvent);
    HANDLE either[2] = {releaseEvent, parent};
    WaitForMultipleObjects(2, either, FALSE, 120000);
    CloseHandle(held);
    return 0;
}
