// 64-bit FNV-1a: the content hash the simulated runtime logs for the files it sees and the ITStorage walker
// prints for every stream, and that the tests work out on their own to compare with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr uint64_t c_ullFnv1aBasis = 0xcbf29ce484222325ULL;

// Goes on from ullHash over cb more bytes: a stream read in pieces hashes as one.
inline uint64_t Fnv1a64(const void* pv, size_t cb, uint64_t ullHash = c_ullFnv1aBasis)
{
    const unsigned char* pb = static_cast<const unsigned char*>(pv);
    for (size_t i = 0; i < cb; ++i)
        ullHash = (ullHash ^ pb[i]) * 0x100000001b3ULL;
    return ullHash;
}

inline uint64_t Fnv1a64(const std::string& strData)
{
    return Fnv1a64(strData.data(), strData.size());
}
