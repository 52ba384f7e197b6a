// --list and --verify without the source folder: damage found by decoding every file, the digests (a
// file's or an executable's own), and packs inside Windows executables of both widths.
#include "pack_test_support.h"

#include <gtest/gtest.h>

#include <functional>

using namespace corvane_pack_test;

namespace
{
const size_t npos = std::string::npos;

std::mt19937 g_rng(12);
const CLayout c_arLayout = {{"a.txt", false, TextBytes(g_rng, 150000)},
                            {"sub/b.txt", false, TextBytes(g_rng, 90000)},
                            {"sub/empty", false, ""}};

// Offset of the reset table's first entry (its header: 2, the count, 8, 0x28).
size_t ResetTableEntries(const std::string& strPack)
{
    const std::string strKey("\x08\0\0\0\x28\0\0\0", 8);
    for (size_t i = strPack.find(strKey); i != npos; i = strPack.find(strKey, i + 1))
        if (i >= 8 && strPack.compare(i - 8, 4, std::string("\x02\0\0\0", 4)) == 0) return i - 8 + 0x28;
    return npos;
}

// Where the content section starts, from the ITSF header.
size_t ContentOffset(const std::string& strPack)
{
    size_t u = 0;
    for (int n = 7; n >= 0; --n)
        u = u << 8 | static_cast<unsigned char>(strPack[0x58 + n]);
    return u;
}

std::string Flipped(std::string str, size_t iAt, int nBit)
{
    str[iAt] = static_cast<char>(str[iAt] ^ (1 << nBit));
    return str;
}

// A Windows executable that carries each file as RT_RCDATA of its id, linked by mingw-w64.
fs::path BuildExe(const std::string& strCc, const std::string& strWindres, const fs::path& pathExe,
                  const std::vector<std::pair<int, fs::path>>& arResources)
{
    std::string strRc;
    for (const auto& resource : arResources)
        strRc += std::to_string(resource.first) + " RCDATA \"" + resource.second.string() + "\"\n";
    WriteFile(pathExe.string() + ".rc", strRc);
    WriteFile(pathExe.string() + ".c", "int main(void) { return 0; }\n");
    CRunResult r =
        RunProcess({strWindres, pathExe.string() + ".rc", "-O", "coff", "-o", pathExe.string() + ".o"});
    EXPECT_EQ(r.nExit, 0) << strWindres << ": " << r.strErr;
    r = RunProcess({strCc, pathExe.string() + ".c", pathExe.string() + ".o", "-o", pathExe.string()});
    EXPECT_EQ(r.nExit, 0) << strCc << ": " << r.strErr;
    return pathExe;
}
} // namespace

TEST(PackCheck, DamageIsFoundWithoutTheFolder)
{
    const fs::path pathSource = MakeTree(FreshDir("check-src"), c_arLayout);
    const fs::path pathOut = FreshDir("check-out");
    const fs::path pathGood = pathOut / "good.chm", pathBad = pathOut / "bad.chm";
    PackOk(pathSource, pathGood);
    const std::string strGood = ReadFile(pathGood);
    const size_t iControl = strGood.find("LZXC"), iReset = ResetTableEntries(strGood);
    ASSERT_TRUE(iControl != npos && iReset != npos);
    const struct
    {
        const char* szWhat;
        std::function<void(std::string&)> fnDamage;
    } arCases[] = {
        {"cut to half", [](std::string& str) { str.resize(str.size() / 2); }},
        {"cut by a byte", [](std::string& str) { str.pop_back(); }},
        {"a byte added", [](std::string& str) { str += '\0'; }},
        {"no directory header", [](std::string& str) { str.replace(0x78, 4, "ITSX"); }},
        {"LZX window of 96 KiB", [&](std::string& str) { str[iControl + 12] = 3; }},
        {"second frame a byte late", [&](std::string& str) { ++str[iReset + 8]; }},
    };
    for (const auto& c : arCases)
    {
        std::string str = strGood;
        c.fnDamage(str);
        WriteFile(pathBad, str);
        for (const std::vector<std::string>& arArgs : {std::vector<std::string>{"--list", pathBad.string()},
                                                       {"--verify", pathBad.string()},
                                                       {"--verify", pathBad.string(), pathSource.string()}})
        {
            const CRunResult r = RunPacker(arArgs);
            EXPECT_EQ(r.nExit, 4) << c.szWhat << ": " << arArgs[0] << " with " << arArgs.size() - 1
                                  << " paths";
            EXPECT_NE(r.strErr.find(pathBad.string() + ": "), npos) << c.szWhat << ": " << r.strErr;
            EXPECT_EQ(r.strOut, "") << c.szWhat << ": a damaged pack is not listed";
        }
    }
    EXPECT_EQ(RunPacker({"--list", pathGood.string()}).nExit, 0);
    const CRunResult r = RunPacker({"--verify", pathGood.string()});
    EXPECT_EQ(r.nExit, 0) << r.strErr;
    EXPECT_NE(r.strOut.find("decodes whole"), npos) << r.strOut;
}

TEST(PackCheck, AgainstTheDigests)
{
    const fs::path pathSource = MakeTree(FreshDir("check-src"), c_arLayout);
    const fs::path pathOut = FreshDir("check-out");
    const fs::path pathPack = pathOut / "p.chm", pathDigests = pathOut / "p.cvdg";
    PackOk(pathSource, pathPack, {"--digests", pathDigests.string()});
    // Digests of the tree with one byte of /sub/b.txt changed, and digests with a byte changed.
    WriteFile(pathSource / "sub/b.txt", "X" + ReadFile(pathSource / "sub/b.txt").substr(1));
    PackOk(pathSource, pathOut / "other.chm", {"--digests", (pathOut / "other.cvdg").string()});
    WriteFile(pathOut / "bad.cvdg", Flipped(ReadFile(pathDigests), 40, 0));
    const struct
    {
        const char* szDigests;
        int nVerify, nList;
        const char* szNamed; // in the messages
    } arCases[] = {
        {"p.cvdg", 0, 0, ""},
        {"other.cvdg", 1, 4, "/sub/b.txt: content differs from its digest"},
        {"bad.cvdg", 4, 4, "bad.cvdg: "},
        {"missing.cvdg", 4, 4, "missing.cvdg: it does not exist"},
    };
    for (const auto& c : arCases)
    {
        const std::string strDigests = (pathOut / c.szDigests).string();
        CRunResult r = RunPacker({"--verify", pathPack.string(), "--digests", strDigests});
        EXPECT_EQ(r.nExit, c.nVerify) << c.szDigests << ": " << r.strErr;
        EXPECT_NE(r.strErr.find(c.szNamed), npos) << c.szDigests << ": " << r.strErr;
        r = RunPacker({"--digests", strDigests, "--list", pathPack.string()});
        EXPECT_EQ(r.nExit, c.nList) << c.szDigests << ": " << r.strErr;
        EXPECT_NE(r.strErr.find(c.szNamed), npos) << c.szDigests << ": " << r.strErr;
    }

    // Bits flipped across the content: decoding finds some; the digests find every one, as a difference
    // (1) when the pack still decodes and as damage (4) when it does not, and --list calls each damage.
    const std::string strPack = ReadFile(pathPack);
    const size_t iContent = ContentOffset(strPack);
    int nSilent = 0;
    for (int k = 0; k < 12; ++k)
    {
        const size_t iAt = iContent + (strPack.size() - iContent) * (2 * k + 1) / 24;
        const fs::path pathFlipped = pathOut / "flipped.chm";
        WriteFile(pathFlipped, Flipped(strPack, iAt, k % 8));
        const int nDecode = RunPacker({"--list", pathFlipped.string()}).nExit;
        ASSERT_TRUE(nDecode == 0 || nDecode == 4) << "byte " << iAt;
        nSilent += nDecode == 0;
        EXPECT_EQ(RunPacker({"--list", pathFlipped.string(), "--digests", pathDigests.string()}).nExit, 4)
            << "byte " << iAt;
        const CRunResult r = RunPacker({"--verify", pathFlipped.string(), "--digests", pathDigests.string()});
        EXPECT_EQ(r.nExit, nDecode == 0 ? 1 : 4) << "byte " << iAt << ": " << r.strErr;
    }
    EXPECT_GT(nSilent, 0) << "every flip broke decoding: the hashes were not put to the test";
}

TEST(PackCheck, PackInsideAnExecutable)
{
    const struct
    {
        const char* szFormat;
        std::string strCc, strWindres;
    } arTools[] = {{"PE32+", CORVANE_MINGW64_CC, CORVANE_WINDRES64},
                   {"PE32", CORVANE_MINGW32_CC, CORVANE_WINDRES32}};
    const fs::path pathSource = MakeTree(FreshDir("check-src"), c_arLayout);
    const fs::path pathOut = FreshDir("check-exe");
    const fs::path pathPack = pathOut / "p.chm", pathDigests = pathOut / "p.cvdg";
    PackOk(pathSource, pathPack, {"--digests", pathDigests.string()});
    const fs::path pathOtherDigests = pathOut / "other.cvdg";
    const fs::path pathSplash = MakeTree(pathOut, {{"splash.bin", false, "not a pack"}}) / "splash.bin";
    PackOk(pathSource / "sub", pathOut / "other.chm", {"--digests", pathOtherDigests.string()});
    const std::string strListing = RunPacker({"--list", pathPack.string()}).strOut;
    const std::string strPack = ReadFile(pathPack);

    int nFormats = 0;
    for (const auto& tools : arTools)
    {
        if (tools.strCc.empty() || tools.strWindres.empty()) continue;
        ++nFormats;
        auto build = [&](const char* szName, const std::vector<std::pair<int, fs::path>>& arResources) {
            return BuildExe(tools.strCc, tools.strWindres, pathOut / (std::string(szName) + ".exe"),
                            arResources)
                .string();
        };
        const struct
        {
            const char* szName;
            std::vector<std::pair<int, fs::path>> arResources;
            std::vector<std::string> arIds; // options naming the resources
            int nVerify, nList;
            const char* szSaid;
        } arCases[] = {
            {"launcher",
             {{129, pathSplash}, {666, pathPack}, {667, pathDigests}},
             {},
             0,
             0,
             "its own digests"},
            {"no-digests", {{666, pathPack}}, {}, 0, 0, "decodes whole"},
            {"wrong-digests",
             {{666, pathPack}, {667, pathOtherDigests}},
             {},
             1,
             4,
             "not in the digests: /a.txt"},
            {"no-pack", {{129, pathSplash}}, {}, 4, 4, "no RT_RCDATA resource 666"},
            {"other-ids",
             {{129, pathSplash}, {700, pathPack}, {701, pathDigests}},
             {"--pack-id", "700", "--digests-id", "701"},
             0,
             0,
             "its own digests (resource 701)"},
            {"other-ids", {{700, pathPack}, {701, pathDigests}}, {}, 4, 4, "no RT_RCDATA resource 666"},
            {"other-ids", {{700, pathPack}, {701, pathDigests}}, {"--pack-id", "700"}, 0, 0, "decodes whole"},
        };
        for (const auto& c : arCases)
        {
            const std::string strExe = build(c.szName, c.arResources);
            auto run = [&](const char* szCommand) {
                std::vector<std::string> arArgs = {szCommand, strExe};
                arArgs.insert(arArgs.end(), c.arIds.begin(), c.arIds.end());
                return RunPacker(arArgs);
            };
            CRunResult r = run("--verify");
            EXPECT_EQ(r.nExit, c.nVerify) << tools.szFormat << " " << c.szName << ": " << r.strErr;
            EXPECT_NE((r.strOut + r.strErr).find(c.szSaid), npos) << tools.szFormat << " " << c.szName;
            r = run("--list");
            EXPECT_EQ(r.nExit, c.nList) << tools.szFormat << " " << c.szName;
            if (c.nList == 0)
            {
                EXPECT_EQ(r.strOut, strListing) << tools.szFormat << " " << c.szName;
            }
        }
        const std::string strExe = (pathOut / "launcher.exe").string();
        EXPECT_EQ(RunPacker({"--verify", strExe, pathSource.string()}).nExit, 0) << tools.szFormat;

        // Cut inside the pack, found without the reader under test.
        const std::string strExeBytes = ReadFile(strExe);
        const size_t iPack = strExeBytes.find(strPack);
        ASSERT_NE(iPack, npos) << tools.szFormat;
        const fs::path pathCut = pathOut / "cut.exe";
        WriteFile(pathCut, strExeBytes.substr(0, iPack + strPack.size() / 2));
        for (const char* szCommand : {"--list", "--verify"})
        {
            const CRunResult r = RunPacker({szCommand, pathCut.string()});
            EXPECT_EQ(r.nExit, 4) << tools.szFormat << " cut " << szCommand;
            EXPECT_NE(r.strErr.find(pathCut.string() + ": "), npos) << r.strErr;
        }
    }
    if (nFormats == 0) GTEST_SKIP() << "no mingw-w64 gcc and windres to build an executable with";
}
