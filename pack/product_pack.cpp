// The product pack: resource 666 checked against its digests (resource 667), copied to
// ProductContent.chm and opened through the ITStorage object.
#include "product_pack.h"

#include "base/error_report.h"
#include "base/progress.h"
#include "base/trace.h"
#include "base/module_resource.h"
#include "base/product.h"
#include "base/unique_any.h"
#include "cache_files.h"
#include "content_cache.h"
#include "content_cache_lock.h"

#include <cstring>

namespace corvane
{
namespace
{
const wchar_t* ResourceFailureSentence(EResourceStep step)
{
    switch (step)
    {
    case ResourceLoad:
        return L"The product pack resource could not be loaded.";
    case ResourceLock:
        return L"The product pack resource could not be locked to memory.";
    default:
        return L"The product pack resource could not be measured for size.";
    }
}

// The pack is written and hashed in pieces of at most 1 MiB, each a few milliseconds: the length of the
// one that begins at cbDone.
DWORD PackPieceAt(DWORD cbDone, DWORD cbPack)
{
    const DWORD c_cbPackPiece = 1 << 20;
    return cbPack - cbDone < c_cbPackPiece ? cbPack - cbDone : c_cbPackPiece;
}

// Straight from the mapped resource, in pieces between which the splash answers.
HRESULT WritePackPieces(HANDLE hFile, const BYTE* pbPack, DWORD cbPack)
{
    for (DWORD cbDone = 0; cbDone < cbPack;)
    {
        const DWORD cbPiece = PackPieceAt(cbDone, cbPack);
        RETURN_IF_FAILED(WriteWholeBuffer(hFile, pbPack + cbDone, cbPiece));
        cbDone += cbPiece;
        StepProgress(cbPiece);
    }
    return S_OK;
}

HRESULT WritePackFile(const _bstr_t& bsContentFile, const void* pvPack, DWORD dwSize)
{
    CUniqueHFile hFile;
    RETURN_IF_FAILED(
        CreateCacheFile(bsContentFile, L"Could not open the product content cache file for writing.", hFile));

    const HRESULT hr = WritePackPieces(hFile.Get(), static_cast<const BYTE*>(pvPack), dwSize);
    if (FAILED(hr))
    {
        // A half-written pack file takes room and vouches for nothing: it goes before the box.
        hFile.Reset();
        RemoveCacheItem(bsContentFile);
        return ReportWin32Error(HRESULT_CODE(hr), Joined({L"Could not write the product content cache file ",
                                                          Quoted(bsContentFile), L"."}));
    }
    return S_OK;
}

// True when the file holds exactly these bytes. A file that cannot be read counts as different: it is
// then written again, and a real obstacle is reported by that write.
bool FileHoldsBytes(const _bstr_t& bsPath, const BYTE* pbBytes, DWORD cbBytes)
{
    ULARGE_INTEGER size = {};
    size.LowPart = cbBytes;
    if (!IsFileOfSize(bsPath, size)) return false;
    const CUniqueHFile hFile(CreateFileW(bsPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!hFile.IsValid()) return false;
    BYTE buffer[65536];
    for (DWORD cbDone = 0; cbDone < cbBytes;)
    {
        DWORD cbRead = 0;
        const DWORD cbWant = cbBytes - cbDone < sizeof(buffer) ? cbBytes - cbDone : sizeof(buffer);
        if (!ReadFile(hFile.Get(), buffer, cbWant, &cbRead, nullptr) || cbRead != cbWant ||
            memcmp(buffer, pbBytes + cbDone, cbRead) != 0)
            return false;
        cbDone += cbRead;
        StepProgress(0);
    }
    return true;
}

// The pack's hash, in pieces between which the splash answers.
uint64_t HashPack(const CProductPack& pack)
{
    CContentHash hash;
    for (DWORD cbDone = 0; cbDone < pack.cbPack;)
    {
        const DWORD cbPiece = PackPieceAt(cbDone, pack.cbPack);
        hash.Add(pack.pbPack + cbDone, cbPiece);
        cbDone += cbPiece;
        StepProgress(0);
    }
    return hash.Value();
}

HRESULT CreateItStorage(ITStoragePtr& oItStorage)
{
    const HRESULT hr = CoCreateInstance(CLSID_ITStorage, nullptr,
                                        CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER |
                                            CLSCTX_REMOTE_SERVER,
                                        IID_ITStorage, reinterpret_cast<void**>(&oItStorage));
    if (FAILED(hr))
        return ReportHresult(hr, IErrorInfoPtr(),
                             L"Could not create an ITStorage instance to read the product pack.");
    return S_OK;
}
// The reader fails on a file that another program (a scanner at a fresh file) holds, with a code that does
// not say so: while the file cannot be opened as the reader opens it, the holder is waited out.
HRESULT OpenPackStorage(ITStorage* pItStorage, const _bstr_t& bsContentFile, IStoragePtr& oStorage)
{
    CHeldFileWait wait;
    for (;;)
    {
        const HRESULT hr = pItStorage->StgOpenStorage(
            bsContentFile, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0, &oStorage);
        if (SUCCEEDED(hr)) return S_OK;
        const CUniqueHFile hProbe(CreateFileW(bsContentFile, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        const DWORD dwError = hProbe.IsValid() ? ERROR_SUCCESS : GetLastError();
        if (wait.PauseAfter(dwError)) continue;
        if (IsHeldFileError(dwError)) return ReportHeldFile(dwError, bsContentFile);
        return ReportHresult(hr, IErrorInfoPtr(),
                             L"Could not open the structured document storage on the product pack.");
    }
}
} // namespace

HRESULT ReportDamagedPack(const wchar_t* pszWhy)
{
    return ReportWin32Error(ERROR_FILE_CORRUPT, Joined({L"The product pack is damaged: ", pszWhy}));
}

HRESULT LoadProductPack(CProductPack& pack)
{
    DWORD dwError = 0;
    const EResourceStep step =
        LoadRcdataResource(CORVANE_PACK_RESOURCE_ID, pack.pbPack, pack.cbPack, dwError);
    if (step == ResourceFind) return S_FALSE; // an executable without a pack: nothing to say
    if (step != ResourceReady) return ReportWin32Error(dwError, ResourceFailureSentence(step));

    // A pack from another tool comes without digests and gets every check that needs none.
    const BYTE* pbDigests = nullptr;
    DWORD cbDigests = 0;
    const EResourceStep stepDigests =
        LoadRcdataResource(CORVANE_DIGESTS_RESOURCE_ID, pbDigests, cbDigests, dwError);
    if (stepDigests == ResourceFind) return S_OK;
    // Digests that are there but cannot be read would switch every check off: that is damage.
    if (stepDigests != ResourceReady)
        return ReportDamagedPack(L"the digests it was built with cannot be read.");
    if (!pack.digests.Read(pbDigests, cbDigests))
        return ReportDamagedPack(L"the digests it was built with do not read back whole.");
    pack.fHasDigests = true;
    return S_OK;
}

HRESULT CheckProductPack(const CProductPack& pack)
{
    if (!pack.fHasDigests) return S_OK;
    if (pack.cbPack != pack.digests.PackSize() || HashPack(pack) != pack.digests.PackHash())
        return ReportDamagedPack(L"its bytes are not those it was built with.");
    return S_OK;
}

HRESULT OpenProductPack(const CProductPack& pack, const _bstr_t& bsFolder, bool fInUse, IStoragePtr& oStorage)
{
    const _bstr_t bsContentFile = Joined({bsFolder, L"\\", c_szPackFileName});
    if (!FileHoldsBytes(bsContentFile, pack.pbPack, pack.cbPack))
    {
        if (fInUse) return ReportContentFolderInUse(bsFolder, bsContentFile);
        // Anything else in its place (a folder, a link) goes; a link's target stays as it is.
        if (GetItemKind(bsContentFile) != EItemKind::File) RemoveCacheItem(bsContentFile);
        Trace(L"writing %ls", static_cast<const wchar_t*>(bsContentFile));
        RETURN_IF_FAILED(WritePackFile(bsContentFile, pack.pbPack, pack.cbPack));
    }
    else
        StepProgress(pack.cbPack);

    ITStoragePtr oItStorage;
    RETURN_IF_FAILED(CreateItStorage(oItStorage));
    return OpenPackStorage(oItStorage, bsContentFile, oStorage);
}
} // namespace corvane
