// Tables and the E8 call translation shared by the LZX encoder and decoder.
#include "lzx_common.h"

namespace corvane_pack
{
const CSlotTables& SlotTables()
{
    static const CSlotTables t;
    return t;
}

// As every reader restores it: each E8 byte before the frame's last 10 bytes starts a CALL whose 4-byte
// operand is skipped by the scan; an operand in [-pos, size) is mapped, any other left alone. The encoder's
// mapping is the exact inverse, so both sides agree on which bytes are operands.
void TranslateE8Frame(uint8_t* pFrame, uint32_t uFramePos, uint32_t uTranslationSize, bool bEncode)
{
    const int32_t nSize = static_cast<int32_t>(uTranslationSize);
    for (uint32_t i = 0; i + kE8FrameTail < kFrameSize;)
    {
        if (pFrame[i] != 0xE8)
        {
            ++i;
            continue;
        }
        uint8_t* p = pFrame + i + 1;
        const int32_t nPos = static_cast<int32_t>(uFramePos + i);
        const int32_t nValue =
            static_cast<int32_t>(p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24));
        int32_t nNew = nValue;
        if (bEncode && nValue >= -nPos && nValue < nSize)
            nNew = nValue < nSize - nPos ? nValue + nPos : nValue - nSize;
        else if (!bEncode && nValue >= -nPos && nValue < nSize)
            nNew = nValue >= 0 ? nValue - nPos : nValue + nSize;
        const uint32_t u = static_cast<uint32_t>(nNew);
        p[0] = static_cast<uint8_t>(u);
        p[1] = static_cast<uint8_t>(u >> 8);
        p[2] = static_cast<uint8_t>(u >> 16);
        p[3] = static_cast<uint8_t>(u >> 24);
        i += 5;
    }
}
} // namespace corvane_pack
