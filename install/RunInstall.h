#pragma once
#include "install/InstallResult.h"

// Installs every entry of the package into the folder: staging with checksum
// verification, then the commit, the uninstall list merge and the clean-up.
InstallResult RunInstall(const char* folder);
