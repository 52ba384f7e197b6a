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

struct CPackOptions
{
    bool bStore = false; // user files uncompressed in section 0
    int nThreads = 0;    // 0: one per hardware thread
    CLzxOptions optLzx;
    std::function<void(uint64_t cbDone, uint64_t cbTotal)> fnProgress;
};

// Writes OUTPUT through a temporary file beside it; on failure nothing remains under either name.
bool PackTree(const std::filesystem::path& pathSource, const std::filesystem::path& pathOutput,
              const CPackOptions& opt, std::vector<std::string>& arProblems);

bool ListPack(const std::filesystem::path& pathPack, std::ostream& osOut, std::string& strError);

// Every difference goes to arProblems; true only when there is none.
bool VerifyPack(const std::filesystem::path& pathPack, const std::filesystem::path& pathSource,
                std::vector<std::string>& arProblems);
} // namespace corvane_pack
