// corvane-pack command line: pack a folder into the launcher's product pack, list a pack, verify one.
#include "packer.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
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
    "       corvane-pack --verify PACK SOURCE_DIR          check a pack against a folder\n"
    "\n"
    "Packs every file and folder below SOURCE_DIR into an ITSF (compiled-help) container, file content\n"
    "LZX-compressed, for the launcher's RT_RCDATA 666 resource. The same tree always gives the same bytes.\n"
    "Nothing is written unless the whole tree can be packed; an existing OUTPUT is replaced only at the "
    "end.\n"
    "\n"
    "Options:\n"
    "  --store          keep file content uncompressed (section 0) instead of LZX\n"
    "  --threads N      encode with N threads (default: one per processor); the output does not change\n"
    "  --no-e8          no E8 call translation (on by default: it makes x86 code smaller, and chmlib,\n"
    "                   7-Zip and Windows' ITStorage as Wine has it all undo it)\n"
    "  --quiet          no progress line (there is none anyway when stdout or stderr is not a terminal)\n"
    "  --digests FILE   also write to FILE the size and hash of the pack and of each file in it, for the\n"
    "                   launcher to check the pack and unpacked files against (format: pack/pack_digest.h)\n"
    "  --list PACK      print each folder and file of PACK with its size in bytes, then the totals\n"
    "  --verify PACK SOURCE_DIR\n"
    "                   decode PACK with corvane-pack's own reader and compare every file and folder\n"
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
    "  0  done (--verify: the pack holds exactly the folder)\n"
    "  1  --verify: the pack differs from the folder\n"
    "  2  the command line is not understood\n"
    "  3  the source folder cannot be packed as it is (a name Windows cannot hold, names differing only in\n"
    "     case, a special file, a path too long) or cannot be read; nothing is written\n"
    "  4  the output cannot be written (missing folder, no permission, disk full), or PACK cannot be read\n"
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

bool ParseCount(const std::vector<std::string>& arArgs, size_t& i, int& nValue)
{
    if (i + 1 >= arArgs.size()) return false;
    char* pEnd = nullptr;
    const long n = std::strtol(arArgs[i + 1].c_str(), &pEnd, 10);
    if (pEnd == arArgs[i + 1].c_str() || *pEnd != '\0' || n < 0 || n > 1 << 20) return false;
    nValue = static_cast<int>(n);
    ++i;
    return true;
}

int ListCommand(const std::vector<std::string>& arArgs)
{
    if (arArgs.size() != 2) return UsageError("--list takes one pack");
    std::string strError;
    const EPackStatus status = ListPack(fs::u8path(arArgs[1]), std::cout, strError);
    if (status != EPackStatus::Ok) return Report(status, {strError}, "cannot list " + arArgs[1]);
    return 0;
}

int VerifyCommand(const std::vector<std::string>& arArgs)
{
    if (arArgs.size() != 3) return UsageError("--verify takes a pack and a folder");
    std::vector<std::string> arProblems;
    const EPackStatus status = VerifyPack(fs::u8path(arArgs[1]), fs::u8path(arArgs[2]), arProblems);
    if (status != EPackStatus::Ok)
        return Report(status, arProblems, "verify FAILED: " + arArgs[1] + " does not match " + arArgs[2]);
    std::cout << "verify OK: " << arArgs[1] << " matches " << arArgs[2] << '\n';
    return 0;
}

int PackCommand(const std::vector<std::string>& arArgs)
{
    CPackOptions opt;
    bool bQuiet = false;
    std::vector<std::string> arPositional;
    for (size_t i = 0; i < arArgs.size(); ++i)
    {
        const std::string& strArg = arArgs[i];
        bool bOk = true;
        if (strArg == "--store")
            opt.bStore = true;
        else if (strArg == "--quiet")
            bQuiet = true;
        else if (strArg == "--greedy-seed")
            opt.optLzx.bGreedySeed = true;
        else if (strArg == "--no-e8")
            opt.optLzx.uE8TranslationSize = 0;
        else if (strArg == "--threads")
            bOk = ParseCount(arArgs, i, opt.nThreads);
        else if (strArg == "--depth")
            bOk = ParseCount(arArgs, i, opt.optLzx.nDepth);
        else if (strArg == "--nice")
            bOk = ParseCount(arArgs, i, opt.optLzx.nNice);
        else if (strArg == "--split-depth")
            bOk = ParseCount(arArgs, i, opt.optLzx.nSplitDepth);
        else if (strArg == "--passes")
            bOk = ParseCount(arArgs, i, opt.optLzx.nPasses);
        else if (strArg == "--digests")
        {
            if (i + 1 >= arArgs.size()) return UsageError("--digests needs a file");
            opt.pathDigests = fs::u8path(arArgs[++i]);
        }
        else if (strArg.size() > 1 && strArg[0] == '-')
            return UsageError("unknown option " + strArg);
        else
            arPositional.push_back(strArg);
        if (!bOk) return UsageError(strArg + " needs a number");
    }
    if (arPositional.size() != 2) return UsageError("packing takes a source folder and an output file");
    // The same name would give both the same temporary file.
    std::error_code ec;
    auto normal = [&ec](const fs::path& path) { return fs::absolute(path, ec).lexically_normal(); };
    if (!opt.pathDigests.empty() && normal(opt.pathDigests) == normal(fs::u8path(arPositional[1])))
        return UsageError("--digests needs a file other than the output");

    CProgressLine line;
    if (!bQuiet && IsTerminal(stdout) && IsTerminal(stderr))
        opt.fnProgress = [&line](const CPackProgress& progress) { line.Show(progress); };
    std::vector<std::string> arProblems;
    const EPackStatus status =
        PackTree(fs::u8path(arPositional[0]), fs::u8path(arPositional[1]), opt, arProblems);
    line.Finish();
    if (status != EPackStatus::Ok) return Report(status, arProblems, "nothing written to " + arPositional[1]);
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> arArgs(argv + 1, argv + argc);
    if (arArgs.empty()) return UsageError("nothing to do");
    if (arArgs[0] == "--help" || arArgs[0] == "-h")
    {
        std::cout << kHelp;
        return 0;
    }
    if (arArgs[0] == "--version")
    {
        std::cout << "corvane-pack " CORVANE_PACK_VERSION "\n";
        return 0;
    }
    if (arArgs[0] == "--list") return ListCommand(arArgs);
    if (arArgs[0] == "--verify") return VerifyCommand(arArgs);
    return PackCommand(arArgs);
}
