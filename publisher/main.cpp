// updpub: builds, lists and verifies update executables.
#include "publisher/Publisher.h"
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>
#ifdef _WIN32
#include <windows.h>
#include <io.h>
#include <shellapi.h>
#else
#include <unistd.h>
#endif

namespace {

const char kUsage[] =
    "usage: updpub <command> [options]\n"
    "\n"
    "Builds, lists and verifies update executables: the built updater with its\n"
    "update package appended.\n"
    "\n"
    "commands:\n"
    "  build    write an update executable from the updater, a caption and files\n"
    "  list     show what an update executable holds and what the updater will do\n"
    "  verify   check an update executable the way the updater will read it\n"
    "\n"
    "Run 'updpub <command> --help' for a command's options.\n"
    "\n"
    "exit codes:\n"
    "  0  done; for verify: the update is sound\n"
    "  1  verify found damage or a mismatch\n"
    "  2  bad command line\n"
    "  3  build refused its inputs (each reason is printed); nothing was written\n"
    "  4  a file could not be read or written; nothing was written\n";

const char kBuildUsage[] =
    "usage: updpub build --image UPDATER.EXE (--caption TEXT | --caption-file FILE)\n"
    "                    [--folder DIR] [--file INSTALL_PATH=SOURCE]... --output OUT.EXE\n"
    "                    [--progress | --no-progress]\n"
    "\n"
    "Writes OUT.EXE: the updater's image, zero fill to 0x20000, the caption block,\n"
    "the archive header (\"TAVLIN ARC20\", 128-byte entries), one entry per file and\n"
    "the hash list \"jor.hvl\" with each file's path and checksum.\n"
    "\n"
    "  --image FILE         the built updater; its image must end by 0x20000\n"
    "  --caption TEXT       the caption (UTF-8), stored in code page 932, at most\n"
    "                       4095 bytes there\n"
    "  --caption-file FILE  the caption from a UTF-8 file (final newline dropped)\n"
    "  --folder DIR         every file under DIR, installed under its path\n"
    "                       relative to DIR (subfolders must exist in the game's\n"
    "                       folder: the updater creates no folders)\n"
    "  --file PATH=SOURCE   one more file: SOURCE installed as PATH (relative,\n"
    "                       '\\' or '/' separated)\n"
    "  --output FILE        the update executable; written beside as FILE.partial\n"
    "                       and renamed when complete\n"
    "  --progress           draw a progress bar on stderr (default: only when\n"
    "                       stderr is a terminal); --no-progress: never\n"
    "\n"
    "Entries are ordered by their install path, compared byte by byte in code\n"
    "page 932; the hash list comes last. The same inputs give the same bytes.\n"
    "Refused, with nothing written: an image past 0x20000, a caption over 4095\n"
    "bytes, more than 255 files, a name over 95 or a path over 55 bytes, a name\n"
    "that code page 932 cannot represent or Windows forbids, two names equal\n"
    "ignoring case, a name equal to \"jor.hvl\", a path leaving the install folder,\n"
    "a package reaching 2^31 bytes, an output that is one of the inputs.\n";

const char kListUsage[] =
    "usage: updpub list UPDATE.EXE\n"
    "\n"
    "Prints the caption, the layout, every entry (name, offset, size, position,\n"
    "the install name and expected checksum the updater will use) and the hash\n"
    "list's records. Exit 0 when the file could be read, 4 when not.\n";

const char kVerifyUsage[] =
    "usage: updpub verify UPDATE.EXE\n"
    "\n"
    "Reads UPDATE.EXE as the updater will: the caption block, the index, the hash\n"
    "list, and every entry's data against its record's checksum. Exit 0 when all\n"
    "is sound, 1 with a message per problem otherwise, 4 when unreadable.\n";

bool IsHelp(const std::string& a)
{
    return a == "--help" || a == "-h";
}

bool StderrIsTerminal()
{
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

int Usage(const char* text, const std::string& problem)
{
    std::cerr << "updpub: " << problem << "\n\n" << text;
    return kExitUsage;
}

int Build(const std::vector<std::string>& args)
{
    BuildOptions o;
    o.progress = StderrIsTerminal();
    bool haveCaption = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (IsHelp(a)) {
            std::cout << kBuildUsage;
            return kExitOk;
        }
        if (a == "--progress") {
            o.progress = true;
            continue;
        }
        if (a == "--no-progress") {
            o.progress = false;
            continue;
        }
        if (i + 1 >= args.size())
            return Usage(kBuildUsage, "missing value or unknown option: " + a);
        const std::string& v = args[++i];
        if (a == "--image") {
            o.image = v;
        } else if (a == "--caption" || a == "--caption-file") {
            if (haveCaption)
                return Usage(kBuildUsage, "give one caption");
            haveCaption = true;
            o.caption = v;
            o.captionFromFile = a == "--caption-file";
        } else if (a == "--folder") {
            if (!o.folder.empty())
                return Usage(kBuildUsage, "give one folder (add more files with --file)");
            o.folder = v;
        } else if (a == "--file") {
            size_t eq = v.find('=');
            if (eq == std::string::npos)
                return Usage(kBuildUsage, "--file wants INSTALL_PATH=SOURCE: " + v);
            o.files.push_back({v.substr(0, eq), v.substr(eq + 1)});
        } else if (a == "--output" || a == "-o") {
            o.output = v;
        } else {
            return Usage(kBuildUsage, "unknown option: " + a);
        }
    }
    if (o.image.empty() || !haveCaption || o.output.empty())
        return Usage(kBuildUsage, "build needs --image, a caption and --output");
    if (o.folder.empty() && o.files.empty())
        return Usage(kBuildUsage, "build needs --folder or --file");
    return BuildUpdate(o, std::cout, std::cerr);
}

int OneFile(const std::vector<std::string>& args, const char* usage,
            int (*run)(const std::string&, std::ostream&, std::ostream&))
{
    if (args.size() == 1 && IsHelp(args[0])) {
        std::cout << usage;
        return kExitOk;
    }
    if (args.size() != 1)
        return Usage(usage, "give exactly one update executable");
    return run(args[0], std::cout, std::cerr);
}

std::vector<std::string> Arguments(int argc, char** argv)
{
    std::vector<std::string> args;
#ifdef _WIN32
    // The wide command line, so that any name reaches us intact, as UTF-8.
    (void)argv;
    int n = 0;
    LPWSTR* w = CommandLineToArgvW(GetCommandLineW(), &n);
    for (int i = 1; w && i < n; ++i) {
        int len = WideCharToMultiByte(CP_UTF8, 0, w[i], -1, nullptr, 0, nullptr, nullptr);
        std::string s(size_t(len > 0 ? len : 1), '\0');
        WideCharToMultiByte(CP_UTF8, 0, w[i], -1, &s[0], len, nullptr, nullptr);
        s.resize(strlen(s.c_str()));
        args.push_back(s);
    }
    if (w)
        LocalFree(w);
    (void)argc;
#else
    for (int i = 1; i < argc; ++i)
        args.push_back(argv[i]);
#endif
    return args;
}

}  // namespace

int main(int argc, char** argv)
{
#ifdef _WIN32
    SetConsoleOutputCP(CP_UTF8);
#endif
    std::vector<std::string> args = Arguments(argc, argv);
    if (args.empty())
        return Usage(kUsage, "no command");
    std::string command = args[0];
    args.erase(args.begin());
    if (IsHelp(command)) {
        std::cout << kUsage;
        return kExitOk;
    }
    if (command == "build")
        return Build(args);
    if (command == "list")
        return OneFile(args, kListUsage, ListUpdate);
    if (command == "verify")
        return OneFile(args, kVerifyUsage, VerifyUpdate);
    return Usage(kUsage, "unknown command: " + command);
}
