// The content hash against XXH64 as its reference implementation gives it (xxhsum -H64, xxHash 0.8.1).
#include "pack/pack_digest.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace corvane;

namespace
{
// Bytes 0, 1, ... 250, 0, 1, ...: every byte value but the last few, in stripes that never repeat evenly.
std::string Sequence(size_t cb)
{
    std::string str(cb, '\0');
    for (size_t n = 0; n < cb; ++n)
        str[n] = static_cast<char>(n % 251);
    return str;
}

struct CKnownHash
{
    std::string bytes;
    uint64_t ullHash;
};

// The whole input fed as pieces of the given lengths in turn (an empty piece included where listed).
uint64_t HashInPieces(const std::string& bytes, const std::vector<size_t>& arPieces)
{
    CContentHash hash;
    size_t at = 0;
    for (size_t n = 0; at < bytes.size(); ++n)
    {
        const size_t cbPiece = std::min(arPieces[n % arPieces.size()], bytes.size() - at);
        hash.Add(bytes.data() + at, cbPiece);
        at += cbPiece;
    }
    return hash.Value();
}
} // namespace

// Short inputs take the tail rounds only, 32 bytes and more the stripes too, and every cut of the pieces
// gives the value of the whole.
TEST(ContentHash, GivesTheReferenceValuesWholeAndInAnyPieces)
{
    const CKnownHash c_known[] = {
        {"", 0xEF46DB3751D8E999ull},
        {"a", 0xD24EC4F1A98C6E5Bull},
        {"abc", 0x44BC2CF5AD770999ull},
        {"The quick brown fox jumps over the lazy dog", 0x0B242D361FDA71BCull},
        {Sequence(7), 0x14CC643F630C72D2ull},
        {Sequence(31), 0xC346D2B59B4D8EE1ull},
        {Sequence(32), 0xCBF59C5116FF32B4ull},
        {Sequence(33), 0x0C535D1ACAFB8EADull},
        {Sequence(63), 0xE26AA9E2A95F8E4Full},
        {Sequence(64), 0xF7C67301DB6713F0ull},
        {Sequence(100), 0x6AC1E58032166597ull},
        {Sequence(1000), 0xF306F04AA88B54D3ull},
        {Sequence(65537), 0x8C8E0218A8EE0FEEull},
    };
    const std::vector<std::vector<size_t>> c_pieces = {{1}, {3}, {31}, {33}, {0, 5, 40, 2, 64, 27}};
    for (const CKnownHash& known : c_known)
    {
        SCOPED_TRACE(known.bytes.size());
        EXPECT_EQ(HashContent(known.bytes.data(), known.bytes.size()), known.ullHash);
        for (const std::vector<size_t>& arPieces : c_pieces)
            EXPECT_EQ(HashInPieces(known.bytes, arPieces), known.ullHash);
    }
}
