// The demo's helper, run under Wine beside the updater.
//   pack IMAGE CAPTION-FILE SAMPLE-FOLDER OUTPUT
//       Packs every file under the sample folder: one entry per file, named by
//       its file name, and a hash list "jor.hvl" that places each file at its
//       path relative to the folder (so files in subfolders land there).
//   drive UPDATER OUT-FOLDER
//       Runs the updater and clicks through it: Yes to the confirmation, the
//       cancel button once mid-run and No to its question, OK to the final
//       message. Before each click it asks the demo script for a screenshot
//       (OUT-FOLDER\NAME.want, removed by the script once the PNG is saved).
//   run UPDATER OUT-FOLDER
//       Runs the updater and leaves the clicking to the person at the display.
// Both of the last two write the exit status to OUT-FOLDER\status.txt.
#include "app/Texts.h"
#include "tests/e2e/WindowDriver.h"
#include "writer/PackageWriter.h"
#include <windows.h>
#include <commctrl.h>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

void AddFolder(const std::string& root, const std::string& relative, PackageDescription& desc,
               std::vector<HashRecord>& records)
{
    WIN32_FIND_DATAA data;
    std::string folder = relative.empty() ? root : root + "\\" + relative;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = data.cFileName;
        if (name == "." || name == "..")
            continue;
        std::string path = relative.empty() ? name : relative + "\\" + name;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            AddFolder(root, path, desc, records);
            continue;
        }
        std::string bytes;
        if (!ReadWholeFile(root + "\\" + path, bytes)) {
            std::fprintf(stderr, "demo: cannot read %s\n", path.c_str());
            continue;
        }
        records.push_back(RecordFor(path, bytes));
        PackageEntry entry;
        entry.name = name;
        entry.data = bytes;
        desc.entries.push_back(entry);
        std::printf("  %-24s %9u bytes -> %s\n", name.c_str(), unsigned(bytes.size()), path.c_str());
    } while (FindNextFileA(find, &data));
    FindClose(find);
}

int Pack(const char* image, const char* captionFile, const char* sample, const char* output)
{
    PackageDescription desc;
    std::string caption;
    if (!ReadWholeFile(image, desc.image) || !ReadWholeFile(captionFile, caption)) {
        std::fprintf(stderr, "demo: cannot read %s or %s\n", image, captionFile);
        return 1;
    }
    while (!caption.empty() && (caption.back() == '\n' || caption.back() == '\r'))
        caption.pop_back();
    desc.caption = caption;
    std::vector<HashRecord> records;
    desc.entries.push_back(PackageEntry());  // the hash list, filled below
    AddFolder(sample, "", desc, records);
    desc.entries[0].name = "jor.hvl";
    desc.entries[0].data = BuildHashList(records);
    if (!WriteWholeFile(output, BuildPackage(desc))) {
        std::fprintf(stderr, "demo: cannot write %s\n", output);
        return 1;
    }
    return 0;
}

std::string OutFolder;

// Asks the demo script for a screenshot and waits (bounded) until it is saved.
void Screenshot(const char* name)
{
    Sleep(800);  // let the window paint
    std::string want = OutFolder + "\\" + name + ".want";
    WriteWholeFile(want, "");
    for (int i = 0; i < 200 && GetFileAttributesA(want.c_str()) != INVALID_FILE_ATTRIBUTES; ++i)
        Sleep(100);
}

void WriteStatus(DWORD code)
{
    char text[32];
    std::snprintf(text, sizeof text, "%ld\n", long(int32_t(code)));
    WriteWholeFile(OutFolder + "\\status.txt", text);
}

// Once the large file is being copied and its bar has moved: a screenshot of
// the dialog mid-run, then the cancel click. The updater's thread is held
// still meanwhile, so the run is surely still going when the click arrives.
void CancelMidRun(HWND dialog, const ChildProcess& child)
{
    HWND fileBar = GetDlgItem(dialog, 1002);
    for (int i = 0; i < 600 && IsWindow(dialog); ++i) {
        DWORD_PTR position = 0;
        SendMessageTimeoutA(fileBar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 1000, &position);
        if (position > 0 && WindowText(GetDlgItem(dialog, 1001)).find("intro") != std::string::npos)
            break;
        Sleep(10);
    }
    // The dialog paints during the run's drains: give it a couple of chunks'
    // time to show the large file before holding it still.
    Sleep(100);
    WithThreadSuspended(child, [&] {
        Screenshot("2-progress");
        PressButton(dialog, 1000);
    });
}

int DriveUpdater(const char* updater, bool click)
{
    ChildProcess child;
    if (!StartProcess(updater, "", child)) {
        std::fprintf(stderr, "demo: cannot start %s (%lu)\n", updater, GetLastError());
        return 1;
    }
    DriveResult run;
    if (click) {
        run = Drive(child, [](const SeenBox& box) {
            if (box.text == kTextConfirmUpdate) {
                Screenshot("1-confirmation");
                return IDYES;
            }
            if (box.text == kTextCancelQuestion) {
                Screenshot("3-progress-and-cancel-question");
                return IDNO;
            }
            Screenshot("4-final-message");
            return IDOK;
        }, CancelMidRun, 300000);
    } else {
        WaitForSingleObject(child.process, INFINITE);
        GetExitCodeProcess(child.process, &run.exitCode);
    }
    EndProcess(child);
    WriteStatus(run.exitCode);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 6 && std::strcmp(argv[1], "pack") == 0)
        return Pack(argv[2], argv[3], argv[4], argv[5]);
    if (argc == 4 && (std::strcmp(argv[1], "drive") == 0 || std::strcmp(argv[1], "run") == 0)) {
        OutFolder = argv[3];
        return DriveUpdater(argv[2], std::strcmp(argv[1], "drive") == 0);
    }
    std::fprintf(stderr, "usage: demo_helper pack IMAGE CAPTION-FILE SAMPLE OUTPUT | drive UPDATER OUT | run UPDATER OUT\n");
    return 2;
}
