// Little-endian and big-endian byte helpers shared by the container writer and reader.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace corvane_pack
{
inline void PutU16(std::vector<uint8_t>& ar, uint32_t u)
{
    ar.push_back(static_cast<uint8_t>(u));
    ar.push_back(static_cast<uint8_t>(u >> 8));
}

inline void PutU32(std::vector<uint8_t>& ar, uint32_t u)
{
    PutU16(ar, u & 0xFFFF);
    PutU16(ar, u >> 16);
}

inline void PutU64(std::vector<uint8_t>& ar, uint64_t u)
{
    PutU32(ar, static_cast<uint32_t>(u));
    PutU32(ar, static_cast<uint32_t>(u >> 32));
}

inline void PutBytes(std::vector<uint8_t>& ar, const void* p, size_t n)
{
    const uint8_t* pb = static_cast<const uint8_t*>(p);
    ar.insert(ar.end(), pb, pb + n);
}

inline uint32_t GetU16(const uint8_t* p)
{
    return p[0] | (p[1] << 8);
}

inline uint32_t GetU32(const uint8_t* p)
{
    return GetU16(p) | (static_cast<uint32_t>(GetU16(p + 2)) << 16);
}

inline uint64_t GetU64(const uint8_t* p)
{
    return GetU32(p) | (static_cast<uint64_t>(GetU32(p + 4)) << 32);
}

// Big-endian base-128 integer used by the directory chunks.
inline void PutEncInt(std::vector<uint8_t>& ar, uint64_t u)
{
    uint8_t sz[10];
    int n = 0;
    do
    {
        sz[n++] = static_cast<uint8_t>(u & 0x7F);
        u >>= 7;
    } while (u != 0);
    while (n > 1)
        ar.push_back(static_cast<uint8_t>(sz[--n] | 0x80));
    ar.push_back(sz[0]);
}

inline size_t EncIntSize(uint64_t u)
{
    size_t n = 1;
    while (u >= 0x80)
    {
        u >>= 7;
        ++n;
    }
    return n;
}
} // namespace corvane_pack
