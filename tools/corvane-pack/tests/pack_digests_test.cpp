// The digests of --digests read back as the launcher reads them: each file's and the pack's size and hash,
// their order, that damage to them is seen, and that they are written only with the pack.
#include "pack_test_support.h"

#include "pack/pack_digest.h"

#include <gtest/gtest.h>

using namespace corvane_pack_test;

namespace
{
struct CDigestFile
{
    const char* szPath;       // in the source tree
    const char16_t* szPath16; // as the digests name it
    size_t cb;
};

// In the launcher's order, code units as numbers: "Z" before "a", "\" (5C) after "0", and U+10000
// (surrogate D800) before U+FF21; the pack's own order (case-folded UTF-8 with "/") has each the other way.
const CDigestFile c_arFiles[] = {
    {"Zeta.txt", u"Zeta.txt", 5},
    {"a0.txt", u"a0.txt", 1},
    {"a/b/deep.txt", u"a\\b\\deep.txt", 1600003}, // read in more than one piece
    {"a/empty.dat", u"a\\empty.dat", 0},
    {"a_z.txt", u"a_z.txt", 40000},
    {"données/été.txt", u"données\\été.txt", 7},
    {"x/\U00010000.txt", u"x\\\U00010000.txt", 10},
    {"x/\uFF21.txt", u"x\\\uFF21.txt", 11},
};

const unsigned char* Bytes(const std::string& str)
{
    return reinterpret_cast<const unsigned char*>(str.data());
}

std::u16string PathOf(const corvane::CFileDigest& entry)
{
    std::u16string str;
    for (size_t n = 0; n < entry.cchPath; ++n)
        str += entry.PathUnit(n);
    return str;
}
} // namespace

TEST(PackDigests, EveryFileAndThePack)
{
    std::mt19937 rng(10);
    CLayout arLayout = {{"hollow/empty", true, ""}};
    for (const CDigestFile& file : c_arFiles)
        arLayout.push_back({file.szPath, false, TextBytes(rng, file.cb)});
    const fs::path pathSource = MakeTree(FreshDir("digests-src"), arLayout);
    const fs::path pathOut = FreshDir("out");
    PackOk(pathSource, pathOut / "plain.chm");
    for (const bool bStore : {false, true})
    {
        std::vector<std::string> arOptions = {"--digests", (pathOut / "pack.cvdg").string()};
        if (bStore) arOptions.push_back("--store");
        PackOk(pathSource, pathOut / "pack.chm", arOptions);
        const std::string strPack = ReadFile(pathOut / "pack.chm");
        if (!bStore)
        {
            EXPECT_EQ(strPack, ReadFile(pathOut / "plain.chm")) << "--digests changed the pack";
        }

        const std::string strDigests = ReadFile(pathOut / "pack.cvdg");
        corvane::CPackDigests digests;
        ASSERT_TRUE(digests.Read(Bytes(strDigests), strDigests.size())) << "store " << bStore;
        EXPECT_EQ(digests.PackSize(), strPack.size());
        EXPECT_EQ(digests.PackHash(), corvane::HashContent(strPack.data(), strPack.size()));
        ASSERT_EQ(digests.Count(), std::size(c_arFiles));
        for (uint32_t u = 0; u < digests.Count(); ++u)
        {
            const corvane::CFileDigest entry = digests.Entry(u);
            const std::string strData = ReadFile(pathSource / fs::u8path(c_arFiles[u].szPath));
            EXPECT_TRUE(PathOf(entry) == c_arFiles[u].szPath16)
                << "entry " << u << " is not " << c_arFiles[u].szPath;
            EXPECT_EQ(entry.cbSize, strData.size()) << c_arFiles[u].szPath;
            EXPECT_EQ(entry.ullHash, corvane::HashContent(strData.data(), strData.size()))
                << c_arFiles[u].szPath;
        }
    }
}

TEST(PackDigests, AnyChangedByteIsSeen)
{
    const fs::path pathSource =
        MakeTree(FreshDir("digests-src"), {{"a/one.txt", false, "one"}, {"two.txt", false, "two"}});
    const fs::path pathDigests = FreshDir("out") / "d.cvdg";
    PackOk(pathSource, pathDigests.parent_path() / "p.chm", {"--digests", pathDigests.string()});
    const std::string strGood = ReadFile(pathDigests);
    corvane::CPackDigests digests;
    ASSERT_TRUE(digests.Read(Bytes(strGood), strGood.size()));
    // Magic, format, own hash, pack size, pack hash, count; the first entry's size, hash, path length and a
    // unit of its path; the last byte.
    const size_t iEntry = corvane::c_cbDigestHeader;
    const size_t arOffsets[] = {
        1, 4, 15, 16, 30, 32, iEntry + 2, iEntry + 11, iEntry + 16, iEntry + 19, strGood.size() - 1};
    for (const size_t offset : arOffsets)
    {
        std::string strBad = strGood;
        strBad[offset] = static_cast<char>(strBad[offset] ^ 0xFF);
        EXPECT_FALSE(digests.Read(Bytes(strBad), strBad.size())) << "changed byte " << offset;
    }
}

TEST(PackDigests, WrittenOnlyWithThePack)
{
    const fs::path pathWork = FreshDir("digests-fail");
    const fs::path pathGood = MakeTree(pathWork / "good", {{"a.txt", false, "a"}});
    const fs::path pathBad = MakeTree(pathWork / "bad", {{"sub/aux.txt", false, "x"}});
    fs::create_directories(pathWork / "dir.chm");
    const fs::path pathPack = pathWork / "p.chm", pathDigests = pathWork / "d.cvdg";
    struct
    {
        fs::path pathSource, pathPack, pathDigests;
        int nExit;
        fs::path pathNamed; // in the message
    } const arCases[] = {
        {pathGood, pathPack, pathWork / "no/such/d.cvdg", 4, pathWork / "no/such/d.cvdg"},
        {pathGood, pathWork / "dir.chm", pathDigests, 4, pathWork / "dir.chm"},
        {pathBad, pathPack, pathDigests, 3, pathBad / "sub/aux.txt"},
    };
    for (const auto& c : arCases)
    {
        WriteFile(pathPack, "previous pack");
        const CRunResult r =
            RunPacker({"--digests", c.pathDigests.string(), c.pathSource.string(), c.pathPack.string()});
        EXPECT_EQ(r.nExit, c.nExit) << c.pathDigests;
        EXPECT_NE(r.strErr.find(c.pathNamed.string()), std::string::npos) << r.strErr;
        EXPECT_EQ(ReadFile(pathPack), "previous pack") << c.pathDigests;
        EXPECT_FALSE(fs::is_regular_file(c.pathDigests)) << c.pathDigests;
        for (const fs::path& path : {c.pathDigests, c.pathPack})
            EXPECT_FALSE(fs::exists(path.string() + ".tmp")) << path << ".tmp left behind";
    }
}
