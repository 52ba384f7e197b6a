// Reads just enough of a PE file to find a resource: DOS header, PE header, the optional header's resource
// directory entry, the section table (to turn addresses into file offsets) and three resource levels.
#include "pe_resources.h"

#include "bytes.h"

#include <cstring>
#include <fstream>
#include <vector>

namespace fs = std::filesystem;

namespace corvane_pack
{
namespace
{
constexpr uint32_t kRtRcData = 10;
constexpr uint32_t kSubdirectory = 0x80000000;

struct CSection
{
    uint32_t uRva, cbMapped, uRaw;
};
} // namespace

EPeLookup FindRcData(const fs::path& pathFile, uint32_t uId, CFileRange& range, std::string& strError)
{
    std::error_code ec;
    const uint64_t cbFile = fs::file_size(pathFile, ec);
    std::ifstream in(pathFile, std::ios::binary);
    if (ec || !in)
    {
        strError = "cannot read " + pathFile.u8string() + (ec ? ": " + ec.message() : "");
        return EPeLookup::Damaged;
    }
    auto read = [&](uint64_t uAt, void* p, size_t n) {
        if (uAt > cbFile || n > cbFile - uAt) return false;
        in.clear();
        in.seekg(static_cast<std::streamoff>(uAt));
        in.read(static_cast<char*>(p), static_cast<std::streamsize>(n));
        return static_cast<size_t>(in.gcount()) == n;
    };
    auto damaged = [&](const std::string& strWhy) {
        strError = pathFile.u8string() + ": damaged Windows executable: " + strWhy;
        return EPeLookup::Damaged;
    };

    uint8_t dos[0x40];
    if (!read(0, dos, sizeof(dos)) || dos[0] != 'M' || dos[1] != 'Z') return EPeLookup::NotPe;
    const uint32_t uPe = GetU32(dos + 0x3C);
    uint8_t pe[24];
    if (!read(uPe, pe, sizeof(pe)) || std::memcmp(pe, "PE\0\0", 4) != 0) return damaged("no PE header");
    const uint32_t nSections = GetU16(pe + 6);
    std::vector<uint8_t> opt(GetU16(pe + 20));
    if (!read(uPe + 24, opt.data(), opt.size())) return damaged("optional header cut short");
    // PE32 and PE32+ differ here only in where the data directories start.
    const uint32_t uMagic = opt.size() >= 2 ? GetU16(opt.data()) : 0;
    const size_t iDirs = uMagic == 0x10B ? 96 : uMagic == 0x20B ? 112 : 0;
    if (iDirs == 0 || opt.size() < iDirs) return damaged("unknown optional header");
    if (GetU32(&opt[iDirs - 4]) < 3 || opt.size() < iDirs + 24) return EPeLookup::Missing;
    const uint32_t uRsrcRva = GetU32(&opt[iDirs + 16]), cbRsrc = GetU32(&opt[iDirs + 20]);
    if (uRsrcRva == 0 || cbRsrc == 0) return EPeLookup::Missing;

    std::vector<uint8_t> table(size_t(nSections) * 40);
    if (!read(uPe + 24 + opt.size(), table.data(), table.size())) return damaged("section table cut short");
    std::vector<CSection> arSections;
    for (uint32_t i = 0; i < nSections; ++i)
    {
        const uint8_t* p = &table[size_t(i) * 40];
        const uint32_t cbVirtual = GetU32(p + 8), cbRaw = GetU32(p + 16);
        // Only bytes both mapped and present in the file can hold the resource.
        arSections.push_back(CSection{GetU32(p + 12), cbVirtual != 0 && cbVirtual < cbRaw ? cbVirtual : cbRaw,
                                      GetU32(p + 20)});
    }
    // Where cb bytes at uRva lie in the file; nullptr, or why they do not.
    auto toFile = [&](uint32_t uRva, uint64_t cb, uint64_t& uAt) -> const char* {
        for (const CSection& s : arSections)
            if (uRva >= s.uRva && uRva - s.uRva < s.cbMapped)
            {
                uAt = uint64_t(s.uRaw) + (uRva - s.uRva);
                if (uRva - s.uRva + cb > s.cbMapped) return " runs past the end of its section";
                return uAt + cb > cbFile ? " runs past the end of the file (cut short?)" : nullptr;
            }
        return " lies outside the file's sections";
    };
    uint64_t uRsrc = 0;
    if (const char* szWhy = toFile(uRsrcRva, cbRsrc, uRsrc))
        return damaged("resource directory" + std::string(szWhy));

    // The entry named uWant (bFirst: the first entry, whatever its name) of the directory at uDir, an offset
    // from the resource directory's start: 1 found, 0 absent, -1 out of bounds.
    auto entry = [&](uint32_t uDir, bool bFirst, uint32_t uWant, uint32_t& uTarget) {
        uint8_t header[16];
        if (uint64_t(uDir) + sizeof(header) > cbRsrc || !read(uRsrc + uDir, header, sizeof(header)))
            return -1;
        const uint32_t nEntries = GetU16(header + 12) + GetU16(header + 14);
        std::vector<uint8_t> ar(size_t(nEntries) * 8);
        if (uint64_t(uDir) + sizeof(header) + ar.size() > cbRsrc ||
            !read(uRsrc + uDir + sizeof(header), ar.data(), ar.size()))
            return -1;
        for (uint32_t i = 0; i < nEntries; ++i)
            if (bFirst || GetU32(&ar[size_t(i) * 8]) == uWant)
            {
                uTarget = GetU32(&ar[size_t(i) * 8 + 4]);
                return 1;
            }
        return 0;
    };
    uint32_t uType = 0, uName = 0, uLanguage = 0;
    int n = entry(0, false, kRtRcData, uType);
    if (n <= 0) return n < 0 ? damaged("resource directory cut short") : EPeLookup::Missing;
    if (!(uType & kSubdirectory)) return damaged("RT_RCDATA is not a resource folder");
    n = entry(uType & ~kSubdirectory, false, uId, uName);
    if (n <= 0) return n < 0 ? damaged("RT_RCDATA folder cut short") : EPeLookup::Missing;
    const std::string strResource = "resource " + std::to_string(uId);
    if (!(uName & kSubdirectory)) return damaged(strResource + " is not a resource folder");
    n = entry(uName & ~kSubdirectory, true, 0, uLanguage);
    if (n <= 0) return damaged(strResource + (n < 0 ? " cut short" : " has no language"));
    uint8_t data[16];
    if ((uLanguage & kSubdirectory) || uint64_t(uLanguage) + sizeof(data) > cbRsrc ||
        !read(uRsrc + uLanguage, data, sizeof(data)))
        return damaged(strResource + " has no data entry");
    range.cbSize = GetU32(data + 4);
    if (const char* szWhy = toFile(GetU32(data), range.cbSize, range.uOffset))
        return damaged(strResource + szWhy);
    return EPeLookup::Found;
}
} // namespace corvane_pack
