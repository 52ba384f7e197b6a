// Packing a folder into a container, checking a container against a folder, and listing one.
#pragma once
#include "lzx_encoder.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace corvane
{
struct CSourceEntry
{
    std::string name; // container name: "/dir/" or "/dir/file"
    std::filesystem::path path;
    bool isDir = false;
    uint64_t size = 0;
};

// Walks root; every problem (bad name, case clash, unreadable or special file) goes to arProblems.
bool ScanTree(const std::filesystem::path& root, std::vector<CSourceEntry>& arEntries,
              std::vector<std::string>& arProblems);

struct CPackOptions
{
    bool store = false; // user files uncompressed in section 0
    int threads = 0;    // 0: one per hardware thread
    CLzxOptions lzx;
    std::function<void(uint64_t done, uint64_t total)> progress;
};

// Writes OUTPUT through a temporary file beside it; on failure nothing remains under either name.
bool PackTree(const std::filesystem::path& source, const std::filesystem::path& output,
              const CPackOptions& opt, std::vector<std::string>& arProblems);

bool ListPack(const std::filesystem::path& pack, std::ostream& os, std::string& err);

// Every difference goes to arProblems; true only when there is none.
bool VerifyPack(const std::filesystem::path& pack, const std::filesystem::path& source,
                std::vector<std::string>& arProblems);
} // namespace corvane
