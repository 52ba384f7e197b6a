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
    for (const char* szOption : {"--store", "--threads", "--quiet", "--list", "--verify", "--help",
                                 "--version", "--depth", "--nice", "--passes", "--split-depth",
                                 "--greedy-seed", "--digests", "--pack-id", "--digests-id", "Exit codes"})
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
    EXPECT_EQ(RunPacker({"--pack-id", "700", "a", "b"}).nExit, 2) << "an id for packing";
    EXPECT_EQ(RunPacker({"--verify", "a", "--digests-id", "0"}).nExit, 2) << "no resource has id 0";
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

namespace
{
// Runs the tests' commands from a folder, so that paths can start with "-".
class CWorkingFolder
{
public:
    explicit CWorkingFolder(const fs::path& path) : m_pathBefore(fs::current_path())
    {
        fs::current_path(path);
    }
    ~CWorkingFolder() { fs::current_path(m_pathBefore); }

private:
    fs::path m_pathBefore;
};
} // namespace

TEST(PackCommandLine, OptionsAnywhereAndDoubleDash)
{
    const fs::path pathWork = FreshDir("cli-order");
    const std::string strText(20000, 'a');
    MakeTree(pathWork / "--store", {{"a.txt", false, strText}});
    MakeTree(pathWork / "src", {{"a.txt", false, strText}});
    const CWorkingFolder work(pathWork);
    const struct
    {
        std::vector<std::string> arArgs;
        int nExit;
    } arCases[] = {
        {{"--", "--store", "dash.chm"}, 0},
        {{"--verify", "dash.chm", "--", "--store"}, 0},
        {{"--quiet", "--list", "dash.chm"}, 0},
        {{"--list", "dash.chm", "--quiet"}, 0},
        {{"src", "stored.chm", "--store", "--quiet"}, 0},
        {{"--verify", "stored.chm", "src"}, 0},
        {{"src", "--quiet", "lzx.chm"}, 0},
        {{"src", "x.chm", "--frobnicate"}, 2},
        {{"--list", "dash.chm", "--store"}, 2},
        {{"--list", "--verify", "dash.chm"}, 2},
        {{"--store", "dash.chm"}, 2}, // "--store" is an option here: one path only
    };
    for (const auto& c : arCases)
    {
        const CRunResult r = RunPacker(c.arArgs);
        EXPECT_EQ(r.nExit, c.nExit) << c.arArgs[0] << " " << c.arArgs[1] << ": " << r.strErr;
    }
    // --store counted after the paths: the same text stored is larger than compressed.
    EXPECT_GT(fs::file_size("stored.chm"), fs::file_size("lzx.chm") + strText.size() / 2);
    EXPECT_FALSE(fs::exists("x.chm"));
}

TEST(PackCommandLine, MessagesSayWhatIsWrong)
{
    const fs::path pathWork = FreshDir("cli-messages");
    const fs::path pathSource =
        MakeTree(pathWork / "src", {{"a.txt", false, "a"}, {"sub/b.txt", false, "b"}});
    const std::string strSource = pathSource.string(), strWork = pathWork.string();
    const struct
    {
        std::vector<std::string> arArgs;
        int nExit;
        std::string strSaid, strNotSaid;
    } arCases[] = {
        {{strWork + "/missing", strWork + "/o.chm"},
         3,
         strWork + "/missing: it does not exist",
         "not a folder"},
        {{strSource + "/a.txt", strWork + "/o.chm"}, 3, strSource + "/a.txt: not a folder", "does not exist"},
        {{strSource, strWork + "/no/o.chm"}, 4, "cannot write " + strWork + "/no/o.chm", ".tmp"},
        {{"--verify", strWork + "/missing.chm", strSource},
         4,
         strWork + "/missing.chm: it does not exist",
         "does not match"},
        {{"--verify", strWork + "/missing.chm"},
         4,
         strWork + "/missing.chm: it does not exist",
         "does not match"},
        {{strSource, strSource + "/sub/o.chm"}, 2, "inside the source folder", ".tmp"},
        {{strSource, strSource + "/../src/o.chm"}, 2, "inside the source folder", ".tmp"},
        {{"--digests", strSource + "/d.cvdg", strSource, strWork + "/o.chm"},
         2,
         "inside the source folder",
         ".tmp"},
        {{strSource, strSource}, 2, "inside the source folder", ".tmp"},
    };
    const CTreeSnapshot before = Snapshot(pathWork);
    for (const auto& c : arCases)
    {
        const CRunResult r = RunPacker(c.arArgs);
        EXPECT_EQ(r.nExit, c.nExit) << c.strSaid << ": " << r.strErr;
        EXPECT_NE(r.strErr.find(c.strSaid), std::string::npos) << r.strErr;
        EXPECT_EQ(r.strErr.find(c.strNotSaid), std::string::npos) << r.strErr;
        const CTreeSnapshot after = Snapshot(pathWork);
        EXPECT_TRUE(after.setDirs == before.setDirs && after.mapFiles == before.mapFiles)
            << c.strSaid << ": something was written";
    }
}
