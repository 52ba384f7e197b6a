// Finding an RT_RCDATA resource in a Windows executable (PE32 or PE32+) file: where its bytes lie.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>

namespace corvane_pack
{
struct CFileRange
{
    uint64_t uOffset = 0;
    uint64_t cbSize = 0;
};

enum class EPeLookup
{
    NotPe,   // the file does not start as a Windows executable
    Found,   // range holds the resource's first language
    Missing, // a sound executable without that resource
    Damaged, // headers, sections or resource directory do not hold together; strError says where
};

// Follows the resource directory: type RT_RCDATA, then uId, then the first language's data entry.
EPeLookup FindRcData(const std::filesystem::path& pathFile, uint32_t uId, CFileRange& range,
                     std::string& strError);
} // namespace corvane_pack
