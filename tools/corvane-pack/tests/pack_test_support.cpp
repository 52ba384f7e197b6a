// Child processes with captured output and a time limit, scratch trees, and the read-back through every
// reader. Paths of the tools under test come from the build (compile definitions).
#include "pack_test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace corvane_pack_test
{
namespace
{
// Scratch folder of this test process, removed when the process ends.
class CScratch : public ::testing::Environment
{
public:
    void SetUp() override
    {
        std::string strTemplate = (fs::temp_directory_path() / "corvane-pack-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(strTemplate.data()), nullptr);
        s_path = strTemplate;
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(s_path, ec);
    }
    static fs::path s_path;
};
fs::path CScratch::s_path;
const auto* g_pScratch = ::testing::AddGlobalTestEnvironment(new CScratch);

fs::path CapturePath(const char* szWhich)
{
    return CScratch::s_path / (std::string(".run-") + szWhich);
}

std::string WindowsPath(const fs::path& path)
{
    std::string str = "Z:" + fs::absolute(path).string();
    for (char& ch : str)
        if (ch == '/') ch = '\\';
    return str;
}

struct CWalker
{
    std::string strWine, strWalker, strPrefix;
};

// The walker chosen by the ItssWalker.Select test of this build, if the build has walkers at all.
bool LoadWalker(CWalker& walker)
{
    std::ifstream in(CORVANE_WALKER_CHOICE);
    return std::getline(in, walker.strWine) && std::getline(in, walker.strWalker) &&
           std::getline(in, walker.strPrefix);
}

void ExpectSameTree(const fs::path& pathSource, const fs::path& pathOut, const std::string& strLabel)
{
    const CTreeSnapshot src = Snapshot(pathSource), out = Snapshot(pathOut);
    EXPECT_EQ(src.setDirs, out.setDirs) << strLabel << ": folders differ";
    std::set<std::string> setSrc, setOut;
    for (const auto& kv : src.mapFiles)
        setSrc.insert(kv.first);
    for (const auto& kv : out.mapFiles)
        setOut.insert(kv.first);
    EXPECT_EQ(setSrc, setOut) << strLabel << ": files differ";
    std::vector<std::string> arDiffer;
    for (const auto& kv : src.mapFiles)
    {
        const auto it = out.mapFiles.find(kv.first);
        if (it != out.mapFiles.end() && it->second != kv.second) arDiffer.push_back(kv.first);
    }
    EXPECT_TRUE(arDiffer.empty()) << strLabel << ": content differs in " << arDiffer.size()
                                  << " files, first " << (arDiffer.empty() ? "" : arDiffer[0]);
}

void ExpectItssGivesBack(const CWalker& walker, const fs::path& pathPack, const fs::path& pathSource,
                         const std::string& strLabel)
{
    const fs::path pathOut = FreshDir("wine-out");
    const CRunResult r =
        RunProcess({walker.strWine, walker.strWalker, WindowsPath(pathPack), WindowsPath(pathOut)},
                   {"WINEDEBUG=-all", "WINEPREFIX=" + walker.strPrefix});
    std::set<std::string> setGot;
    std::vector<std::string> arErrors;
    std::istringstream lines(r.strOut);
    for (std::string strLine; std::getline(lines, strLine);)
    {
        if (strLine.rfind("ERROR", 0) == 0) arErrors.push_back(strLine);
        if (strLine.rfind("D ", 0) == 0) setGot.insert(strLine);
        // "F size hash name": the hash is the walker's own; content is compared from the written files.
        std::istringstream fields(strLine);
        std::string strKind, strSize, strHash, strName;
        if (fields >> strKind >> strSize >> strHash && strKind == "F" &&
            std::getline(fields >> std::ws, strName))
            setGot.insert("F " + strSize + " " + strName);
    }
    EXPECT_EQ(r.nExit, 0) << strLabel << ": ITStorage walk: " << r.strErr.substr(0, 300);
    EXPECT_TRUE(arErrors.empty()) << strLabel << ": ITStorage walk: " << arErrors[0];
    // The walker opened every element it listed; the listing must name exactly the source tree.
    const CTreeSnapshot src = Snapshot(pathSource);
    std::set<std::string> setWant = {"D /"};
    for (const std::string& strDir : src.setDirs)
        setWant.insert("D /" + strDir + "/");
    for (const auto& kv : src.mapFiles)
        setWant.insert("F " + std::to_string(kv.second.size()) + " /" + kv.first);
    EXPECT_EQ(setWant, setGot) << strLabel << ": ITStorage listing differs";
    ExpectSameTree(pathSource, pathOut, strLabel + " via ITStorage");
}
} // namespace

CRunResult RunProcess(const std::vector<std::string>& arArgv, const std::vector<std::string>& arEnv,
                      int nTimeoutSeconds)
{
    CRunResult result;
    std::vector<char*> arArgs;
    for (const std::string& str : arArgv)
        arArgs.push_back(const_cast<char*>(str.c_str()));
    arArgs.push_back(nullptr);
    std::vector<std::string> arEnvStrings(arEnv);
    for (char** pp = environ; *pp; ++pp)
    {
        const std::string str = *pp;
        bool bOverridden = false;
        for (const std::string& strOwn : arEnv)
            bOverridden =
                bOverridden || str.compare(0, strOwn.find('=') + 1, strOwn, 0, strOwn.find('=') + 1) == 0;
        if (!bOverridden) arEnvStrings.push_back(str);
    }
    std::vector<char*> arEnvp;
    for (std::string& str : arEnvStrings)
        arEnvp.push_back(str.data());
    arEnvp.push_back(nullptr);

    const fs::path pathOut = CapturePath("out"), pathErr = CapturePath("err");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, pathOut.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, pathErr.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    const int nSpawn = posix_spawnp(&pid, arArgs[0], &actions, nullptr, arArgs.data(), arEnvp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (nSpawn != 0) return result;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(nTimeoutSeconds);
    int nStatus = 0;
    while (waitpid(pid, &nStatus, WNOHANG) == 0)
    {
        if (std::chrono::steady_clock::now() > deadline)
        {
            kill(pid, SIGKILL);
            waitpid(pid, &nStatus, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    result.nExit = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    result.strOut = ReadFile(pathOut);
    result.strErr = ReadFile(pathErr);
    return result;
}

CRunResult RunPacker(const std::vector<std::string>& arArgs)
{
    std::vector<std::string> arArgv = {CORVANE_PACKER};
    arArgv.insert(arArgv.end(), arArgs.begin(), arArgs.end());
    return RunProcess(arArgv);
}

fs::path FreshDir(const std::string& strName)
{
    const fs::path path = CScratch::s_path / strName;
    std::error_code ec;
    fs::remove_all(path, ec);
    fs::create_directories(path);
    return path;
}

fs::path MakeTree(const fs::path& pathRoot, const CLayout& arLayout)
{
    fs::create_directories(pathRoot);
    for (const CLayoutEntry& entry : arLayout)
    {
        const fs::path path = pathRoot / fs::u8path(entry.strPath);
        if (entry.bDir)
        {
            fs::create_directories(path);
            continue;
        }
        fs::create_directories(path.parent_path());
        WriteFile(path, entry.strData);
    }
    return pathRoot;
}

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::string& strData)
{
    std::ofstream(path, std::ios::binary).write(strData.data(), static_cast<std::streamsize>(strData.size()));
}

std::string TextBytes(std::mt19937& rng, size_t cb)
{
    static const char kLetters[] = "etaoinshrdlucmfwyp";
    std::vector<std::string> arWords(3000);
    for (std::string& strWord : arWords)
        for (size_t n = 2 + rng() % 8; n > 0; --n)
            strWord += kLetters[rng() % (sizeof(kLetters) - 1)];
    std::string str;
    while (str.size() < cb)
    {
        str += arWords[rng() % arWords.size()] + (rng() % 10 == 0 ? '\n' : ' ');
        if (rng() % 50 == 0) str += RandomBytes(rng, 1 + rng() % 64);
    }
    str.resize(cb);
    return str;
}

std::string RandomBytes(std::mt19937& rng, size_t cb)
{
    std::string str(cb, '\0');
    for (char& ch : str)
        ch = static_cast<char>(rng());
    return str;
}

std::string E8Bytes(std::mt19937& rng, size_t cb)
{
    const int32_t nSize = 12000000; // the translation size the encoder writes
    std::string str = RandomBytes(rng, cb);
    auto put = [&](size_t iAt, int32_t nOperand) {
        for (size_t k = 0; k < 5 && iAt + k < cb; ++k)
            str[iAt + k] =
                static_cast<char>(k == 0 ? 0xE8 : static_cast<uint32_t>(nOperand) >> (8 * (k - 1)));
    };
    auto edge = [&](size_t iAt) {
        const int32_t nPos = static_cast<int32_t>(iAt % 65536);
        const int32_t arEdges[] = {
            -nPos - 1,        -nPos,     -nPos + 1, -1,        0,         1,  nSize - nPos - 1, nSize - nPos,
            nSize - nPos + 1, nSize - 1, nSize,     INT32_MIN, INT32_MAX, 100};
        return arEdges[rng() % (sizeof(arEdges) / sizeof(arEdges[0]))];
    };
    for (size_t i = 0; i + 5 <= cb; i += 5 + rng() % 9)
        put(i, edge(i));
    for (size_t uEnd = 32768; uEnd <= cb; uEnd += 32768)
    {
        put(uEnd - 10 - rng() % 5, 100 + static_cast<int32_t>(rng() % 1000));
        put(uEnd - 5 - rng() % 5, 100 + static_cast<int32_t>(rng() % 1000));
    }
    for (const size_t iBack : {12, 7, 2})
        if (cb >= iBack) put(cb - iBack, 16);
    return str;
}

CTreeSnapshot Snapshot(const fs::path& pathRoot)
{
    CTreeSnapshot snap;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(pathRoot, ec), end; !ec && it != end; it.increment(ec))
    {
        const std::string strRel = it->path().lexically_relative(pathRoot).u8string();
        if (it->is_directory())
            snap.setDirs.insert(strRel);
        else
            snap.mapFiles[strRel] = ReadFile(it->path());
    }
    return snap;
}

void PackOk(const fs::path& pathSource, const fs::path& pathOut, const std::vector<std::string>& arOptions)
{
    std::vector<std::string> arArgs(arOptions);
    arArgs.push_back(pathSource.string());
    arArgs.push_back(pathOut.string());
    const CRunResult r = RunPacker(arArgs);
    EXPECT_EQ(r.nExit, 0) << "pack " << pathSource << ": " << r.strErr.substr(0, 500);
    EXPECT_TRUE(fs::is_regular_file(pathOut)) << pathOut;
}

void ExpectAllReadersGiveBack(const fs::path& pathPack, const fs::path& pathSource,
                              const std::string& strLabel)
{
    CRunResult r = RunPacker({"--verify", pathPack.string(), pathSource.string()});
    EXPECT_TRUE(r.nExit == 0 && r.strOut.find("verify OK") != std::string::npos)
        << strLabel << ": our --verify: " << r.strErr.substr(0, 400);

    fs::path pathOut = FreshDir("chmlib-out");
    RunProcess({"extract_chmLib", pathPack.string(), pathOut.string()});
    ExpectSameTree(pathSource, pathOut, strLabel + " via chmlib");

    pathOut = FreshDir("7z-out");
    r = RunProcess({"7z", "x", "-y", "-o" + pathOut.string(), pathPack.string()});
    EXPECT_EQ(r.nExit, 0) << strLabel << ": 7z x";
    ExpectSameTree(pathSource, pathOut, strLabel + " via 7-Zip");

#if CORVANE_PACK_WALKERS
    CWalker walker;
    if (LoadWalker(walker))
        ExpectItssGivesBack(walker, pathPack, pathSource, strLabel);
    else
        ADD_FAILURE() << "no working ITStorage walker recorded in " << CORVANE_WALKER_CHOICE;
#endif
}

uint32_t IndexDepth(const fs::path& pathPack)
{
    const std::string str = ReadFile(pathPack);
    const size_t iDepth = 0x78 + 0x18;
    if (str.size() < iDepth + 4) return 0;
    uint32_t u = 0;
    std::memcpy(&u, str.data() + iDepth, 4);
    return u;
}
} // namespace corvane_pack_test
