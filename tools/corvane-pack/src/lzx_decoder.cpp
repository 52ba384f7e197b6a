// LZX decoding as the container's readers do it: block headers, delta-coded trees, matches, uncompressed
// blocks.
#include "lzx_decoder.h"

#include "bytes.h"

#include <cstring>

namespace corvane_pack
{
bool CLzxDecoder::Init(uint32_t windowSize)
{
    int bits = 0;
    while ((uint32_t(1) << bits) < windowSize)
        ++bits;
    if (bits < 15 || bits > 21 || (uint32_t(1) << bits) != windowSize)
        return Fail("unsupported LZX window size");
    static const int kSlots[] = {30, 32, 34, 36, 38, 42, 50};
    m_windowSize = windowSize;
    m_mainSize = 256 + kSlots[bits - 15] * 8;
    m_window.assign(windowSize, 0);
    m_pos = 0;
    Reset();
    return true;
}

void CLzxDecoder::Reset()
{
    m_r[0] = m_r[1] = m_r[2] = 1;
    std::memset(m_mainLens, 0, sizeof(m_mainLens));
    std::memset(m_lenLens, 0, sizeof(m_lenLens));
    m_blockType = 0;
    m_remaining = 0;
    m_headerRead = false;
    m_sinceReset = 0;
    m_raw = nullptr;
}

uint32_t CLzxDecoder::DecodeSymbol(const CHuffmanDecoder& dec)
{
    const uint32_t e = dec.Lookup(m_br.Peek(dec.MaxBits()));
    m_br.Skip(static_cast<int>(e >> 16));
    return e & 0xFFFF;
}

bool CLzxDecoder::ReadLengths(uint8_t* lens, int first, int last)
{
    uint8_t pre[kPretreeSize];
    for (uint8_t& l : pre)
        l = static_cast<uint8_t>(m_br.Read(4));
    CHuffmanDecoder dec;
    if (!dec.Build(pre, kPretreeSize, false)) return Fail("bad pretree");
    for (int x = first; x < last;)
    {
        const uint32_t z = DecodeSymbol(dec);
        int run = 1;
        uint8_t value;
        if (z == 17 || z == 18)
        {
            run = z == 17 ? 4 + static_cast<int>(m_br.Read(4)) : 20 + static_cast<int>(m_br.Read(5));
            value = 0;
        }
        else if (z == 19)
        {
            run = 4 + static_cast<int>(m_br.Read(1));
            const uint32_t d = DecodeSymbol(dec);
            if (d > 16) return Fail("bad pretree run");
            value = static_cast<uint8_t>((lens[x] + 17 - d) % 17);
        }
        else
            value = static_cast<uint8_t>((lens[x] + 17 - z) % 17);
        if (x + run > last) return Fail("tree lengths overrun");
        std::memset(lens + x, value, run);
        x += run;
    }
    return true;
}

bool CLzxDecoder::ReadBlockHeader()
{
    m_blockType = static_cast<int>(m_br.Read(3));
    m_blockLen = m_br.Read(16) << 8;
    m_blockLen |= m_br.Read(8);
    m_remaining = m_blockLen;
    if (m_blockLen == 0) return Fail("empty block");
    switch (m_blockType)
    {
    case kBlockAligned:
        for (uint8_t& l : m_alignedLens)
            l = static_cast<uint8_t>(m_br.Read(3));
        if (!m_aligned.Build(m_alignedLens, kAlignedSize, false)) return Fail("bad aligned tree");
        [[fallthrough]]; // the rest matches a verbatim header
    case kBlockVerbatim:
        if (!ReadLengths(m_mainLens, 0, 256) || !ReadLengths(m_mainLens, 256, m_mainSize)) return false;
        if (!m_main.Build(m_mainLens, m_mainSize, false)) return Fail("bad main tree");
        if (!ReadLengths(m_lenLens, 0, kLengthSize)) return false;
        if (!m_len.Build(m_lenLens, kLengthSize, true)) return Fail("bad length tree");
        return true;
    case kBlockUncompressed:
        m_raw = m_br.AlignForRaw();
        if (m_raw + 12 > m_end) return Fail("truncated uncompressed block");
        for (uint32_t& r : m_r)
        {
            r = GetU32(m_raw);
            m_raw += 4;
        }
        return true;
    default:
        return Fail("bad block type");
    }
}

bool CLzxDecoder::DecodeFrame(const uint8_t* p, size_t n, uint8_t* out)
{
    const CSlotTables& t = SlotTables();
    m_end = p + n;
    m_br.Start(p, m_end);
    if (m_blockType == kBlockUncompressed && m_remaining > 0)
        m_raw = p; // an uncompressed block continuing from the previous frame
    if (!m_headerRead)
    {
        m_uE8TranslationSize = m_br.Read(1) ? m_br.Read(32) : 0;
        m_headerRead = true;
    }
    const uint32_t frameStart = m_pos;
    const uint32_t uFramePos = m_sinceReset;
    uint32_t togo = kFrameSize;
    const uint32_t mask = m_windowSize - 1;
    while (togo > 0)
    {
        if (m_remaining == 0 && !ReadBlockHeader()) return false;
        uint32_t run = m_remaining < togo ? m_remaining : togo;
        m_remaining -= run;
        togo -= run;
        if (m_blockType == kBlockUncompressed)
        {
            if (m_raw + run > m_end) return Fail("truncated uncompressed block");
            std::memcpy(&m_window[m_pos], m_raw, run);
            m_raw += run;
            m_pos = (m_pos + run) & mask;
            m_sinceReset += run;
            if (m_remaining == 0)
            {
                if (m_blockLen & 1) ++m_raw;
                m_br.Start(m_raw, m_end);
            }
            continue;
        }
        while (run > 0)
        {
            const uint32_t sym = DecodeSymbol(m_main);
            if (sym < 256)
            {
                m_window[m_pos] = static_cast<uint8_t>(sym);
                m_pos = (m_pos + 1) & mask;
                ++m_sinceReset;
                --run;
                continue;
            }
            const uint32_t slot = (sym - 256) >> 3;
            uint32_t len = (sym & 7) + 2;
            if ((sym & 7) == 7)
            {
                if (m_len.Empty()) return Fail("length symbol with an empty length tree");
                len += DecodeSymbol(m_len);
            }
            uint32_t dist;
            if (slot > 2)
            {
                const int extra = t.extra[slot];
                uint32_t v;
                if (m_blockType == kBlockAligned && extra >= 3)
                {
                    v = m_br.Read(extra - 3) << 3;
                    v += DecodeSymbol(m_aligned);
                }
                else
                    v = m_br.Read(extra);
                dist = t.base[slot] + v - 2;
                m_r[2] = m_r[1];
                m_r[1] = m_r[0];
                m_r[0] = dist;
            }
            else
            {
                dist = m_r[slot];
                m_r[slot] = m_r[0];
                m_r[0] = dist;
            }
            if (len > run) return Fail("match crosses a frame boundary");
            if (dist == 0 || dist > m_sinceReset || dist > m_windowSize - 3)
                return Fail("match distance out of range");
            uint32_t src = (m_pos - dist) & mask;
            for (uint32_t i = 0; i < len; ++i)
            {
                m_window[m_pos] = m_window[src];
                m_pos = (m_pos + 1) & mask;
                src = (src + 1) & mask;
            }
            m_sinceReset += len;
            run -= len;
        }
        if (m_br.Overrun()) return Fail("compressed frame too short");
    }
    // A frame's bits end in its last 16-bit word: bytes left over mean a damaged frame or reset table.
    const uint8_t* pStop = m_blockType == kBlockUncompressed && m_remaining > 0 ? m_raw : m_br.Position();
    if (pStop > m_end) return Fail("compressed frame too short");
    if (pStop < m_end) return Fail("compressed frame has bytes left over");
    std::memcpy(out, &m_window[frameStart], kFrameSize);
    if (m_uE8TranslationSize != 0) TranslateE8Frame(out, uFramePos, m_uE8TranslationSize, false);
    return true;
}
} // namespace corvane_pack
