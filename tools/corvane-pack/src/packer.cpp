// Scans the source tree, streams file content through the LZX encoder (in parallel per reset interval) into a
// scratch file, then assembles headers, directory, meta files and content into the final container.
#include "packer.h"

#include "itsf.h"
#include "names.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <thread>

namespace fs = std::filesystem;

namespace corvane
{
namespace
{
constexpr size_t kMaxPathUtf16 = 259;
constexpr size_t kIoChunk = 1 << 20;

std::string Reason()
{
    return errno ? std::string(": ") + std::strerror(errno) : std::string();
}

bool ScanFolder(const fs::path& dir, const std::string& prefix, std::vector<CSourceEntry>& arEntries,
                std::vector<std::string>& arProblems)
{
    std::error_code ec;
    fs::directory_iterator it(dir, ec), end;
    if (ec)
    {
        arProblems.push_back("cannot read folder " + dir.u8string() + ": " + ec.message());
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
        arProblems.push_back("cannot read folder " + dir.u8string() + ": " + ec.message());
        return false;
    }
    std::sort(arChildren.begin(), arChildren.end());
    std::map<std::string, std::string> mapFolded;
    for (const fs::path& child : arChildren)
    {
        const std::string leaf = child.filename().u8string();
        const std::string name = prefix + leaf;
        const std::string why = CheckComponent(leaf);
        if (!why.empty())
        {
            arProblems.push_back(child.u8string() + ": " + why);
            continue;
        }
        if (Utf16Length(name) - 1 > kMaxPathUtf16)
        {
            arProblems.push_back(child.u8string() + ": path inside the pack is longer than 259 characters");
            continue;
        }
        const auto ins = mapFolded.emplace(CaseFoldKey(leaf), leaf);
        if (!ins.second)
        {
            arProblems.push_back(child.u8string() + ": differs only in case from '" + ins.first->second +
                                 "' in the same folder");
            continue;
        }
        const fs::file_status lst = fs::symlink_status(child, ec);
        const fs::file_status st = fs::status(child, ec);
        if (ec || !fs::exists(st))
        {
            arProblems.push_back("cannot read " + child.u8string() + (ec ? ": " + ec.message() : ""));
            continue;
        }
        if (fs::is_directory(st))
        {
            // Following folder links could loop or pack a tree twice.
            if (fs::is_symlink(lst))
            {
                arProblems.push_back(child.u8string() + ": symbolic link to a folder is not packed");
                continue;
            }
            arEntries.push_back(CSourceEntry{name + "/", child, true, 0});
            ScanFolder(child, name + "/", arEntries, arProblems);
        }
        else if (fs::is_regular_file(st))
        {
            const uint64_t size = fs::file_size(child, ec);
            if (ec)
            {
                arProblems.push_back("cannot read " + child.u8string() + ": " + ec.message());
                continue;
            }
            arEntries.push_back(CSourceEntry{name, child, false, size});
        }
        else
            arProblems.push_back(child.u8string() + ": not a regular file or folder");
    }
    return true;
}

// Collects content, encodes whole reset intervals in parallel batches, appends them to the scratch file.
class CLzxStream
{
public:
    CLzxStream(std::ofstream& out, const CPackOptions& opt) : m_out(out), m_opt(opt)
    {
        m_nThreads = opt.threads > 0 ? opt.threads : static_cast<int>(std::thread::hardware_concurrency());
        m_nThreads = std::max(1, std::min(m_nThreads, 64));
        m_arInput.resize(size_t(m_nThreads) * 4);
        m_arOutput.resize(m_arInput.size());
        m_arFrames.resize(m_arInput.size());
        for (int i = 0; i < m_nThreads; ++i)
            m_arEncoders.emplace_back(new CLzxEncoder(opt.lzx));
    }
    void Write(const uint8_t* p, size_t n)
    {
        m_section.uncompressed += n;
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
        m_section.arReset.push_back(m_section.compressed);
        return m_section;
    }

private:
    void Encode()
    {
        std::vector<std::thread> arThreads;
        auto work = [this](int t) {
            for (size_t i = t; i < m_nFull; i += m_nThreads)
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
                m_section.arReset.push_back(m_section.compressed);
                m_section.compressed += f;
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

bool CopyFileInto(std::ofstream& out, const fs::path& from, uint64_t expected, std::vector<uint8_t>& buf,
                  std::string& err)
{
    std::ifstream in(from, std::ios::binary);
    if (!in)
    {
        err = "cannot read " + from.u8string() + Reason();
        return false;
    }
    uint64_t total = 0;
    while (in)
    {
        in.read(reinterpret_cast<char*>(buf.data()), static_cast<std::streamsize>(buf.size()));
        const size_t n = static_cast<size_t>(in.gcount());
        out.write(reinterpret_cast<const char*>(buf.data()), static_cast<std::streamsize>(n));
        total += n;
    }
    if (in.bad())
    {
        err = "cannot read " + from.u8string() + Reason();
        return false;
    }
    if (total != expected)
    {
        err = from.u8string() + " changed while it was being packed";
        return false;
    }
    return true;
}
} // namespace

bool ScanTree(const fs::path& root, std::vector<CSourceEntry>& arEntries,
              std::vector<std::string>& arProblems)
{
    std::error_code ec;
    if (!fs::is_directory(root, ec))
    {
        arProblems.push_back("cannot read source folder " + root.u8string() + ": not a folder");
        return false;
    }
    arEntries.push_back(CSourceEntry{"/", root, true, 0});
    ScanFolder(root, "/", arEntries, arProblems);
    std::sort(arEntries.begin(), arEntries.end(),
              [](const CSourceEntry& a, const CSourceEntry& b) { return CompareNames(a.name, b.name) < 0; });
    return arProblems.empty();
}

bool PackTree(const fs::path& source, const fs::path& output, const CPackOptions& opt,
              std::vector<std::string>& arProblems)
{
    std::vector<CSourceEntry> arSource;
    if (!ScanTree(source, arSource, arProblems)) return false;
    uint64_t total = 0;
    for (const CSourceEntry& e : arSource)
        total += e.size;

    CTempFiles temps;
    const fs::path tmpOut = fs::path(output).concat(".tmp");
    const fs::path tmpData = fs::path(output).concat(".tmp-data");
    temps.arPaths = {tmpOut, tmpData};
    auto fail = [&](const std::string& s) {
        arProblems.push_back(s);
        return false;
    };

    std::vector<CDirEntry> arDir;
    std::vector<uint8_t> buf(kIoChunk);
    CLzxSection lzx;
    {
        errno = 0;
        std::ofstream data(tmpData, std::ios::binary | std::ios::trunc);
        if (!data) return fail("cannot create " + tmpData.u8string() + Reason());
        CLzxStream stream(data, opt);
        uint64_t pos = 0;
        for (const CSourceEntry& e : arSource)
        {
            if (e.isDir)
            {
                arDir.push_back(CDirEntry{e.name, 0, 0, 0});
                continue;
            }
            arDir.push_back(CDirEntry{e.name, opt.store ? 0u : 1u, pos, e.size});
            std::string err;
            if (opt.store)
            {
                if (!CopyFileInto(data, e.path, e.size, buf, err)) return fail(err);
            }
            else
            {
                std::ifstream in(e.path, std::ios::binary);
                if (!in) return fail("cannot read " + e.path.u8string() + Reason());
                uint64_t got = 0;
                while (in)
                {
                    in.read(reinterpret_cast<char*>(buf.data()), static_cast<std::streamsize>(buf.size()));
                    const size_t n = static_cast<size_t>(in.gcount());
                    stream.Write(buf.data(), n);
                    got += n;
                    if (opt.progress) opt.progress(pos + got, total);
                }
                if (in.bad()) return fail("cannot read " + e.path.u8string() + Reason());
                if (got != e.size) return fail(e.path.u8string() + " changed while it was being packed");
            }
            pos += e.size;
            if (opt.progress) opt.progress(pos, total);
            if (!data) return fail("cannot write " + tmpData.u8string() + " (disk full?)" + Reason());
        }
        if (!opt.store)
            lzx = stream.Finish();
        else
            lzx.arReset.push_back(0);
        data.close();
        if (!data) return fail("cannot write " + tmpData.u8string() + " (disk full?)" + Reason());
    }

    // Section 0: the small meta files, then Content (or the stored user files).
    const auto arMeta = BuildMetaFiles(lzx);
    uint64_t metaSize = 0;
    for (const auto& m : arMeta)
    {
        arDir.push_back(CDirEntry{m.first, 0, metaSize, m.second.size()});
        metaSize += m.second.size();
    }
    arDir.push_back(CDirEntry{kContentName, 0, metaSize, lzx.compressed});
    const std::string transformDir =
        "::DataSpace/Storage/MSCompressed/Transform/{7FC28940-9D31-11D0-9B27-00A0C91E9C7C}/";
    arDir.push_back(CDirEntry{transformDir, 0, 0, 0});
    arDir.push_back(CDirEntry{transformDir + "InstanceData/", 0, 0, 0});
    if (opt.store)
        for (CDirEntry& e : arDir)
            if (e.name[0] == '/' && !e.IsDir()) e.offset += metaSize;
    std::sort(arDir.begin(), arDir.end(),
              [](const CDirEntry& a, const CDirEntry& b) { return CompareNames(a.name, b.name) < 0; });

    std::error_code ec;
    const uint64_t dataSize = fs::file_size(tmpData, ec);
    if (ec) return fail("cannot read back " + tmpData.u8string() + ": " + ec.message());
    const CDirectory dir = BuildDirectory(arDir);
    const std::vector<uint8_t> headers = BuildHeaders(dir, metaSize + dataSize);
    {
        errno = 0;
        std::ofstream out(tmpOut, std::ios::binary | std::ios::trunc);
        if (!out) return fail("cannot create " + tmpOut.u8string() + Reason());
        out.write(reinterpret_cast<const char*>(headers.data()),
                  static_cast<std::streamsize>(headers.size()));
        for (const auto& m : arMeta)
            out.write(reinterpret_cast<const char*>(m.second.data()),
                      static_cast<std::streamsize>(m.second.size()));
        std::string err;
        if (!CopyFileInto(out, tmpData, dataSize, buf, err)) return fail(err);
        out.close();
        if (!out) return fail("cannot write " + tmpOut.u8string() + " (disk full?)" + Reason());
    }
    fs::remove(tmpData, ec);
    fs::rename(tmpOut, output, ec);
    if (ec) return fail("cannot create " + output.u8string() + ": " + ec.message());
    return true;
}

bool ListPack(const fs::path& pack, std::ostream& os, std::string& err)
{
    CItsfReader reader;
    if (!reader.Open(pack, err)) return false;
    uint64_t nFiles = 0, nDirs = 0, total = 0;
    for (const CDirEntry& e : reader.Entries())
    {
        if (e.name.empty() || e.name[0] != '/') continue;
        if (e.IsDir())
        {
            ++nDirs;
            os << "       <dir>  " << e.name << '\n';
            continue;
        }
        ++nFiles;
        total += e.length;
        std::string size = std::to_string(e.length);
        os << std::string(size.size() < 12 ? 12 - size.size() : 0, ' ') << size << "  " << e.name << '\n';
    }
    os << nFiles << " files, " << nDirs << " folders, " << total << " bytes\n";
    return true;
}

bool VerifyPack(const fs::path& pack, const fs::path& source, std::vector<std::string>& arProblems)
{
    CItsfReader reader;
    std::string err;
    if (!reader.Open(pack, err))
    {
        arProblems.push_back(err);
        return false;
    }
    std::vector<CSourceEntry> arSource;
    if (!ScanTree(source, arSource, arProblems)) return false;
    std::map<std::string, const CSourceEntry*> mapSource;
    for (const CSourceEntry& e : arSource)
        mapSource[e.name] = &e;

    struct CTarget
    {
        const CDirEntry* entry;
        const CSourceEntry* source;
    };
    std::vector<CTarget> arSection0, arSection1;
    std::map<std::string, bool> mapSeen;
    for (const CDirEntry& e : reader.Entries())
    {
        if (e.name.empty() || e.name[0] != '/') continue;
        const auto it = mapSource.find(e.name);
        if (it == mapSource.end())
        {
            arProblems.push_back("in the pack but not in the source: " + e.name);
            continue;
        }
        mapSeen[e.name] = true;
        if (e.IsDir()) continue;
        if (e.length != it->second->size)
        {
            arProblems.push_back(e.name + ": size " + std::to_string(e.length) + " in the pack, " +
                                 std::to_string(it->second->size) + " in the source");
            continue;
        }
        (e.section == 0 ? arSection0 : arSection1).push_back(CTarget{&e, it->second});
    }
    for (const CSourceEntry& e : arSource)
        if (!mapSeen.count(e.name)) arProblems.push_back("in the source but not in the pack: " + e.name);

    std::vector<uint8_t> buf;
    // Compares the next n source bytes of an open file with p.
    auto compare = [&](std::ifstream& in, const uint8_t* p, size_t n) {
        buf.resize(n);
        in.read(reinterpret_cast<char*>(buf.data()), static_cast<std::streamsize>(n));
        return static_cast<size_t>(in.gcount()) == n && std::memcmp(buf.data(), p, n) == 0;
    };
    for (const CTarget& t : arSection0)
    {
        std::ifstream in(t.source->path, std::ios::binary);
        bool bSame = true;
        if (!reader.ReadSection0(
                t.entry->offset, t.entry->length,
                [&](const uint8_t* p, size_t n) {
                    bSame = bSame && compare(in, p, n);
                    return true;
                },
                err))
            bSame = false;
        if (!bSame) arProblems.push_back(t.entry->name + ": content differs");
    }

    std::sort(arSection1.begin(), arSection1.end(),
              [](const CTarget& a, const CTarget& b) { return a.entry->offset < b.entry->offset; });
    size_t next = 0; // first target not yet finished
    uint64_t pos = 0;
    std::vector<bool> arBad(arSection1.size(), false);
    std::unique_ptr<std::ifstream> pIn;
    size_t openIndex = SIZE_MAX;
    auto sink = [&](const uint8_t* p, size_t n) {
        const uint64_t start = pos, end = pos + n;
        pos = end;
        for (size_t i = next; i < arSection1.size(); ++i)
        {
            const CDirEntry& e = *arSection1[i].entry;
            if (e.offset >= end) break;
            const uint64_t s = std::max(e.offset, start), f = std::min(e.offset + e.length, end);
            if (s < f)
            {
                if (openIndex != i)
                {
                    pIn.reset(new std::ifstream(arSection1[i].source->path, std::ios::binary));
                    pIn->seekg(static_cast<std::streamoff>(s - e.offset));
                    openIndex = i;
                }
                if (!arBad[i] && !compare(*pIn, p + (s - start), static_cast<size_t>(f - s))) arBad[i] = true;
            }
            if (e.offset + e.length <= end && i == next) ++next;
        }
        return true;
    };
    if (!arSection1.empty() && !reader.ReadSection1(sink, err))
        arProblems.push_back("cannot decode the compressed section: " + err);
    for (size_t i = 0; i < arSection1.size(); ++i)
    {
        const CDirEntry& e = *arSection1[i].entry;
        if (arBad[i] || e.offset + e.length > pos) arProblems.push_back(e.name + ": content differs");
    }
    return arProblems.empty();
}
} // namespace corvane
