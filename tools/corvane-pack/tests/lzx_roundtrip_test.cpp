// Encodes reset intervals of chosen data with every encoder mode and decodes them with our decoder.
#include "huffman.h"
#include "lzx_decoder.h"
#include "lzx_encoder.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

using namespace corvane_pack;

namespace
{
int g_failures = 0;

void Check(bool b, const std::string& what)
{
    if (!b)
    {
        std::printf("FAIL: %s\n", what.c_str());
        ++g_failures;
    }
}

// Round trip of one interval; also checks the limits every reader depends on.
void RoundTrip(const std::string& name, const std::vector<uint8_t>& data, const CLzxOptions& opt)
{
    CLzxEncoder enc(opt);
    std::vector<uint8_t> out;
    std::vector<uint32_t> arSizes;
    enc.EncodeInterval(data.data(), data.size(), out, arSizes);
    Check(arSizes.size() == data.size() / kFrameSize, name + ": one size per frame");
    CLzxDecoder dec;
    dec.Init(kWindowSize);
    size_t at = 0;
    std::vector<uint8_t> frame(kFrameSize);
    for (size_t f = 0; f < arSizes.size(); ++f)
    {
        Check(arSizes[f] <= kMaxCompressedFrame, name + ": frame within chmlib's buffer");
        Check(arSizes[f] % 2 == 0, name + ": frame ends on a word boundary");
        if (!dec.DecodeFrame(out.data() + at, arSizes[f], frame.data()))
        {
            Check(false, name + ": frame " + std::to_string(f) + " decodes: " + dec.Error());
            return;
        }
        Check(std::memcmp(frame.data(), data.data() + f * kFrameSize, kFrameSize) == 0,
              name + ": frame " + std::to_string(f) + " identical");
        at += arSizes[f];
    }
    std::printf("ok   %-28s %6zu -> %6zu bytes\n", name.c_str(), data.size(), out.size());
}

std::vector<uint8_t> Sample(const char* path, size_t n)
{
    std::vector<uint8_t> v(n, 0);
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(v.data()), static_cast<std::streamsize>(n));
    return v;
}
} // namespace

int main(int argc, char** argv)
{
    std::mt19937 rng(7);
    std::vector<std::pair<std::string, std::vector<uint8_t>>> arCases;
    std::vector<uint8_t> v(kResetSize);
    for (auto& b : v)
        b = static_cast<uint8_t>(rng());
    arCases.emplace_back("random", v);
    arCases.emplace_back("zeros", std::vector<uint8_t>(kResetSize, 0));
    arCases.emplace_back("one frame of 0x41", std::vector<uint8_t>(kFrameSize, 0x41));
    std::string text;
    while (text.size() < kResetSize)
        text += "The quick brown fox " + std::to_string(text.size() % 977) + " jumps over the lazy dog.\n";
    arCases.emplace_back("text", std::vector<uint8_t>(text.begin(), text.begin() + kResetSize));
    // Half random, half a copy of it: long matches that must stop at the frame edge.
    std::vector<uint8_t> half(kResetSize);
    for (size_t i = 0; i < kResetSize; ++i)
        half[i] = i < kFrameSize - 100 ? static_cast<uint8_t>(rng()) : half[i - (kFrameSize - 100)];
    arCases.emplace_back("repeat across the frame", half);
    // Skewed symbol frequencies force the 16-bit length limit.
    std::vector<uint8_t> fib(kResetSize);
    for (size_t i = 0; i < kResetSize; ++i)
    {
        int s = 0;
        for (uint32_t r = static_cast<uint32_t>(rng()) | 1u; !(r & 1u) || s == 0; r >>= 1)
            if (++s > 24 || (r & 1u)) break;
        fib[i] = static_cast<uint8_t>(s * 7 + (rng() % 3 == 0 ? rng() % 2 : 0));
    }
    arCases.emplace_back("skewed", fib);
    for (int i = 1; i < argc; ++i)
        arCases.emplace_back(argv[i], Sample(argv[i], kResetSize));

    CLzxOptions optStore;
    optStore.bStoreOnly = true;
    CLzxOptions optFast;
    optFast.nPasses = 1;
    optFast.nDepth = 4;
    for (const auto& c : arCases)
    {
        RoundTrip(c.first, c.second, CLzxOptions());
        RoundTrip(c.first + " (1 pass)", c.second, optFast);
        RoundTrip(c.first + " (stored)", c.second, optStore);
    }

    // Code lengths: limited, complete, and two codes when only one symbol is used.
    uint32_t freq[300];
    for (int i = 0; i < 300; ++i)
        freq[i] = i < 40 ? (1u << (i % 31)) : 0;
    uint8_t lens[300];
    BuildCodeLengths(freq, 300, 16, lens);
    CHuffmanDecoder dec;
    Check(dec.Build(lens, 300, false), "length-limited tree is complete");
    int maxLen = 0;
    for (uint8_t l : lens)
        maxLen = l > maxLen ? l : maxLen;
    Check(maxLen <= 16, "length limit 16 holds");
    std::memset(freq, 0, sizeof(freq));
    freq[5] = 100;
    BuildCodeLengths(freq, 20, 15, lens);
    Check(lens[5] == 1 && dec.Build(lens, 20, false), "single symbol gets a complete two-code tree");

    // Slot of every formatted offset the window allows, against the base table.
    const CSlotTables& t = SlotTables();
    bool bSlots = true;
    for (uint32_t f = 0; f < kWindowSize; ++f)
    {
        const int s = SlotOf(f);
        bSlots = bSlots && s < kNumSlots && t.base[s] <= f && (s + 1 == kNumSlots || f < t.base[s + 1]);
    }
    Check(bSlots, "slot of every formatted offset matches the base table");

    std::printf("%s\n", g_failures ? "FAILED" : "all passed");
    return g_failures ? 1 : 0;
}
