// Packing a folder into a container, checking a container against a folder, and listing one.
#pragma once
#include "lzx_encoder.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace corvane_pack
{
struct CSourceEntry
{
    std::string strName; // container name: "/dir/" or "/dir/file"
    std::filesystem::path path;
    bool bDir = false;
    uint64_t cbSize = 0;
};

// Walks root; every problem (bad name, case clash, unreadable or special file) goes to arProblems.
bool ScanTree(const std::filesystem::path& pathRoot, std::vector<CSourceEntry>& arEntries,
              std::vector<std::string>& arProblems);

// Outcome of a command; the value is the process exit code the command line documents.
enum class EPackStatus
{
    Ok = 0,
    Differs = 1,       // --verify: the pack does not hold the source tree or does not match its digests
    Usage = 2,         // command line not understood
    SourceRefused = 3, // the source tree cannot be packed as it is, or cannot be read
    PackFailed = 4,    // the output cannot be written, or the pack (or its digests) cannot be read whole
};

struct CPackProgress
{
    uint64_t nFilesDone = 0;
    uint64_t nFiles = 0;
    uint64_t cbDone = 0;
    uint64_t cbTotal = 0;
};

struct CPackOptions
{
    bool bStore = false; // user files uncompressed in section 0
    int nThreads = 0;    // 0: one per hardware thread
    CLzxOptions optLzx;
    std::function<void(const CPackProgress&)> fnProgress;
    std::filesystem::path pathDigests; // if set, the digests of the pack and its files are written there
};

// Writes OUTPUT (and the digests) through temporary files beside them; on failure nothing remains under
// any of the names and an existing OUTPUT is left alone.
EPackStatus PackTree(const std::filesystem::path& pathSource, const std::filesystem::path& pathOutput,
                     const CPackOptions& opt, std::vector<std::string>& arProblems);

// What --list and --verify read. PACK is a pack file, or a Windows executable that carries one as an
// RT_RCDATA resource (and may carry its digests as another); the ids are those the launcher was built with
// (CORVANE_PACK_ID, CORVANE_DIGESTS_ID), by default the build's defaults. pathDigests, when set, names the
// digests to check against instead of an executable's own.
struct CCheckInput
{
    std::filesystem::path pathPack;
    std::filesystem::path pathDigests;
    uint32_t uPackId = 666;
    uint32_t uDigestsId = 667;
};

// Decodes every file (and checks it against the digests), then prints one line per folder and file with its
// size, the totals and the pack's own size. A damaged pack prints nothing; what is wrong goes to arProblems.
EPackStatus ListPack(const CCheckInput& input, std::ostream& osOut, std::vector<std::string>& arProblems);

// Decodes every file and compares the pack with pathSource and the digests when either is given (an empty
// path: not that one). Every difference goes to arProblems; strSummary says in one line what was found.
EPackStatus VerifyPack(const CCheckInput& input, const std::filesystem::path& pathSource,
                       std::vector<std::string>& arProblems, std::string& strSummary);
} // namespace corvane_pack
