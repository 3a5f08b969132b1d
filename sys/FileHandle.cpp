#include "sys/FileHandle.h"

bool FileHandle::Open(const char* path, DWORD access, DWORD share, DWORD disposition)
{
    if (IsOpen())
        return false;
    handle_ = CreateFileA(path, access, share, nullptr, disposition,
                          FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_ARCHIVE, nullptr);
    return IsOpen();
}

bool FileHandle::OpenRead(const char* path)
{
    return Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
}

bool FileHandle::OpenWrite(const char* path)
{
    return Open(path, GENERIC_WRITE, 0, CREATE_ALWAYS);
}

uint32_t FileHandle::Read(void* buffer, uint32_t count)
{
    DWORD done = 0;
    if (!ReadFile(handle_, buffer, count, &done, nullptr))
        return 0;
    return done;
}

uint32_t FileHandle::Write(const void* buffer, uint32_t count)
{
    DWORD done = 0;
    if (!WriteFile(handle_, buffer, count, &done, nullptr))
        return 0;
    return done;
}

bool FileHandle::SeekTo(uint32_t position)
{
    // The distance is a signed LONG with no high part: from 2 GiB on it is
    // negative, the system refuses it and the position stays.
    DWORD now = SetFilePointer(handle_, static_cast<LONG>(position), nullptr, FILE_BEGIN);
    return now != INVALID_SET_FILE_POINTER && now == position;
}

uint32_t FileHandle::Size()
{
    return GetFileSize(handle_, nullptr);
}

bool FileHandle::Flush()
{
    return FlushFileBuffers(handle_) != FALSE;
}

int FileHandle::Close()
{
    if (!IsOpen())
        return -1;
    BOOL ok = CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    return ok;
}
