// LZX decoder for the container's compressed section, one 32 KiB frame at a time.
#pragma once
#include "huffman.h"
#include "lzx_common.h"

#include <cstdint>
#include <string>
#include <vector>

namespace corvane_pack
{
class CLzxDecoder
{
public:
    // windowSize: a power of two from 32 KiB to 2 MiB.
    bool Init(uint32_t windowSize);
    // Called at every reset frame: fresh repeated offsets, tree lengths and block state.
    void Reset();
    // Decodes the frame whose compressed bytes are [p, p + n) into out (kFrameSize bytes).
    bool DecodeFrame(const uint8_t* p, size_t n, uint8_t* out);
    const std::string& Error() const { return m_error; }

private:
    class CBitReader
    {
    public:
        void Start(const uint8_t* p, const uint8_t* end)
        {
            m_p = p;
            m_end = end;
            m_buf = 0;
            m_n = 0;
        }
        uint32_t Peek(int k)
        {
            Fill();
            return m_buf >> (32 - k);
        }
        void Skip(int k)
        {
            m_buf <<= k;
            m_n -= k;
        }
        uint32_t Read(int k)
        {
            if (k == 0) return 0;
            if (k > 16) return (Read(k - 16) << 16) | Read(16);
            const uint32_t v = Peek(k);
            Skip(k);
            return v;
        }
        // Raw byte position for an uncompressed block: drops 1..16 bits to the next word boundary.
        const uint8_t* AlignForRaw()
        {
            Fill();
            const uint8_t* raw = m_p - 2 * (m_n / 16) + (m_n % 16 == 0 ? 2 : 0);
            m_buf = 0;
            m_n = 0;
            return raw;
        }
        // Just past the last 16-bit word any consumed bit came from.
        const uint8_t* Position() const { return m_p - 2 * (m_n / 16); }
        // True when bits beyond the frame's bytes were consumed.
        bool Overrun() const { return Position() > m_end; }

    private:
        void Fill()
        {
            while (m_n <= 16)
            {
                uint32_t w = 0;
                if (m_p + 1 < m_end) w = m_p[0] | (m_p[1] << 8);
                m_p += 2;
                m_buf |= w << (16 - m_n);
                m_n += 16;
            }
        }
        const uint8_t* m_p = nullptr;
        const uint8_t* m_end = nullptr;
        uint32_t m_buf = 0;
        int m_n = 0;
    };

    bool Fail(const char* sz)
    {
        m_error = sz;
        return false;
    }
    uint32_t DecodeSymbol(const CHuffmanDecoder& dec);
    bool ReadLengths(uint8_t* lens, int first, int last);
    bool ReadBlockHeader();

    std::vector<uint8_t> m_window;
    uint32_t m_windowSize = 0;
    int m_mainSize = 0;
    uint32_t m_pos = 0;
    uint32_t m_sinceReset = 0;
    uint32_t m_r[3] = {1, 1, 1};
    uint8_t m_mainLens[256 + kMaxSlots * 8] = {0};
    uint8_t m_lenLens[kLengthSize] = {0};
    uint8_t m_alignedLens[kAlignedSize] = {0};
    CHuffmanDecoder m_main, m_len, m_aligned;
    int m_blockType = 0;
    uint32_t m_blockLen = 0;
    uint32_t m_remaining = 0;
    bool m_headerRead = false;
    uint32_t m_uE8TranslationSize = 0; // from the interval's header; 0: no E8 call translation
    CBitReader m_br;
    const uint8_t* m_raw = nullptr; // inside an uncompressed block
    const uint8_t* m_end = nullptr;
    std::string m_error;
};
} // namespace corvane_pack
