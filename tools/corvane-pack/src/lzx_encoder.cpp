// LZX encoder: matches never leave their 32 KiB frame or reach before the interval's reset; each frame is one
// block.
#include "lzx_encoder.h"

#include "bytes.h"
#include "huffman.h"

#include <algorithm>
#include <cstring>

namespace corvane
{
namespace
{
constexpr uint32_t kNil = 0xFFFFFFFF;
constexpr uint32_t kInfinite = 0xFFFFFFFF;
constexpr int kHash3Bits = 16;
// A symbol the previous pass never used is priced as a long code rather than as impossible.
constexpr uint32_t kUnusedCost = 17;
// Uncompressed block for one frame: header and padding (4 bytes), R0..R2 (12 bytes), the data.
constexpr uint32_t kStoredFrameSize = kFrameSize + 16;

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

void ModelFromLengths(const uint8_t* lens, int n, uint32_t* cost)
{
    for (int i = 0; i < n; ++i)
        cost[i] = lens[i] ? lens[i] : kUnusedCost;
}

// Prices for the first pass of an interval: literals from the frame's byte histogram, matches guessed.
void InitialModel(const uint8_t* p, size_t n, CLzxEncoder::CCostModel& m)
{
    uint32_t freq[256] = {0};
    for (size_t i = 0; i < n; ++i)
        freq[p[i]]++;
    uint8_t lens[256];
    BuildCodeLengths(freq, 256, 16, lens);
    ModelFromLengths(lens, 256, m.lit);
    for (int i = 0; i < kMainSize - 256; ++i)
        m.main[256 + i] = 8 + (i >> 3) / 6 + ((i & 7) == 7 ? 1 : 0);
    for (int i = 0; i < kLengthSize; ++i)
        m.len[i] = 3 + (i < 8 ? 0 : (i < 32 ? 2 : 5));
    std::memcpy(m.main, m.lit, sizeof(m.lit));
}

struct CBlockStats
{
    uint32_t main[kMainSize] = {0};
    uint32_t len[kLengthSize] = {0};
    uint32_t aligned[kAlignedSize] = {0};
};

void CountItems(const std::vector<CLzxEncoder::CItem>& arItems, CBlockStats& st)
{
    const CSlotTables& t = SlotTables();
    for (const CLzxEncoder::CItem& it : arItems)
    {
        if (it.len == 0)
        {
            st.main[it.code]++;
            continue;
        }
        const int slot = SlotOf(it.code);
        const int lh = std::min(it.len - 2, 7);
        st.main[256 + slot * 8 + lh]++;
        if (lh == 7) st.len[it.len - 9]++;
        if (t.extra[slot] >= 3) st.aligned[(it.code - t.base[slot]) & 7]++;
    }
}

void ModelFromItems(const std::vector<CLzxEncoder::CItem>& arItems, CLzxEncoder::CCostModel& m)
{
    CBlockStats st;
    CountItems(arItems, st);
    uint8_t mainLens[kMainSize], lenLens[kLengthSize];
    BuildCodeLengths(st.main, kMainSize, 16, mainLens);
    BuildCodeLengths(st.len, kLengthSize, 16, lenLens);
    ModelFromLengths(mainLens, kMainSize, m.main);
    std::memcpy(m.lit, m.main, sizeof(m.lit));
    ModelFromLengths(lenLens, kLengthSize, m.len);
}
} // namespace

const CSlotTables& SlotTables()
{
    static const CSlotTables t;
    return t;
}

CLzxEncoder::CLzxEncoder(const CLzxOptions& opt)
    : m_opt(opt), m_head3(size_t(1) << kHash3Bits), m_head2(size_t(1) << 16), m_smaller(kResetSize),
      m_larger(kResetSize), m_matchIndex(kResetSize + 1), m_nodes(kFrameSize + 1)
{
    m_opt.nice = std::max(8, std::min(m_opt.nice, kMaxMatch));
    m_opt.passes = std::max(1, m_opt.passes);
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
    int depth = m_opt.depth;
    while (node != kNil && pos - node <= kMaxDistance && depth-- > 0)
    {
        const uint8_t* pb = m_data + node;
        uint32_t len = std::min(lenSmaller, lenLarger);
        if (pb[len] == cur[len])
        {
            while (++len < lenLimit && pb[len] == cur[len])
            {
            }
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

    auto relax = [&](uint32_t to, uint32_t cost, uint32_t from, uint16_t len, uint32_t code) {
        CNode& nd = m_nodes[to];
        if (cost >= nd.cost) return;
        nd.cost = cost;
        nd.from = from;
        nd.len = len;
        nd.code = code;
    };
    auto matchCost = [&](int slot, uint32_t len) {
        const uint32_t lh = std::min<uint32_t>(len - 2, 7);
        uint32_t c = m.main[256 + slot * 8 + lh] + t.extra[slot];
        if (lh == 7) c += m.len[len - 9];
        return c;
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
            const uint8_t *a = data + pos, *b = data + pos - d;
            uint32_t len = 0;
            while (len < maxLen && a[len] == b[len])
                ++len;
            if (len < kMinMatch) continue;
            if (len >= static_cast<uint32_t>(m_opt.nice))
            {
                relax(i + len, base + matchCost(k, len), i, static_cast<uint16_t>(len), k);
                longest = std::max(longest, len);
                continue;
            }
            for (uint32_t l = kMinMatch; l <= len; ++l)
                relax(i + l, base + matchCost(k, l), i, static_cast<uint16_t>(l), k);
        }
        const uint32_t mBegin = m_matchIndex[pos], mEnd = m_matchIndex[pos + 1];
        if (mEnd > mBegin)
        {
            const CMatch& top = m_matches[mEnd - 1];
            if (top.len >= m_opt.nice)
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
                    for (; l <= mt.len; ++l)
                        relax(i + l, base + matchCost(slot, l), i, static_cast<uint16_t>(l), f);
                }
            }
        }
        if (longest >= static_cast<uint32_t>(m_opt.nice)) skipUntil = i + longest;
    }

    arItems.clear();
    for (uint32_t at = kFrameSize; at > 0;)
    {
        const CNode& nd = m_nodes[at];
        arItems.push_back(CItem{nd.len, nd.code});
        at = nd.from;
    }
    std::reverse(arItems.begin(), arItems.end());
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

void CLzxEncoder::WriteBlock(std::vector<uint8_t>& out, CBitWriter& bw,
                             const std::vector<CItem>* const* pFrames, int nFrames, CTreeState& st,
                             uint32_t* pFrameBytes)
{
    const CSlotTables& t = SlotTables();
    size_t frameStart = out.size(); // bits still pending in bw belong to the first frame
    CBlockStats stats;
    for (int f = 0; f < nFrames; ++f)
        CountItems(*pFrames[f], stats);
    uint8_t mainLens[kMainSize], lenLens[kLengthSize], alignedLens[kAlignedSize];
    uint16_t mainCodes[kMainSize], lenCodes[kLengthSize], alignedCodes[kAlignedSize];
    BuildCodeLengths(stats.main, kMainSize, 16, mainLens);
    BuildCodeLengths(stats.len, kLengthSize, 16, lenLens);
    BuildCodeLengths(stats.aligned, kAlignedSize, 7, alignedLens);
    BuildCanonicalCodes(mainLens, kMainSize, mainCodes);
    BuildCanonicalCodes(lenLens, kLengthSize, lenCodes);
    BuildCanonicalCodes(alignedLens, kAlignedSize, alignedCodes);

    uint64_t verbatimBits = 0, alignedBits = 3 * kAlignedSize;
    for (int i = 0; i < kAlignedSize; ++i)
    {
        verbatimBits += 3ull * stats.aligned[i];
        alignedBits += uint64_t(alignedLens[i]) * stats.aligned[i];
    }
    const bool bAligned = alignedBits < verbatimBits;
    const uint32_t blockSize = kFrameSize * nFrames;

    bw.Write(bAligned ? kBlockAligned : kBlockVerbatim, 3);
    bw.Write(blockSize >> 8, 16);
    bw.Write(blockSize & 0xFF, 8);
    if (bAligned)
        for (int i = 0; i < kAlignedSize; ++i)
            bw.Write(alignedLens[i], 3);
    WriteLengths(bw, st.main, mainLens, 0, 256);
    WriteLengths(bw, st.main, mainLens, 256, kMainSize);
    WriteLengths(bw, st.len, lenLens, 0, kLengthSize);

    for (int f = 0; f < nFrames; ++f)
    {
        for (const CItem& it : *pFrames[f])
        {
            if (it.len == 0)
            {
                bw.Write(mainCodes[it.code], mainLens[it.code]);
                continue;
            }
            const int slot = SlotOf(it.code);
            const int lh = std::min(it.len - 2, 7);
            const int sym = 256 + slot * 8 + lh;
            bw.Write(mainCodes[sym], mainLens[sym]);
            if (lh == 7) bw.Write(lenCodes[it.len - 9], lenLens[it.len - 9]);
            const int extra = t.extra[slot];
            const uint32_t v = it.code - t.base[slot];
            if (bAligned && extra >= 3)
            {
                bw.Write(v >> 3, extra - 3);
                bw.Write(alignedCodes[v & 7], alignedLens[v & 7]);
            }
            else if (extra > 0)
                bw.Write(v, extra);
            UpdateReps(st.reps, it.code, it.len);
        }
        // Every reader realigns to a 16-bit boundary after each 32 KiB of output.
        bw.Align();
        pFrameBytes[f] = static_cast<uint32_t>(out.size() - frameStart);
        frameStart = out.size();
    }
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

void CLzxEncoder::EncodeInterval(const uint8_t* data, size_t n, std::vector<uint8_t>& out,
                                 std::vector<uint32_t>& arFrameSizes)
{
    m_data = data;
    m_size = static_cast<uint32_t>(n);
    const int nFrames = static_cast<int>(n / kFrameSize);
    CTreeState st0;
    std::memset(&st0, 0, sizeof(st0));
    st0.reps[0] = st0.reps[1] = st0.reps[2] = 1;

    if (m_opt.storeOnly)
    {
        for (int f = 0; f < nFrames; ++f)
        {
            const size_t before = out.size();
            CBitWriter bw(out);
            if (f == 0) bw.Write(0, 1); // no E8 call translation
            WriteStored(out, bw, f * kFrameSize, st0);
            arFrameSizes.push_back(static_cast<uint32_t>(out.size() - before));
        }
        return;
    }

    std::fill(m_head3.begin(), m_head3.end(), kNil);
    std::fill(m_head2.begin(), m_head2.end(), kNil);
    FindMatches();
    // Each frame gets its own statistics (PE sections differ a lot); frame 1 starts from frame 0's prices.
    CCostModel model;
    InitialModel(data, kFrameSize, model);
    uint32_t reps[3] = {1, 1, 1};
    for (int f = 0; f < nFrames; ++f)
    {
        for (int pass = 0; pass < m_opt.passes; ++pass)
        {
            Parse(f * kFrameSize, model, reps, m_arItems[f]);
            ModelFromItems(m_arItems[f], model);
        }
        for (const CItem& it : m_arItems[f])
            UpdateReps(reps, it.code, it.len);
    }

    // One block per frame, each falling back to an uncompressed block when it does not shrink or would exceed
    // the per-frame limit.
    std::vector<uint8_t> perFrame;
    uint32_t perFrameSizes[kResetFrames];
    CTreeState st = st0;
    bool bReparsed = false;
    for (int f = 0; f < nFrames; ++f)
    {
        const size_t before = perFrame.size();
        CTreeState trial = st;
        CBitWriter bw(perFrame);
        if (f == 0) bw.Write(0, 1); // no E8 call translation
        const std::vector<CItem>* pItems = &m_arItems[f];
        WriteBlock(perFrame, bw, &pItems, 1, trial, &perFrameSizes[f]);
        if (perFrameSizes[f] < kStoredFrameSize && perFrameSizes[f] <= kMaxCompressedFrame)
        {
            st = trial;
            continue;
        }
        perFrame.resize(before);
        CBitWriter bwStored(perFrame);
        if (f == 0) bwStored.Write(0, 1);
        WriteStored(perFrame, bwStored, f * kFrameSize, st);
        perFrameSizes[f] = static_cast<uint32_t>(perFrame.size() - before);
        if (f + 1 < nFrames && std::memcmp(st.reps, trial.reps, sizeof(st.reps)) != 0)
        {
            // The next frame was parsed assuming this frame's repeated offsets; parse it again.
            Parse((f + 1) * kFrameSize, model, st.reps, m_arItems[f + 1]);
            bReparsed = true;
        }
    }

    // One block spanning the whole interval saves a set of trees; frame 1 must still assume frame 0's
    // offsets.
    std::vector<uint8_t> spanning;
    uint32_t spanningSizes[kResetFrames] = {0};
    bool bSpanning = false;
    if (nFrames == kResetFrames && !bReparsed)
    {
        CTreeState trial = st0;
        CBitWriter bw(spanning);
        bw.Write(0, 1);
        const std::vector<CItem>* arFrames[kResetFrames] = {&m_arItems[0], &m_arItems[1]};
        WriteBlock(spanning, bw, arFrames, kResetFrames, trial, spanningSizes);
        bSpanning = spanning.size() < perFrame.size() && spanningSizes[0] <= kMaxCompressedFrame &&
                    spanningSizes[1] <= kMaxCompressedFrame && !bReparsed;
    }
    const std::vector<uint8_t>& chosen = bSpanning ? spanning : perFrame;
    const uint32_t* pSizes = bSpanning ? spanningSizes : perFrameSizes;
    out.insert(out.end(), chosen.begin(), chosen.end());
    for (int f = 0; f < nFrames; ++f)
        arFrameSizes.push_back(pSizes[f]);
}
} // namespace corvane
