#pragma once
#include "package/PackageLayout.h"

// The title of every box and of the dialog: the package's caption, or a fallback.
extern char CaptionBuffer[kCaptionBlockSize];

// Reads the 4096-byte caption block into the buffer; false when the package
// file is too short or cannot be read. The buffer's last byte is always NUL
// afterwards, so a caption without a NUL is cut at 4095 bytes.
bool ReadCaptionBlock(char* caption);
