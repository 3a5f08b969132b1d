#include "package/CaptionBlock.h"
#include "package/PackageFile.h"
#include "sys/FileHandle.h"

char CaptionBuffer[kCaptionBlockSize];

bool ReadCaptionBlock(char* caption)
{
    char path[kPathBufferSize];
    GetPackageFilePath(path);
    FileHandle file;
    file.OpenRead(path);  // a failed open fails the read below
    bool ok = false;
    if (file.Size() >= kCaptionBlockOffset) {
        file.SeekTo(kCaptionBlockOffset);
        ok = file.Read(caption, kCaptionBlockSize) == kCaptionBlockSize;
    }
    file.Close();
    caption[kCaptionBlockSize - 1] = '\0';
    return ok;
}
