// Scans the source tree, streams file content through the LZX encoder (in parallel per reset interval) into a
// scratch file, then assembles headers, directory, meta files and content into the final container.
#include "packer.h"

#include "bytes.h"
#include "itsf.h"
#include "names.h"
#include "pack/pack_digest.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <thread>

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
    std::map<std::string, std::string> mapFolded;
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

// Removes the temporary files unless disarmed.
struct CTempFiles
{
    std::vector<fs::path> arPaths;
    ~CTempFiles()
    {
        std::error_code ec;
        for (const fs::path& p : arPaths)
            fs::remove(p, ec);
    }
};

// Copies a file, feeding its bytes to pHash too when there is one.
bool CopyFileInto(std::ofstream& out, const fs::path& pathFrom, uint64_t cbExpected,
                  std::vector<uint8_t>& arBuffer, std::string& strError,
                  corvane::CContentHash* pHash = nullptr)
{
    std::ifstream in(pathFrom, std::ios::binary);
    if (!in)
    {
        strError = "cannot read " + pathFrom.u8string() + Reason();
        return false;
    }
    uint64_t cbTotal = 0;
    while (in)
    {
        in.read(reinterpret_cast<char*>(arBuffer.data()), static_cast<std::streamsize>(arBuffer.size()));
        const size_t n = static_cast<size_t>(in.gcount());
        out.write(reinterpret_cast<const char*>(arBuffer.data()), static_cast<std::streamsize>(n));
        if (pHash) pHash->Add(arBuffer.data(), n);
        cbTotal += n;
    }
    if (in.bad())
    {
        strError = "cannot read " + pathFrom.u8string() + Reason();
        return false;
    }
    if (cbTotal != cbExpected)
    {
        strError = pathFrom.u8string() + " changed while it was being packed";
        return false;
    }
    return true;
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
    std::vector<uint8_t> ar;
    PutBytes(ar, corvane::c_szDigestMagic, 4);
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
} // namespace

bool ScanTree(const fs::path& pathRoot, std::vector<CSourceEntry>& arEntries,
              std::vector<std::string>& arProblems)
{
    std::error_code ec;
    if (!fs::is_directory(pathRoot, ec))
    {
        arProblems.push_back("cannot read source folder " + pathRoot.u8string() + ": not a folder");
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
    CPackProgress progress;
    for (const CSourceEntry& e : arSource)
    {
        progress.cbTotal += e.cbSize;
        progress.nFiles += e.bDir ? 0 : 1;
    }

    CTempFiles temps;
    const fs::path pathTmpOut = fs::path(pathOutput).concat(".tmp");
    const fs::path pathTmpData = fs::path(pathOutput).concat(".tmp-data");
    temps.arPaths = {pathTmpOut, pathTmpData};
    const bool bDigests = !opt.pathDigests.empty();
    const fs::path pathTmpDigests = fs::path(opt.pathDigests).concat(".tmp");
    if (bDigests) temps.arPaths.push_back(pathTmpDigests);
    auto fail = [&](const std::string& s) {
        arProblems.push_back(s);
        return EPackStatus::PackFailed;
    };
    auto failSource = [&](const std::string& s) {
        arProblems.push_back(s);
        return EPackStatus::SourceRefused;
    };

    std::vector<CDirEntry> arDir;
    std::vector<CFileHash> arHashes;
    std::vector<uint8_t> arBuffer(kIoChunk);
    CLzxSection lzx;
    {
        errno = 0;
        std::ofstream data(pathTmpData, std::ios::binary | std::ios::trunc);
        if (!data) return fail("cannot create " + pathTmpData.u8string() + Reason());
        CLzxStream stream(data, opt);
        uint64_t uPos = 0;
        for (const CSourceEntry& e : arSource)
        {
            if (e.bDir)
            {
                arDir.push_back(CDirEntry{e.strName, 0, 0, 0});
                continue;
            }
            arDir.push_back(CDirEntry{e.strName, opt.bStore ? 0u : 1u, uPos, e.cbSize});
            std::string strError;
            // Hashed as read, the bytes the pack holds, without a second pass over the tree.
            corvane::CContentHash hash;
            corvane::CContentHash* pHash = bDigests ? &hash : nullptr;
            if (opt.bStore)
            {
                if (!CopyFileInto(data, e.path, e.cbSize, arBuffer, strError, pHash))
                    return failSource(strError);
            }
            else
            {
                std::ifstream in(e.path, std::ios::binary);
                if (!in) return failSource("cannot read " + e.path.u8string() + Reason());
                uint64_t cbRead = 0;
                while (in)
                {
                    in.read(reinterpret_cast<char*>(arBuffer.data()),
                            static_cast<std::streamsize>(arBuffer.size()));
                    const size_t n = static_cast<size_t>(in.gcount());
                    stream.Write(arBuffer.data(), n);
                    if (pHash) pHash->Add(arBuffer.data(), n);
                    cbRead += n;
                    progress.cbDone = uPos + cbRead;
                    if (opt.fnProgress) opt.fnProgress(progress);
                }
                if (in.bad()) return failSource("cannot read " + e.path.u8string() + Reason());
                if (cbRead != e.cbSize)
                    return failSource(e.path.u8string() + " changed while it was being packed");
            }
            if (pHash) arHashes.push_back(CFileHash{DigestPath(e.strName), e.cbSize, hash.Value()});
            uPos += e.cbSize;
            progress.cbDone = uPos;
            ++progress.nFilesDone;
            if (opt.fnProgress) opt.fnProgress(progress);
            if (!data) return fail("cannot write " + pathTmpData.u8string() + " (disk full?)" + Reason());
        }
        if (!opt.bStore)
            lzx = stream.Finish();
        else
            lzx.arReset.push_back(0);
        data.close();
        if (!data) return fail("cannot write " + pathTmpData.u8string() + " (disk full?)" + Reason());
    }

    // Section 0: the small meta files, then Content (or the stored user files).
    const auto arMeta = BuildMetaFiles(lzx);
    uint64_t cbMeta = 0;
    for (const auto& m : arMeta)
    {
        arDir.push_back(CDirEntry{m.first, 0, cbMeta, m.second.size()});
        cbMeta += m.second.size();
    }
    arDir.push_back(CDirEntry{kContentName, 0, cbMeta, lzx.cbCompressed});
    const std::string strTransformDir =
        "::DataSpace/Storage/MSCompressed/Transform/{7FC28940-9D31-11D0-9B27-00A0C91E9C7C}/";
    arDir.push_back(CDirEntry{strTransformDir, 0, 0, 0});
    arDir.push_back(CDirEntry{strTransformDir + "InstanceData/", 0, 0, 0});
    if (opt.bStore)
        for (CDirEntry& e : arDir)
            if (e.strName[0] == '/' && !e.IsDir()) e.uOffset += cbMeta;
    std::sort(arDir.begin(), arDir.end(),
              [](const CDirEntry& a, const CDirEntry& b) { return CompareNames(a.strName, b.strName) < 0; });

    std::error_code ec;
    const uint64_t cbData = fs::file_size(pathTmpData, ec);
    if (ec) return fail("cannot read back " + pathTmpData.u8string() + ": " + ec.message());
    const CDirectory pathDir = BuildDirectory(arDir);
    const std::vector<uint8_t> arHeaders = BuildHeaders(pathDir, cbMeta + cbData);
    corvane::CContentHash packHash;
    corvane::CContentHash* pPackHash = bDigests ? &packHash : nullptr;
    {
        errno = 0;
        std::ofstream out(pathTmpOut, std::ios::binary | std::ios::trunc);
        if (!out) return fail("cannot create " + pathTmpOut.u8string() + Reason());
        auto put = [&](const std::vector<uint8_t>& ar) {
            out.write(reinterpret_cast<const char*>(ar.data()), static_cast<std::streamsize>(ar.size()));
            if (pPackHash) pPackHash->Add(ar.data(), ar.size());
        };
        put(arHeaders);
        for (const auto& m : arMeta)
            put(m.second);
        std::string strError;
        if (!CopyFileInto(out, pathTmpData, cbData, arBuffer, strError, pPackHash)) return fail(strError);
        out.close();
        if (!out) return fail("cannot write " + pathTmpOut.u8string() + " (disk full?)" + Reason());
    }
    fs::remove(pathTmpData, ec);
    if (bDigests)
    {
        const std::vector<uint8_t> arDigests =
            BuildDigests(arHeaders.size() + cbMeta + cbData, packHash.Value(), std::move(arHashes));
        errno = 0;
        std::ofstream out(pathTmpDigests, std::ios::binary | std::ios::trunc);
        if (!out) return fail("cannot create " + pathTmpDigests.u8string() + Reason());
        out.write(reinterpret_cast<const char*>(arDigests.data()),
                  static_cast<std::streamsize>(arDigests.size()));
        out.close();
        if (!out) return fail("cannot write " + pathTmpDigests.u8string() + " (disk full?)" + Reason());
        // Before the pack, so that a failure here still leaves an existing OUTPUT alone.
        fs::rename(pathTmpDigests, opt.pathDigests, ec);
        if (ec) return fail("cannot create " + opt.pathDigests.u8string() + ": " + ec.message());
    }
    fs::rename(pathTmpOut, pathOutput, ec);
    if (ec)
    {
        const std::string strWhy = ec.message();
        // Digests of a pack that is not there must not stay.
        if (bDigests) fs::remove(opt.pathDigests, ec);
        return fail("cannot create " + pathOutput.u8string() + ": " + strWhy +
                    (bDigests ? "; " + opt.pathDigests.u8string() + " removed" : ""));
    }
    return EPackStatus::Ok;
}

EPackStatus ListPack(const fs::path& pathPack, std::ostream& osOut, std::string& strError)
{
    CItsfReader oReader;
    if (!oReader.Open(pathPack, strError)) return EPackStatus::PackFailed;
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
    std::error_code ec;
    osOut << nFiles << " files, " << nDirs << " folders, " << cbTotal << " bytes; pack "
          << fs::file_size(pathPack, ec) << " bytes\n";
    return EPackStatus::Ok;
}

EPackStatus VerifyPack(const fs::path& pathPack, const fs::path& pathSource,
                       std::vector<std::string>& arProblems)
{
    CItsfReader oReader;
    std::string strError;
    if (!oReader.Open(pathPack, strError))
    {
        arProblems.push_back(strError);
        return EPackStatus::PackFailed;
    }
    std::vector<CSourceEntry> arSource;
    if (!ScanTree(pathSource, arSource, arProblems)) return EPackStatus::SourceRefused;
    std::map<std::string, const CSourceEntry*> mapSource;
    for (const CSourceEntry& e : arSource)
        mapSource[e.strName] = &e;

    struct CTarget
    {
        const CDirEntry* pEntry;
        const CSourceEntry* pSource;
    };
    std::vector<CTarget> arSection0, arSection1;
    std::map<std::string, bool> mapSeen;
    for (const CDirEntry& e : oReader.Entries())
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
        {
            arProblems.push_back(e.strName + ": size " + std::to_string(e.cbLength) + " in the pack, " +
                                 std::to_string(it->second->cbSize) + " in the source");
            continue;
        }
        (e.uSection == 0 ? arSection0 : arSection1).push_back(CTarget{&e, it->second});
    }
    for (const CSourceEntry& e : arSource)
        if (!mapSeen.count(e.strName))
            arProblems.push_back("in the source but not in the pack: " + e.strName);

    std::vector<uint8_t> arBuffer;
    // Compares the next n source bytes of an open file with p.
    auto compare = [&](std::ifstream& in, const uint8_t* p, size_t n) {
        arBuffer.resize(n);
        in.read(reinterpret_cast<char*>(arBuffer.data()), static_cast<std::streamsize>(n));
        return static_cast<size_t>(in.gcount()) == n && std::memcmp(arBuffer.data(), p, n) == 0;
    };
    for (const CTarget& t : arSection0)
    {
        std::ifstream in(t.pSource->path, std::ios::binary);
        bool bSame = true;
        if (!oReader.ReadSection0(
                t.pEntry->uOffset, t.pEntry->cbLength,
                [&](const uint8_t* p, size_t n) {
                    bSame = bSame && compare(in, p, n);
                    return true;
                },
                strError))
            bSame = false;
        if (!bSame) arProblems.push_back(t.pEntry->strName + ": content differs");
    }

    std::sort(arSection1.begin(), arSection1.end(),
              [](const CTarget& a, const CTarget& b) { return a.pEntry->uOffset < b.pEntry->uOffset; });
    size_t iNext = 0; // first target not yet finished
    uint64_t uPos = 0;
    std::vector<bool> arBad(arSection1.size(), false);
    std::unique_ptr<std::ifstream> pInput;
    size_t iOpen = SIZE_MAX;
    auto sink = [&](const uint8_t* p, size_t n) {
        const uint64_t start = uPos, end = uPos + n;
        uPos = end;
        for (size_t i = iNext; i < arSection1.size(); ++i)
        {
            const CDirEntry& e = *arSection1[i].pEntry;
            if (e.uOffset >= end) break;
            const uint64_t s = std::max(e.uOffset, start), f = std::min(e.uOffset + e.cbLength, end);
            if (s < f)
            {
                if (iOpen != i)
                {
                    pInput.reset(new std::ifstream(arSection1[i].pSource->path, std::ios::binary));
                    pInput->seekg(static_cast<std::streamoff>(s - e.uOffset));
                    iOpen = i;
                }
                if (!arBad[i] && !compare(*pInput, p + (s - start), static_cast<size_t>(f - s)))
                    arBad[i] = true;
            }
            if (e.uOffset + e.cbLength <= end && i == iNext) ++iNext;
        }
        return true;
    };
    if (!arSection1.empty() && !oReader.ReadSection1(sink, strError))
        arProblems.push_back(pathPack.u8string() + ": cannot decode the compressed section: " + strError);
    for (size_t i = 0; i < arSection1.size(); ++i)
    {
        const CDirEntry& e = *arSection1[i].pEntry;
        if (arBad[i] || e.uOffset + e.cbLength > uPos) arProblems.push_back(e.strName + ": content differs");
    }
    return arProblems.empty() ? EPackStatus::Ok : EPackStatus::Differs;
}
} // namespace corvane_pack
