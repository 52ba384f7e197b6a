// Huffman code construction (two-queue merge, frequency halving to meet the length limit) and decoding
// tables.
#include "huffman.h"

#include <algorithm>
#include <numeric>

namespace corvane_pack
{
namespace
{
// Unlimited Huffman code lengths for the used symbols; returns the longest.
int HuffmanLengths(const std::vector<uint32_t>& arFreq, const std::vector<int>& arSym,
                   std::vector<int>& arLen)
{
    const size_t nLeaves = arSym.size();
    std::vector<int> arOrder(nLeaves);
    std::iota(arOrder.begin(), arOrder.end(), 0);
    // Ties broken by symbol so the output never depends on the sort implementation.
    std::stable_sort(arOrder.begin(), arOrder.end(),
                     [&](int a, int b) { return arFreq[arSym[a]] < arFreq[arSym[b]]; });
    std::vector<uint64_t> arWeight(2 * nLeaves);
    std::vector<int> arParent(2 * nLeaves, -1);
    for (size_t i = 0; i < nLeaves; ++i)
        arWeight[i] = arFreq[arSym[arOrder[i]]];
    size_t iLeaf = 0, iNode = nLeaves, nNodes = nLeaves;
    auto take = [&]() {
        if (iLeaf < nLeaves && (iNode >= nNodes || arWeight[iLeaf] <= arWeight[iNode]))
            return static_cast<int>(iLeaf++);
        return static_cast<int>(iNode++);
    };
    for (size_t k = 0; k + 1 < nLeaves; ++k)
    {
        int a = take();
        int b = take();
        arWeight[nNodes] = arWeight[a] + arWeight[b];
        arParent[a] = arParent[b] = static_cast<int>(nNodes);
        ++nNodes;
    }
    std::vector<int> arDepth(nNodes, 0);
    for (size_t i = nNodes - 1; i-- > 0;)
        arDepth[i] = arDepth[arParent[i]] + 1;
    int maxLen = 0;
    arLen.assign(nLeaves, 0);
    for (size_t i = 0; i < nLeaves; ++i)
    {
        arLen[arOrder[i]] = arDepth[i];
        maxLen = std::max(maxLen, arDepth[i]);
    }
    return maxLen;
}
} // namespace

void BuildCodeLengths(const uint32_t* freq, int n, int maxLen, uint8_t* lens)
{
    std::fill(lens, lens + n, 0);
    std::vector<int> arSym;
    for (int i = 0; i < n; ++i)
        if (freq[i] != 0) arSym.push_back(i);
    if (arSym.empty()) return;
    if (arSym.size() == 1)
    {
        lens[arSym[0]] = 1;
        lens[arSym[0] == 0 ? 1 : 0] = 1;
        return;
    }
    std::vector<uint32_t> arFreq(freq, freq + n);
    std::vector<int> arLen;
    while (HuffmanLengths(arFreq, arSym, arLen) > maxLen)
    {
        for (int s : arSym)
            arFreq[s] = (arFreq[s] >> 1) | 1;
    }
    for (size_t i = 0; i < arSym.size(); ++i)
        lens[arSym[i]] = static_cast<uint8_t>(arLen[i]);
}

void BuildCanonicalCodes(const uint8_t* lens, int n, uint16_t* codes)
{
    int count[18] = {0};
    for (int i = 0; i < n; ++i)
        count[lens[i]]++;
    count[0] = 0;
    uint32_t next[18] = {0};
    uint32_t code = 0;
    for (int len = 1; len <= 17; ++len)
    {
        code = (code + count[len - 1]) << 1;
        next[len] = code;
    }
    for (int i = 0; i < n; ++i)
        codes[i] = lens[i] ? static_cast<uint16_t>(next[lens[i]]++) : 0;
}

bool CHuffmanDecoder::Build(const uint8_t* lens, int n, bool allowEmpty)
{
    m_maxBits = 0;
    for (int i = 0; i < n; ++i)
        m_maxBits = std::max<int>(m_maxBits, lens[i]);
    if (m_maxBits == 0) return allowEmpty;
    if (m_maxBits > 16) return false;
    uint64_t filled = 0;
    for (int i = 0; i < n; ++i)
        if (lens[i]) filled += uint64_t(1) << (m_maxBits - lens[i]);
    if (filled != (uint64_t(1) << m_maxBits)) return false;
    std::vector<uint16_t> arCodes(n);
    BuildCanonicalCodes(lens, n, arCodes.data());
    m_table.assign(size_t(1) << m_maxBits, 0);
    for (int i = 0; i < n; ++i)
    {
        if (!lens[i]) continue;
        const int shift = m_maxBits - lens[i];
        const uint32_t first = static_cast<uint32_t>(arCodes[i]) << shift;
        const uint32_t entry = static_cast<uint32_t>(i) | (static_cast<uint32_t>(lens[i]) << 16);
        std::fill(m_table.begin() + first, m_table.begin() + first + (size_t(1) << shift), entry);
    }
    return true;
}
} // namespace corvane_pack
