// Encodes reset intervals of chosen data with every encoder mode and decodes them with our decoder; checks
// the code-length and slot tables the encoder relies on.
#include "huffman.h"
#include "lzx_decoder.h"
#include "lzx_encoder.h"
#include "pack_test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

using namespace corvane_pack;

namespace
{
// Round trip of one interval; also checks the limits every reader depends on.
void ExpectRoundTrip(const std::string& strLabel, const std::vector<uint8_t>& arData, const CLzxOptions& opt)
{
    CLzxEncoder enc(opt);
    std::vector<uint8_t> arOut;
    std::vector<uint32_t> arSizes;
    enc.EncodeInterval(arData.data(), arData.size(), arOut, arSizes);
    ASSERT_EQ(arSizes.size(), arData.size() / kFrameSize) << strLabel << ": one size per frame";
    CLzxDecoder dec;
    ASSERT_TRUE(dec.Init(kWindowSize));
    size_t iAt = 0;
    std::vector<uint8_t> arFrame(kFrameSize);
    // A reset table a word off: the first frame with two bytes more is refused, not decoded.
    std::vector<uint8_t> arLonger(arOut.begin(), arOut.begin() + arSizes[0]);
    arLonger.resize(arLonger.size() + 2, 0);
    EXPECT_FALSE(dec.DecodeFrame(arLonger.data(), arLonger.size(), arFrame.data())) << strLabel;
    dec.Reset();
    for (size_t f = 0; f < arSizes.size(); ++f)
    {
        EXPECT_LE(arSizes[f], kMaxCompressedFrame) << strLabel << ": frame within chmlib's buffer";
        EXPECT_EQ(arSizes[f] % 2, 0u) << strLabel << ": frame ends on a word boundary";
        ASSERT_TRUE(dec.DecodeFrame(arOut.data() + iAt, arSizes[f], arFrame.data()))
            << strLabel << ": frame " << f << ": " << dec.Error();
        EXPECT_EQ(std::memcmp(arFrame.data(), arData.data() + f * kFrameSize, kFrameSize), 0)
            << strLabel << ": frame " << f << " differs";
        iAt += arSizes[f];
    }
}

std::vector<std::pair<std::string, std::vector<uint8_t>>> Cases()
{
    std::mt19937 rng(7);
    std::vector<std::pair<std::string, std::vector<uint8_t>>> arCases;
    std::vector<uint8_t> arRandom(kResetSize);
    for (auto& b : arRandom)
        b = static_cast<uint8_t>(rng());
    arCases.emplace_back("random", arRandom);
    arCases.emplace_back("zeros", std::vector<uint8_t>(kResetSize, 0));
    arCases.emplace_back("one frame of 0x41", std::vector<uint8_t>(kFrameSize, 0x41));
    std::string strText;
    while (strText.size() < kResetSize)
        strText +=
            "The quick brown fox " + std::to_string(strText.size() % 977) + " jumps over the lazy dog.\n";
    arCases.emplace_back("text", std::vector<uint8_t>(strText.begin(), strText.begin() + kResetSize));
    // Half random, half a copy of it: long matches that must stop at the frame edge.
    std::vector<uint8_t> arHalf(kResetSize);
    for (size_t i = 0; i < kResetSize; ++i)
        arHalf[i] = i < kFrameSize - 100 ? static_cast<uint8_t>(rng()) : arHalf[i - (kFrameSize - 100)];
    arCases.emplace_back("repeat across the frame", arHalf);
    // Skewed symbol frequencies force the 16-bit length limit.
    std::vector<uint8_t> arSkewed(kResetSize);
    for (size_t i = 0; i < kResetSize; ++i)
    {
        int s = 0;
        for (uint32_t r = static_cast<uint32_t>(rng()) | 1u; !(r & 1u) || s == 0; r >>= 1)
            if (++s > 24 || (r & 1u)) break;
        arSkewed[i] = static_cast<uint8_t>(s * 7 + (rng() % 3 == 0 ? rng() % 2 : 0));
    }
    arCases.emplace_back("skewed", arSkewed);
    const std::string strE8 = corvane_pack_test::E8Bytes(rng, kResetSize);
    arCases.emplace_back("E8 placements", std::vector<uint8_t>(strE8.begin(), strE8.end()));
    // Machine code: the kind of content the packs mostly hold.
    std::ifstream in(CORVANE_PE_SAMPLE, std::ios::binary);
    std::vector<uint8_t> arPe(kResetSize, 0);
    if (in.read(reinterpret_cast<char*>(arPe.data()), kResetSize)) arCases.emplace_back("PE sample", arPe);
    return arCases;
}
} // namespace

TEST(LzxRoundTrip, EveryEncoderMode)
{
    CLzxOptions optStore;
    optStore.bStoreOnly = true;
    CLzxOptions optFast;
    optFast.nPasses = 1;
    optFast.nDepth = 4;
    CLzxOptions optNoE8;
    optNoE8.uE8TranslationSize = 0;
    for (const auto& c : Cases())
    {
        ExpectRoundTrip(c.first, c.second, CLzxOptions());
        ExpectRoundTrip(c.first + " (1 pass)", c.second, optFast);
        ExpectRoundTrip(c.first + " (stored)", c.second, optStore);
        ExpectRoundTrip(c.first + " (no E8)", c.second, optNoE8);
    }
}

// The reason the translation is on: x86 code gets smaller.
TEST(LzxRoundTrip, E8TranslationShrinksMachineCode)
{
    std::ifstream in(CORVANE_PE_SAMPLE, std::ios::binary);
    std::vector<uint8_t> arPe(8 * kResetSize);
    ASSERT_TRUE(in.read(reinterpret_cast<char*>(arPe.data()), static_cast<std::streamsize>(arPe.size())));
    CLzxOptions optNoE8;
    optNoE8.uE8TranslationSize = 0;
    size_t cbWith = 0, cbWithout = 0;
    for (size_t i = 0; i < arPe.size(); i += kResetSize)
    {
        std::vector<uint8_t> arOut;
        std::vector<uint32_t> arSizes;
        CLzxEncoder(CLzxOptions()).EncodeInterval(&arPe[i], kResetSize, arOut, arSizes);
        cbWith += arOut.size();
        arOut.clear();
        CLzxEncoder(optNoE8).EncodeInterval(&arPe[i], kResetSize, arOut, arSizes);
        cbWithout += arOut.size();
    }
    EXPECT_LT(cbWith, cbWithout);
    std::printf("PE sample, 512 KiB: %zu bytes with E8 translation, %zu without\n", cbWith, cbWithout);
}

TEST(LzxRoundTrip, CodeLengthsAreLimitedAndComplete)
{
    uint32_t arFreq[300];
    for (int i = 0; i < 300; ++i)
        arFreq[i] = i < 40 ? (1u << (i % 31)) : 0;
    uint8_t arLens[300];
    BuildCodeLengths(arFreq, 300, 16, arLens);
    CHuffmanDecoder dec;
    EXPECT_TRUE(dec.Build(arLens, 300, false)) << "length-limited tree is complete";
    for (const uint8_t len : arLens)
        EXPECT_LE(len, 16);
    std::memset(arFreq, 0, sizeof(arFreq));
    arFreq[5] = 100;
    BuildCodeLengths(arFreq, 20, 15, arLens);
    EXPECT_EQ(arLens[5], 1);
    EXPECT_TRUE(dec.Build(arLens, 20, false)) << "single symbol gets a complete two-code tree";
}

TEST(LzxRoundTrip, SlotOfEveryOffsetMatchesTheBaseTable)
{
    const CSlotTables& t = SlotTables();
    for (uint32_t f = 0; f < kWindowSize; ++f)
    {
        const int s = SlotOf(f);
        ASSERT_TRUE(s < kNumSlots && t.base[s] <= f && (s + 1 == kNumSlots || f < t.base[s + 1])) << f;
    }
}
