// LZX constants for the container's settings (64 KiB window, 32 KiB frames, reset every 2 frames) and bit
// I/O.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace corvane_pack
{
constexpr uint32_t kFrameSize = 0x8000;
constexpr uint32_t kWindowSize = 0x10000;
constexpr uint32_t kResetFrames = 2;
constexpr uint32_t kResetSize = kFrameSize * kResetFrames;
constexpr uint32_t kMaxDistance = kWindowSize - 3;
constexpr int kNumSlots = 32;
constexpr int kMainSize = 256 + kNumSlots * 8;
constexpr int kLengthSize = 249;
constexpr int kAlignedSize = 8;
constexpr int kPretreeSize = 20;
constexpr int kMinMatch = 2;
constexpr int kMaxMatch = 257;
// chmlib reads one frame into a buffer this large; a bigger compressed frame would overrun it.
constexpr uint32_t kMaxCompressedFrame = 38912;

// E8 call translation: x86 CALL operands become interval-relative targets, so calls to one function repeat.
// The size is the one Microsoft's compressors write; no E8 within the last 10 bytes of a frame is touched.
constexpr uint32_t kE8TranslationSize = 12000000;
constexpr uint32_t kE8FrameTail = 10;

// Translates (bEncode) or restores the CALL operands of one 32 KiB frame in place; uFramePos is the frame's
// offset from the start of its reset interval, where every reader restarts the count.
void TranslateE8Frame(uint8_t* pFrame, uint32_t uFramePos, uint32_t uTranslationSize, bool bEncode);

constexpr int kBlockVerbatim = 1;
constexpr int kBlockAligned = 2;
constexpr int kBlockUncompressed = 3;

// Slot tables up to the largest window the reader accepts (2 MiB, 50 slots).
constexpr int kMaxSlots = 50;
struct CSlotTables
{
    uint8_t extra[kMaxSlots];
    uint32_t base[kMaxSlots];
    CSlotTables()
    {
        uint32_t b = 0;
        for (int i = 0; i < kMaxSlots; ++i)
        {
            extra[i] = static_cast<uint8_t>(i < 4 ? 0 : (i < 36 ? (i - 2) / 2 : 17));
            base[i] = b;
            b += uint32_t(1) << extra[i];
        }
    }
};
const CSlotTables& SlotTables();

// Indexes of the lowest and the highest set bit of a non-zero word, in one instruction where the compiler
// has one: the parse asks for them for every match it weighs.
inline int LowestBit(uint64_t x)
{
#if defined(__GNUC__)
    return __builtin_ctzll(x);
#else
    int n = 0;
    for (; (x & 1) == 0; x >>= 1)
        ++n;
    return n;
#endif
}

inline int HighestBit(uint32_t x)
{
#if defined(__GNUC__)
    return 31 - __builtin_clz(x);
#else
    int n = 0;
    while (x >>= 1)
        ++n;
    return n;
#endif
}

// Slot of a formatted offset (distance + 2, or 0..2 for the repeated offsets): from slot 4 on, two slots per
// power of two, told apart by the bit below the top one.
inline int SlotOf(uint32_t formatted)
{
    if (formatted < 4) return static_cast<int>(formatted);
    const int top = HighestBit(formatted);
    return 2 * top + static_cast<int>((formatted >> (top - 1)) & 1);
}

// 16-bit little-endian words, bits taken from the most significant end.
class CBitWriter
{
public:
    explicit CBitWriter(std::vector<uint8_t>& out) : m_out(out) {}
    void Write(uint32_t value, int nBits)
    {
        if (nBits > 16)
        {
            Write(value >> 16, nBits - 16);
            nBits = 16;
            value &= 0xFFFF;
        }
        m_acc = (m_acc << nBits) | value;
        m_n += nBits;
        if (m_n >= 16)
        {
            m_n -= 16;
            const uint32_t w = static_cast<uint32_t>(m_acc >> m_n) & 0xFFFF;
            m_out.push_back(static_cast<uint8_t>(w));
            m_out.push_back(static_cast<uint8_t>(w >> 8));
        }
    }
    // Zero bits up to the next word boundary (none when already there).
    void Align()
    {
        if (m_n % 16) Write(0, 16 - m_n % 16);
    }
    uint64_t BitCount() const { return m_out.size() * 8ull + m_n; }
    int PendingBits() const { return m_n; }

private:
    std::vector<uint8_t>& m_out;
    uint64_t m_acc = 0;
    int m_n = 0;
};
} // namespace corvane_pack
