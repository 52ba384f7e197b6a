// The digests of a product pack, made by the pack tool when it packs and checked by the launcher when it
// unpacks: one 64-bit hash of the whole pack and one of every file in it. They guard against damage (a cut
// download, a bad disk), not against someone who can rewrite the executable. Plain C++ without the
// platform's headers, so that the build machine's tool compiles the same source as the launcher.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace corvane
{
// XXH64 (seed 0), fed in pieces of any length: the same value as one call over all the bytes.
class CContentHash
{
public:
    CContentHash();
    void Add(const void* pvData, size_t cbData);
    uint64_t Value() const;

private:
    uint64_t m_acc[4];
    uint64_t m_cbTotal = 0;
    unsigned char m_stripe[32] = {};
    size_t m_cbStripe = 0;
};

uint64_t HashContent(const void* pvData, size_t cbData);

// The digests as the executable carries them (an RT_RCDATA resource beside the pack), little-endian:
//   0  "CVDG"    4  u32 format version (1)    8  u64 hash of every byte from offset 16 to the end
//   16 u64 pack size    24 u64 pack hash    32 u32 file count
//   36 the files, sorted by path (UTF-16 code units compared as numbers), each:
//      u64 size, u64 hash, u16 path length in UTF-16 units, then the path: UTF-16LE, relative to the
//      pack's root, folders joined by "\", no terminator.
const char c_szDigestMagic[] = "CVDG";
const uint32_t c_uDigestFormat = 1;
const size_t c_cbDigestHeader = 36;
const size_t c_cbDigestEntryFixed = 18;
// The bytes from offset 8 to 32 (their own hash, the pack's size and hash) name the digests whole.
const size_t c_cbDigestIdentity = 24;

// One file's digest; its path points into the digests' own bytes (not terminated, maybe unaligned).
struct CFileDigest
{
    uint64_t cbSize = 0;
    uint64_t ullHash = 0;
    const unsigned char* pbPath = nullptr;
    size_t cchPath = 0;

    // The path's UTF-16 unit at n < cchPath, decoded from its little-endian bytes.
    char16_t PathUnit(size_t n) const
    {
        return static_cast<char16_t>(pbPath[2 * n] | pbPath[2 * n + 1] << 8);
    }
};

// Compares a digest's path with a path in UTF-16 units as numbers, unit by unit: <0, 0 or >0.
int ComparePath(const CFileDigest& digest, const char16_t* pszPath, size_t cchPath);

// The digests read from their bytes, used in place (the bytes must outlive the object).
class CPackDigests
{
public:
    // True when the bytes hold the digests whole and unchanged: the format and their own hash match,
    // every entry lies inside, and the paths are sorted and distinct.
    bool Read(const unsigned char* pbData, size_t cbData);

    uint64_t PackSize() const { return m_cbPack; }
    uint64_t PackHash() const { return m_ullPackHash; }
    uint32_t Count() const { return m_uCount; }
    const unsigned char* Identity() const { return m_pbData + 8; } // c_cbDigestIdentity bytes
    CFileDigest Entry(uint32_t uEntry) const;                      // uEntry < Count()
    // The entry of a path, or -1 when the pack has no file of that path.
    long Find(const char16_t* pszPath, size_t cchPath) const;

private:
    const unsigned char* m_pbData = nullptr;
    uint64_t m_cbPack = 0;
    uint64_t m_ullPackHash = 0;
    uint32_t m_uCount = 0;
    std::unique_ptr<uint32_t[]> m_arOffsets; // where each entry starts
};
} // namespace corvane
