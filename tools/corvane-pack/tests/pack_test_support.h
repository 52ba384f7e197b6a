// Test support for the pack tool: child processes, scratch trees, tree snapshots and the readers that
// read a pack back (chmlib, 7-Zip, Wine's ITStorage through itss_walk, our own --verify).
#pragma once
#include <cstdint>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace corvane_pack_test
{
namespace fs = std::filesystem;

struct CRunResult
{
    int nExit = -1; // -1: did not start, was killed or timed out
    std::string strOut;
    std::string strErr;
};

// Runs argv with extra "NAME=value" environment entries; kills it after nTimeoutSeconds.
CRunResult RunProcess(const std::vector<std::string>& arArgv, const std::vector<std::string>& arEnv = {},
                      int nTimeoutSeconds = 600);

// The corvane-pack under test, with arguments.
CRunResult RunPacker(const std::vector<std::string>& arArgs);

// A fresh empty folder below the test's scratch root.
fs::path FreshDir(const std::string& strName);

// Relative path ("a/b.txt", "/"-separated) to content; a folder is an entry with no content.
struct CLayoutEntry
{
    std::string strPath;
    bool bDir = false;
    std::string strData;
};
using CLayout = std::vector<CLayoutEntry>;
fs::path MakeTree(const fs::path& pathRoot, const CLayout& arLayout);

std::string ReadFile(const fs::path& path);
void WriteFile(const fs::path& path, const std::string& strData);

// Word-like text with occasional random bytes: compressible, yet not trivially.
std::string TextBytes(std::mt19937& rng, size_t cb);
std::string RandomBytes(std::mt19937& rng, size_t cb);

// CALL-like data for the E8 translation, as a file packed alone (its stream position is its file position):
// operands at and around the edges of the translated range for their position within the 64 KiB reset
// interval, an E8 10 to 14 bytes and 5 to 9 bytes before every frame end, and E8s in the last 12 bytes of
// the file whose operands run into the zero padding of the last frame.
std::string E8Bytes(std::mt19937& rng, size_t cb);

struct CTreeSnapshot
{
    std::set<std::string> setDirs;
    std::map<std::string, std::string> mapFiles;
};
CTreeSnapshot Snapshot(const fs::path& pathRoot);

// Every reader extracts the pack and must give back the source tree byte for byte (exit codes are not
// trusted: extract_chmLib reports success on a failed decode). Adds a test failure per difference.
void ExpectAllReadersGiveBack(const fs::path& pathPack, const fs::path& pathSource,
                              const std::string& strLabel);

// Packs and expects success.
void PackOk(const fs::path& pathSource, const fs::path& pathOut,
            const std::vector<std::string>& arOptions = {});

// Index depth from the directory header (1: listing chunks only).
uint32_t IndexDepth(const fs::path& pathPack);
} // namespace corvane_pack_test
