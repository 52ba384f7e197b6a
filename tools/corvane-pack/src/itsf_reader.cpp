// Reads an ITSF v3 container: headers, all listing chunks, section-0 ranges, and the LZX section frame by
// frame.
#include "bytes.h"
#include "itsf.h"
#include "lzx_decoder.h"

#include <algorithm>
#include <cstring>

namespace corvane_pack
{
namespace
{
bool ReadEncInt(const uint8_t*& p, const uint8_t* end, uint64_t& u)
{
    u = 0;
    for (int i = 0; i < 9 && p < end; ++i)
    {
        const uint8_t b = *p++;
        u = (u << 7) | (b & 0x7F);
        if (!(b & 0x80)) return true;
    }
    return false;
}
} // namespace

bool CItsfReader::ReadAt(uint64_t offset, void* p, size_t n)
{
    if (offset > m_fileSize || n > m_fileSize - offset) return false;
    m_file.clear();
    m_file.seekg(static_cast<std::streamoff>(m_base + offset));
    m_file.read(static_cast<char*>(p), static_cast<std::streamsize>(n));
    return static_cast<size_t>(m_file.gcount()) == n;
}

const CDirEntry* CItsfReader::Find(const std::string& name) const
{
    for (const CDirEntry& e : m_arEntries)
        if (e.strName == name) return &e;
    return nullptr;
}

bool CItsfReader::Open(const std::filesystem::path& pathFile, const CFileRange& range,
                       const std::string& strName, std::string& strError)
{
    m_base = range.uOffset;
    m_fileSize = range.cbSize;
    m_file.open(pathFile, std::ios::binary);
    if (!m_file)
    {
        strError = "cannot read " + strName;
        return false;
    }
    uint8_t h[0x60];
    if (!ReadAt(0, h, sizeof(h)) || std::memcmp(h, "ITSF", 4) != 0 || GetU32(h + 4) != 3)
    {
        strError = strName + ": not a pack (no ITSF version 3 header)";
        return false;
    }
    // Header section 0 holds the pack's length: a pack cut short or with bytes added is damaged.
    uint8_t hs0[0x10];
    if (GetU64(h + 0x40) >= sizeof(hs0) && ReadAt(GetU64(h + 0x38), hs0, sizeof(hs0)) &&
        GetU64(hs0 + 8) != m_fileSize)
    {
        strError = strName + ": " + std::to_string(m_fileSize) + " bytes where its header says " +
                   std::to_string(GetU64(hs0 + 8)) +
                   (m_fileSize < GetU64(hs0 + 8) ? " (cut short)" : " (bytes added after it)");
        return false;
    }
    const uint64_t hs1Offset = GetU64(h + 0x48);
    m_contentOffset = GetU64(h + 0x58);
    uint8_t itsp[0x54];
    if (!ReadAt(hs1Offset, itsp, sizeof(itsp)) || std::memcmp(itsp, "ITSP", 4) != 0)
    {
        strError = strName + ": directory header missing";
        return false;
    }
    const uint32_t chunkSize = GetU32(itsp + 0x10);
    const uint32_t firstPmgl = GetU32(itsp + 0x20);
    const uint32_t nChunks = GetU32(itsp + 0x2C);
    const uint64_t chunksOffset = hs1Offset + GetU32(itsp + 0x08);
    if (chunkSize < 0x20 || chunkSize > 0x10000 || uint64_t(nChunks) * chunkSize > m_fileSize)
    {
        strError = strName + ": bad directory geometry";
        return false;
    }
    std::vector<uint8_t> chunk(chunkSize);
    uint32_t index = firstPmgl;
    for (uint32_t guard = 0; index != 0xFFFFFFFF && guard < nChunks; ++guard)
    {
        if (index >= nChunks ||
            !ReadAt(chunksOffset + uint64_t(index) * chunkSize, chunk.data(), chunkSize) ||
            std::memcmp(chunk.data(), "PMGL", 4) != 0)
        {
            strError = strName + ": bad listing chunk " + std::to_string(index);
            return false;
        }
        const uint32_t free = GetU32(&chunk[4]);
        if (free > chunkSize - 0x14)
        {
            strError = strName + ": bad free space in chunk " + std::to_string(index);
            return false;
        }
        const uint8_t* p = &chunk[0x14];
        const uint8_t* end = &chunk[0] + chunkSize - free;
        while (p < end)
        {
            uint64_t nameLen = 0;
            CDirEntry e;
            uint64_t section = 0;
            if (!ReadEncInt(p, end, nameLen) || nameLen == 0 || nameLen > uint64_t(end - p))
            {
                strError = strName + ": bad entry in chunk " + std::to_string(index);
                return false;
            }
            e.strName.assign(reinterpret_cast<const char*>(p), static_cast<size_t>(nameLen));
            p += nameLen;
            if (!ReadEncInt(p, end, section) || !ReadEncInt(p, end, e.uOffset) ||
                !ReadEncInt(p, end, e.cbLength))
            {
                strError = strName + ": bad entry in chunk " + std::to_string(index);
                return false;
            }
            e.uSection = static_cast<uint32_t>(section);
            m_arEntries.push_back(e);
        }
        index = GetU32(&chunk[0x10]);
    }
    const CDirEntry* resetTable = Find(kResetTableName);
    m_u = 0;
    if (resetTable)
    {
        uint8_t rt[0x28];
        if (resetTable->cbLength >= 0x28 && ReadAt(m_contentOffset + resetTable->uOffset, rt, sizeof(rt)))
            m_u = GetU64(rt + 0x10);
    }
    return true;
}

bool CItsfReader::ReadSection0(uint64_t offset, uint64_t length,
                               const std::function<bool(const uint8_t*, size_t)>& sink, std::string& strError)
{
    std::vector<uint8_t> buf(1 << 20);
    while (length > 0)
    {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(length, buf.size()));
        if (!ReadAt(m_contentOffset + offset, buf.data(), n))
        {
            strError = "section 0 range beyond the end of the file";
            return false;
        }
        if (!sink(buf.data(), n)) return false;
        offset += n;
        length -= n;
    }
    return true;
}

bool CItsfReader::ReadSection1(const std::function<bool(const uint8_t*, size_t)>& sink, std::string& strError)
{
    const CDirEntry* control = Find(kControlDataName);
    const CDirEntry* reset = Find(kResetTableName);
    const CDirEntry* content = Find(kContentName);
    if (!control || !reset || !content || control->uSection || reset->uSection || content->uSection)
    {
        strError = "LZX section meta files missing";
        return false;
    }
    uint8_t cd[0x1C] = {0};
    if (control->cbLength < 0x18 ||
        !ReadAt(m_contentOffset + control->uOffset, cd, std::min<uint64_t>(0x1C, control->cbLength)) ||
        std::memcmp(cd + 4, "LZXC", 4) != 0)
    {
        strError = "bad ControlData";
        return false;
    }
    uint64_t resetBytes = GetU32(cd + 0x0C), window = GetU32(cd + 0x10);
    if (GetU32(cd + 0x08) == 2)
    {
        resetBytes *= kFrameSize;
        window *= kFrameSize;
    }
    std::vector<uint8_t> rt(static_cast<size_t>(std::min<uint64_t>(reset->cbLength, 1 << 24)));
    if (rt.size() < 0x28 || !ReadAt(m_contentOffset + reset->uOffset, rt.data(), rt.size()))
    {
        strError = "bad ResetTable";
        return false;
    }
    const uint32_t nEntries = GetU32(&rt[4]);
    const uint32_t entrySize = GetU32(&rt[8]);
    const uint32_t tableOffset = GetU32(&rt[12]);
    const uint64_t u = GetU64(&rt[0x10]);
    const uint64_t compressed = GetU64(&rt[0x18]);
    const uint64_t nFrames = (u + kFrameSize - 1) / kFrameSize;
    if (entrySize != 8 || uint64_t(tableOffset) + uint64_t(nEntries) * 8 > rt.size() || nEntries < nFrames ||
        compressed > content->cbLength || resetBytes == 0 || resetBytes % kFrameSize)
    {
        strError = "bad ResetTable";
        return false;
    }
    CLzxDecoder dec;
    if (!dec.Init(static_cast<uint32_t>(window)))
    {
        strError = "bad ControlData: " + dec.Error();
        return false;
    }
    const uint64_t resetFrames = resetBytes / kFrameSize;
    std::vector<uint8_t> in, out(kFrameSize);
    for (uint64_t f = 0; f < nFrames; ++f)
    {
        const uint64_t start = GetU64(&rt[tableOffset + 8 * f]);
        const uint64_t end = f + 1 < nEntries ? GetU64(&rt[tableOffset + 8 * (f + 1)]) : compressed;
        if (end < start || end > compressed)
        {
            strError = "bad ResetTable entry for frame " + std::to_string(f);
            return false;
        }
        in.assign(static_cast<size_t>(end - start), 0);
        if (!ReadAt(m_contentOffset + content->uOffset + start, in.data(), in.size()))
        {
            strError = "Content shorter than its ResetTable";
            return false;
        }
        if (f % resetFrames == 0) dec.Reset();
        if (!dec.DecodeFrame(in.data(), in.size(), out.data()))
        {
            strError = "LZX frame " + std::to_string(f) + ": " + dec.Error();
            return false;
        }
        const size_t n = static_cast<size_t>(std::min<uint64_t>(kFrameSize, u - f * kFrameSize));
        if (!sink(out.data(), n)) return false;
    }
    return true;
}
} // namespace corvane_pack
