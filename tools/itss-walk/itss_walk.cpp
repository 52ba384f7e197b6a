// A build-machine helper for the pack tool's tests and the benchmark: walks a pack through ITStorage as the
// launcher does (or opens listed paths); prints every folder and stream (size, FNV-1a hash) and optionally
// writes the streams out, so a test can compare them with the source.

// The launcher's own declarations: both builds that compile this file put the repository root on the path.
#include "base/unique_any.h"
#include "pack/itstorage.h"
#include "tests/harness/fnv1a.h"

#include <cstdint>
#include <string>
#include <vector>

using corvane::CUniqueHFile;

namespace
{
constexpr DWORD kClsCtx = 0x17;
constexpr DWORD kModeRead = 0x10; // STGM_READ | STGM_SHARE_EXCLUSIVE

// The element name an enumeration hands over.
typedef corvane::CUniqueAny<LPOLESTR, &CoTaskMemFree> CUniqueCoTaskString;

int g_errors = 0;

void Print(const std::wstring& ws)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, ws.c_str(), static_cast<int>(ws.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, ws.c_str(), static_cast<int>(ws.size()), &s[0], n, nullptr, nullptr);
    s += '\n';
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), s.data(), static_cast<DWORD>(s.size()), &written, nullptr);
}

void Error(const wchar_t* szWhat, const std::wstring& path, HRESULT hr)
{
    wchar_t sz[32];
    wsprintfW(sz, L" hr=0x%08X ", static_cast<unsigned>(hr));
    Print(std::wstring(L"ERROR ") + szWhat + sz + path);
    ++g_errors;
}

std::wstring Hex64(uint64_t u)
{
    wchar_t sz[17];
    for (int i = 15; i >= 0; --i, u >>= 4)
        sz[i] = L"0123456789abcdef"[u & 15];
    sz[16] = 0;
    return sz;
}

// A path below outDir with Windows separators.
std::wstring OutPath(const std::wstring& outDir, const std::wstring& path)
{
    std::wstring file = outDir + path;
    for (wchar_t& c : file)
        if (c == L'/') c = L'\\';
    return file;
}

// Wine reports names inside a sub-storage as paths from the root; opening needs the last part only.
std::wstring LeafOf(std::wstring name)
{
    while (!name.empty() && name.back() == L'/')
        name.pop_back();
    const size_t slash = name.find_last_of(L'/');
    return slash == std::wstring::npos ? name : name.substr(slash + 1);
}

void ReadStream(IStorage* pStg, const std::wstring& leaf, const std::wstring& path,
                const std::wstring& outDir, ULONGLONG expected)
{
#ifdef ITSS_WALK_STAT
    // make bench's floor of a warm start: the enumeration and one attribute query per file, nothing read.
    WIN32_FILE_ATTRIBUTE_DATA fad;
    if (!GetFileAttributesExW(OutPath(outDir, path).c_str(), GetFileExInfoStandard, &fad) ||
        (ULONGLONG(fad.nFileSizeHigh) << 32 | fad.nFileSizeLow) != expected)
        Error(L"not up to date", path, E_FAIL);
    return;
#endif
    IStreamPtr oStream;
    HRESULT hr = pStg->OpenStream(leaf.c_str(), nullptr, kModeRead, 0, &oStream);
    if (FAILED(hr)) return Error(L"OpenStream", path, hr);
    CUniqueHFile out;
    if (!outDir.empty())
    {
        out.Reset(CreateFileW(OutPath(outDir, path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!out.IsValid()) return Error(L"CreateFileW", path, HRESULT_FROM_WIN32(GetLastError()));
    }
    std::vector<BYTE> buf(64 * 1024);
    uint64_t hash = c_ullFnv1aBasis, total = 0;
    for (;;)
    {
        ULONG got = 0;
        hr = oStream->Read(buf.data(), static_cast<ULONG>(buf.size()), &got);
        if (FAILED(hr)) return Error(L"Read", path, hr);
        if (got == 0) break;
#ifndef ITSS_WALK_BARE
        // make bench builds the walker bare: under CPU emulation the hash takes a fifth of the walk's time.
        hash = Fnv1a64(buf.data(), got, hash);
#endif
        total += got;
        DWORD written = 0;
        if (out.IsValid() && (!WriteFile(out.Get(), buf.data(), got, &written, nullptr) || written != got))
            return Error(L"WriteFile", path, HRESULT_FROM_WIN32(GetLastError()));
    }
    if (expected != ~0ull && total != expected) Error(L"size differs from Stat", path, E_FAIL);
    Print(L"F " + std::to_wstring(total) + L" " + Hex64(hash) + L" " + path);
}

void Walk(IStorage* pStg, const std::wstring& prefix, const std::wstring& outDir)
{
    IEnumSTATSTGPtr oEnum;
    HRESULT hr = pStg->EnumElements(0, nullptr, 0, &oEnum);
    if (FAILED(hr)) return Error(L"EnumElements", prefix + L"/", hr);
    STATSTG st;
    ULONG fetched = 0;
    while (oEnum->Next(1, &st, &fetched) == S_OK && fetched == 1)
    {
        const CUniqueCoTaskString name(st.pwcsName);
        const std::wstring leaf = LeafOf(name.IsValid() ? name.Get() : L"");
        const std::wstring path = prefix + L"/" + leaf;
        if (st.type == STGTY_STREAM)
        {
            ReadStream(pStg, leaf, path, outDir, st.cbSize.QuadPart);
            continue;
        }
        if (st.type != STGTY_STORAGE)
        {
            Error(L"unexpected element type", path, E_UNEXPECTED);
            continue;
        }
        Print(L"D " + path + L"/");
        if (!outDir.empty()) CreateDirectoryW(OutPath(outDir, path).c_str(), nullptr);
        IStoragePtr oSub;
        hr = pStg->OpenStorage(leaf.c_str(), nullptr, kModeRead, nullptr, 0, &oSub);
        if (FAILED(hr))
        {
            Error(L"OpenStorage", path, hr);
            continue;
        }
        Walk(oSub, path, outDir);
    }
}

std::string ReadWholeFile(const wchar_t* szPath)
{
    const CUniqueHFile file(
        CreateFileW(szPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file.IsValid())
    {
        Error(L"CreateFileW", szPath, HRESULT_FROM_WIN32(GetLastError()));
        return std::string();
    }
    std::string text;
    char sz[4096];
    DWORD got = 0;
    while (ReadFile(file.Get(), sz, sizeof(sz), &got, nullptr) && got > 0)
        text.append(sz, got);
    return text;
}

std::wstring Widen(const std::string& utf8)
{
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring ws(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &ws[0], n);
    return ws;
}

// Opens the folders of path ("dir/sub/file") one by one, then reads the stream; the owners keep each level
// alive until it is read.
void ReadPath(IStorage* pRoot, const std::wstring& path, const std::wstring& outDir)
{
    std::vector<IStoragePtr> arOpened;
    IStorage* pCur = pRoot;
    size_t from = 0, slash;
    while ((slash = path.find(L'/', from)) != std::wstring::npos)
    {
        IStoragePtr oSub;
        const HRESULT hr =
            pCur->OpenStorage(path.substr(from, slash - from).c_str(), nullptr, kModeRead, nullptr, 0, &oSub);
        if (FAILED(hr)) return Error(L"OpenStorage", L"/" + path, hr);
        arOpened.push_back(oSub);
        pCur = oSub;
        from = slash + 1;
    }
    if (!outDir.empty())
        for (slash = path.find(L'/'); slash != std::wstring::npos; slash = path.find(L'/', slash + 1))
            CreateDirectoryW(OutPath(outDir + L"/", path.substr(0, slash)).c_str(), nullptr);
    ReadStream(pCur, path.substr(from), L"/" + path, outDir, ~0ull);
}

// Opens each listed path ("dir/sub/file", UTF-8, one a line) storage by storage, as a reader that knows the
// names would; used to read packs whose writer left out the folder entries enumeration needs.
void ReadListed(IStorage* pRoot, const wchar_t* szList, const std::wstring& outDir)
{
    const std::string text = ReadWholeFile(szList);
    size_t at = 0;
    while (at < text.size())
    {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) ReadPath(pRoot, Widen(line), outDir);
    }
}

// Opens the pack and walks it, or reads the listed paths.
void WalkPack(const wchar_t* szPack, const std::wstring& outDir, const wchar_t* szList)
{
    ITStoragePtr oItss;
    HRESULT hr =
        CoCreateInstance(CLSID_ITStorage, nullptr, kClsCtx, IID_ITStorage, reinterpret_cast<void**>(&oItss));
    if (FAILED(hr)) return Error(L"CoCreateInstance(ITStorage)", L"", hr);
    IStoragePtr oRoot;
    hr = oItss->StgOpenStorage(szPack, nullptr, kModeRead, nullptr, 0, &oRoot);
    if (FAILED(hr)) return Error(L"StgOpenStorage", szPack, hr);
    LARGE_INTEGER freq, t0, t1;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&t0);
    if (szList)
        ReadListed(oRoot, szList, outDir);
    else
    {
        Print(L"D /");
        Walk(oRoot, L"", outDir);
    }
    QueryPerformanceCounter(&t1);
    // Walk time without Wine's start-up, for the benchmark.
    Print(L"T " + std::to_wstring((t1.QuadPart - t0.QuadPart) * 1000 / freq.QuadPart) + L" ms");
}
} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
    {
        Print(L"usage: itss_walk PACK [OUTDIR [LISTFILE]]");
        return 2;
    }
    const HRESULT hr = CoInitialize(nullptr);
    if (FAILED(hr))
    {
        Error(L"CoInitialize", L"", hr);
        return 1;
    }
    WalkPack(argv[1], argc > 2 ? argv[2] : L"", argc > 3 ? argv[3] : nullptr);
    CoUninitialize();
    return g_errors ? 1 : 0;
}
