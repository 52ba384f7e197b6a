// Packs generated trees with corvane-pack and reads them back with readers no one here wrote (chmlib,
// 7-Zip, Wine's ITStorage) and with our own --verify; then the refusals and failures of the packer.
#include "names.h"
#include "pack/name_rule_cases.h"
#include "pack_test_support.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

extern char** environ;

using namespace corvane_pack_test;

namespace
{
constexpr size_t kFrame = 32768;

bool IsWin64Prefix(const std::string& strPrefix)
{
    std::ifstream in(strPrefix + "/system.reg");
    std::string strHead(4096, '\0');
    in.read(&strHead[0], static_cast<std::streamsize>(strHead.size()));
    return strHead.find("#arch=win64") != std::string::npos;
}

// Makes the prefix once if needed, then checks that the walker starts (it prints its usage).
bool ProbeWalker(const std::string& strWine, const std::string& strWalker, const std::string& strPrefix,
                 const char* szArch)
{
    const std::vector<std::string> arEnv = {"WINEDEBUG=-all", "WINEPREFIX=" + strPrefix,
                                            "WINEDLLOVERRIDES=mscoree,mshtml="};
    if (!fs::exists(strPrefix + "/system.reg"))
    {
        std::vector<std::string> arBootEnv(arEnv);
        arBootEnv.push_back(std::string("WINEARCH=") + szArch);
        if (RunProcess({strWine, "wineboot", "-i"}, arBootEnv, 240).nExit < 0) return false;
    }
    return RunProcess({strWine, strWalker}, arEnv, 120).strOut.find("usage: itss_walk") != std::string::npos;
}
} // namespace

#if CORVANE_PACK_WALKERS
// Picks the walker once for the reader tests: the 32-bit one, as the launcher is built; the 64-bit one where
// this machine cannot run 32-bit Wine. The reader tests fail without one.
TEST(ItssWalker, Select)
{
    const char* szEnvPrefix = std::getenv("WINEPREFIX");
    const std::string strEnvPrefix = szEnvPrefix ? szEnvPrefix : "";
    const std::string strPrefixRoot = CORVANE_PREFIX_ROOT;
    std::vector<std::string> arChoice;
    if (*CORVANE_WALKER32)
    {
        const std::string strPrefix = szEnvPrefix ? strEnvPrefix : strPrefixRoot + "/wineprefix32";
        if (ProbeWalker(CORVANE_WINE32, CORVANE_WALKER32, strPrefix, "win32"))
            arChoice = {CORVANE_WINE32, CORVANE_WALKER32, strPrefix};
    }
    if (arChoice.empty() && *CORVANE_WALKER64)
    {
        const std::string strPrefix =
            szEnvPrefix && IsWin64Prefix(strEnvPrefix) ? strEnvPrefix : strPrefixRoot + "/wineprefix64";
        if (ProbeWalker(CORVANE_WINE64, CORVANE_WALKER64, strPrefix, "win64"))
            arChoice = {CORVANE_WINE64, CORVANE_WALKER64, strPrefix};
    }
    ASSERT_FALSE(arChoice.empty()) << "no itss_walk.exe runs under Wine here; ITStorage cannot be checked";
    std::ofstream(CORVANE_WALKER_CHOICE) << arChoice[0] << '\n' << arChoice[1] << '\n' << arChoice[2] << '\n';
    std::printf("ITStorage through %s under %s (%s)\n", arChoice[1].c_str(), arChoice[0].c_str(),
                arChoice[2].c_str());
}
#endif

TEST(PackReaders, Structure)
{
    std::mt19937 rng(1);
    const fs::path pathSource = MakeTree(
        FreshDir("structure-src"), {{"top.txt", false, "top level\n"},
                                    {"a/b/c/deep.txt", false, std::string(50, 't') + "three levels down"},
                                    {"a/b/c/d/deeper.bin", false, TextBytes(rng, 5000)},
                                    {"a/b/sibling.txt", false, "sibling"},
                                    {"a/empty.dat", false, ""},
                                    {"a/b/c/zero-length", false, ""},
                                    {"Upper/Mixed_Case.TXT", false, "case kept"},
                                    {"_under/#hash/$dollar.txt", false, "collation edge names"},
                                    {"a.txt", false, "sorts before a/"},
                                    {"empty-folder", true, ""},
                                    {"nest/ed/empty", true, ""}});
    const fs::path pathOut = FreshDir("out");
    for (const bool bStore : {false, true})
    {
        const fs::path pathPack = pathOut / (bStore ? "structure-store.chm" : "structure.chm");
        PackOk(pathSource, pathPack,
               bStore ? std::vector<std::string>{"--store"} : std::vector<std::string>{});
        ExpectAllReadersGiveBack(pathPack, pathSource, bStore ? "structure --store" : "structure");
    }
    const CRunResult r = RunPacker({"--list", (pathOut / "structure.chm").string()});
    EXPECT_EQ(r.nExit, 0);
    EXPECT_TRUE(r.strOut.find("/a/b/c/deep.txt") != std::string::npos &&
                r.strOut.find("/empty-folder/") != std::string::npos)
        << r.strOut;
    EXPECT_TRUE(r.strOut.find("::DataSpace") == std::string::npos &&
                r.strOut.find("#SYSTEM") == std::string::npos)
        << "--list shows the tree only: " << r.strOut;
}

TEST(PackReaders, Sizes)
{
    std::mt19937 rng(2);
    const size_t arSizes[] = {
        0, 1, kFrame - 1, kFrame, kFrame + 1, 2 * kFrame - 1, 2 * kFrame, 2 * kFrame + 1, 3 * kFrame};
    CLayout arAll;
    for (const size_t cb : arSizes)
    {
        const std::string strData = TextBytes(rng, cb);
        char szName[32];
        std::snprintf(szName, sizeof(szName), "size-%06zu.bin", cb);
        arAll.push_back({szName, false, strData});
        const fs::path pathSource = MakeTree(FreshDir("size-src"), {{"only.bin", false, strData}});
        const fs::path pathPack = FreshDir("out") / "size.chm";
        PackOk(pathSource, pathPack);
        ExpectAllReadersGiveBack(pathPack, pathSource, "single file of " + std::to_string(cb) + " bytes");
    }
    const fs::path pathSource = MakeTree(FreshDir("sizes-src"), arAll);
    const fs::path pathPack = FreshDir("out") / "sizes.chm";
    PackOk(pathSource, pathPack);
    ExpectAllReadersGiveBack(pathPack, pathSource, "all edge sizes in one pack");
}

TEST(PackReaders, Data)
{
    std::mt19937 rng(3);
    const fs::path pathSource =
        MakeTree(FreshDir("data-src"), {{"big/several-mb.bin", false, TextBytes(rng, 5 * 1024 * 1024 + 123)},
                                        {"random.bin", false, RandomBytes(rng, 300000)},
                                        {"zeros.bin", false, std::string(1024 * 1024, '\0')},
                                        {"repeated.bin", false, std::string(200001, '\xAB')}});
    const fs::path pathOut = FreshDir("out");
    for (const bool bStore : {false, true})
    {
        const fs::path pathPack = pathOut / (bStore ? "data-store.chm" : "data.chm");
        PackOk(pathSource, pathPack,
               bStore ? std::vector<std::string>{"--store"} : std::vector<std::string>{});
        ExpectAllReadersGiveBack(pathPack, pathSource, bStore ? "data --store" : "data");
    }
    EXPECT_LT(fs::file_size(pathOut / "data.chm"), fs::file_size(pathOut / "data-store.chm") * 6 / 10)
        << "LZX clearly smaller than --store";
}

TEST(PackReaders, Scale)
{
    std::mt19937 rng(4);
    CLayout arMany;
    for (int i = 0; i < 3000; ++i)
    {
        char szName[40];
        std::snprintf(szName, sizeof(szName), "d%02d/file-%04d.txt", i % 40, i);
        arMany.push_back({szName, false, TextBytes(rng, rng() % 301)});
    }
    fs::path pathSource = MakeTree(FreshDir("many-src"), arMany);
    fs::path pathPack = FreshDir("out") / "many.chm";
    PackOk(pathSource, pathPack);
    EXPECT_GE(IndexDepth(pathPack), 2u) << "3000 files need an index level";
    ExpectAllReadersGiveBack(pathPack, pathSource, "3000 small files");

    // Long names: few entries per chunk, so the index needs two levels.
    CLayout arLong;
    for (int i = 0; i < 450; ++i)
        arLong.push_back({"long/" + std::string(180, 'n') + "-" + std::to_string(1000 + i) + ".txt", false,
                          std::to_string(i)});
    pathSource = MakeTree(FreshDir("long-src"), arLong);
    pathPack = FreshDir("out") / "long.chm";
    PackOk(pathSource, pathPack);
    EXPECT_GE(IndexDepth(pathPack), 3u) << "450 long names need two index levels";
    ExpectAllReadersGiveBack(pathPack, pathSource, "450 long names");
}

TEST(PackReaders, Utf8Names)
{
    const fs::path pathSource =
        MakeTree(FreshDir("names-src"), {{"données/été.txt", false, "french"},
                                         {"данные/файл.txt", false, "russian"},
                                         {"日本語/ファイル.txt", false, "japanese"},
                                         {"mixed ä ö ü/ß.bin", false, {"\0\1\2", 3}}});
    const fs::path pathPack = FreshDir("out") / "names.chm";
    PackOk(pathSource, pathPack);
    ExpectAllReadersGiveBack(pathPack, pathSource, "UTF-8 names");
}

// E8 call translation: CALL operands at frame ends, in every frame of several reset intervals, at the edges
// of the translated range and in a last frame cut short; each file alone so its position in the stream is
// known.
TEST(PackReaders, E8CallTranslation)
{
    std::mt19937 rng(9);
    const fs::path pathOut = FreshDir("out");
    for (const size_t cbTail : {0, 1, 7, 12, 100, 32757, 32758, 32767})
    {
        const size_t cb = 5 * kFrame + cbTail;
        const fs::path pathSource = MakeTree(FreshDir("e8-src"), {{"calls.bin", false, E8Bytes(rng, cb)}});
        PackOk(pathSource, pathOut / "e8.chm");
        ExpectAllReadersGiveBack(pathOut / "e8.chm", pathSource,
                                 "E8 placements, " + std::to_string(cb) + " bytes");
    }
    // Real machine code, with the translation and without it.
    const fs::path pathSource =
        MakeTree(FreshDir("e8-pe"), {{"shell32.dll", false, ReadFile(CORVANE_PE_SAMPLE)},
                                     {"more/calls.bin", false, E8Bytes(rng, 200000)}});
    for (const bool bE8 : {true, false})
    {
        const fs::path pathPack = pathOut / (bE8 ? "pe.chm" : "pe-no-e8.chm");
        PackOk(pathSource, pathPack, bE8 ? std::vector<std::string>{} : std::vector<std::string>{"--no-e8"});
        ExpectAllReadersGiveBack(pathPack, pathSource, bE8 ? "PE with E8" : "PE with --no-e8");
    }
    EXPECT_LT(fs::file_size(pathOut / "pe.chm"), fs::file_size(pathOut / "pe-no-e8.chm"));
}

// The launcher's own rule and table of cases: the tool refuses every name the launcher would refuse, and
// folds case as the launcher does.
TEST(PackRefusals, TheLaunchersNameRuleAndItsCases)
{
    const auto utf8 = [](const char16_t* psz) {
        std::string str;
        for (; *psz; ++psz)
        {
            const unsigned u = *psz;
            if (u < 0x80)
                str += static_cast<char>(u);
            else if (u < 0x800)
                str += {static_cast<char>(0xC0 | u >> 6), static_cast<char>(0x80 | (u & 0x3F))};
            else
                str += {static_cast<char>(0xE0 | u >> 12), static_cast<char>(0x80 | (u >> 6 & 0x3F)),
                        static_cast<char>(0x80 | (u & 0x3F))};
        }
        return str;
    };
    for (const corvane::CNameCase& c : corvane::c_nameCases)
        EXPECT_EQ(corvane_pack::CheckComponent(utf8(c.pszName)).empty(),
                  c.problem == corvane::ENameProblem::None)
            << utf8(c.pszName);
    for (const corvane::CNamePair& pair : corvane::c_namePairs)
        EXPECT_EQ(corvane_pack::CaseFoldKey(utf8(pair.pszFirst)) ==
                      corvane_pack::CaseFoldKey(utf8(pair.pszSecond)),
                  pair.fClash)
            << utf8(pair.pszSecond);
}

TEST(PackRefusals, NamesWindowsCannotHold)
{
    const char* arBad[] = {"con",  "CON.txt",   "aux.tar.gz", "com1", "LPT9.log", "nul",
                           "prn",  "trailing.", "trailing ",  "a:b",  "a<b",      "a>b",
                           "a\"b", "a|b",       "a?b",        "a*b",  "a\\b",     "tab\tname"};
    const fs::path pathPack = FreshDir("out") / "bad.chm";
    for (const char* szName : arBad)
    {
        const fs::path pathSource = MakeTree(
            FreshDir("bad-src"), {{"ok.txt", false, "fine"}, {std::string("sub/") + szName, false, "bad"}});
        const CRunResult r = RunPacker({pathSource.string(), pathPack.string()});
        EXPECT_NE(r.nExit, 0) << szName;
        EXPECT_NE(r.strErr.find(szName), std::string::npos)
            << szName << ": message names the path: " << r.strErr;
        EXPECT_FALSE(fs::exists(pathPack) || fs::exists(pathPack.string() + ".tmp") ||
                     fs::exists(pathPack.string() + ".tmp-data"))
            << szName << ": nothing written";
    }
    // Too long as a whole path though every part is fine.
    const std::string strPart(60, 'p');
    fs::path pathSource = MakeTree(
        FreshDir("bad-src"),
        {{strPart + "/" + strPart + "/" + strPart + "/" + strPart + "/" + std::string(30, 'f'), false, "x"}});
    CRunResult r = RunPacker({pathSource.string(), pathPack.string()});
    EXPECT_TRUE(r.nExit != 0 && r.strErr.find("259") != std::string::npos) << r.strErr;
    const std::pair<const char*, const char*> arClashes[] = {
        {"Readme.txt", "README.TXT"}, {"Été", "éTÉ"}, {"dir", "DIR"}};
    for (const auto& clash : arClashes)
    {
        pathSource = MakeTree(FreshDir("bad-src"), {{std::string("x/") + clash.first, false, "1"},
                                                    {std::string("x/") + clash.second, false, "2"}});
        r = RunPacker({pathSource.string(), pathPack.string()});
        EXPECT_TRUE(r.nExit != 0 && r.strErr.find("differs only in case") != std::string::npos &&
                    !fs::exists(pathPack))
            << clash.first << " / " << clash.second << ": " << r.strErr;
    }
}

TEST(PackOutput, SameTreeGivesSameBytes)
{
    std::mt19937 rng(5);
    CLayout arLayout;
    for (int i = 0; i < 30; ++i)
        arLayout.push_back({"z/" + std::to_string(i) + ".txt", false, TextBytes(rng, 1000 * i)});
    for (int i = 0; i < 3; ++i)
        arLayout.push_back({"a/" + std::to_string(i) + "/empty", true, ""});
    const fs::path pathSource = MakeTree(FreshDir("det-src"), arLayout);
    // The same tree built in the opposite order, with other timestamps.
    const fs::path pathCopy = FreshDir("det-copy");
    for (auto it = arLayout.rbegin(); it != arLayout.rend(); ++it)
        MakeTree(pathCopy, {*it});
    for (const auto& entry : fs::recursive_directory_iterator(pathCopy))
        if (entry.is_regular_file()) fs::last_write_time(entry.path(), fs::file_time_type());
    const fs::path pathOut = FreshDir("out");
    PackOk(pathSource, pathOut / "det0.chm");
    PackOk(pathSource, pathOut / "det1.chm");
    PackOk(pathCopy, pathOut / "det2.chm");
    const std::string strFirst = ReadFile(pathOut / "det0.chm");
    EXPECT_EQ(strFirst, ReadFile(pathOut / "det1.chm")) << "same tree packed twice";
    EXPECT_EQ(strFirst, ReadFile(pathOut / "det2.chm")) << "same tree built differently";
    PackOk(pathSource, pathOut / "det1.chm", {"--threads", "1"});
    EXPECT_EQ(strFirst, ReadFile(pathOut / "det1.chm")) << "thread count changed the bytes";
}

TEST(PackFailures, UnwritableOutputAndUnreadableSource)
{
    const fs::path pathWork = FreshDir("errors");
    const fs::path pathSource =
        MakeTree(pathWork / "src", {{"a.txt", false, std::string(1000, 'a')}, {"b/c.txt", false, "c"}});
    // Output folder missing; output name taken by a folder; a file where the output folder should be.
    WriteFile(pathWork / "blocker", "x");
    fs::create_directories(pathWork / "is-a-dir.chm");
    for (const fs::path& pathOut :
         {pathWork / "no/such/dir/o.chm", pathWork / "is-a-dir.chm", pathWork / "blocker/o.chm"})
    {
        const CRunResult r = RunPacker({pathSource.string(), pathOut.string()});
        EXPECT_TRUE(r.nExit != 0 && r.strErr.find("corvane-pack:") != std::string::npos)
            << pathOut << r.strErr;
        EXPECT_FALSE(fs::exists(pathOut.string() + ".tmp") || fs::exists(pathOut.string() + ".tmp-data"))
            << "temporary file left for " << pathOut;
    }
    CRunResult r = RunPacker({(pathWork / "missing-src").string(), (pathWork / "e.chm").string()});
    EXPECT_TRUE(r.nExit != 0 && r.strErr.find("missing-src") != std::string::npos) << r.strErr;
    // A dangling link and a FIFO are reported; an existing output stays as it was.
    for (const bool bFifo : {false, true})
    {
        const fs::path pathBad = MakeTree(FreshDir("err-src2"), {{"ok.txt", false, "ok"}});
        const fs::path pathNode = pathBad / "broken";
        if (bFifo)
            ASSERT_EQ(mkfifo(pathNode.c_str(), 0644), 0);
        else
            fs::create_symlink("/nonexistent/target", pathNode);
        const fs::path pathOut = pathWork / "e.chm";
        WriteFile(pathOut, "previous pack");
        r = RunPacker({pathBad.string(), pathOut.string()});
        EXPECT_TRUE(r.nExit != 0 && r.strErr.find("broken") != std::string::npos) << r.strErr;
        EXPECT_EQ(ReadFile(pathOut), "previous pack");
    }
}

TEST(PackFailures, DiskFull)
{
    const fs::path pathDisk = FreshDir("tiny");
    if (RunProcess({"mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", pathDisk.string()}).nExit != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    std::mt19937 rng(6);
    const fs::path pathSource = MakeTree(FreshDir("full-src"), {{"r.bin", false, RandomBytes(rng, 400000)}});
    const CRunResult r = RunPacker({pathSource.string(), (pathDisk / "full.chm").string()});
    std::vector<fs::path> arLeft;
    for (const auto& entry : fs::directory_iterator(pathDisk))
        arLeft.push_back(entry.path());
    RunProcess({"umount", pathDisk.string()});
    EXPECT_TRUE(r.nExit != 0 && r.strErr.find("disk full") != std::string::npos) << r.strErr;
    EXPECT_TRUE(arLeft.empty()) << "left behind: " << arLeft[0];
}

TEST(PackFailures, InterruptLeavesNothing)
{
    std::mt19937 rng(11);
    // Random bytes encode slowly: the pack is still being written when the signal comes.
    const fs::path pathSource = MakeTree(FreshDir("int-src"), {{"r.bin", false, RandomBytes(rng, 16 << 20)}});
    const fs::path pathOut = FreshDir("int-out");
    const fs::path pathPack = pathOut / "p.chm", pathDigests = pathOut / "p.cvdg";
    const std::vector<std::string> arArgs = {CORVANE_PACKER,   "--threads",          "1",
                                             "--digests",      pathDigests.string(), pathSource.string(),
                                             pathPack.string()};
    std::vector<char*> arArgv;
    for (const std::string& str : arArgs)
        arArgv.push_back(const_cast<char*>(str.c_str()));
    arArgv.push_back(nullptr);
    // A test run in the background has SIGINT ignored, which the child would inherit and keep.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t setDefault, setNone;
    sigemptyset(&setDefault);
    sigaddset(&setDefault, SIGINT);
    sigaddset(&setDefault, SIGTERM);
    sigemptyset(&setNone);
    posix_spawnattr_setsigdefault(&attr, &setDefault);
    posix_spawnattr_setsigmask(&attr, &setNone);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    for (const int nSignal : {SIGTERM, SIGINT})
    {
        pid_t pid = 0;
        ASSERT_EQ(posix_spawn(&pid, arArgv[0], nullptr, &attr, arArgv.data(), environ), 0);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        int nStatus = 0;
        bool bExited = false;
        while (!fs::exists(pathPack.string() + ".tmp-data") && std::chrono::steady_clock::now() < deadline &&
               !(bExited = waitpid(pid, &nStatus, WNOHANG) == pid))
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (bExited)
        {
            ADD_FAILURE() << "the pack ended before it could be interrupted";
            continue;
        }
        const bool bWriting = fs::exists(pathPack.string() + ".tmp-data");
        kill(pid, nSignal);
        ASSERT_EQ(waitpid(pid, &nStatus, 0), pid);
        EXPECT_TRUE(bWriting) << "no temporary file within a minute";
        EXPECT_TRUE(WIFSIGNALED(nStatus) && WTERMSIG(nStatus) == nSignal)
            << "signal " << nSignal << ": status " << nStatus;
        std::vector<std::string> arLeft;
        for (const auto& entry : fs::directory_iterator(pathOut))
            arLeft.push_back(entry.path().filename().string());
        EXPECT_TRUE(arLeft.empty()) << "signal " << nSignal << " left " << arLeft[0];
    }
    posix_spawnattr_destroy(&attr);
}
