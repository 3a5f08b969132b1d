#include "package/PackageFile.h"
#include "sys/FixedText.h"
#include <windows.h>

const char* PackageFileOverride = nullptr;

bool GetPackageFilePath(char (&path)[kPathBufferSize])
{
    if (PackageFileOverride)
        return CopyText(path, PackageFileOverride);
    DWORD n = GetModuleFileNameA(nullptr, path, kPathBufferSize);
    // A cut path would name another file; the empty path fails to open instead.
    if (n == 0 || n >= kPathBufferSize) {
        path[0] = '\0';
        return false;
    }
    return true;
}
