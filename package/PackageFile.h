#pragma once
#include "package/PackageLayout.h"

// The file that carries the package: the running executable. Tests that cannot
// append a package to themselves point PackageFileOverride at a packed file.
extern const char* PackageFileOverride;

// Fills a 260-byte buffer; false when the path cannot be had in full.
bool GetPackageFilePath(char (&path)[kPathBufferSize]);
