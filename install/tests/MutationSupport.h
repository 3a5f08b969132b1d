#pragma once
// An independent reading of what an install run must do with a package, and
// of what a merge must make of an uninstall list, for the generated-input
// tests. Written from the design's rules with plain std::string; it calls none
// of the product's parsers, so a fault in them shows as a disagreement.
#include "install/InstallResult.h"
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------
// Seeds and reports.

// splitmix64: the same sequence for a seed on every build.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t Next()
    {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint32_t Below(uint64_t n) { return n ? uint32_t(Next() % n) : 0; }
    bool OneIn(uint32_t n) { return Below(n) == 0; }
    template <class T>
    const T& Pick(const std::vector<T>& v) { return v[Below(v.size())]; }

private:
    uint64_t state_;
};

// Bytes as text for a report: printable ASCII as is, the rest as \xNN.
std::string Printable(const std::string& bytes);

// The seeds to run: UPDATER_MUTATION_SEED=n gives n alone (verbose is then
// set); otherwise UPDATER_MUTATIONS (default defaultCount) seeds from
// UPDATER_MUTATION_FIRST (default 1) on.
std::vector<uint64_t> SeedsToRun(uint32_t defaultCount, bool& verbose);

// ---------------------------------------------------------------------------
// Small readers.

uint32_t Le32At(const std::string& bytes, size_t at);
void PutLe32At(std::string& bytes, size_t at, uint32_t value);

// The 8-byte stored checksum of some bytes, by the per-byte rule.
std::string ReferenceChecksum(const std::string& bytes);

// The design's lower-casing (code page pairs through the platform's mapping;
// a pair it cannot map empties the whole text).
std::string LowerName(const std::string& name);
// A record path's last component: after a drive prefix and the last '\' or
// '/' that is not a second byte.
std::string LastComponent(const std::string& path);
// Whether an install name stays a file inside the install folder: no root,
// no ':', no component of only dots and spaces, a last component, no device
// name (CON, AUX, COM1 ...) as any component's base, no name cut inside a
// double-byte character.
bool SafeInstallName(const std::string& name);

// ---------------------------------------------------------------------------
// The uninstall list merge: the list as found, the names, what must follow.

struct ListState {
    bool exists = false;
    bool refused = false;  // read-only, hidden, system or a folder
    std::string bytes;
};

struct MergeOutcome {
    bool result;
    std::string bytes;     // the list's bytes afterwards (the old ones on false)
};

constexpr size_t kModelListBuffer = 1024 * 1024;
MergeOutcome ModelMerge(const ListState& list, const std::vector<std::string>& names);

// ---------------------------------------------------------------------------
// The install run. The platform is asked only what it alone knows (the free
// space; whether a path can be created, is a folder, names the same file as
// another), on a fresh copy of the game that `prepare` makes on first use.

struct InstallPlatform {
    uint64_t freeSpace = ~uint64_t(0);
    std::string freshGame;              // same length as the install folder
    std::function<void()> prepare;
};

struct PlannedFile {
    std::string name;      // install name, as stored
    std::string bytes;     // what the index points at
};

struct InstallPlan {
    InstallResult result = kInstallPackageDamaged;  // before the merge
    bool staged = false;             // every entry staged and checked: moves follow
    std::vector<PlannedFile> files;  // in index order, when staged
    std::string why;                 // one line for a failure report
};

// What a run of this package must do, up to the merge (which the caller
// models on the list as the moves leave it).
InstallPlan PlanInstall(const std::string& package, InstallPlatform& platform);
