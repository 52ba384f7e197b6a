// corvane-bench-costs: what a cold start adds to the copy and walk of its pack, each alone and timed inside
// one process with the launcher's own code: the pack's check (its hash), the pack file's write, the hash
// of every unpacked byte, and the folders of the tree.
// Usage: corvane-bench-costs PACK TREE OUT. Prints "T check=MS write=MS hashes=MS folders=MS".
#include "base/com_support.h"
#include "base/unique_any.h"
#include "pack/cache_files.h"
#include "pack/content_cache.h"
#include "pack/pack_digest.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

using corvane::CUniqueHFile;

namespace
{
double Milliseconds(const LARGE_INTEGER& from)
{
    LARGE_INTEGER to, freq;
    QueryPerformanceCounter(&to);
    QueryPerformanceFrequency(&freq);
    return static_cast<double>(to.QuadPart - from.QuadPart) * 1000.0 / static_cast<double>(freq.QuadPart);
}

LARGE_INTEGER Now()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now;
}

// The tree's folders below it in pre-order (relative paths) and the bytes of its files.
void ListTree(const std::wstring& top, const std::wstring& relative, std::vector<std::wstring>& folders,
              ULONGLONG& ullBytes)
{
    WIN32_FIND_DATAW find;
    const HANDLE hFind = FindFirstFileW((top + relative + L"\\*").c_str(), &find);
    if (hFind == INVALID_HANDLE_VALUE) return;
    do
    {
        const std::wstring name = find.cFileName;
        if (name == L"." || name == L"..") continue;
        if (find.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        {
            folders.push_back(relative + L"\\" + name);
            ListTree(top, relative + L"\\" + name, folders, ullBytes);
        }
        else
            ullBytes += static_cast<ULONGLONG>(find.nFileSizeHigh) << 32 | find.nFileSizeLow;
    } while (FindNextFileW(hFind, &find));
    FindClose(hFind);
}
} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 4)
    {
        fputs("usage: corvane-bench-costs PACK TREE OUT\n", stderr);
        return 2;
    }
    const CUniqueHFile hPack(CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    const DWORD cbPack = GetFileSize(hPack.Get(), nullptr);
    std::unique_ptr<BYTE[]> pbPack(new BYTE[cbPack]);
    DWORD cbRead = 0;
    if (!hPack.IsValid() || !ReadFile(hPack.Get(), pbPack.get(), cbPack, &cbRead, nullptr) ||
        cbRead != cbPack)
        return 1;

    LARGE_INTEGER start = Now();
    volatile uint64_t ullSink = corvane::HashContent(pbPack.get(), cbPack);
    const double dCheck = Milliseconds(start);

    const std::wstring out = argv[3];
    start = Now();
    {
        const CUniqueHFile hFile(CreateFileW((out + L"\\ProductContent.chm").c_str(), GENERIC_WRITE,
                                             FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                             nullptr));
        if (!hFile.IsValid() || FAILED(corvane::WriteWholeBuffer(hFile.Get(), pbPack.get(), cbPack)))
            return 1;
    }
    const double dWrite = Milliseconds(start);

    std::vector<std::wstring> folders;
    ULONGLONG ullBytes = 0;
    ListTree(argv[2], L"", folders, ullBytes);
    // The hash's speed does not depend on the bytes: the pack's own, as often as the tree has bytes.
    start = Now();
    corvane::CContentHash hash;
    for (ULONGLONG ullDone = 0; ullDone < ullBytes;)
    {
        const DWORD cbPiece = static_cast<DWORD>(ullBytes - ullDone < 65536 ? ullBytes - ullDone : 65536);
        hash.Add(pbPack.get() + ullDone % (cbPack - 65536), cbPiece);
        ullDone += cbPiece;
    }
    ullSink = hash.Value();
    const double dHashes = Milliseconds(start);

    start = Now();
    for (const std::wstring& folder : folders)
        if (FAILED(corvane::CreateCacheFolder(_bstr_t((out + folder).c_str()), L"Could not create ")))
            return 1;
    const double dFolders = Milliseconds(start);

    printf("T check=%.1f write=%.1f hashes=%.1f folders=%.1f files=%llu bytes\n", dCheck, dWrite, dHashes,
           dFolders, ullBytes);
    return ullSink == 0 ? 3 : 0;
}
