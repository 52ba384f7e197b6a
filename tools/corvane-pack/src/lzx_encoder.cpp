// LZX encoder: matches never leave their 32 KiB frame or reach before the interval's reset; blocks end at the
// interval's end.
#include "lzx_encoder.h"

#include "bytes.h"
#include "huffman.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace corvane_pack
{
namespace
{
constexpr uint32_t kNil = 0xFFFFFFFF;
constexpr uint32_t kInfinite = 0xFFFFFFFF;
constexpr int kHash3Bits = 16;
// Prices are in sixteenths of a bit.
constexpr uint32_t kBit = 16;
// Uncompressed block for one frame: header and padding (4 bytes), R0..R2 (12 bytes), the data.
constexpr uint32_t kStoredFrameSize = kFrameSize + 16;

// Length of the common prefix of a and b, at most limit; eight bytes at a time, the first differing byte
// found from the lowest differing bit, as most of the encoder's time goes into comparing.
inline uint32_t MatchLength(const uint8_t* a, const uint8_t* b, uint32_t limit)
{
    uint32_t n = 0;
    for (; n + 8 <= limit; n += 8)
    {
        const uint64_t diff = GetU64(a + n) ^ GetU64(b + n);
        if (diff != 0) return n + LowestBit(diff) / 8;
    }
    while (n < limit && a[n] == b[n])
        ++n;
    return n;
}

inline uint32_t Hash3(const uint8_t* p)
{
    const uint32_t v = p[0] | (p[1] << 8) | (p[2] << 16);
    return (v * 0x9E3779B1u) >> (32 - kHash3Bits);
}

// Repeated-offset bookkeeping, as the decoder does it.
void UpdateReps(uint32_t* reps, uint32_t code, uint16_t len)
{
    if (len == 0) return;
    if (code == 1)
        std::swap(reps[0], reps[1]);
    else if (code == 2)
        std::swap(reps[0], reps[2]);
    else if (code > 2)
    {
        reps[2] = reps[1];
        reps[1] = reps[0];
        reps[0] = code - 2;
    }
}

// Prices from symbol counts: -log2 of each symbol's share, which steers the next pass better than the code
// lengths themselves (-0.11% on PE files); at least one bit, as no code is shorter, and a symbol never seen is
// priced as if seen once rather than as impossible.
void ModelFromCounts(const uint32_t* freq, int n, uint32_t* cost)
{
    uint64_t total = 1;
    for (int i = 0; i < n; ++i)
        total += freq[i];
    for (int i = 0; i < n; ++i)
    {
        const double bits = std::log2(double(total) / std::max<uint32_t>(freq[i], 1));
        cost[i] = std::max(kBit, static_cast<uint32_t>(std::lround(kBit * bits)));
    }
}

// Prices for the first pass of an interval: literals from the frame's byte histogram, matches guessed. Matches
// will take much of the main tree's code space, so a literal costs about two bits more than the histogram says
// (-0.17% on PE files against no such charge).
void InitialModel(const uint8_t* p, size_t n, CLzxEncoder::CCostModel& m)
{
    uint32_t freq[256] = {0};
    for (size_t i = 0; i < n; ++i)
        freq[p[i]]++;
    ModelFromCounts(freq, 256, m.lit);
    for (uint32_t& c : m.lit)
        c += 2 * kBit;
    for (int i = 0; i < kMainSize - 256; ++i)
        m.main[256 + i] = kBit * (8 + (i >> 3) / 6 + ((i & 7) == 7 ? 1 : 0));
    for (int i = 0; i < kLengthSize; ++i)
        m.len[i] = kBit * (3 + (i < 8 ? 0 : (i < 32 ? 2 : 5)));
    std::memcpy(m.main, m.lit, sizeof(m.lit));
}

struct CBlockStats
{
    uint32_t main[kMainSize] = {0};
    uint32_t len[kLengthSize] = {0};
    uint32_t aligned[kAlignedSize] = {0};
    uint64_t extraBits = 0; // all offset extra bits, as a verbatim block sends them
    uint32_t bytes = 0;     // output bytes covered
};

void CountItems(const CLzxEncoder::CItem* b, const CLzxEncoder::CItem* e, CBlockStats& st)
{
    const CSlotTables& t = SlotTables();
    for (const CLzxEncoder::CItem* it = b; it != e; ++it)
    {
        if (it->len == 0)
        {
            st.main[it->code]++;
            st.bytes++;
            continue;
        }
        st.bytes += it->len;
        const int slot = SlotOf(it->code);
        const int lh = std::min(it->len - 2, 7);
        st.main[256 + slot * 8 + lh]++;
        if (lh == 7) st.len[it->len - 9]++;
        st.extraBits += t.extra[slot];
        if (t.extra[slot] >= 3) st.aligned[(it->code - t.base[slot]) & 7]++;
    }
}

void CountItems(const std::vector<CLzxEncoder::CItem>& arItems, CBlockStats& st)
{
    CountItems(arItems.data(), arItems.data() + arItems.size(), st);
}

void ModelFromItems(const std::vector<CLzxEncoder::CItem>& arItems, CLzxEncoder::CCostModel& m)
{
    CBlockStats st;
    CountItems(arItems, st);
    ModelFromCounts(st.main, kMainSize, m.main);
    std::memcpy(m.lit, m.main, sizeof(m.lit));
    ModelFromCounts(st.len, kLengthSize, m.len);
}
} // namespace

CLzxEncoder::CLzxEncoder(const CLzxOptions& opt)
    : m_opt(opt), m_head3(size_t(1) << kHash3Bits), m_head2(size_t(1) << 16), m_smaller(kResetSize),
      m_larger(kResetSize), m_matchIndex(kResetSize + 1), m_nodes(kFrameSize + 1)
{
    m_opt.nNice = std::max(8, std::min(m_opt.nNice, kMaxMatch));
    m_opt.nPasses = std::max(1, m_opt.nPasses);
}

// Inserts pos into the binary tree of the interval and reports matches of strictly increasing length.
uint32_t CLzxEncoder::FindAt(uint32_t pos, CMatch* pOut)
{
    const uint8_t* cur = m_data + pos;
    const uint32_t avail = m_size - pos;
    uint32_t n = 0;
    if (avail < 2) return 0;
    const uint32_t h2 = cur[0] | (cur[1] << 8);
    const uint32_t cand2 = m_head2[h2];
    m_head2[h2] = pos;
    if (avail < 3)
    {
        if (cand2 != kNil && pos - cand2 <= kMaxDistance)
            pOut[n++] = CMatch{2, static_cast<uint16_t>(pos - cand2)};
        return n;
    }
    const uint32_t lenLimit = std::min<uint32_t>(kMaxMatch, avail);
    const uint32_t h3 = Hash3(cur);
    uint32_t node = m_head3[h3];
    m_head3[h3] = pos;
    uint32_t* pSmaller = &m_smaller[pos];
    uint32_t* pLarger = &m_larger[pos];
    uint32_t lenSmaller = 0, lenLarger = 0, best = 1;
    if (cand2 != kNil && pos - cand2 <= kMaxDistance)
    {
        // Only useful when no closer 3-byte match shows up; dropped below otherwise.
        pOut[n++] = CMatch{2, static_cast<uint16_t>(pos - cand2)};
        best = 2;
    }
    int depth = m_opt.nDepth;
    while (node != kNil && pos - node <= kMaxDistance && depth-- > 0)
    {
        const uint8_t* pb = m_data + node;
        uint32_t len = std::min(lenSmaller, lenLarger);
        if (pb[len] == cur[len])
        {
            len += 1 + MatchLength(pb + len + 1, cur + len + 1, lenLimit - len - 1);
            if (len > best)
            {
                best = len;
                const uint16_t d = static_cast<uint16_t>(pos - node);
                if (n == 1 && pOut[0].len == 2 && pOut[0].dist > d) n = 0;
                pOut[n++] = CMatch{static_cast<uint16_t>(len), d};
                if (len >= lenLimit)
                {
                    *pSmaller = m_smaller[node];
                    *pLarger = m_larger[node];
                    return n;
                }
            }
        }
        if (pb[len] < cur[len])
        {
            *pSmaller = node;
            pSmaller = &m_larger[node];
            node = *pSmaller;
            lenSmaller = len;
        }
        else
        {
            *pLarger = node;
            pLarger = &m_smaller[node];
            node = *pLarger;
            lenLarger = len;
        }
    }
    *pSmaller = kNil;
    *pLarger = kNil;
    return n;
}

void CLzxEncoder::FindMatches()
{
    m_matches.clear();
    CMatch arFound[kMaxMatch + 2];
    for (uint32_t pos = 0; pos < m_size; ++pos)
    {
        m_matchIndex[pos] = static_cast<uint32_t>(m_matches.size());
        const uint32_t n = FindAt(pos, arFound);
        // The tree compares across the frame edge; output may not, so lengths are clipped here.
        const uint32_t room = (pos / kFrameSize + 1) * kFrameSize - pos;
        uint16_t last = 0;
        for (uint32_t k = 0; k < n; ++k)
        {
            const uint16_t len = static_cast<uint16_t>(std::min<uint32_t>(arFound[k].len, room));
            if (len < kMinMatch || len <= last) continue;
            m_matches.push_back(CMatch{len, arFound[k].dist});
            last = len;
        }
    }
    m_matchIndex[m_size] = static_cast<uint32_t>(m_matches.size());
}

void CLzxEncoder::Parse(uint32_t frameStart, const CCostModel& m, const uint32_t reps0[3],
                        std::vector<CItem>& arItems)
{
    const CSlotTables& t = SlotTables();
    const uint8_t* data = m_data;
    for (CNode& nd : m_nodes)
        nd.cost = kInfinite;
    CNode& first = m_nodes[0];
    first.cost = 0;
    std::memcpy(first.reps, reps0, sizeof(first.reps));

    auto relax = [&](uint32_t to, uint32_t cost, uint32_t from, uint16_t len, uint32_t code,
                     uint16_t len2 = 0) {
        CNode& nd = m_nodes[to];
        if (cost >= nd.cost) return;
        nd.cost = cost;
        nd.from = from;
        nd.len = len;
        nd.code = code;
        nd.len2 = len2;
    };
    auto matchCost = [&](int slot, uint32_t len) {
        const uint32_t lh = std::min<uint32_t>(len - 2, 7);
        uint32_t c = m.main[256 + slot * 8 + lh] + kBit * t.extra[slot];
        if (lh == 7) c += m.len[len - 9];
        return c;
    };
    // Every length from l to last of one offset; the same prices as matchCost, with the slot's share taken
    // once, as this loop is most of the parse.
    auto relaxLengths = [&](uint32_t i, uint32_t base, int slot, uint32_t code, uint32_t l, uint32_t last) {
        const uint32_t* pMain = &m.main[256 + slot * 8];
        const uint32_t slotBase = base + kBit * t.extra[slot];
        for (const uint32_t shortEnd = std::min<uint32_t>(last, 8); l <= shortEnd; ++l)
            relax(i + l, slotBase + pMain[l - 2], i, static_cast<uint16_t>(l), code);
        const uint32_t longBase = slotBase + pMain[7];
        for (; l <= last; ++l)
            relax(i + l, longBase + m.len[l - 9], i, static_cast<uint16_t>(l), code);
    };
    // A match, one literal, then the same distance again as R0: a path the single-state search cannot see,
    // because the best path to the literal's end may carry other repeated offsets.
    auto relaxMatchLitRep = [&](uint32_t i, uint32_t cost, uint16_t len, uint32_t code, uint32_t dist) {
        const uint32_t j = i + len + 1; // after the literal
        if (j + kMinMatch > kFrameSize) return;
        const uint8_t *a = data + frameStart + j, *b = a - dist;
        const uint32_t maxLen2 = std::min<uint32_t>(kMaxMatch, kFrameSize - j);
        const uint32_t len2 = MatchLength(a, b, maxLen2);
        if (len2 < kMinMatch) return;
        relax(j + len2, cost + m.lit[data[frameStart + i + len]] + matchCost(0, len2), i, len, code,
              static_cast<uint16_t>(len2));
    };

    uint32_t skipUntil = 0;
    for (uint32_t i = 0; i < kFrameSize; ++i)
    {
        if (i < skipUntil) continue;
        CNode& nd = m_nodes[i];
        // Reps depend on the path, so they are settled when the node is expanded.
        if (i > 0)
        {
            const CNode& src = m_nodes[nd.from];
            std::memcpy(nd.reps, src.reps, sizeof(nd.reps));
            if (nd.len != 0)
            {
                if (nd.code == 1)
                    std::swap(nd.reps[0], nd.reps[1]);
                else if (nd.code == 2)
                    std::swap(nd.reps[0], nd.reps[2]);
                else if (nd.code > 2)
                {
                    nd.reps[2] = nd.reps[1];
                    nd.reps[1] = nd.reps[0];
                    nd.reps[0] = nd.code - 2;
                }
            }
        }
        const uint32_t pos = frameStart + i;
        const uint32_t base = nd.cost;
        relax(i + 1, base + m.lit[data[pos]], i, 0, data[pos]);
        const uint32_t maxLen = std::min<uint32_t>(kMaxMatch, kFrameSize - i);
        if (maxLen < kMinMatch) continue;
        uint32_t longest = 0;
        for (int k = 0; k < 3; ++k)
        {
            const uint32_t d = nd.reps[k];
            if (d > pos || (k > 0 && d == nd.reps[0]) || (k == 2 && d == nd.reps[1])) continue;
            const uint32_t len = MatchLength(data + pos, data + pos - d, maxLen);
            if (len < kMinMatch) continue;
            if (len >= static_cast<uint32_t>(m_opt.nNice))
            {
                relax(i + len, base + matchCost(k, len), i, static_cast<uint16_t>(len), k);
                longest = std::max(longest, len);
                continue;
            }
            relaxLengths(i, base, k, k, kMinMatch, len);
            relaxMatchLitRep(i, base + matchCost(k, len), static_cast<uint16_t>(len), k, d);
        }
        const uint32_t mBegin = m_matchIndex[pos], mEnd = m_matchIndex[pos + 1];
        if (mEnd > mBegin)
        {
            const CMatch& top = m_matches[mEnd - 1];
            if (top.len >= m_opt.nNice)
            {
                const uint32_t f = top.dist + 2u;
                relax(i + top.len, base + matchCost(SlotOf(f), top.len), i, top.len, f);
                longest = std::max<uint32_t>(longest, top.len);
            }
            else
            {
                uint32_t l = kMinMatch;
                for (uint32_t k = mBegin; k < mEnd; ++k)
                {
                    const CMatch& mt = m_matches[k];
                    const uint32_t f = mt.dist + 2u;
                    const int slot = SlotOf(f);
                    relaxLengths(i, base, slot, f, l, mt.len);
                    l = mt.len + 1u;
                    relaxMatchLitRep(i, base + matchCost(slot, mt.len), mt.len, f, mt.dist);
                }
            }
        }
        if (longest >= static_cast<uint32_t>(m_opt.nNice)) skipUntil = i + longest;
    }

    arItems.clear();
    for (uint32_t at = kFrameSize; at > 0;)
    {
        const CNode& nd = m_nodes[at];
        if (nd.len2 != 0)
        {
            arItems.push_back(CItem{nd.len2, 0});
            arItems.push_back(CItem{0, data[frameStart + nd.from + nd.len]});
        }
        arItems.push_back(CItem{nd.len, nd.code});
        at = nd.from;
    }
    std::reverse(arItems.begin(), arItems.end());
}

// Longest-match parse, only to give the first optimal pass realistic prices.
void CLzxEncoder::GreedyParse(uint32_t frameStart, const uint32_t reps0[3], std::vector<CItem>& arItems)
{
    uint32_t reps[3] = {reps0[0], reps0[1], reps0[2]};
    arItems.clear();
    for (uint32_t i = 0; i < kFrameSize;)
    {
        const uint32_t pos = frameStart + i;
        const uint32_t maxLen = std::min<uint32_t>(kMaxMatch, kFrameSize - i);
        uint32_t bestLen = 0, bestCode = 0;
        for (uint32_t k = 0; k < 3; ++k)
        {
            const uint32_t d = reps[k];
            if (d > pos) continue;
            const uint32_t len = MatchLength(m_data + pos, m_data + pos - d, maxLen);
            if (len > bestLen) bestLen = len, bestCode = k;
        }
        const uint32_t mEnd = m_matchIndex[pos + 1];
        if (mEnd > m_matchIndex[pos] && m_matches[mEnd - 1].len > bestLen + 1)
            bestLen = m_matches[mEnd - 1].len, bestCode = m_matches[mEnd - 1].dist + 2u;
        if (bestLen >= 3)
        {
            arItems.push_back(CItem{static_cast<uint16_t>(bestLen), bestCode});
            UpdateReps(reps, bestCode, static_cast<uint16_t>(bestLen));
            i += bestLen;
        }
        else
        {
            arItems.push_back(CItem{0, m_data[pos]});
            ++i;
        }
    }
}

void CLzxEncoder::WriteLengths(CBitWriter& bw, uint8_t* prev, const uint8_t* lens, int first, int last)
{
    struct CCode
    {
        uint8_t sym;
        uint8_t extraBits;
        uint8_t extra;
    };
    std::vector<CCode> arCodes;
    for (int i = first; i < last;)
    {
        const uint8_t len = lens[i];
        int run = 1;
        while (i + run < last && lens[i + run] == len)
            ++run;
        if (len == 0 && run >= 4)
        {
            const int k = std::min(run, 51);
            if (k >= 20)
                arCodes.push_back(CCode{18, 5, static_cast<uint8_t>(k - 20)});
            else
                arCodes.push_back(CCode{17, 4, static_cast<uint8_t>(k - 4)});
            i += k;
        }
        else if (run >= 4)
        {
            const int k = std::min(run, 5);
            arCodes.push_back(CCode{19, 1, static_cast<uint8_t>(k - 4)});
            arCodes.push_back(CCode{static_cast<uint8_t>((prev[i] - len + 17) % 17), 0, 0});
            i += k;
        }
        else
        {
            arCodes.push_back(CCode{static_cast<uint8_t>((prev[i] - len + 17) % 17), 0, 0});
            ++i;
        }
    }
    uint32_t freq[kPretreeSize] = {0};
    for (const CCode& c : arCodes)
        freq[c.sym]++;
    uint8_t preLens[kPretreeSize];
    uint16_t preCodes[kPretreeSize];
    BuildCodeLengths(freq, kPretreeSize, 15, preLens);
    BuildCanonicalCodes(preLens, kPretreeSize, preCodes);
    for (int i = 0; i < kPretreeSize; ++i)
        bw.Write(preLens[i], 4);
    for (const CCode& c : arCodes)
    {
        bw.Write(preCodes[c.sym], preLens[c.sym]);
        if (c.extraBits) bw.Write(c.extra, c.extraBits);
    }
    std::memcpy(prev + first, lens + first, last - first);
}

// Codes for one block, and whether the aligned-offset form is the smaller.
struct CLzxEncoder::CBlockCodes
{
    CBlockStats stats;
    uint8_t mainLens[kMainSize], lenLens[kLengthSize], alignedLens[kAlignedSize];
    uint16_t mainCodes[kMainSize], lenCodes[kLengthSize], alignedCodes[kAlignedSize]; // once written
    bool bAligned = false;
    uint64_t symbolBits = 0;
};

void CLzxEncoder::PlanBlock(const CItem* b, const CItem* e, CBlockCodes& c)
{
    CountItems(b, e, c.stats);
    BuildCodeLengths(c.stats.main, kMainSize, 16, c.mainLens);
    BuildCodeLengths(c.stats.len, kLengthSize, 16, c.lenLens);
    BuildCodeLengths(c.stats.aligned, kAlignedSize, 7, c.alignedLens);
    uint64_t verbatimLow = 0, alignedLow = 3 * kAlignedSize;
    for (int i = 0; i < kAlignedSize; ++i)
    {
        verbatimLow += 3ull * c.stats.aligned[i];
        alignedLow += uint64_t(c.alignedLens[i]) * c.stats.aligned[i];
    }
    c.bAligned = alignedLow < verbatimLow;
    c.symbolBits = c.stats.extraBits - verbatimLow + std::min(verbatimLow, alignedLow);
    for (int i = 0; i < kMainSize; ++i)
        c.symbolBits += uint64_t(c.stats.main[i]) * c.mainLens[i];
    for (int i = 0; i < kLengthSize; ++i)
        c.symbolBits += uint64_t(c.stats.len[i]) * c.lenLens[i];
}

// Exact size in bits of [b, e) as one block, given the tree lengths the decoder holds.
uint64_t CLzxEncoder::BlockBits(const CItem* b, const CItem* e, const CTreeState& st)
{
    CBlockCodes c;
    PlanBlock(b, e, c);
    CTreeState scratch = st;
    m_scratch.clear();
    CBitWriter bw(m_scratch);
    WriteLengths(bw, scratch.main, c.mainLens, 0, 256);
    WriteLengths(bw, scratch.main, c.mainLens, 256, kMainSize);
    WriteLengths(bw, scratch.len, c.lenLens, 0, kLengthSize);
    return 27 + bw.BitCount() + c.symbolBits;
}

// Splits a frame's items into blocks where separate trees pay for themselves (sections of a PE file differ).
void CLzxEncoder::SplitBlocks(const CItem* b, const CItem* e, const CTreeState& st, int depth,
                              std::vector<std::pair<const CItem*, const CItem*>>& arOut)
{
    if (depth > 0 && e - b >= 512)
    {
        CBlockStats all;
        CountItems(b, e, all);
        uint32_t half = 0;
        const CItem* mid = b;
        while (mid != e && half < all.bytes / 2)
            half += mid->len ? mid->len : 1, ++mid;
        if (BlockBits(b, mid, st) + BlockBits(mid, e, st) + 64 < BlockBits(b, e, st))
        {
            SplitBlocks(b, mid, st, depth - 1, arOut);
            SplitBlocks(mid, e, st, depth - 1, arOut);
            return;
        }
    }
    arOut.emplace_back(b, e);
}

void CLzxEncoder::WriteBlockHeader(CBitWriter& bw, CBlockCodes& c, CTreeState& st)
{
    BuildCanonicalCodes(c.mainLens, kMainSize, c.mainCodes);
    BuildCanonicalCodes(c.lenLens, kLengthSize, c.lenCodes);
    BuildCanonicalCodes(c.alignedLens, kAlignedSize, c.alignedCodes);
    bw.Write(c.bAligned ? kBlockAligned : kBlockVerbatim, 3);
    bw.Write(c.stats.bytes >> 8, 16);
    bw.Write(c.stats.bytes & 0xFF, 8);
    if (c.bAligned)
        for (int i = 0; i < kAlignedSize; ++i)
            bw.Write(c.alignedLens[i], 3);
    WriteLengths(bw, st.main, c.mainLens, 0, 256);
    WriteLengths(bw, st.main, c.mainLens, 256, kMainSize);
    WriteLengths(bw, st.len, c.lenLens, 0, kLengthSize);
}

void CLzxEncoder::WriteItems(CBitWriter& bw, const CItem* b, const CItem* e, const CBlockCodes& c,
                             CTreeState& st)
{
    const CSlotTables& t = SlotTables();
    for (const CItem* it = b; it != e; ++it)
    {
        if (it->len == 0)
        {
            bw.Write(c.mainCodes[it->code], c.mainLens[it->code]);
            continue;
        }
        const int slot = SlotOf(it->code);
        const int lh = std::min(it->len - 2, 7);
        const int sym = 256 + slot * 8 + lh;
        bw.Write(c.mainCodes[sym], c.mainLens[sym]);
        if (lh == 7) bw.Write(c.lenCodes[it->len - 9], c.lenLens[it->len - 9]);
        const int extra = t.extra[slot];
        const uint32_t v = it->code - t.base[slot];
        if (c.bAligned && extra >= 3)
        {
            bw.Write(v >> 3, extra - 3);
            bw.Write(c.alignedCodes[v & 7], c.alignedLens[v & 7]);
        }
        else if (extra > 0)
            bw.Write(v, extra);
        UpdateReps(st.reps, it->code, it->len);
    }
}

void CLzxEncoder::WriteBlock(CBitWriter& bw, const CItem* b, const CItem* e, CTreeState& st)
{
    CBlockCodes c;
    PlanBlock(b, e, c);
    WriteBlockHeader(bw, c, st);
    WriteItems(bw, b, e, c, st);
}

// Both frames of an interval as one block: one set of trees where the frames' own would cost more. The
// stream is realigned between the frames, as every reader does after 32 KiB of output. False when a frame
// would not fit chmlib's buffer or would be larger than stored.
bool CLzxEncoder::EncodeOneBlock(const CTreeState& st0, std::vector<uint8_t>& buf, uint32_t arSizes[2])
{
    m_arAll.assign(m_arItems[0].begin(), m_arItems[0].end());
    m_arAll.insert(m_arAll.end(), m_arItems[1].begin(), m_arItems[1].end());
    CBlockCodes c;
    PlanBlock(m_arAll.data(), m_arAll.data() + m_arAll.size(), c);
    buf.clear();
    CBitWriter bw(buf);
    WriteIntervalHeader(bw);
    CTreeState st = st0;
    WriteBlockHeader(bw, c, st);
    size_t before = 0;
    for (int f = 0; f < 2; ++f)
    {
        const std::vector<CItem>& items = m_arItems[f];
        WriteItems(bw, items.data(), items.data() + items.size(), c, st);
        bw.Align();
        arSizes[f] = static_cast<uint32_t>(buf.size() - before);
        before = buf.size();
        if (arSizes[f] >= kStoredFrameSize || arSizes[f] > kMaxCompressedFrame) return false;
    }
    return true;
}

void CLzxEncoder::WriteStored(std::vector<uint8_t>& out, CBitWriter& bw, uint32_t frameStart,
                              const CTreeState& st)
{
    bw.Write(kBlockUncompressed, 3);
    bw.Write(kFrameSize >> 8, 16);
    bw.Write(kFrameSize & 0xFF, 8);
    // Readers skip 1..16 bits here: a whole zero word when already on a boundary.
    if (bw.PendingBits() != 0)
        bw.Align();
    else
        bw.Write(0, 16);
    for (uint32_t r : st.reps)
        PutU32(out, r);
    PutBytes(out, m_data + frameStart, kFrameSize);
}

// The header of a reset interval: whether E8 call translation is on, and its size.
void CLzxEncoder::WriteIntervalHeader(CBitWriter& bw)
{
    bw.Write(m_opt.uE8TranslationSize != 0 ? 1 : 0, 1);
    if (m_opt.uE8TranslationSize != 0)
    {
        bw.Write(m_opt.uE8TranslationSize >> 16, 16);
        bw.Write(m_opt.uE8TranslationSize & 0xFFFF, 16);
    }
}

void CLzxEncoder::EncodeInterval(const uint8_t* data, size_t n, std::vector<uint8_t>& out,
                                 std::vector<uint32_t>& arFrameSizes)
{
    m_data = data;
    m_size = static_cast<uint32_t>(n);
    const int nFrames = static_cast<int>(n / kFrameSize);
    if (m_opt.uE8TranslationSize != 0)
    {
        m_arTranslated.assign(data, data + n);
        for (int f = 0; f < nFrames; ++f)
            TranslateE8Frame(&m_arTranslated[f * kFrameSize], f * kFrameSize, m_opt.uE8TranslationSize, true);
        m_data = m_arTranslated.data();
    }
    CTreeState st0;
    std::memset(&st0, 0, sizeof(st0));
    st0.reps[0] = st0.reps[1] = st0.reps[2] = 1;

    if (m_opt.bStoreOnly)
    {
        for (int f = 0; f < nFrames; ++f)
        {
            const size_t before = out.size();
            CBitWriter bw(out);
            if (f == 0) WriteIntervalHeader(bw);
            WriteStored(out, bw, f * kFrameSize, st0);
            arFrameSizes.push_back(static_cast<uint32_t>(out.size() - before));
        }
        return;
    }

    std::fill(m_head3.begin(), m_head3.end(), kNil);
    std::fill(m_head2.begin(), m_head2.end(), kNil);
    FindMatches();
    // Each frame gets its own statistics (PE sections differ a lot); frame 1 starts from frame 0's prices, frame
    // 0 from guessed ones, so frame 0 gets one more pass (-0.13% against none, for about 15% more time).
    CCostModel model;
    InitialModel(m_data, kFrameSize, model);
    uint32_t reps[3] = {1, 1, 1};
    for (int f = 0; f < nFrames; ++f)
    {
        if (m_opt.bGreedySeed)
        {
            GreedyParse(f * kFrameSize, reps, m_arItems[f]);
            ModelFromItems(m_arItems[f], model);
        }
        for (int pass = 0; pass < m_opt.nPasses + (f == 0 ? 1 : 0); ++pass)
        {
            Parse(f * kFrameSize, model, reps, m_arItems[f]);
            ModelFromItems(m_arItems[f], model);
        }
        for (const CItem& it : m_arItems[f])
            UpdateReps(reps, it.code, it.len);
    }

    // Before EncodeFrames, which may parse frame 1 again for other repeated offsets.
    uint32_t arShared[2];
    const bool bShared = nFrames == 2 && EncodeOneBlock(st0, m_arShared, arShared);
    const size_t outStart = out.size(), sizesStart = arFrameSizes.size();
    EncodeFrames(model, st0, out, arFrameSizes);
    if (bShared && m_arShared.size() < out.size() - outStart)
    {
        out.resize(outStart);
        out.insert(out.end(), m_arShared.begin(), m_arShared.end());
        arFrameSizes.resize(sizesStart);
        arFrameSizes.insert(arFrameSizes.end(), arShared, arShared + 2);
    }
}

// Each frame: one or more blocks, or an uncompressed block when that is smaller or the compressed frame would
// exceed chmlib's per-frame buffer.
void CLzxEncoder::EncodeFrames(CCostModel& model, const CTreeState& st0, std::vector<uint8_t>& out,
                               std::vector<uint32_t>& arFrameSizes)
{
    const int nFrames = static_cast<int>(m_size / kFrameSize);
    std::vector<uint8_t> frame;
    std::vector<std::pair<const CItem*, const CItem*>> arBlocks;
    CTreeState st = st0;
    for (int f = 0; f < nFrames; ++f)
    {
        const std::vector<CItem>& items = m_arItems[f];
        frame.clear();
        CTreeState trial = st;
        CBitWriter bw(frame);
        if (f == 0) WriteIntervalHeader(bw);
        arBlocks.clear();
        SplitBlocks(items.data(), items.data() + items.size(), st, m_opt.nSplitDepth, arBlocks);
        for (const auto& blk : arBlocks)
            WriteBlock(bw, blk.first, blk.second, trial);
        // Every reader realigns to a 16-bit boundary after each 32 KiB of output.
        bw.Align();
        if (frame.size() < kStoredFrameSize && frame.size() <= kMaxCompressedFrame)
            st = trial;
        else
        {
            frame.clear();
            CBitWriter bwStored(frame);
            if (f == 0) WriteIntervalHeader(bwStored);
            WriteStored(frame, bwStored, f * kFrameSize, st);
            if (f + 1 < nFrames && std::memcmp(st.reps, trial.reps, sizeof(st.reps)) != 0)
            {
                // The next frame was parsed assuming this frame's repeated offsets; parse it again.
                Parse((f + 1) * kFrameSize, model, st.reps, m_arItems[f + 1]);
            }
        }
        out.insert(out.end(), frame.begin(), frame.end());
        arFrameSizes.push_back(static_cast<uint32_t>(frame.size()));
    }
}
} // namespace corvane_pack
