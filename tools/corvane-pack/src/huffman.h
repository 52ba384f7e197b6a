// Length-limited canonical Huffman codes as LZX wants them (complete trees, MSB-first codes).
#pragma once
#include <cstdint>
#include <vector>

namespace corvane_pack
{
// Fills lens[0..n) with code lengths <= maxLen. No used symbol gives all zeros; one used symbol gives it and
// a neighbour length 1, because every LZX reader rejects an incomplete tree.
void BuildCodeLengths(const uint32_t* freq, int n, int maxLen, uint8_t* lens);

// Canonical codes from lengths: assigned in (length, symbol) order, starting at zero.
void BuildCanonicalCodes(const uint8_t* lens, int n, uint16_t* codes);

// Table decoder for one tree: index by the next maxBits bits of the stream.
class CHuffmanDecoder
{
public:
    // Returns false for an over- or under-full set of lengths; an all-zero set is accepted only if
    // allowEmpty.
    bool Build(const uint8_t* lens, int n, bool allowEmpty);
    int MaxBits() const { return m_maxBits; }
    // Entry for the given maxBits-bit window: symbol in the low 16 bits, length above.
    uint32_t Lookup(uint32_t window) const { return m_table[window]; }
    bool Empty() const { return m_maxBits == 0; }

private:
    int m_maxBits = 0;
    std::vector<uint32_t> m_table;
};
} // namespace corvane_pack
