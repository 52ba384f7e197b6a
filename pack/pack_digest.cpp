// XXH64 over pieces of a stream, and the reading of a pack's digests.
#include "pack_digest.h"

#include "sorted_search.h"

#include <cstring>
#include <new>

namespace corvane
{
namespace
{
const uint64_t c_ullPrime1 = 0x9E3779B185EBCA87ull;
const uint64_t c_ullPrime2 = 0xC2B2AE3D27D4EB4Full;
const uint64_t c_ullPrime3 = 0x165667B19E3779F9ull;
const uint64_t c_ullPrime4 = 0x85EBCA77C2B2AE63ull;
const uint64_t c_ullPrime5 = 0x27D4EB2F165667C5ull;

uint64_t RotateLeft(uint64_t ull, int nBits)
{
    return (ull << nBits) | (ull >> (64 - nBits));
}

// Little-endian reads from any address: the format and the hash are defined on bytes.
uint64_t Read64(const unsigned char* pb)
{
    uint64_t ull = 0;
    for (int n = 7; n >= 0; --n)
        ull = (ull << 8) | pb[n];
    return ull;
}

uint32_t Read32(const unsigned char* pb)
{
    return static_cast<uint32_t>(pb[0]) | static_cast<uint32_t>(pb[1]) << 8 |
           static_cast<uint32_t>(pb[2]) << 16 | static_cast<uint32_t>(pb[3]) << 24;
}

uint64_t Round(uint64_t ullAcc, uint64_t ullInput)
{
    ullAcc += ullInput * c_ullPrime2;
    return RotateLeft(ullAcc, 31) * c_ullPrime1;
}

uint64_t MergeRound(uint64_t ullAcc, uint64_t ullValue)
{
    ullAcc ^= Round(0, ullValue);
    return ullAcc * c_ullPrime1 + c_ullPrime4;
}

void AddStripe(uint64_t* pAcc, const unsigned char* pb)
{
    for (int n = 0; n < 4; ++n)
        pAcc[n] = Round(pAcc[n], Read64(pb + 8 * n));
}
} // namespace

CContentHash::CContentHash() : m_acc{c_ullPrime1 + c_ullPrime2, c_ullPrime2, 0, 0 - c_ullPrime1} {}

void CContentHash::Add(const void* pvData, size_t cbData)
{
    // An empty piece changes nothing (its pointer may be null), and must not drop a stripe begun before.
    if (cbData == 0) return;
    const unsigned char* pb = static_cast<const unsigned char*>(pvData);
    m_cbTotal += cbData;
    if (m_cbStripe > 0)
    {
        const size_t cbTake = cbData < 32 - m_cbStripe ? cbData : 32 - m_cbStripe;
        memcpy(m_stripe + m_cbStripe, pb, cbTake);
        m_cbStripe += cbTake;
        pb += cbTake;
        cbData -= cbTake;
        if (m_cbStripe < 32) return;
        AddStripe(m_acc, m_stripe);
        m_cbStripe = 0;
    }
    for (; cbData >= 32; pb += 32, cbData -= 32)
        AddStripe(m_acc, pb);
    memcpy(m_stripe, pb, cbData);
    m_cbStripe = cbData;
}

uint64_t CContentHash::Value() const
{
    uint64_t ullHash = m_cbTotal >= 32 ? RotateLeft(m_acc[0], 1) + RotateLeft(m_acc[1], 7) +
                                             RotateLeft(m_acc[2], 12) + RotateLeft(m_acc[3], 18)
                                       : m_acc[2] + c_ullPrime5;
    if (m_cbTotal >= 32)
        for (int n = 0; n < 4; ++n)
            ullHash = MergeRound(ullHash, m_acc[n]);
    ullHash += m_cbTotal;

    const unsigned char* pb = m_stripe;
    size_t cb = m_cbStripe;
    for (; cb >= 8; pb += 8, cb -= 8)
        ullHash = RotateLeft(ullHash ^ Round(0, Read64(pb)), 27) * c_ullPrime1 + c_ullPrime4;
    if (cb >= 4)
    {
        ullHash = RotateLeft(ullHash ^ Read32(pb) * c_ullPrime1, 23) * c_ullPrime2 + c_ullPrime3;
        pb += 4;
        cb -= 4;
    }
    for (; cb > 0; ++pb, --cb)
        ullHash = RotateLeft(ullHash ^ *pb * c_ullPrime5, 11) * c_ullPrime1;

    ullHash ^= ullHash >> 33;
    ullHash *= c_ullPrime2;
    ullHash ^= ullHash >> 29;
    ullHash *= c_ullPrime3;
    return ullHash ^ (ullHash >> 32);
}

uint64_t HashContent(const void* pvData, size_t cbData)
{
    CContentHash hash;
    hash.Add(pvData, cbData);
    return hash.Value();
}

namespace
{
// Paths as numbers, unit by unit, a prefix first: <0, 0 or >0.
template <class TUnitOfB> int ComparePaths(const CFileDigest& a, size_t cchB, TUnitOfB unitOfB)
{
    const size_t cch = a.cchPath < cchB ? a.cchPath : cchB;
    for (size_t n = 0; n < cch; ++n)
    {
        const unsigned uA = a.PathUnit(n);
        const unsigned uB = unitOfB(n);
        if (uA != uB) return uA < uB ? -1 : 1;
    }
    return a.cchPath == cchB ? 0 : a.cchPath < cchB ? -1 : 1;
}

int CompareDigestPaths(const CFileDigest& a, const CFileDigest& b)
{
    return ComparePaths(a, b.cchPath, [&b](size_t n) { return static_cast<unsigned>(b.PathUnit(n)); });
}
} // namespace

int ComparePath(const CFileDigest& digest, const char16_t* pszPath, size_t cchPath)
{
    return ComparePaths(digest, cchPath, [pszPath](size_t n) { return static_cast<unsigned>(pszPath[n]); });
}

bool CPackDigests::Read(const unsigned char* pbData, size_t cbData)
{
    *this = CPackDigests(); // a failed read leaves no digests behind
    if (cbData < c_cbDigestHeader || memcmp(pbData, c_szDigestMagic, 4) != 0 ||
        Read32(pbData + 4) != c_uDigestFormat || Read64(pbData + 8) != HashContent(pbData + 16, cbData - 16))
        return false;
    const uint32_t uCount = Read32(pbData + 32);
    // Every entry takes its fixed part at least: a count beyond that cannot be whole.
    if (uCount > (cbData - c_cbDigestHeader) / c_cbDigestEntryFixed) return false;
    std::unique_ptr<uint32_t[]> arOffsets(new (std::nothrow) uint32_t[uCount]);
    if (!arOffsets) return false;

    size_t offset = c_cbDigestHeader;
    for (uint32_t u = 0; u < uCount; ++u)
    {
        if (cbData - offset < c_cbDigestEntryFixed) return false;
        const size_t cchPath = pbData[offset + 16] | pbData[offset + 17] << 8;
        if (cchPath == 0 || (cbData - offset - c_cbDigestEntryFixed) / 2 < cchPath) return false;
        arOffsets[u] = static_cast<uint32_t>(offset);
        offset += c_cbDigestEntryFixed + 2 * cchPath;
    }
    if (offset != cbData) return false;

    CPackDigests digests;
    digests.m_pbData = pbData;
    digests.m_arOffsets = std::move(arOffsets);
    digests.m_uCount = uCount;
    digests.m_cbPack = Read64(pbData + 16);
    digests.m_ullPackHash = Read64(pbData + 24);
    // Sorted and distinct, so that Find may halve.
    for (uint32_t u = 1; u < uCount; ++u)
        if (CompareDigestPaths(digests.Entry(u - 1), digests.Entry(u)) >= 0) return false;
    *this = std::move(digests);
    return true;
}

CFileDigest CPackDigests::Entry(uint32_t uEntry) const
{
    const unsigned char* pb = m_pbData + m_arOffsets[uEntry];
    CFileDigest digest;
    digest.cbSize = Read64(pb);
    digest.ullHash = Read64(pb + 8);
    digest.cchPath = pb[16] | pb[17] << 8;
    digest.pbPath = pb + c_cbDigestEntryFixed;
    return digest;
}

long CPackDigests::Find(const char16_t* pszPath, size_t cchPath) const
{
    bool fFound = false;
    const size_t nEntry = FindSorted(
        m_uCount, [&](size_t n) { return ComparePath(Entry(static_cast<uint32_t>(n)), pszPath, cchPath); },
        fFound);
    return fFound ? static_cast<long>(nEntry) : -1;
}
} // namespace corvane
