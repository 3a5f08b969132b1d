#pragma once
#include <windows.h>
#include <cstdint>

// Owns one Windows file handle. INVALID_HANDLE_VALUE means closed. Each
// Read or Write is a single system call: callers decide what a short count means.
class FileHandle {
public:
    FileHandle() = default;
    ~FileHandle() { Close(); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    // Existing file, sequential reading, others may read but not write.
    bool OpenRead(const char* path);
    // Created or truncated, for writing, no sharing.
    bool OpenWrite(const char* path);
    uint32_t Read(void* buffer, uint32_t count);
    uint32_t Write(const void* buffer, uint32_t count);
    // Positions of 0x80000000 and above fail: the distance is signed 32-bit.
    bool SeekTo(uint32_t position);
    // Low 32 bits of the size; 0xFFFFFFFF when it cannot be had.
    uint32_t Size();
    // FlushFileBuffers' result: the written bytes are on the disk, not only
    // in the system's cache. False when closed or not open for writing.
    bool Flush();
    // CloseHandle's result, or -1 when already closed.
    int Close();
    bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Native() const { return handle_; }

private:
    bool Open(const char* path, DWORD access, DWORD share, DWORD disposition);
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};
