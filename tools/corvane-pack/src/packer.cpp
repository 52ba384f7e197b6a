// Scans the source tree, streams file content through the LZX encoder (in parallel per reset interval) into a
// scratch file, then assembles headers, directory, meta files and content into the final container; lists
// packs and checks them, whole files or inside executables, against a folder and the digests.
#include "packer.h"

#include "bytes.h"
#include "itsf.h"
#include "names.h"
#include "pack/pack_digest.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <thread>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace corvane_pack
{
namespace
{
constexpr size_t kMaxPathUtf16 = 259;
constexpr size_t kIoChunk = 1 << 20;

std::string Reason()
{
    return errno ? std::string(": ") + std::strerror(errno) : std::string();
}

bool ScanFolder(const fs::path& pathDir, const std::string& strPrefix, std::vector<CSourceEntry>& arEntries,
                std::vector<std::string>& arProblems)
{
    std::error_code ec;
    fs::directory_iterator it(pathDir, ec), end;
    if (ec)
    {
        arProblems.push_back("cannot read folder " + pathDir.u8string() + ": " + ec.message());
        return false;
    }
    std::vector<fs::path> arChildren;
    for (; it != end; it.increment(ec))
    {
        if (ec) break;
        arChildren.push_back(it->path());
    }
    if (ec)
    {
        arProblems.push_back("cannot read folder " + pathDir.u8string() + ": " + ec.message());
        return false;
    }
    std::sort(arChildren.begin(), arChildren.end());
    std::map<std::u16string, std::string> mapFolded;
    for (const fs::path& pathChild : arChildren)
    {
        const std::string strLeaf = pathChild.filename().u8string();
        const std::string strName = strPrefix + strLeaf;
        const std::string strWhy = CheckComponent(strLeaf);
        if (!strWhy.empty())
        {
            arProblems.push_back(pathChild.u8string() + ": " + strWhy);
            continue;
        }
        if (Utf16Length(strName) - 1 > kMaxPathUtf16)
        {
            arProblems.push_back(pathChild.u8string() +
                                 ": path inside the pack is longer than 259 characters");
            continue;
        }
        const auto itInserted = mapFolded.emplace(CaseFoldKey(strLeaf), strLeaf);
        if (!itInserted.second)
        {
            arProblems.push_back(pathChild.u8string() + ": differs only in case from '" +
                                 itInserted.first->second + "' in the same folder");
            continue;
        }
        const fs::file_status stLink = fs::symlink_status(pathChild, ec);
        const fs::file_status stTarget = fs::status(pathChild, ec);
        if (ec || !fs::exists(stTarget))
        {
            arProblems.push_back("cannot read " + pathChild.u8string() + (ec ? ": " + ec.message() : ""));
            continue;
        }
        if (fs::is_directory(stTarget))
        {
            // Following folder links could loop or pack a tree twice.
            if (fs::is_symlink(stLink))
            {
                arProblems.push_back(pathChild.u8string() + ": symbolic link to a folder is not packed");
                continue;
            }
            arEntries.push_back(CSourceEntry{strName + "/", pathChild, true, 0});
            ScanFolder(pathChild, strName + "/", arEntries, arProblems);
        }
        else if (fs::is_regular_file(stTarget))
        {
            const uint64_t size = fs::file_size(pathChild, ec);
            if (ec)
            {
                arProblems.push_back("cannot read " + pathChild.u8string() + ": " + ec.message());
                continue;
            }
            arEntries.push_back(CSourceEntry{strName, pathChild, false, size});
        }
        else
            arProblems.push_back(pathChild.u8string() + ": not a regular file or folder");
    }
    return true;
}

// Collects content, encodes whole reset intervals in parallel batches, appends them to the scratch file.
class CLzxStream
{
public:
    CLzxStream(std::ofstream& out, const CPackOptions& opt) : m_out(out), m_opt(opt)
    {
        m_nThreads = opt.nThreads > 0 ? opt.nThreads : static_cast<int>(std::thread::hardware_concurrency());
        m_nThreads = std::max(1, std::min(m_nThreads, 64));
        m_arInput.resize(size_t(m_nThreads) * 16);
        m_arOutput.resize(m_arInput.size());
        m_arFrames.resize(m_arInput.size());
        for (int i = 0; i < m_nThreads; ++i)
            m_arEncoders.emplace_back(new CLzxEncoder(opt.optLzx));
    }
    void Write(const uint8_t* p, size_t n)
    {
        m_section.cbUncompressed += n;
        while (n > 0)
        {
            std::vector<uint8_t>& cur = m_arInput[m_nFull];
            const size_t take = std::min(n, size_t(kResetSize) - cur.size());
            cur.insert(cur.end(), p, p + take);
            p += take;
            n -= take;
            if (cur.size() == kResetSize && ++m_nFull == m_arInput.size()) Encode();
        }
    }
    // Pads the last frame with zeros: chmlib decodes every frame as a full 32 KiB.
    CLzxSection Finish()
    {
        std::vector<uint8_t>& cur = m_arInput[m_nFull];
        if (!cur.empty())
        {
            cur.resize((cur.size() + kFrameSize - 1) / kFrameSize * kFrameSize, 0);
            ++m_nFull;
        }
        Encode();
        m_section.arReset.push_back(m_section.cbCompressed);
        return m_section;
    }

private:
    void Encode()
    {
        // Intervals are taken in turn as threads come free, as they differ a lot in cost (code against
        // zeros); each result goes to the interval's own slot, so the output does not depend on the order.
        std::vector<std::thread> arThreads;
        std::atomic<size_t> next(0);
        auto work = [this, &next](int t) {
            for (size_t i; (i = next++) < m_nFull;)
            {
                m_arOutput[i].clear();
                m_arFrames[i].clear();
                m_arEncoders[t]->EncodeInterval(m_arInput[i].data(), m_arInput[i].size(), m_arOutput[i],
                                                m_arFrames[i]);
            }
        };
        for (int t = 1; t < m_nThreads; ++t)
            arThreads.emplace_back(work, t);
        work(0);
        for (std::thread& th : arThreads)
            th.join();
        for (size_t i = 0; i < m_nFull; ++i)
        {
            for (uint32_t f : m_arFrames[i])
            {
                m_section.arReset.push_back(m_section.cbCompressed);
                m_section.cbCompressed += f;
            }
            m_out.write(reinterpret_cast<const char*>(m_arOutput[i].data()),
                        static_cast<std::streamsize>(m_arOutput[i].size()));
            m_arInput[i].clear();
        }
        m_nFull = 0;
    }

    std::ofstream& m_out;
    const CPackOptions& m_opt;
    int m_nThreads = 1;
    std::vector<std::unique_ptr<CLzxEncoder>> m_arEncoders;
    std::vector<std::vector<uint8_t>> m_arInput, m_arOutput;
    std::vector<std::vector<uint32_t>> m_arFrames;
    size_t m_nFull = 0;
    CLzxSection m_section;
};

#ifndef _WIN32
// The files a SIGINT or SIGTERM removes, copied here before they are made: a signal handler may neither
// allocate nor lock. A path is whole before the count takes it in.
constexpr std::sig_atomic_t kMaxInterruptPaths = 4;
char g_aszInterruptPaths[kMaxInterruptPaths][4096];
volatile std::sig_atomic_t g_nInterruptPaths = 0;

extern "C" void RemoveAndDie(int nSignal)
{
    for (std::sig_atomic_t i = 0; i < g_nInterruptPaths; ++i)
        unlink(g_aszInterruptPaths[i]);
    // SA_RESETHAND restored the default action: the process ends by this signal, so its parent sees it.
    raise(nSignal);
}

void RemoveOnInterrupt(const std::vector<fs::path>& arPaths)
{
    g_nInterruptPaths = 0;
    for (const fs::path& path : arPaths)
    {
        const std::string& str = path.native();
        // Longer than the system takes: it can never be made, so there is nothing to remove.
        if (str.size() >= sizeof(g_aszInterruptPaths[0]) || g_nInterruptPaths == kMaxInterruptPaths) continue;
        std::memcpy(g_aszInterruptPaths[g_nInterruptPaths], str.c_str(), str.size() + 1);
        std::atomic_signal_fence(std::memory_order_seq_cst);
        g_nInterruptPaths = g_nInterruptPaths + 1;
    }
    static bool s_bInstalled = false;
    if (s_bInstalled) return;
    s_bInstalled = true;
    struct sigaction action = {};
    action.sa_handler = RemoveAndDie;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    for (const int nSignal : {SIGINT, SIGTERM})
    {
        struct sigaction previous = {};
        // A signal the caller ignores (a background job's SIGINT) stays ignored.
        if (sigaction(nSignal, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN)
            sigaction(nSignal, &action, nullptr);
    }
}

// Holds SIGINT and SIGTERM back while it lives, so the two renames that finish a pack are not split.
class CInterruptsHeld
{
public:
    CInterruptsHeld()
    {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &set, &m_previous);
    }
    ~CInterruptsHeld() { pthread_sigmask(SIG_SETMASK, &m_previous, nullptr); }

private:
    sigset_t m_previous;
};
#else
// No POSIX signals on Windows: an interrupted pack there leaves its temporary files.
void RemoveOnInterrupt(const std::vector<fs::path>&) {}
struct CInterruptsHeld
{
    CInterruptsHeld() {}
};
#endif

// Removes the temporary files when it goes, and on SIGINT or SIGTERM before that.
class CTempFiles
{
public:
    explicit CTempFiles(std::vector<fs::path> arPaths) : m_arPaths(std::move(arPaths))
    {
        RemoveOnInterrupt(m_arPaths);
    }
    ~CTempFiles()
    {
        std::error_code ec;
        for (const fs::path& p : m_arPaths)
            fs::remove(p, ec);
        RemoveOnInterrupt({});
    }

private:
    std::vector<fs::path> m_arPaths;
};

// Feeds a file's bytes to fnChunk a buffer at a time; false, with why, when it cannot be read whole or no
// longer has the size it was found with.
bool ReadChunks(const fs::path& path, uint64_t cbExpected, std::vector<uint8_t>& arBuffer,
                const std::function<void(const uint8_t*, size_t)>& fnChunk, std::string& strError)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
    {
        strError = "cannot read " + path.u8string() + Reason();
        return false;
    }
    uint64_t cbTotal = 0;
    while (in)
    {
        in.read(reinterpret_cast<char*>(arBuffer.data()), static_cast<std::streamsize>(arBuffer.size()));
        const size_t n = static_cast<size_t>(in.gcount());
        cbTotal += n;
        fnChunk(arBuffer.data(), n);
    }
    if (in.bad())
    {
        strError = "cannot read " + path.u8string() + Reason();
        return false;
    }
    if (cbTotal != cbExpected)
    {
        strError = path.u8string() + " changed while it was being packed";
        return false;
    }
    return true;
}

void WriteBytes(std::ofstream& out, const uint8_t* p, size_t n)
{
    out.write(reinterpret_cast<const char*>(p), static_cast<std::streamsize>(n));
}

struct CFileHash
{
    std::u16string strPath; // as the digests hold it: dir\file
    uint64_t cbSize;
    uint64_t ullHash;
};

// "/dir/file" as the launcher names it on Windows.
std::u16string DigestPath(const std::string& strName)
{
    std::u16string str = Utf16(strName.substr(1));
    std::replace(str.begin(), str.end(), u'/', u'\\');
    return str;
}

// The digests' bytes as pack/pack_digest.h lays them out.
std::vector<uint8_t> BuildDigests(uint64_t cbPack, uint64_t ullPackHash, std::vector<CFileHash> arFiles)
{
    // char16_t is unsigned: u16string order is the code-unit order the launcher's lookup halves on.
    std::sort(arFiles.begin(), arFiles.end(),
              [](const CFileHash& a, const CFileHash& b) { return a.strPath < b.strPath; });
    std::vector<uint8_t> ar(corvane::c_szDigestMagic, corvane::c_szDigestMagic + 4);
    PutU32(ar, corvane::c_uDigestFormat);
    PutU64(ar, 0); // their own hash, once the rest is there
    PutU64(ar, cbPack);
    PutU64(ar, ullPackHash);
    PutU32(ar, static_cast<uint32_t>(arFiles.size()));
    for (const CFileHash& file : arFiles)
    {
        PutU64(ar, file.cbSize);
        PutU64(ar, file.ullHash);
        PutU16(ar, static_cast<uint32_t>(file.strPath.size()));
        for (const char16_t ch : file.strPath)
            PutU16(ar, ch);
    }
    const uint64_t ullSelf = corvane::HashContent(ar.data() + 16, ar.size() - 16);
    for (int n = 0; n < 8; ++n)
        ar[8 + n] = static_cast<uint8_t>(ullSelf >> (8 * n));
    return ar;
}

EPackStatus Failed(std::vector<std::string>& arProblems, EPackStatus status, const std::string& strWhy)
{
    arProblems.push_back(strWhy);
    return status;
}

// OUTPUT and FILE, and the temporary files they are written to first; messages name only the first two.
struct CPackPaths
{
    CPackPaths(const fs::path& pathOutputIn, const fs::path& pathDigestsIn)
        : pathOutput(pathOutputIn), pathDigests(pathDigestsIn), bDigests(!pathDigestsIn.empty()),
          pathTmpOut(fs::path(pathOutputIn).concat(".tmp")),
          pathTmpData(fs::path(pathOutputIn).concat(".tmp-data")),
          pathTmpDigests(fs::path(pathDigestsIn).concat(".tmp")), strOutput(pathOutputIn.u8string()),
          strDigests(pathDigestsIn.u8string())
    {
    }
    std::vector<fs::path> Temporary() const
    {
        std::vector<fs::path> ar = {pathTmpOut, pathTmpData};
        if (bDigests) ar.push_back(pathTmpDigests);
        return ar;
    }

    const fs::path pathOutput, pathDigests;
    const bool bDigests;
    const fs::path pathTmpOut, pathTmpData, pathTmpDigests;
    const std::string strOutput, strDigests;
};

// What the content pass leaves for the container: the user files' entries, their hashes and the LZX
// section's layout.
struct CPackedContent
{
    std::vector<CDirEntry> arDir;
    std::vector<CFileHash> arHashes;
    CLzxSection lzx;
};

CPackProgress TreeTotals(const std::vector<CSourceEntry>& arSource)
{
    CPackProgress progress;
    for (const CSourceEntry& e : arSource)
    {
        progress.cbTotal += e.cbSize;
        progress.nFiles += e.bDir ? 0 : 1;
    }
    return progress;
}

// Every file of the tree, stored or LZX-encoded, into the scratch file, each hashed as read when there are
// to be digests: the bytes the pack holds, without a second pass over the tree.
EPackStatus WriteContent(const std::vector<CSourceEntry>& arSource, const CPackPaths& paths,
                         const CPackOptions& opt, CPackedContent& content,
                         std::vector<std::string>& arProblems)
{
    CPackProgress progress = TreeTotals(arSource);
    std::vector<uint8_t> arBuffer(kIoChunk);
    errno = 0;
    std::ofstream data(paths.pathTmpData, std::ios::binary | std::ios::trunc);
    if (!data)
        return Failed(arProblems, EPackStatus::PackFailed, "cannot write " + paths.strOutput + Reason());
    CLzxStream stream(data, opt);
    uint64_t uPos = 0;
    for (const CSourceEntry& e : arSource)
    {
        if (e.bDir)
        {
            content.arDir.push_back(CDirEntry{e.strName, 0, 0, 0});
            continue;
        }
        content.arDir.push_back(CDirEntry{e.strName, opt.bStore ? 0u : 1u, uPos, e.cbSize});
        corvane::CContentHash hash;
        uint64_t cbRead = 0;
        auto chunk = [&](const uint8_t* p, size_t n) {
            if (paths.bDigests) hash.Add(p, n);
            if (opt.bStore)
            {
                WriteBytes(data, p, n);
                return;
            }
            stream.Write(p, n);
            cbRead += n;
            progress.cbDone = uPos + cbRead;
            if (opt.fnProgress) opt.fnProgress(progress);
        };
        std::string strError;
        if (!ReadChunks(e.path, e.cbSize, arBuffer, chunk, strError))
            return Failed(arProblems, EPackStatus::SourceRefused, strError);
        if (paths.bDigests)
            content.arHashes.push_back(CFileHash{DigestPath(e.strName), e.cbSize, hash.Value()});
        uPos += e.cbSize;
        progress.cbDone = uPos;
        ++progress.nFilesDone;
        if (opt.fnProgress) opt.fnProgress(progress);
        if (!data)
            return Failed(arProblems, EPackStatus::PackFailed,
                          "cannot write " + paths.strOutput + " (disk full?)" + Reason());
    }
    if (!opt.bStore)
        content.lzx = stream.Finish();
    else
        content.lzx.arReset.push_back(0);
    data.close();
    if (!data)
        return Failed(arProblems, EPackStatus::PackFailed,
                      "cannot write " + paths.strOutput + " (disk full?)" + Reason());
    return EPackStatus::Ok;
}

using CMetaFiles = std::vector<std::pair<std::string, std::vector<uint8_t>>>;

// Section 0 holds the small meta files, then Content (or the stored user files): their entries join the
// directory, which is then put in the order every reader's lookup assumes. Returns section 0's meta bytes.
uint64_t AddSectionZero(const CMetaFiles& arMeta, bool bStore, CPackedContent& content)
{
    std::vector<CDirEntry>& arDir = content.arDir;
    uint64_t cbMeta = 0;
    for (const auto& m : arMeta)
    {
        arDir.push_back(CDirEntry{m.first, 0, cbMeta, m.second.size()});
        cbMeta += m.second.size();
    }
    arDir.push_back(CDirEntry{kContentName, 0, cbMeta, content.lzx.cbCompressed});
    const std::string strTransformDir =
        "::DataSpace/Storage/MSCompressed/Transform/{7FC28940-9D31-11D0-9B27-00A0C91E9C7C}/";
    arDir.push_back(CDirEntry{strTransformDir, 0, 0, 0});
    arDir.push_back(CDirEntry{strTransformDir + "InstanceData/", 0, 0, 0});
    if (bStore)
        for (CDirEntry& e : arDir)
            if (e.strName[0] == '/' && !e.IsDir()) e.uOffset += cbMeta;
    std::sort(arDir.begin(), arDir.end(),
              [](const CDirEntry& a, const CDirEntry& b) { return CompareNames(a.strName, b.strName) < 0; });
    return cbMeta;
}

// Headers and directory, the meta files, then the scratch file's content: the container, hashed as written
// when there are to be digests. cbPack gets its size.
EPackStatus WriteContainer(const CPackPaths& paths, const CPackOptions& opt, CPackedContent& content,
                           uint64_t& cbPack, corvane::CContentHash& packHash,
                           std::vector<std::string>& arProblems)
{
    auto fail = [&](const std::string& strWhy) {
        return Failed(arProblems, EPackStatus::PackFailed, strWhy);
    };
    const CMetaFiles arMeta = BuildMetaFiles(content.lzx);
    const uint64_t cbMeta = AddSectionZero(arMeta, opt.bStore, content);
    std::error_code ec;
    const uint64_t cbData = fs::file_size(paths.pathTmpData, ec);
    if (ec)
        return fail("cannot write " + paths.strOutput + ": its content cannot be read back: " + ec.message());
    const std::vector<uint8_t> arHeaders = BuildHeaders(BuildDirectory(content.arDir), cbMeta + cbData);
    cbPack = arHeaders.size() + cbMeta + cbData;
    errno = 0;
    std::ofstream out(paths.pathTmpOut, std::ios::binary | std::ios::trunc);
    if (!out) return fail("cannot write " + paths.strOutput + Reason());
    auto put = [&](const uint8_t* p, size_t n) {
        WriteBytes(out, p, n);
        if (paths.bDigests) packHash.Add(p, n);
    };
    put(arHeaders.data(), arHeaders.size());
    for (const auto& m : arMeta)
        put(m.second.data(), m.second.size());
    std::vector<uint8_t> arBuffer(kIoChunk);
    std::string strError;
    if (!ReadChunks(paths.pathTmpData, cbData, arBuffer, put, strError))
        return fail("cannot write " + paths.strOutput + ": its content cannot be read back");
    out.close();
    if (!out) return fail("cannot write " + paths.strOutput + " (disk full?)" + Reason());
    fs::remove(paths.pathTmpData, ec);
    return EPackStatus::Ok;
}

EPackStatus WriteDigests(const CPackPaths& paths, const std::vector<uint8_t>& arDigests,
                         std::vector<std::string>& arProblems)
{
    errno = 0;
    std::ofstream out(paths.pathTmpDigests, std::ios::binary | std::ios::trunc);
    if (!out)
        return Failed(arProblems, EPackStatus::PackFailed, "cannot write " + paths.strDigests + Reason());
    WriteBytes(out, arDigests.data(), arDigests.size());
    out.close();
    if (!out)
        return Failed(arProblems, EPackStatus::PackFailed,
                      "cannot write " + paths.strDigests + " (disk full?)" + Reason());
    return EPackStatus::Ok;
}

// The temporary files take OUTPUT's and FILE's names: both or, as far as can be, neither.
EPackStatus MoveIntoPlace(const CPackPaths& paths, std::vector<std::string>& arProblems)
{
    // An interrupt between the two renames would leave digests that do not belong to OUTPUT.
    const CInterruptsHeld held;
    std::error_code ec;
    if (paths.bDigests)
    {
        // Before the pack, so that a failure here still leaves an existing OUTPUT alone.
        fs::rename(paths.pathTmpDigests, paths.pathDigests, ec);
        if (ec)
            return Failed(arProblems, EPackStatus::PackFailed,
                          "cannot create " + paths.strDigests + ": " + ec.message());
    }
    fs::rename(paths.pathTmpOut, paths.pathOutput, ec);
    if (!ec) return EPackStatus::Ok;
    const std::string strWhy = ec.message();
    // Digests of a pack that is not there must not stay.
    if (paths.bDigests) fs::remove(paths.pathDigests, ec);
    return Failed(arProblems, EPackStatus::PackFailed,
                  "cannot create " + paths.strOutput + ": " + strWhy +
                      (paths.bDigests ? "; " + paths.strDigests + " removed" : ""));
}
} // namespace

bool ScanTree(const fs::path& pathRoot, std::vector<CSourceEntry>& arEntries,
              std::vector<std::string>& arProblems)
{
    std::error_code ec;
    const fs::file_status st = fs::status(pathRoot, ec);
    if (!fs::is_directory(st))
    {
        arProblems.push_back("cannot read source folder " + pathRoot.u8string() + ": " +
                             (st.type() == fs::file_type::not_found ? "it does not exist"
                              : ec                                  ? ec.message()
                                                                    : "not a folder"));
        return false;
    }
    arEntries.push_back(CSourceEntry{"/", pathRoot, true, 0});
    ScanFolder(pathRoot, "/", arEntries, arProblems);
    std::sort(arEntries.begin(), arEntries.end(), [](const CSourceEntry& a, const CSourceEntry& b) {
        return CompareNames(a.strName, b.strName) < 0;
    });
    return arProblems.empty();
}

EPackStatus PackTree(const fs::path& pathSource, const fs::path& pathOutput, const CPackOptions& opt,
                     std::vector<std::string>& arProblems)
{
    std::vector<CSourceEntry> arSource;
    if (!ScanTree(pathSource, arSource, arProblems)) return EPackStatus::SourceRefused;
    const CPackPaths paths(pathOutput, opt.pathDigests);
    const CTempFiles temps(paths.Temporary());
    CPackedContent content;
    EPackStatus status = WriteContent(arSource, paths, opt, content, arProblems);
    if (status != EPackStatus::Ok) return status;
    uint64_t cbPack = 0;
    corvane::CContentHash packHash;
    status = WriteContainer(paths, opt, content, cbPack, packHash, arProblems);
    if (status != EPackStatus::Ok) return status;
    if (paths.bDigests)
    {
        status = WriteDigests(paths, BuildDigests(cbPack, packHash.Value(), std::move(content.arHashes)),
                              arProblems);
        if (status != EPackStatus::Ok) return status;
    }
    return MoveIntoPlace(paths, arProblems);
}

namespace
{
// Where the commands found a pack: a file of its own, or a resource of a Windows executable, whose other
// resource then holds the pack's digests.
struct CPackRanges
{
    std::string strName; // in messages
    CFileRange range;
    bool bEmbeddedDigests = false;
    CFileRange rangeDigests;
};

bool OpenPack(const CCheckInput& check, CItsfReader& reader, CPackRanges& input, std::string& strError)
{
    const fs::path& pathPack = check.pathPack;
    input.strName = pathPack.u8string();
    std::error_code ec;
    if (!fs::exists(pathPack, ec))
    {
        strError = "cannot read " + input.strName + ": " + (ec ? ec.message() : "it does not exist");
        return false;
    }
    const std::string strResource = "resource " + std::to_string(check.uPackId);
    switch (FindRcData(pathPack, check.uPackId, input.range, strError))
    {
    case EPeLookup::NotPe:
        input.range = CFileRange{0, fs::file_size(pathPack, ec)};
        if (ec)
        {
            strError = "cannot read " + input.strName + ": " + ec.message();
            return false;
        }
        return reader.Open(pathPack, input.range, input.strName, strError);
    case EPeLookup::Missing:
        strError = input.strName + ": a Windows executable without a pack (no RT_RCDATA " + strResource + ")";
        return false;
    case EPeLookup::Damaged:
        return false;
    case EPeLookup::Found:
        break;
    }
    const EPeLookup digests = FindRcData(pathPack, check.uDigestsId, input.rangeDigests, strError);
    if (digests == EPeLookup::Damaged) return false;
    input.bEmbeddedDigests = digests == EPeLookup::Found;
    input.strName += ", " + strResource;
    return reader.Open(pathPack, input.range, input.strName, strError);
}

// The bytes of range in a file; false when they cannot all be read.
bool ReadRange(const fs::path& path, const CFileRange& range, std::string& str)
{
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(range.uOffset));
    str.resize(static_cast<size_t>(range.cbSize));
    in.read(&str[0], static_cast<std::streamsize>(str.size()));
    return in && static_cast<size_t>(in.gcount()) == str.size();
}

// The XXH64 of the bytes of range in a file; false when they cannot all be read.
bool HashRange(const fs::path& path, const CFileRange& range, uint64_t& ullHash)
{
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(range.uOffset));
    std::vector<char> arBuffer(kIoChunk);
    corvane::CContentHash hash;
    for (uint64_t cbLeft = range.cbSize; cbLeft > 0;)
    {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(cbLeft, arBuffer.size()));
        if (!in.read(arBuffer.data(), static_cast<std::streamsize>(n))) return false;
        hash.Add(arBuffer.data(), n);
        cbLeft -= n;
    }
    ullHash = hash.Value();
    return true;
}

// The files below the pack's root, in directory order.
std::vector<const CDirEntry*> UserFiles(const CItsfReader& reader)
{
    std::vector<const CDirEntry*> ar;
    for (const CDirEntry& e : reader.Entries())
        if (!e.strName.empty() && e.strName[0] == '/' && !e.IsDir()) ar.push_back(&e);
    return ar;
}

// Bytes of arFiles[i] at uAt within it; each file's bytes come in order.
using FFileBytes = std::function<void(size_t i, uint64_t uAt, const uint8_t* p, size_t n)>;

// Reads or decodes every byte of every file; false, with where, when the pack is damaged.
bool DecodeFiles(CItsfReader& reader, const std::vector<const CDirEntry*>& arFiles, const FFileBytes& fnBytes,
                 std::string& strError)
{
    std::vector<size_t> arSection1;
    for (size_t i = 0; i < arFiles.size(); ++i)
    {
        const CDirEntry& e = *arFiles[i];
        if (e.uSection == 1)
        {
            arSection1.push_back(i);
            continue;
        }
        if (e.uSection != 0)
        {
            strError =
                e.strName + ": in section " + std::to_string(e.uSection) + ", which the pack does not have";
            return false;
        }
        uint64_t uAt = 0;
        auto sink = [&](const uint8_t* p, size_t n) {
            fnBytes(i, uAt, p, n);
            uAt += n;
            return true;
        };
        if (!reader.ReadSection0(e.uOffset, e.cbLength, sink, strError))
        {
            strError = e.strName + ": " + strError;
            return false;
        }
    }
    if (arSection1.empty()) return true;
    std::sort(arSection1.begin(), arSection1.end(),
              [&](size_t a, size_t b) { return arFiles[a]->uOffset < arFiles[b]->uOffset; });
    const uint64_t cbSection = reader.Section1Length();
    for (const size_t i : arSection1)
        if (arFiles[i]->uOffset > cbSection || arFiles[i]->cbLength > cbSection - arFiles[i]->uOffset)
        {
            strError = arFiles[i]->strName + ": beyond the end of the compressed section";
            return false;
        }
    size_t iNext = 0; // first file not yet finished
    uint64_t uPos = 0;
    auto sink = [&](const uint8_t* p, size_t n) {
        const uint64_t uStart = uPos, uEnd = uPos + n;
        uPos = uEnd;
        for (size_t k = iNext; k < arSection1.size(); ++k)
        {
            const CDirEntry& e = *arFiles[arSection1[k]];
            if (e.uOffset >= uEnd) break;
            const uint64_t uFrom = std::max(e.uOffset, uStart), uTo = std::min(e.uOffset + e.cbLength, uEnd);
            if (uFrom < uTo)
                fnBytes(arSection1[k], uFrom - e.uOffset, p + (uFrom - uStart),
                        static_cast<size_t>(uTo - uFrom));
            if (e.uOffset + e.cbLength <= uEnd && k == iNext) ++iNext;
        }
        return true;
    };
    return reader.ReadSection1(sink, strError);
}

// A digest's path as the pack names it: "/dir/file" in UTF-8 (a lone surrogate becomes U+FFFD).
std::string PackName(const corvane::CFileDigest& digest)
{
    std::string str = "/";
    for (size_t n = 0; n < digest.cchPath; ++n)
    {
        uint32_t cp = digest.PathUnit(n);
        const uint32_t uNext = n + 1 < digest.cchPath ? digest.PathUnit(n + 1) : 0;
        if (cp >= 0xD800 && cp < 0xDC00 && uNext >= 0xDC00 && uNext < 0xE000)
        {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (uNext - 0xDC00);
            ++n;
        }
        else if (cp >= 0xD800 && cp < 0xE000)
            cp = 0xFFFD;
        if (cp == '\\') cp = '/';
        if (cp < 0x80)
            str += static_cast<char>(cp);
        else if (cp < 0x800)
            str += {static_cast<char>(0xC0 | cp >> 6), static_cast<char>(0x80 | (cp & 0x3F))};
        else if (cp < 0x10000)
            str += {static_cast<char>(0xE0 | cp >> 12), static_cast<char>(0x80 | (cp >> 6 & 0x3F)),
                    static_cast<char>(0x80 | (cp & 0x3F))};
        else
            str += {static_cast<char>(0xF0 | cp >> 18), static_cast<char>(0x80 | (cp >> 12 & 0x3F)),
                    static_cast<char>(0x80 | (cp >> 6 & 0x3F)), static_cast<char>(0x80 | (cp & 0x3F))};
    }
    return str;
}
} // namespace

namespace
{
// The digests a check holds the pack to: FILE's, else those an executable carries, else none.
struct CCheckDigests
{
    std::string strName;  // in messages; empty: no digests
    std::string strWhat;  // what the pack is checked against, in the summary
    std::string strBytes; // what digests reads from
    corvane::CPackDigests digests;
};

// The digests of FILE; false, with why, when they cannot be read whole.
bool ReadDigestsFile(const fs::path& pathDigests, CCheckDigests& digests, std::string& strError)
{
    digests.strName = pathDigests.u8string();
    digests.strWhat = "the digests in " + digests.strName;
    std::error_code ec;
    const fs::file_status st = fs::status(pathDigests, ec);
    if (!fs::is_regular_file(st))
    {
        strError = "cannot read " + digests.strName + ": " +
                   (st.type() == fs::file_type::not_found ? "it does not exist"
                    : ec                                  ? ec.message()
                                                          : "not a file");
        return false;
    }
    errno = 0;
    if (ReadRange(pathDigests, CFileRange{0, fs::file_size(pathDigests, ec)}, digests.strBytes)) return true;
    strError = "cannot read " + digests.strName + Reason();
    return false;
}

// FILE's digests, else the executable's own; false, with why, when there are some that cannot be read whole
// or are damaged.
bool ReadDigests(const CCheckInput& check, const CPackRanges& input, CCheckDigests& digests,
                 std::string& strError)
{
    if (!check.pathDigests.empty())
    {
        if (!ReadDigestsFile(check.pathDigests, digests, strError)) return false;
    }
    else if (input.bEmbeddedDigests)
    {
        const std::string strResource = "resource " + std::to_string(check.uDigestsId);
        digests.strName = check.pathPack.u8string() + ", " + strResource;
        digests.strWhat = "its own digests (" + strResource + ")";
        if (!ReadRange(check.pathPack, input.rangeDigests, digests.strBytes))
        {
            strError = "cannot read " + digests.strName;
            return false;
        }
    }
    if (digests.strName.empty() ||
        digests.digests.Read(reinterpret_cast<const unsigned char*>(digests.strBytes.data()),
                             digests.strBytes.size()))
        return true;
    strError = digests.strName + ": not the digests of a pack, or damaged";
    return false;
}

// Each pack file's source file, where the folder has one of the same size; every entry one side lacks and
// every size that differs goes to arProblems.
std::vector<const CSourceEntry*> MatchSource(const CItsfReader& reader,
                                             const std::vector<const CDirEntry*>& arFiles,
                                             const std::vector<CSourceEntry>& arSource,
                                             std::vector<std::string>& arProblems)
{
    std::vector<const CSourceEntry*> arFileSource(arFiles.size(), nullptr);
    std::map<std::string, const CSourceEntry*> mapSource;
    for (const CSourceEntry& e : arSource)
        mapSource[e.strName] = &e;
    std::map<std::string, size_t> mapFile;
    for (size_t i = 0; i < arFiles.size(); ++i)
        mapFile[arFiles[i]->strName] = i;
    std::map<std::string, bool> mapSeen;
    for (const CDirEntry& e : reader.Entries())
    {
        if (e.strName.empty() || e.strName[0] != '/') continue;
        const auto it = mapSource.find(e.strName);
        if (it == mapSource.end())
        {
            arProblems.push_back("in the pack but not in the source: " + e.strName);
            continue;
        }
        mapSeen[e.strName] = true;
        if (e.IsDir()) continue;
        if (e.cbLength != it->second->cbSize)
            arProblems.push_back(e.strName + ": size " + std::to_string(e.cbLength) + " in the pack, " +
                                 std::to_string(it->second->cbSize) + " in the source");
        else
            arFileSource[mapFile[e.strName]] = it->second;
    }
    for (const CSourceEntry& e : arSource)
        if (!mapSeen.count(e.strName))
            arProblems.push_back("in the source but not in the pack: " + e.strName);
    return arFileSource;
}

// Each pack file's digest, where the digests have one of the same size (else -1); every file one side lacks
// and every size that differs goes to arProblems.
std::vector<long> MatchDigests(const std::vector<const CDirEntry*>& arFiles,
                               const corvane::CPackDigests& digests, std::vector<std::string>& arProblems)
{
    std::vector<long> arDigest(arFiles.size(), -1);
    std::vector<bool> arSeen(digests.Count(), false);
    for (size_t i = 0; i < arFiles.size(); ++i)
    {
        const CDirEntry& e = *arFiles[i];
        const std::u16string str = IsValidUtf8(e.strName) ? DigestPath(e.strName) : std::u16string();
        const long k = str.empty() ? -1 : digests.Find(str.data(), str.size());
        if (k < 0)
        {
            arProblems.push_back("in the pack but not in the digests: " + e.strName);
            continue;
        }
        arSeen[static_cast<size_t>(k)] = true;
        const uint64_t cbWant = digests.Entry(static_cast<uint32_t>(k)).cbSize;
        if (e.cbLength != cbWant)
            arProblems.push_back(e.strName + ": size " + std::to_string(e.cbLength) + " in the pack, " +
                                 std::to_string(cbWant) + " in the digests");
        else
            arDigest[i] = k;
    }
    for (uint32_t k = 0; k < digests.Count(); ++k)
        if (!arSeen[k])
            arProblems.push_back("in the digests but not in the pack: " + PackName(digests.Entry(k)));
    return arDigest;
}

// The pack's own size and hash against the digests'; false when its bytes cannot be read.
bool MatchPackDigest(const fs::path& pathPack, const CPackRanges& input, const corvane::CPackDigests& digests,
                     std::vector<std::string>& arProblems)
{
    uint64_t ullPackHash = 0;
    if (!HashRange(pathPack, input.range, ullPackHash)) return false;
    if (input.range.cbSize != digests.PackSize())
        arProblems.push_back(input.strName + ": " + std::to_string(input.range.cbSize) +
                             " bytes, the digests say " + std::to_string(digests.PackSize()));
    else if (ullPackHash != digests.PackHash())
        arProblems.push_back(input.strName + ": its hash differs from the digests'");
    return true;
}

// Decodes every file and compares it with its source file and its digest, where it has those; false, with
// where, when the pack is damaged.
bool MatchContent(CItsfReader& reader, const std::vector<const CDirEntry*>& arFiles,
                  const std::vector<const CSourceEntry*>& arFileSource, const std::vector<long>& arDigest,
                  const corvane::CPackDigests& digests, std::vector<std::string>& arProblems,
                  std::string& strError)
{
    std::vector<corvane::CContentHash> arHashes(digests.Count() ? arFiles.size() : 0);
    std::vector<bool> arDiffers(arFiles.size(), false);
    std::vector<uint8_t> arBuffer;
    std::unique_ptr<std::ifstream> pInput;
    size_t iOpen = SIZE_MAX;
    auto onBytes = [&](size_t i, uint64_t uAt, const uint8_t* p, size_t n) {
        if (arDigest[i] >= 0) arHashes[i].Add(p, n);
        if (!arFileSource[i] || arDiffers[i]) return;
        if (iOpen != i)
        {
            pInput.reset(new std::ifstream(arFileSource[i]->path, std::ios::binary));
            pInput->seekg(static_cast<std::streamoff>(uAt));
            iOpen = i;
        }
        arBuffer.resize(n);
        pInput->read(reinterpret_cast<char*>(arBuffer.data()), static_cast<std::streamsize>(n));
        arDiffers[i] = static_cast<size_t>(pInput->gcount()) != n || std::memcmp(arBuffer.data(), p, n) != 0;
    };
    if (!DecodeFiles(reader, arFiles, onBytes, strError)) return false;
    for (size_t i = 0; i < arFiles.size(); ++i)
    {
        if (arDiffers[i]) arProblems.push_back(arFiles[i]->strName + ": content differs from the source");
        if (arDigest[i] >= 0 &&
            arHashes[i].Value() != digests.Entry(static_cast<uint32_t>(arDigest[i])).ullHash)
            arProblems.push_back(arFiles[i]->strName + ": content differs from its digest");
    }
    return true;
}

// Opens the pack, reads the digests (FILE's, else the executable's), decodes every file and compares it with
// the source folder and the digests when there are those: VerifyPack's work, and --list's with no folder.
EPackStatus CheckPack(const CCheckInput& check, const fs::path& pathSource, CItsfReader& oReader,
                      CPackRanges& input, std::vector<std::string>& arProblems, std::string& strSummary)
{
    const std::string strPack = check.pathPack.u8string();
    auto unreadable = [&](const std::string& strWhy, const std::string& strWhat) {
        arProblems.push_back(strWhy);
        strSummary = "cannot read " + strWhat;
        return EPackStatus::PackFailed;
    };
    std::string strError;
    if (!OpenPack(check, oReader, input, strError)) return unreadable(strError, strPack);
    CCheckDigests digests;
    if (!ReadDigests(check, input, digests, strError)) return unreadable(strError, digests.strName);
    std::vector<CSourceEntry> arSource;
    if (!pathSource.empty() && !ScanTree(pathSource, arSource, arProblems))
    {
        strSummary = "cannot read " + pathSource.u8string();
        return EPackStatus::SourceRefused;
    }

    const std::vector<const CDirEntry*> arFiles = UserFiles(oReader);
    const std::vector<const CSourceEntry*> arFileSource =
        pathSource.empty() ? std::vector<const CSourceEntry*>(arFiles.size(), nullptr)
                           : MatchSource(oReader, arFiles, arSource, arProblems);
    std::vector<long> arDigest(arFiles.size(), -1);
    if (!digests.strName.empty())
    {
        arDigest = MatchDigests(arFiles, digests.digests, arProblems);
        if (!MatchPackDigest(check.pathPack, input, digests.digests, arProblems))
            return unreadable("cannot read " + input.strName, strPack);
    }
    if (!MatchContent(oReader, arFiles, arFileSource, arDigest, digests.digests, arProblems, strError))
        return unreadable(input.strName + ": damaged: " + strError, strPack);

    std::string strAgainst = pathSource.u8string();
    if (!digests.strWhat.empty()) strAgainst += (strAgainst.empty() ? "" : " and ") + digests.strWhat;
    if (!arProblems.empty())
    {
        strSummary = strPack + " does not match " + strAgainst;
        return EPackStatus::Differs;
    }
    strSummary = strPack + (strAgainst.empty() ? " decodes whole" : " matches " + strAgainst);
    return EPackStatus::Ok;
}
} // namespace

EPackStatus ListPack(const CCheckInput& check, std::ostream& osOut, std::vector<std::string>& arProblems)
{
    CItsfReader oReader;
    CPackRanges input;
    std::string strSummary;
    // A listing promises files that can be read whole: every byte is decoded (and checked against the
    // digests when there are those) before any line is printed, and any difference is damage.
    if (CheckPack(check, fs::path(), oReader, input, arProblems, strSummary) != EPackStatus::Ok)
        return EPackStatus::PackFailed;
    uint64_t nFiles = 0, nDirs = 0, cbTotal = 0;
    for (const CDirEntry& e : oReader.Entries())
    {
        if (e.strName.empty() || e.strName[0] != '/') continue;
        if (e.IsDir())
        {
            ++nDirs;
            osOut << "       <dir>  " << e.strName << '\n';
            continue;
        }
        ++nFiles;
        cbTotal += e.cbLength;
        const std::string strSize = std::to_string(e.cbLength);
        osOut << std::string(strSize.size() < 12 ? 12 - strSize.size() : 0, ' ') << strSize << "  "
              << e.strName << '\n';
    }
    osOut << nFiles << " files, " << nDirs << " folders, " << cbTotal << " bytes; pack " << input.range.cbSize
          << " bytes\n";
    return EPackStatus::Ok;
}

EPackStatus VerifyPack(const CCheckInput& check, const fs::path& pathSource,
                       std::vector<std::string>& arProblems, std::string& strSummary)
{
    CItsfReader oReader;
    CPackRanges input;
    return CheckPack(check, pathSource, oReader, input, arProblems, strSummary);
}
} // namespace corvane_pack
