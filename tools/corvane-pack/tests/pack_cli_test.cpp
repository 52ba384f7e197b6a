// The command line as scripts see it: documented exit codes, errors that name their path, --list sizes,
// and silence when the output is not a terminal.
#include "pack_test_support.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace corvane_pack_test;

TEST(PackCommandLine, HelpVersionAndUsageErrors)
{
    CRunResult r = RunPacker({"--help"});
    EXPECT_EQ(r.nExit, 0);
    for (const char* szOption :
         {"--store", "--threads", "--quiet", "--list", "--verify", "--help", "--version", "--depth", "--nice",
          "--passes", "--split-depth", "--greedy-seed", "--digests", "Exit codes"})
        EXPECT_NE(r.strOut.find(szOption), std::string::npos) << "--help does not explain " << szOption;
    r = RunPacker({"--version"});
    EXPECT_EQ(r.nExit, 0);
    EXPECT_EQ(r.strOut.rfind("corvane-pack 1.", 0), 0u) << r.strOut;

    r = RunPacker({"--frobnicate", "a", "b"});
    EXPECT_EQ(r.nExit, 2);
    EXPECT_NE(r.strErr.find("--frobnicate"), std::string::npos) << r.strErr;
    EXPECT_EQ(RunPacker({}).nExit, 2);
    EXPECT_EQ(RunPacker({"only-one-path"}).nExit, 2);
    EXPECT_EQ(RunPacker({"--threads", "many", "a", "b"}).nExit, 2);
    EXPECT_EQ(RunPacker({"--list"}).nExit, 2);
    EXPECT_EQ(RunPacker({"a", "b", "--digests"}).nExit, 2);
    EXPECT_EQ(RunPacker({"--digests", "./b", "a", "b"}).nExit, 2) << "digests over the pack";
}

TEST(PackCommandLine, ExitCodesAndErrorsNamingThePath)
{
    const fs::path pathSource =
        MakeTree(FreshDir("cli-src"), {{"a.txt", false, "alpha"}, {"b/c.txt", false, "c"}});
    const fs::path pathOut = FreshDir("cli-out");
    const fs::path pathPack = pathOut / "ok.chm";
    // Not a terminal here: a successful pack says nothing at all.
    CRunResult r = RunPacker({pathSource.string(), pathPack.string()});
    EXPECT_EQ(r.nExit, 0);
    EXPECT_EQ(r.strOut + r.strErr, "");
    EXPECT_EQ(RunPacker({"--verify", pathPack.string(), pathSource.string()}).nExit, 0);

    WriteFile(pathSource / "b/c.txt", "C");
    r = RunPacker({"--verify", pathPack.string(), pathSource.string()});
    EXPECT_EQ(r.nExit, 1);
    EXPECT_NE(r.strErr.find("/b/c.txt"), std::string::npos) << r.strErr;

    const fs::path pathRefused = MakeTree(FreshDir("cli-bad"), {{"sub/aux.txt", false, "x"}});
    r = RunPacker({pathRefused.string(), (pathOut / "refused.chm").string()});
    EXPECT_EQ(r.nExit, 3);
    EXPECT_NE(r.strErr.find((pathRefused / "sub/aux.txt").string()), std::string::npos) << r.strErr;

    const fs::path pathUnwritable = pathOut / "no-such-folder" / "x.chm";
    r = RunPacker({pathSource.string(), pathUnwritable.string()});
    EXPECT_EQ(r.nExit, 4);
    EXPECT_NE(r.strErr.find(pathUnwritable.string()), std::string::npos) << r.strErr;

    const fs::path pathNotPack = pathSource / "a.txt";
    for (const fs::path& pathBad : {pathNotPack, pathOut / "missing.chm"})
    {
        r = RunPacker({"--list", pathBad.string()});
        EXPECT_EQ(r.nExit, 4) << pathBad;
        EXPECT_NE(r.strErr.find(pathBad.string() + ": "), std::string::npos) << r.strErr;
    }
}

TEST(PackCommandLine, ListShowsEverySize)
{
    std::mt19937 rng(8);
    const CLayout arLayout = {{"empty.txt", false, ""},
                              {"one.bin", false, "1"},
                              {"deep/er/frame.bin", false, TextBytes(rng, 32768)},
                              {"deep/big.bin", false, RandomBytes(rng, 100001)},
                              {"hollow", true, ""}};
    const fs::path pathSource = MakeTree(FreshDir("list-src"), arLayout);
    const fs::path pathPack = FreshDir("list-out") / "list.chm";
    PackOk(pathSource, pathPack);
    const CRunResult r = RunPacker({"--list", pathPack.string()});
    ASSERT_EQ(r.nExit, 0) << r.strErr;
    std::map<std::string, std::string> mapListed; // name -> size column
    std::string strTotals;
    std::istringstream lines(r.strOut);
    for (std::string strLine; std::getline(lines, strLine);)
    {
        std::istringstream fields(strLine);
        std::string strSize, strName;
        fields >> strSize >> strName;
        if (strName.rfind("/", 0) == 0)
            mapListed[strName] = strSize;
        else
            strTotals = strLine;
    }
    const std::map<std::string, std::string> mapWant = {{"/", "<dir>"},
                                                        {"/deep/", "<dir>"},
                                                        {"/deep/er/", "<dir>"},
                                                        {"/hollow/", "<dir>"},
                                                        {"/empty.txt", "0"},
                                                        {"/one.bin", "1"},
                                                        {"/deep/er/frame.bin", "32768"},
                                                        {"/deep/big.bin", "100001"}};
    EXPECT_EQ(mapListed, mapWant) << r.strOut;
    EXPECT_EQ(strTotals.rfind("4 files, 4 folders, " + std::to_string(32768 + 100001 + 1) + " bytes; pack " +
                                  std::to_string(fs::file_size(pathPack)) + " bytes",
                              0),
              0u)
        << strTotals;
}
