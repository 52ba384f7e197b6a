// Builds the parts of an ITSF v3 container: sorted directory chunks with index levels, meta files, headers.
#include "bytes.h"
#include "itsf.h"
#include "lzx_common.h"

#include <algorithm>

namespace corvane_pack
{
const char* const kNameListName = "::DataSpace/NameList";
const char* const kContentName = "::DataSpace/Storage/MSCompressed/Content";
const char* const kControlDataName = "::DataSpace/Storage/MSCompressed/ControlData";
const char* const kSpanInfoName = "::DataSpace/Storage/MSCompressed/SpanInfo";
const char* const kTransformListName = "::DataSpace/Storage/MSCompressed/Transform/List";
const char* const kResetTableName = "::DataSpace/Storage/MSCompressed/Transform/"
                                    "{7FC28940-9D31-11D0-9B27-00A0C91E9C7C}/InstanceData/ResetTable";

namespace
{
const uint8_t kGuidItsf0[16] = {0x10, 0xFD, 0x01, 0x7C, 0xAA, 0x7B, 0xD0, 0x11,
                                0x9E, 0x0C, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC};
const uint8_t kGuidItsf1[16] = {0x11, 0xFD, 0x01, 0x7C, 0xAA, 0x7B, 0xD0, 0x11,
                                0x9E, 0x0C, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC};
const uint8_t kGuidItsp[16] = {0x6A, 0x92, 0x02, 0x5D, 0x2E, 0x21, 0xD0, 0x11,
                               0x9D, 0xF9, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC};

void PutUtf16Ascii(std::vector<uint8_t>& ar, const char* sz)
{
    for (; *sz; ++sz)
        PutU16(ar, static_cast<uint8_t>(*sz));
}

// Fills chunks of one directory level. Each chunk: header, entries, zero fill, quickrefs, entry count.
class CChunkPacker
{
public:
    CChunkPacker(bool bListing, std::vector<uint8_t>& out) : m_bListing(bListing), m_out(out) {}
    // Returns true when the entry started a new chunk.
    bool Add(const std::vector<uint8_t>& entry)
    {
        const size_t n = m_arOffsets.size() + 1;
        bool bNew = m_arOffsets.empty();
        if (!bNew && HeaderSize() + m_entries.size() + entry.size() + 2 + 2 * ((n - 1) / 5) > kChunkSize)
        {
            Flush();
            bNew = true;
        }
        m_arOffsets.push_back(static_cast<uint32_t>(m_entries.size()));
        m_entries.insert(m_entries.end(), entry.begin(), entry.end());
        return bNew;
    }
    void Flush()
    {
        if (m_arOffsets.empty()) return;
        std::vector<uint8_t> chunk;
        const uint32_t free = static_cast<uint32_t>(kChunkSize - HeaderSize() - m_entries.size());
        const int32_t self = static_cast<int32_t>(m_nFlushed);
        if (m_bListing)
        {
            PutBytes(chunk, "PMGL", 4);
            PutU32(chunk, free);
            PutU32(chunk, 0);
            PutU32(chunk, static_cast<uint32_t>(self - 1)); // -1 for the first
            PutU32(chunk, 0);                               // next: patched when the following chunk exists
        }
        else
        {
            PutBytes(chunk, "PMGI", 4);
            PutU32(chunk, free);
        }
        PutBytes(chunk, m_entries.data(), m_entries.size());
        chunk.resize(kChunkSize, 0);
        const size_t n = m_arOffsets.size();
        for (size_t k = 1; k * 5 < n; ++k)
        {
            const uint32_t off = m_arOffsets[k * 5];
            chunk[kChunkSize - 2 - 2 * k] = static_cast<uint8_t>(off);
            chunk[kChunkSize - 1 - 2 * k] = static_cast<uint8_t>(off >> 8);
        }
        chunk[kChunkSize - 2] = static_cast<uint8_t>(n);
        chunk[kChunkSize - 1] = static_cast<uint8_t>(n >> 8);
        m_out.insert(m_out.end(), chunk.begin(), chunk.end());
        m_entries.clear();
        m_arOffsets.clear();
        ++m_nFlushed;
    }
    uint32_t Flushed() const { return m_nFlushed; }

private:
    size_t HeaderSize() const { return m_bListing ? 0x14 : 0x08; }
    bool m_bListing;
    std::vector<uint8_t>& m_out;
    std::vector<uint8_t> m_entries;
    std::vector<uint32_t> m_arOffsets;
    uint32_t m_nFlushed = 0;
};

void PutName(std::vector<uint8_t>& ar, const std::string& name)
{
    PutEncInt(ar, name.size());
    PutBytes(ar, name.data(), name.size());
}
} // namespace

int CompareNames(const std::string& a, const std::string& b)
{
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i)
    {
        unsigned ca = static_cast<unsigned char>(a[i]), cb = static_cast<unsigned char>(b[i]);
        if (ca >= 'A' && ca <= 'Z') ca += 32;
        if (cb >= 'A' && cb <= 'Z') cb += 32;
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

std::vector<std::pair<std::string, std::vector<uint8_t>>> BuildMetaFiles(const CLzxSection& lzx)
{
    std::vector<std::pair<std::string, std::vector<uint8_t>>> ar;
    std::vector<uint8_t> v;
    PutU16(v, 30);
    PutU16(v, 2);
    for (const char* sz : {"Uncompressed", "MSCompressed"})
    {
        PutU16(v, 12);
        PutUtf16Ascii(v, sz);
        PutU16(v, 0);
    }
    ar.emplace_back(kNameListName, v);

    v.clear();
    PutU32(v, 6);
    PutBytes(v, "LZXC", 4);
    PutU32(v, 2);                        // version: sizes below in 32 KiB units
    PutU32(v, kResetSize / kFrameSize);  // reset interval
    PutU32(v, kWindowSize / kFrameSize); // window
    PutU32(v, 1);                        // chmlib's windows-per-reset: 1 makes it reset every 2 frames too
    PutU32(v, 0);
    ar.emplace_back(kControlDataName, v);

    v.clear();
    PutU64(v, lzx.cbUncompressed);
    ar.emplace_back(kSpanInfoName, v);

    v.clear();
    // Microsoft's tool writes only half the GUID; readers that check it expect exactly this.
    PutUtf16Ascii(v, "{7FC28940-9D31-11D0");
    ar.emplace_back(kTransformListName, v);

    v.clear();
    PutU32(v, 2);
    PutU32(v, static_cast<uint32_t>(lzx.arReset.size()));
    PutU32(v, 8);
    PutU32(v, 0x28);
    PutU64(v, lzx.cbUncompressed);
    PutU64(v, lzx.cbCompressed);
    PutU64(v, kFrameSize);
    for (uint64_t off : lzx.arReset)
        PutU64(v, off);
    ar.emplace_back(kResetTableName, v);
    return ar;
}

CDirectory BuildDirectory(const std::vector<CDirEntry>& arSorted)
{
    CDirectory dir;
    struct CFirst
    {
        std::string strName;
        uint32_t uChunk;
    };
    std::vector<CFirst> arLevel;
    {
        CChunkPacker packer(true, dir.arChunks);
        std::vector<uint8_t> e;
        for (const CDirEntry& de : arSorted)
        {
            e.clear();
            PutName(e, de.strName);
            PutEncInt(e, de.uSection);
            PutEncInt(e, de.uOffset);
            PutEncInt(e, de.cbLength);
            if (packer.Add(e)) arLevel.push_back(CFirst{de.strName, packer.Flushed()});
        }
        packer.Flush();
        dir.nPmgl = packer.Flushed();
    }
    // Link the listing chunks: next of each but the last.
    for (uint32_t i = 0; i < dir.nPmgl; ++i)
    {
        const uint32_t next = i + 1 < dir.nPmgl ? i + 1 : 0xFFFFFFFF;
        uint8_t* p = &dir.arChunks[size_t(i) * kChunkSize + 0x10];
        for (int k = 0; k < 4; ++k)
            p[k] = static_cast<uint8_t>(next >> (8 * k));
    }
    uint32_t nChunks = dir.nPmgl;
    // Index levels until one chunk covers the level below; chmlib searches only the first listing otherwise.
    while (arLevel.size() > 1)
    {
        std::vector<CFirst> arUpper;
        std::vector<uint8_t> levelChunks;
        CChunkPacker packer(false, levelChunks);
        std::vector<uint8_t> e;
        for (const CFirst& f : arLevel)
        {
            e.clear();
            PutName(e, f.strName);
            PutEncInt(e, f.uChunk);
            if (packer.Add(e)) arUpper.push_back(CFirst{f.strName, nChunks + packer.Flushed()});
        }
        packer.Flush();
        dir.arChunks.insert(dir.arChunks.end(), levelChunks.begin(), levelChunks.end());
        nChunks += packer.Flushed();
        dir.uDepth++;
        dir.iRoot = static_cast<int32_t>(nChunks - 1);
        arLevel.swap(arUpper);
    }
    dir.nChunks = nChunks;
    return dir;
}

std::vector<uint8_t> BuildHeaders(const CDirectory& dir, uint64_t section0Size)
{
    const uint64_t hs1Size = kItspHeaderSize + uint64_t(dir.nChunks) * kChunkSize;
    const uint64_t contentOffset = kItsfHeaderSize + kHeaderSection0Size + hs1Size;
    std::vector<uint8_t> v;
    PutBytes(v, "ITSF", 4);
    PutU32(v, 3);
    PutU32(v, static_cast<uint32_t>(kItsfHeaderSize));
    PutU32(v, 1);
    for (int shift = 24; shift >= 0; shift -= 8) // the one big-endian field
        v.push_back(static_cast<uint8_t>(kTimestamp >> shift));
    PutU32(v, kLcid);
    PutBytes(v, kGuidItsf0, 16);
    PutBytes(v, kGuidItsf1, 16);
    PutU64(v, kItsfHeaderSize);
    PutU64(v, kHeaderSection0Size);
    PutU64(v, kItsfHeaderSize + kHeaderSection0Size);
    PutU64(v, hs1Size);
    PutU64(v, contentOffset);

    PutU32(v, 0x1FE);
    PutU32(v, 0);
    PutU64(v, contentOffset + section0Size);
    PutU32(v, 0);
    PutU32(v, 0);

    PutBytes(v, "ITSP", 4);
    PutU32(v, 1);
    PutU32(v, static_cast<uint32_t>(kItspHeaderSize));
    PutU32(v, 0x0A);
    PutU32(v, kChunkSize);
    PutU32(v, kQuickrefDensity);
    PutU32(v, dir.uDepth);
    PutU32(v, static_cast<uint32_t>(dir.iRoot));
    PutU32(v, 0);
    PutU32(v, dir.nPmgl - 1);
    PutU32(v, 0xFFFFFFFF);
    PutU32(v, dir.nChunks);
    PutU32(v, kLcid);
    PutBytes(v, kGuidItsp, 16);
    PutU32(v, static_cast<uint32_t>(kItspHeaderSize));
    PutU32(v, 0xFFFFFFFF);
    PutU32(v, 0xFFFFFFFF);
    PutU32(v, 0xFFFFFFFF);
    PutBytes(v, dir.arChunks.data(), dir.arChunks.size());
    return v;
}
} // namespace corvane_pack
