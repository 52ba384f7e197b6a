// ITSF v3 container layout: directory entries, directory chunks, meta files, headers, and the reader.
#pragma once
#include "pe_resources.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace corvane_pack
{
constexpr uint32_t kChunkSize = 0x1000;
constexpr uint32_t kQuickrefDensity = 2; // one quickref every 1 + 2^2 = 5 entries
constexpr uint32_t kLcid = 0x0409;
constexpr uint32_t kTimestamp = 0x436F7276; // fixed, so the same tree gives the same bytes
constexpr uint64_t kItsfHeaderSize = 0x60;
constexpr uint64_t kHeaderSection0Size = 0x18;
constexpr uint64_t kItspHeaderSize = 0x54;

extern const char* const kNameListName;
extern const char* const kContentName;
extern const char* const kControlDataName;
extern const char* const kSpanInfoName;
extern const char* const kTransformListName;
extern const char* const kResetTableName;

struct CDirEntry
{
    std::string strName;
    uint32_t uSection = 0;
    uint64_t uOffset = 0;
    uint64_t cbLength = 0;
    bool IsDir() const { return !strName.empty() && strName.back() == '/'; }
};

// Case-folded byte order that every reader's lookup assumes: ASCII A-Z folded, unsigned bytes, prefix first.
int CompareNames(const std::string& a, const std::string& b);

struct CLzxSection
{
    uint64_t cbUncompressed = 0;   // true length, before padding to whole frames
    uint64_t cbCompressed = 0;     // bytes in Content
    std::vector<uint64_t> arReset; // one offset per frame, then the compressed length
};

// The five small meta files of section 0 (all but Content), in the order they are laid out.
std::vector<std::pair<std::string, std::vector<uint8_t>>> BuildMetaFiles(const CLzxSection& lzx);

struct CDirectory
{
    std::vector<uint8_t> arChunks;
    uint32_t nChunks = 0;
    uint32_t nPmgl = 0;
    uint32_t uDepth = 1;
    int32_t iRoot = -1;
};

// arSorted must already be in CompareNames order.
CDirectory BuildDirectory(const std::vector<CDirEntry>& arSorted);

// ITSF header, header section 0, ITSP header and chunks: everything before content section 0.
std::vector<uint8_t> BuildHeaders(const CDirectory& dir, uint64_t section0Size);

class CItsfReader
{
public:
    // The bytes of range in pathFile (all of it, or a resource of an executable); strName names them in
    // errors.
    bool Open(const std::filesystem::path& pathFile, const CFileRange& range, const std::string& strName,
              std::string& strError);
    const std::vector<CDirEntry>& Entries() const { return m_arEntries; }
    // Raw bytes of a section-0 range, fed to sink in pieces.
    bool ReadSection0(uint64_t offset, uint64_t length,
                      const std::function<bool(const uint8_t*, size_t)>& sink, std::string& strError);
    // The whole decompressed section 1 (true length), in order, one frame at a time.
    bool ReadSection1(const std::function<bool(const uint8_t*, size_t)>& sink, std::string& strError);
    uint64_t Section1Length() const { return m_u; }

private:
    bool ReadAt(uint64_t offset, void* p, size_t n);
    const CDirEntry* Find(const std::string& name) const;

    std::ifstream m_file;
    uint64_t m_base = 0;
    uint64_t m_fileSize = 0;
    uint64_t m_contentOffset = 0;
    uint64_t m_u = 0;
    std::vector<CDirEntry> m_arEntries;
};
} // namespace corvane_pack
