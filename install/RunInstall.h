#pragma once
#include "install/InstallResult.h"
#include "package/PackageLayout.h"

// Installs every entry of the package into the folder: staging with checksum
// verification, then the commit, the uninstall list merge and the clean-up.
InstallResult RunInstall(const char* folder);

// True when an install name stays a file inside the install folder: no
// leading separator, no ':', no component of only dots and spaces (such as
// ".."), no component that names a device (CON, AUX, COM1.txt ...), a last
// component that is not empty. Separators are found by the code page's
// double-byte rule.
bool IsSafeInstallName(const char* name);

// The entry's status line, "<name>をインストール中", cut after its last whole
// character when it would not fit.
void BuildStatusText(char (&text)[kPathBufferSize], const char* name);

// The longest wait between two attempts of MoveIntoPlace, in milliseconds.
constexpr unsigned long kMoveLastWait = 800;

// MoveFileExA with MOVEFILE_REPLACE_EXISTING. A sharing violation or a denied
// access is tried again after 50, 100, 200, 400 and 800 ms; any other error,
// or the last of those, fails at once with GetLastError left as the move set it.
bool MoveIntoPlace(const char* from, const char* to);
