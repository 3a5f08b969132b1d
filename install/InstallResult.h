#pragma once
#include <cstdint>

// Result of the install run. Failures have the top bit set; start-up maps each
// to its message and returns it as the exit status.
enum InstallResult : uint32_t {
    kInstallOk = 0,
    kInstallPackageDamaged = 0x80000001,   // also the run's starting value
    kInstallTooManyEntries = 0x80000002,
    // 0x80000003 is never produced.
    kInstallWriteFailed = 0x80000004,
    kInstallUninstallListFailed = 0x80000005,
    kInstallCancelled = 0x80000006,
    kInstallClosed = 0x80000007,
};
