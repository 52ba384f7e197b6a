// LZX encoder for one reset interval: binary-tree match finder, cost-driven optimal parse, verbatim/aligned
// blocks.
#pragma once
#include "lzx_common.h"

#include <cstdint>
#include <vector>

namespace corvane_pack
{
struct CLzxOptions
{
    int nDepth = 32;          // match-finder tree steps per position
    int nNice = 96;           // a match this long is taken without weighing shorter ones
    int nPasses = 2;          // parse passes; each later pass prices symbols with the previous pass's codes
    int nSplitDepth = 2;      // a frame may be cut into up to 2^nSplitDepth blocks with their own trees
    bool bGreedySeed = false; // first prices from a longest-match parse instead of an optimal pass
    bool bStoreOnly = false;  // every frame as an uncompressed block (exercises that path)
    uint32_t uE8TranslationSize = kE8TranslationSize; // 0: no E8 call translation
};

class CLzxEncoder
{
public:
    explicit CLzxEncoder(const CLzxOptions& opt = CLzxOptions());

    // data holds one reset interval already zero-padded to whole frames (32 KiB or 64 KiB). Appends the
    // compressed bytes to out and the compressed size of each frame to arFrameSizes. The result depends only
    // on data, so intervals can be encoded in any order or in parallel.
    void EncodeInterval(const uint8_t* data, size_t n, std::vector<uint8_t>& out,
                        std::vector<uint32_t>& arFrameSizes);

    struct CMatch
    {
        uint16_t len;
        uint16_t dist;
    };
    struct CItem
    {
        uint16_t len;  // 0 for a literal
        uint32_t code; // literal byte, or formatted offset (0..2 repeated, else distance + 2)
    };
    struct CCostModel
    {
        uint32_t lit[256];
        uint32_t main[kMainSize];
        uint32_t len[kLengthSize];
    };

private:
    struct CTreeState
    {
        uint8_t main[kMainSize];
        uint8_t len[kLengthSize];
        uint32_t reps[3];
    };
    void FindMatches();
    uint32_t FindAt(uint32_t pos, CMatch* pOut);
    void Parse(uint32_t frameStart, const CCostModel& model, const uint32_t reps[3],
               std::vector<CItem>& arItems);
    struct CBlockCodes;
    void PlanBlock(const CItem* b, const CItem* e, CBlockCodes& c);
    uint64_t BlockBits(const CItem* b, const CItem* e, const CTreeState& st);
    void SplitBlocks(const CItem* b, const CItem* e, const CTreeState& st, int depth,
                     std::vector<std::pair<const CItem*, const CItem*>>& arOut);
    void WriteBlockHeader(CBitWriter& bw, CBlockCodes& c, CTreeState& st);
    void WriteItems(CBitWriter& bw, const CItem* b, const CItem* e, const CBlockCodes& c, CTreeState& st);
    void WriteBlock(CBitWriter& bw, const CItem* b, const CItem* e, CTreeState& st);
    bool EncodeOneBlock(const CTreeState& st0, std::vector<uint8_t>& buf, uint32_t arSizes[2]);
    void EncodeFrames(CCostModel& model, const CTreeState& st0, std::vector<uint8_t>& out,
                      std::vector<uint32_t>& arFrameSizes);
    void WriteStored(std::vector<uint8_t>& out, CBitWriter& bw, uint32_t frameStart, const CTreeState& st);
    void WriteIntervalHeader(CBitWriter& bw);
    void GreedyParse(uint32_t frameStart, const uint32_t reps[3], std::vector<CItem>& arItems);
    void WriteLengths(CBitWriter& bw, uint8_t* prev, const uint8_t* lens, int first, int last);

    CLzxOptions m_opt;
    const uint8_t* m_data = nullptr; // the interval as it is compressed (E8 operands translated)
    std::vector<uint8_t> m_arTranslated;
    uint32_t m_size = 0;
    std::vector<uint32_t> m_head3, m_head2, m_smaller, m_larger;
    std::vector<uint32_t> m_matchIndex;
    std::vector<CMatch> m_matches;
    struct CNode
    {
        uint32_t cost;
        uint32_t from;
        uint32_t code;
        uint16_t len;
        uint16_t len2; // a literal and an R0 match of this length follow the match (0: none)
        uint32_t reps[3];
    };
    std::vector<CNode> m_nodes;
    std::vector<CItem> m_arItems[kResetFrames];
    std::vector<CItem> m_arAll; // both frames' items, for one block over the interval
    std::vector<uint8_t> m_arShared;
    std::vector<uint8_t> m_scratch;
};
} // namespace corvane_pack
