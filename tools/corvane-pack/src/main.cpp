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

namespace
{
int Usage()
{
    std::cerr << "usage: corvane-pack [--store] [--threads N] SOURCE_DIR OUTPUT.chm\n"
                 "       corvane-pack --list PACK\n"
                 "       corvane-pack --verify PACK SOURCE_DIR\n";
    return 2;
}

int Report(const std::vector<std::string>& arProblems, const char* szWhat)
{
    const size_t kShown = 50;
    for (size_t i = 0; i < arProblems.size() && i < kShown; ++i)
        std::cerr << "corvane-pack: " << arProblems[i] << '\n';
    if (arProblems.size() > kShown)
        std::cerr << "corvane-pack: ... and " << arProblems.size() - kShown << " more\n";
    std::cerr << "corvane-pack: " << szWhat << '\n';
    return 1;
}
} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> arArgs(argv + 1, argv + argc);
    if (arArgs.empty()) return Usage();
    if (arArgs[0] == "--list")
    {
        if (arArgs.size() != 2) return Usage();
        std::string err;
        if (!corvane_pack::ListPack(fs::u8path(arArgs[1]), std::cout, err))
            return Report({err}, "cannot list the pack");
        return 0;
    }
    if (arArgs[0] == "--verify")
    {
        if (arArgs.size() != 3) return Usage();
        std::vector<std::string> arProblems;
        if (!corvane_pack::VerifyPack(fs::u8path(arArgs[1]), fs::u8path(arArgs[2]), arProblems))
            return Report(arProblems, "verify FAILED");
        std::cout << "verify OK: " << arArgs[1] << " matches " << arArgs[2] << '\n';
        return 0;
    }

    corvane_pack::CPackOptions opt;
    std::vector<std::string> arPositional;
    for (size_t i = 0; i < arArgs.size(); ++i)
    {
        if (arArgs[i] == "--store")
            opt.bStore = true;
        else if (arArgs[i] == "--threads" && i + 1 < arArgs.size())
            opt.nThreads = std::atoi(arArgs[++i].c_str());
        else if (arArgs[i] == "--depth" && i + 1 < arArgs.size()) // encoder tuning knobs
            opt.optLzx.nDepth = std::atoi(arArgs[++i].c_str());
        else if (arArgs[i] == "--nice" && i + 1 < arArgs.size())
            opt.optLzx.nNice = std::atoi(arArgs[++i].c_str());
        else if (arArgs[i] == "--split-depth" && i + 1 < arArgs.size())
            opt.optLzx.nSplitDepth = std::atoi(arArgs[++i].c_str());
        else if (arArgs[i] == "--greedy-seed")
            opt.optLzx.bGreedySeed = true;
        else if (arArgs[i] == "--passes" && i + 1 < arArgs.size())
            opt.optLzx.nPasses = std::atoi(arArgs[++i].c_str());
        else if (arArgs[i].size() > 1 && arArgs[i][0] == '-' && arArgs[i] != "-")
            return Usage();
        else
            arPositional.push_back(arArgs[i]);
    }
    if (arPositional.size() != 2) return Usage();

    const auto started = std::chrono::steady_clock::now();
    auto lastShown = started;
    const bool bTerminal = CORVANE_ISATTY(CORVANE_FILENO(stderr)) != 0;
    bool bShown = false;
    if (bTerminal)
        opt.fnProgress = [&](uint64_t done, uint64_t total) {
            const auto now = std::chrono::steady_clock::now();
            if (now - lastShown < std::chrono::milliseconds(250) && done != total) return;
            if (now - started < std::chrono::seconds(1)) return;
            lastShown = now;
            bShown = true;
            std::fprintf(stderr, "\rcorvane-pack: %llu of %llu MB (%d%%)", (unsigned long long)(done >> 20),
                         (unsigned long long)(total >> 20), total ? int(done * 100 / total) : 100);
        };
    std::vector<std::string> arProblems;
    const bool bOk =
        corvane_pack::PackTree(fs::u8path(arPositional[0]), fs::u8path(arPositional[1]), opt, arProblems);
    if (bShown) std::fputc('\n', stderr);
    if (!bOk) return Report(arProblems, ("nothing written to " + arPositional[1]).c_str());
    return 0;
}
