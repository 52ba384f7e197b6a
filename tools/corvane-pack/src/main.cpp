// corvane-pack command line: pack a folder into the launcher's product pack, list a pack, verify one.
#include "packer.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <set>
#include <string>

#ifdef _WIN32
#include <io.h>
#define CORVANE_ISATTY(fd) _isatty(fd)
#define CORVANE_FILENO(f) _fileno(f)
#else
#include <unistd.h>
#define CORVANE_ISATTY(fd) isatty(fd)
#define CORVANE_FILENO(f) fileno(f)
#endif

namespace fs = std::filesystem;
using namespace corvane_pack;

namespace
{
const char kHelp[] =
    "usage: corvane-pack [OPTIONS] SOURCE_DIR OUTPUT.chm   pack a folder\n"
    "       corvane-pack --list PACK                       list a pack\n"
    "       corvane-pack --verify PACK [SOURCE_DIR]        check a pack, alone or against a folder\n"
    "\n"
    "Packs every file and folder below SOURCE_DIR into an ITSF (compiled-help) container, file content\n"
    "LZX-compressed, for the launcher's RT_RCDATA 666 resource. The same tree always gives the same bytes.\n"
    "Nothing is written unless the whole tree can be packed; an existing OUTPUT is replaced only at the "
    "end.\n"
    "PACK is a pack, or a Windows executable that carries one as RT_RCDATA 666 (its digests as 667, or\n"
    "the ids given by --pack-id and --digests-id).\n"
    "Options go before or after the paths; after -- every argument is a path.\n"
    "\n"
    "Options:\n"
    "  --store          keep file content uncompressed (section 0) instead of LZX\n"
    "  --threads N      encode with N threads (default: one per processor); the output does not change\n"
    "  --no-e8          no E8 call translation (on by default: it makes x86 code smaller, and chmlib,\n"
    "                   7-Zip and Windows' ITStorage as Wine has it all undo it)\n"
    "  --quiet          no progress line (there is none anyway when stdout or stderr is not a terminal)\n"
    "  --digests FILE   packing: also write to FILE the size and hash of the pack and of each file in it,\n"
    "                   for the launcher to check the pack and unpacked files against (pack/pack_digest.h);\n"
    "                   --list, --verify: check the pack against FILE (not an executable's own digests)\n"
    "  --list PACK      decode every file of PACK (and check it against the digests, if there are any),\n"
    "                   then print each folder and file with its size in bytes and the totals; a damaged\n"
    "                   pack prints no listing\n"
    "  --verify PACK [SOURCE_DIR]\n"
    "                   decode every file of PACK with corvane-pack's own reader; compare every file and\n"
    "                   folder with SOURCE_DIR, and every file's and the pack's size and hash with the\n"
    "                   digests, when there are those\n"
    "  --pack-id N      --list, --verify: the pack is the executable's RT_RCDATA resource N (666), the\n"
    "                   launcher's CORVANE_PACK_ID\n"
    "  --digests-id N   --list, --verify: its digests are resource N (667), the launcher's "
    "CORVANE_DIGESTS_ID\n"
    "  --help           this text\n"
    "  --version        the tool's version\n"
    "Encoder tuning (for experiments; defaults are the measured best):\n"
    "  --depth N        match-finder steps per position (32)\n"
    "  --nice N         a match this long is taken without weighing shorter ones (96)\n"
    "  --passes N       optimal-parse passes (2; an interval's first frame gets one more)\n"
    "  --split-depth N  a 32 KiB frame may be cut into up to 2^N blocks with their own codes (2)\n"
    "  --greedy-seed    first prices from a longest-match parse\n"
    "\n"
    "Exit codes:\n"
    "  0  done (--verify: the pack is whole and matches the folder and digests it was checked against)\n"
    "  1  --verify: the pack differs from the folder or from the digests\n"
    "  2  the command line is not understood, or OUTPUT or the digests would be inside SOURCE_DIR\n"
    "  3  the source folder cannot be packed as it is (a name Windows cannot hold, names differing only in\n"
    "     case, a special file, a path too long) or cannot be read; nothing is written\n"
    "  4  the output cannot be written (missing folder, no permission, disk full), or PACK or the\n"
    "     digests cannot be read or are damaged (--list: also a pack that differs from its digests)\n"
    "On SIGINT or SIGTERM a pack in progress removes its temporary files and ends by that signal.\n"
    "Every error message names the file or folder it is about.\n";

int UsageError(const std::string& strWhy)
{
    std::cerr << "corvane-pack: " << strWhy << "\ntry 'corvane-pack --help'\n";
    return static_cast<int>(EPackStatus::Usage);
}

int Report(EPackStatus status, const std::vector<std::string>& arProblems, const std::string& strWhat)
{
    const size_t kShown = 50;
    for (size_t i = 0; i < arProblems.size() && i < kShown; ++i)
        std::cerr << "corvane-pack: " << arProblems[i] << '\n';
    if (arProblems.size() > kShown)
        std::cerr << "corvane-pack: ... and " << arProblems.size() - kShown << " more\n";
    std::cerr << "corvane-pack: " << strWhat << '\n';
    return static_cast<int>(status);
}

bool IsTerminal(FILE* pFile)
{
    return CORVANE_ISATTY(CORVANE_FILENO(pFile)) != 0;
}

// One line on stderr, rewritten in place at most four times a second once a pack takes over a second.
class CProgressLine
{
public:
    void Show(const CPackProgress& progress)
    {
        const auto now = std::chrono::steady_clock::now();
        const bool bLast = progress.cbDone == progress.cbTotal && progress.nFilesDone == progress.nFiles;
        if (now - m_started < std::chrono::seconds(1) ||
            (now - m_shown < std::chrono::milliseconds(250) && !bLast))
            return;
        m_shown = now;
        m_bShown = true;
        const double dSeconds = std::chrono::duration<double>(now - m_started).count();
        std::fprintf(stderr, "\rcorvane-pack: %llu of %llu files, %.1f of %.1f MB, %.1f MB/s   ",
                     static_cast<unsigned long long>(progress.nFilesDone),
                     static_cast<unsigned long long>(progress.nFiles), progress.cbDone / 1e6,
                     progress.cbTotal / 1e6, progress.cbDone / 1e6 / dSeconds);
        std::fflush(stderr);
    }
    // Ends the line so that what follows starts on its own.
    void Finish()
    {
        if (m_bShown) std::fputc('\n', stderr);
    }

private:
    const std::chrono::steady_clock::time_point m_started = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point m_shown = m_started;
    bool m_bShown = false;
};

bool ParseNumber(const std::vector<std::string>& arArgs, size_t& i, long nMin, long nMax, long& nValue)
{
    if (i + 1 >= arArgs.size()) return false;
    char* pEnd = nullptr;
    const long n = std::strtol(arArgs[i + 1].c_str(), &pEnd, 10);
    if (pEnd == arArgs[i + 1].c_str() || *pEnd != '\0' || n < nMin || n > nMax) return false;
    nValue = n;
    ++i;
    return true;
}

bool ParseCount(const std::vector<std::string>& arArgs, size_t& i, int& nValue)
{
    long n = 0;
    if (!ParseNumber(arArgs, i, 0, 1 << 20, n)) return false;
    nValue = static_cast<int>(n);
    return true;
}

// A resource id as MAKEINTRESOURCE takes it.
bool ParseResourceId(const std::vector<std::string>& arArgs, size_t& i, uint32_t& uId)
{
    long n = 0;
    if (!ParseNumber(arArgs, i, 1, 65535, n)) return false;
    uId = static_cast<uint32_t>(n);
    return true;
}

enum class EMode
{
    Pack,
    List,
    Verify,
};

struct CCommand
{
    EMode mode = EMode::Pack;
    bool bHelp = false;
    bool bVersion = false;
    bool bQuiet = false;
    std::string strPackOption;  // the first option only packing takes
    std::string strCheckOption; // the first option only --list and --verify take
    CPackOptions opt;
    CCheckInput check;
    std::vector<std::string> arPaths;
};

const std::set<std::string> kPackingOptions = {"--store", "--threads", "--no-e8",       "--greedy-seed",
                                               "--depth", "--nice",    "--split-depth", "--passes"};

// Options anywhere; "--" ends them. Returns -1, or the exit code of a command line not understood.
int ParseCommand(const std::vector<std::string>& arArgs, CCommand& cmd)
{
    bool bOptions = true;
    for (size_t i = 0; i < arArgs.size(); ++i)
    {
        const std::string& strArg = arArgs[i];
        if (!bOptions || strArg.size() < 2 || strArg[0] != '-')
        {
            cmd.arPaths.push_back(strArg);
            continue;
        }
        bool bOk = true;
        if (kPackingOptions.count(strArg) && cmd.strPackOption.empty()) cmd.strPackOption = strArg;
        if ((strArg == "--pack-id" || strArg == "--digests-id") && cmd.strCheckOption.empty())
            cmd.strCheckOption = strArg;
        if (strArg == "--")
            bOptions = false;
        else if (strArg == "--help" || strArg == "-h")
            cmd.bHelp = true;
        else if (strArg == "--version")
            cmd.bVersion = true;
        else if (strArg == "--list" || strArg == "--verify")
        {
            const EMode mode = strArg == "--list" ? EMode::List : EMode::Verify;
            if (cmd.mode != EMode::Pack && cmd.mode != mode)
                return UsageError("--list and --verify do not go together");
            cmd.mode = mode;
        }
        else if (strArg == "--store")
            cmd.opt.bStore = true;
        else if (strArg == "--quiet")
            cmd.bQuiet = true;
        else if (strArg == "--greedy-seed")
            cmd.opt.optLzx.bGreedySeed = true;
        else if (strArg == "--no-e8")
            cmd.opt.optLzx.uE8TranslationSize = 0;
        else if (strArg == "--threads")
            bOk = ParseCount(arArgs, i, cmd.opt.nThreads);
        else if (strArg == "--depth")
            bOk = ParseCount(arArgs, i, cmd.opt.optLzx.nDepth);
        else if (strArg == "--nice")
            bOk = ParseCount(arArgs, i, cmd.opt.optLzx.nNice);
        else if (strArg == "--split-depth")
            bOk = ParseCount(arArgs, i, cmd.opt.optLzx.nSplitDepth);
        else if (strArg == "--passes")
            bOk = ParseCount(arArgs, i, cmd.opt.optLzx.nPasses);
        else if (strArg == "--pack-id")
            bOk = ParseResourceId(arArgs, i, cmd.check.uPackId);
        else if (strArg == "--digests-id")
            bOk = ParseResourceId(arArgs, i, cmd.check.uDigestsId);
        else if (strArg == "--digests")
        {
            if (i + 1 >= arArgs.size()) return UsageError("--digests needs a file");
            cmd.opt.pathDigests = fs::u8path(arArgs[++i]);
        }
        else
            return UsageError("unknown option " + strArg);
        if (!bOk) return UsageError(strArg + " needs a number");
    }
    return -1;
}

// True when path is the folder or lies below it, links followed as far as they exist but for the last name
// of path: a pack is renamed over a link, not written through it.
bool IsWithin(const fs::path& path, const fs::path& pathFolder)
{
    std::error_code ec, ecFolder;
    const fs::path pathAbsolute = fs::absolute(path);
    const fs::path pathFull = fs::weakly_canonical(pathAbsolute.parent_path(), ec) / pathAbsolute.filename();
    const fs::path pathDir = fs::weakly_canonical(fs::absolute(pathFolder), ecFolder);
    if (ec || ecFolder) return false;
    const fs::path pathRelative = pathFull.lexically_relative(pathDir);
    return !pathRelative.empty() && *pathRelative.begin() != "..";
}

// The pack and the digests --list and --verify read: the first path and --digests.
CCheckInput CheckInput(const CCommand& cmd)
{
    CCheckInput check = cmd.check;
    check.pathPack = fs::u8path(cmd.arPaths[0]);
    check.pathDigests = cmd.opt.pathDigests;
    return check;
}

int ListCommand(const CCommand& cmd)
{
    if (cmd.arPaths.size() != 1) return UsageError("--list takes one pack");
    std::vector<std::string> arProblems;
    const EPackStatus status = ListPack(CheckInput(cmd), std::cout, arProblems);
    if (status != EPackStatus::Ok) return Report(status, arProblems, "cannot list " + cmd.arPaths[0]);
    return 0;
}

int VerifyCommand(const CCommand& cmd)
{
    if (cmd.arPaths.empty() || cmd.arPaths.size() > 2)
        return UsageError("--verify takes a pack and, if it is to be compared with one, a folder");
    std::vector<std::string> arProblems;
    std::string strSummary;
    const EPackStatus status =
        VerifyPack(CheckInput(cmd), cmd.arPaths.size() > 1 ? fs::u8path(cmd.arPaths[1]) : fs::path(),
                   arProblems, strSummary);
    if (status != EPackStatus::Ok) return Report(status, arProblems, "verify FAILED: " + strSummary);
    std::cout << "verify OK: " << strSummary << '\n';
    return 0;
}

int PackCommand(CCommand& cmd)
{
    if (cmd.arPaths.size() != 2) return UsageError("packing takes a source folder and an output file");
    const fs::path pathSource = fs::u8path(cmd.arPaths[0]), pathOutput = fs::u8path(cmd.arPaths[1]);
    // The same name would give both the same temporary file.
    std::error_code ec;
    auto normal = [&ec](const fs::path& path) { return fs::absolute(path, ec).lexically_normal(); };
    if (!cmd.opt.pathDigests.empty() && normal(cmd.opt.pathDigests) == normal(pathOutput))
        return UsageError("--digests needs a file other than the output");
    // The next pack of the folder would take in this one.
    if (fs::is_directory(pathSource, ec))
        for (const fs::path& path : {pathOutput, cmd.opt.pathDigests})
            if (!path.empty() && IsWithin(path, pathSource))
                return UsageError(path.u8string() + " is inside the source folder " + pathSource.u8string());

    CProgressLine line;
    if (!cmd.bQuiet && IsTerminal(stdout) && IsTerminal(stderr))
        cmd.opt.fnProgress = [&line](const CPackProgress& progress) { line.Show(progress); };
    std::vector<std::string> arProblems;
    const EPackStatus status = PackTree(pathSource, pathOutput, cmd.opt, arProblems);
    line.Finish();
    if (status != EPackStatus::Ok) return Report(status, arProblems, "nothing written to " + cmd.arPaths[1]);
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> arArgs(argv + 1, argv + argc);
    if (arArgs.empty()) return UsageError("nothing to do");
    CCommand cmd;
    const int nExit = ParseCommand(arArgs, cmd);
    if (nExit >= 0) return nExit;
    if (cmd.bHelp)
    {
        std::cout << kHelp;
        return 0;
    }
    if (cmd.bVersion)
    {
        std::cout << "corvane-pack " CORVANE_PACK_VERSION "\n";
        return 0;
    }
    const char* szMode = cmd.mode == EMode::List ? "--list" : "--verify";
    if (cmd.mode != EMode::Pack && !cmd.strPackOption.empty())
        return UsageError(cmd.strPackOption + " is for packing, not " + szMode);
    if (cmd.mode == EMode::Pack && !cmd.strCheckOption.empty())
        return UsageError(cmd.strCheckOption + " is for --list and --verify, not packing");
    if (cmd.mode == EMode::List) return ListCommand(cmd);
    if (cmd.mode == EMode::Verify) return VerifyCommand(cmd);
    return PackCommand(cmd);
}
