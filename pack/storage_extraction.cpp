// Storage tree extraction: a depth-first, pre-order copy of the pack's tree into the cache folder, every
// file checked against the digest the pack was built with.
#include "storage_extraction.h"

#include "base/error_report.h"
#include "base/progress.h"
#include "base/trace.h"
#include "base/unique_any.h"
#include "cache_files.h"
#include "cache_stamp.h"
#include "content_cache.h"
#include "content_cache_lock.h"
#include "element_names.h"
#include "product_pack.h"

#include <memory>
#include <new>

namespace corvane
{
namespace
{
static_assert(sizeof(wchar_t) == sizeof(char16_t), "paths are compared as UTF-16");

// What the walk knows of the whole extraction.
struct CExtraction
{
    CExtraction(const CProductPack& pack, const _bstr_t& bsCacheFolder, bool fFolderInUse)
        : pPack(&pack), bsFolder(bsCacheFolder), cchFolder(bsCacheFolder.length()), fInUse(fFolderInUse),
          arMet(new bool[pack.digests.Count() + 1]())
    {
    }

    const CProductPack* pPack = nullptr;
    _bstr_t bsFolder; // the cache folder; a file's path from the root follows its "\"
    size_t cchFolder = 0;
    bool fInUse = false;           // a running copy uses the folder: nothing in it may change
    std::unique_ptr<bool[]> arMet; // the digests of the files met so far
    ULONG cElements = 0;
};

HRESULT ReportFileNotWritten(DWORD dwCode, const _bstr_t& bsFileOnDisk)
{
    return ReportWin32Error(dwCode, Joined({L"Could not open the product content file ", Quoted(bsFileOnDisk),
                                            L" for writing."}));
}

// A digest's path below the cache folder.
_bstr_t GetDigestPath(const CFileDigest& digest)
{
    BSTR bsPath = SysAllocStringLen(nullptr, static_cast<UINT>(digest.cchPath));
    if (!bsPath) throw std::bad_alloc(); // told in the one box every lack of memory gets
    for (size_t n = 0; n < digest.cchPath; ++n)
        bsPath[n] = static_cast<wchar_t>(digest.PathUnit(n));
    return _bstr_t(bsPath, false);
}

// The digest of a stream about to be extracted (none without digests: its path stays null). A stream the
// pack was not built with, or met twice, or of another size than built, is damage.
HRESULT MeetFileDigest(const _bstr_t& bsFileOnDisk, ULARGE_INTEGER size, CExtraction& extraction,
                       CFileDigest& digest)
{
    if (!extraction.pPack->fHasDigests) return S_OK;
    const wchar_t* pszPath = static_cast<const wchar_t*>(bsFileOnDisk) + extraction.cchFolder + 1;
    const size_t cchPath = bsFileOnDisk.length() - extraction.cchFolder - 1;
    const long nEntry = extraction.pPack->digests.Find(reinterpret_cast<const char16_t*>(pszPath), cchPath);
    if (nEntry < 0)
        return ReportDamagedPack(
            Joined({L"it holds the file ", Quoted(pszPath), L", which it was not built with."}));
    if (extraction.arMet[nEntry])
        return ReportDamagedPack(Joined({L"it lists the file ", Quoted(pszPath), L" twice."}));
    extraction.arMet[nEntry] = true;
    digest = extraction.pPack->digests.Entry(static_cast<uint32_t>(nEntry));
    if (digest.cbSize != size.QuadPart)
        return ReportDamagedPack(
            Joined({L"its file ", Quoted(pszPath), L" is not of the size it was built with."}));
    return S_OK;
}

// True when the file on the disk holds the digest's bytes; one that cannot be read does not.
bool FileMatchesDigest(const _bstr_t& bsPath, const CFileDigest& digest)
{
    const CUniqueHFile hFile(CreateFileW(bsPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!hFile.IsValid()) return false;
    CContentHash hash;
    BYTE buffer[65536];
    for (;;)
    {
        DWORD cbRead = 0;
        if (!ReadFile(hFile.Get(), buffer, sizeof(buffer), &cbRead, nullptr)) return false;
        if (cbRead == 0) return hash.Value() == digest.ullHash;
        hash.Add(buffer, cbRead);
        StepProgress(0);
    }
}

// The stream's size, and with digests its bytes: a refresh runs because something in the folder changed,
// so from then on no file of the right size is taken on trust (another pack's, a zeroed one). A link is
// never taken for the file, nor a folder but in place of an empty stream (its size, 0, matches).
bool FileHoldsStream(const _bstr_t& bsFileOnDisk, EItemKind kind, ULONGLONG cbOnDisk, ULARGE_INTEGER size,
                     const CFileDigest& digest)
{
    if (kind != EItemKind::File && !(kind == EItemKind::Folder && size.QuadPart == 0)) return false;
    if (cbOnDisk != size.QuadPart) return false;
    if (!digest.pbPath || size.QuadPart == 0) return true;
    return FileMatchesDigest(bsFileOnDisk, digest);
}

// Removes what stands where the pack's file or folder must go; in a folder that a running copy uses, a box
// instead, since nothing of it may change.
HRESULT ReplaceItem(const _bstr_t& bsPath, const CExtraction& extraction)
{
    if (extraction.fInUse) return ReportContentFolderInUse(extraction.bsFolder, bsPath);
    const HRESULT hr = RemoveCacheItem(bsPath);
    if (FAILED(hr))
        return ReportWin32Error(HRESULT_CODE(hr),
                                Joined({L"Could not remove ", Quoted(bsPath),
                                        L", which stands where the product content goes."}));
    return S_OK;
}

HRESULT ExtractStream(const _bstr_t& bsName, ULARGE_INTEGER size, const _bstr_t& bsFolder, IStorage* pStorage,
                      CExtraction& extraction)
{
    const _bstr_t bsFileOnDisk = Joined({bsFolder, L"\\", bsName});
    if (!PathFits(bsFileOnDisk.length(), false))
        return ReportFileNotWritten(ERROR_FILENAME_EXCED_RANGE, bsFileOnDisk);
    CFileDigest digest;
    RETURN_IF_FAILED(MeetFileDigest(bsFileOnDisk, size, extraction, digest));
    ULONGLONG cbOnDisk = 0;
    const EItemKind kind = GetItemKind(bsFileOnDisk, &cbOnDisk);
    const bool fWrongKind = kind == EItemKind::Link || (kind == EItemKind::Folder && size.QuadPart != 0);
    if (FileHoldsStream(bsFileOnDisk, kind, cbOnDisk, size, digest))
    {
        StepProgress(size.QuadPart);
        return S_OK;
    }
    if (fWrongKind || extraction.fInUse) RETURN_IF_FAILED(ReplaceItem(bsFileOnDisk, extraction));

    CPackObject<IStreamPtr> oStream;
    HRESULT hr = pStorage->OpenStream(bsName, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &oStream.Ptr());
    if (FAILED(hr))
        return ReportHresult(
            hr, GetErrorInfoSource(pStorage),
            Joined({L"Could not open product content stream ", Quoted(bsName), L" for reading."}));
    Trace(L"writing %ls", static_cast<const wchar_t*>(bsFileOnDisk));
    CUniqueHFile hFile;
    RETURN_IF_FAILED(CreateCacheFile(
        bsFileOnDisk,
        Joined({L"Could not open the product content file ", Quoted(bsFileOnDisk), L" for writing."}),
        hFile));
    // A half-written file takes room (on a full disk, the last of it) and vouches for nothing: it goes
    // before any box, so that the next start writes it again whatever it finds.
    const auto discard = [&] {
        hFile.Reset();
        RemoveCacheItem(bsFileOnDisk);
    };

    BYTE buffer[65536];
    ULONGLONG ullCopied = 0;
    CContentHash hash;
    for (;;)
    {
        ULONG ulRead = 0;
        hr = oStream.Ptr()->Read(buffer, sizeof(buffer), &ulRead);
        // A damaged or cut pack ends its streams early, or runs on into the next, without an error.
        if (SUCCEEDED(hr) &&
            ((ulRead == 0 && ullCopied != size.QuadPart) || ulRead > size.QuadPart - ullCopied))
            hr = HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);
        if (FAILED(hr))
        {
            discard();
            return ReportHresult(hr,
                                 hr == HRESULT_FROM_WIN32(ERROR_HANDLE_EOF) ? IErrorInfoPtr()
                                                                            : GetErrorInfoSource(pStorage),
                                 Joined({L"Error reading content stream ", Quoted(bsName), L"."}));
        }
        if (ulRead == 0) break;
        ullCopied += ulRead;
        hash.Add(buffer, ulRead);
        hr = WriteWholeBuffer(hFile.Get(), buffer, ulRead);
        if (FAILED(hr))
        {
            discard();
            return ReportWin32Error(HRESULT_CODE(hr), Joined({L"Could not write the product content file ",
                                                              Quoted(bsFileOnDisk), L"."}));
        }
        StepProgress(ulRead);
    }
    if (!digest.pbPath || hash.Value() == digest.ullHash) return S_OK;
    discard();
    return ReportWin32Error(ERROR_FILE_CORRUPT, Joined({L"The product content file ", Quoted(bsFileOnDisk),
                                                        L" did not unpack to the bytes that were packed."}));
}

HRESULT ExtractStorageTree(IStorage* pStorage, const _bstr_t& bsFolder, CExtraction& extraction);

HRESULT ExtractSubStorage(const _bstr_t& bsName, const _bstr_t& bsFolder, IStorage* pStorage,
                          CExtraction& extraction)
{
    const _bstr_t bsSubfolder = Joined({bsFolder, L"\\", bsName});
    // A file or a link in the folder's place goes: a link is never entered.
    const EItemKind kind = GetItemKind(bsSubfolder);
    if (kind == EItemKind::File || kind == EItemKind::Link)
        RETURN_IF_FAILED(ReplaceItem(bsSubfolder, extraction));
    RETURN_IF_FAILED(
        CreateCacheFolder(bsSubfolder, L"Could not create the product content cache subfolder at "));
    CPackObject<IStoragePtr> oSubStorage;
    const HRESULT hr = pStorage->OpenStorage(bsName, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0,
                                             &oSubStorage.Ptr());
    if (FAILED(hr))
        return ReportHresult(
            hr, IErrorInfoPtr(),
            Joined({L"Could not open the structured storage over the product content cache subfolder ",
                    Quoted(bsName), L"."}));
    return ExtractStorageTree(oSubStorage.Ptr(), bsSubfolder, extraction);
}

// One element of the storage: a sub-storage becomes a folder, a stream a file, anything else is passed over.
HRESULT ExtractElement(DWORD dwType, ULARGE_INTEGER size, const _bstr_t& bsReportedName,
                       const _bstr_t& bsFolder, IStorage* pStorage, CFolderNames& names,
                       CExtraction& extraction)
{
    if (dwType != STGTY_STORAGE && dwType != STGTY_STREAM) return S_OK;
    ++extraction.cElements;
    StepProgress(0); // a folder of many small files is a long step too

    // A name that is not one safe file name would write outside its folder or into another
    // file's stream: refuse the pack rather than extract it anywhere.
    const _bstr_t bsName = GetElementFileName(bsReportedName);
    if (bsName.length() == 0)
        return ReportWin32Error(ERROR_INVALID_NAME,
                                Joined({L"Could not extract the product content element ",
                                        Quoted(bsReportedName), L": its name cannot be a file name."}));
    _bstr_t bsClashing;
    if (!names.Add(bsName, bsClashing))
        return ReportWin32Error(
            ERROR_INVALID_NAME,
            Joined({L"Could not extract the product content element ",
                    Quoted(Joined({bsFolder, L"\\", bsName})), L": its name differs only in case from ",
                    Quoted(bsClashing), L", another element of its folder."}));
    return dwType == STGTY_STORAGE ? ExtractSubStorage(bsName, bsFolder, pStorage, extraction)
                                   : ExtractStream(bsName, size, bsFolder, pStorage, extraction);
}

HRESULT ExtractStorageTree(IStorage* pStorage, const _bstr_t& bsFolder, CExtraction& extraction)
{
    CPackObject<IEnumSTATSTGPtr> oEnum;
    HRESULT hr = pStorage->EnumElements(0, nullptr, 0, &oEnum.Ptr());
    if (FAILED(hr))
        return ReportHresult(hr, GetErrorInfoSource(pStorage),
                             L"Could not start enumeration of the storage contents.");
    CFolderNames names;
    for (;;)
    {
        STATSTG stat = {};
        ULONG uFetched = 0;
        hr = oEnum.Ptr()->Next(1, &stat, &uFetched);
        if (FAILED(hr))
            return ReportHresult(hr, GetErrorInfoSource(pStorage),
                                 L"Could not enumerate the storage contents.");
        if (uFetched == 0) return S_OK;

        const _bstr_t bsReportedName(stat.pwcsName ? stat.pwcsName : L"");
        CoTaskMemFree(stat.pwcsName);
        RETURN_IF_FAILED(
            ExtractElement(stat.type, stat.cbSize, bsReportedName, bsFolder, pStorage, names, extraction));
    }
}

// The warm start: the stamp says the folder was filled from this very pack, and every file is there at its
// size. Neither the pack nor any file is read.
bool IsCacheWarm(const CProductPack& pack, const _bstr_t& bsFolder)
{
    if (!pack.fHasDigests || !IsCacheStampOf(bsFolder, pack.digests.Identity(), c_cbDigestIdentity))
        return false;
    ULARGE_INTEGER size = {};
    size.LowPart = pack.cbPack;
    if (!IsFileOfSize(Joined({bsFolder, L"\\", c_szPackFileName}), size)) return false;
    for (uint32_t u = 0; u < pack.digests.Count(); ++u)
    {
        const CFileDigest digest = pack.digests.Entry(u);
        size.QuadPart = digest.cbSize;
        if (!IsFileOfSize(Joined({bsFolder, L"\\", GetDigestPath(digest)}), size)) return false;
        StepProgress(0);
    }
    return true;
}

// Every file the pack was built with fits below the cache folder, and every folder above it: checked
// before anything is created, so that nothing lands at a cut path.
HRESULT CheckContentPaths(const CProductPack& pack, const _bstr_t& bsFolder)
{
    if (!pack.fHasDigests) return S_OK;
    for (uint32_t u = 0; u < pack.digests.Count(); ++u)
    {
        const _bstr_t bsPath = Joined({bsFolder, L"\\", GetDigestPath(pack.digests.Entry(u))});
        const wchar_t* pszPath = bsPath;
        const size_t cchParent = static_cast<size_t>(wcsrchr(pszPath, L'\\') - pszPath);
        if (!PathFits(bsPath.length(), false) || !PathFits(cchParent, true))
            return ReportFileNotWritten(ERROR_FILENAME_EXCED_RANGE, bsPath);
    }
    return S_OK;
}

// After the walk: every file the pack was built with was met, and the pack held anything at all.
HRESULT CheckExtractionWhole(const CExtraction& extraction)
{
    const CPackDigests& digests = extraction.pPack->digests;
    if (extraction.pPack->fHasDigests)
        for (uint32_t u = 0; u < digests.Count(); ++u)
            if (!extraction.arMet[u])
                return ReportDamagedPack(
                    Joined({L"it lacks the file ", Quoted(GetDigestPath(digests.Entry(u))), L"."}));
    if (extraction.cElements == 0) return ReportDamagedPack(L"it holds no files.");
    return S_OK;
}

// The bytes a refresh writes or finds in place: the pack file and every file the pack was built with (not
// known without digests).
ULONGLONG GetBytesToWrite(const CProductPack& pack)
{
    if (!pack.fHasDigests) return 0;
    ULONGLONG ullTotal = pack.cbPack;
    for (uint32_t u = 0; u < pack.digests.Count(); ++u)
        ullTotal += pack.digests.Entry(u).cbSize;
    return ullTotal;
}

// The walk over the whole pack, opened for it alone: no reference to the pack remains once it returns,
// since the runtime loads from the folder next.
HRESULT ExtractPack(CExtraction& extraction)
{
    CPackObject<IStoragePtr> oStorage;
    RETURN_IF_FAILED(
        OpenProductPack(*extraction.pPack, extraction.bsFolder, extraction.fInUse, oStorage.Ptr()));
    return ExtractStorageTree(oStorage.Ptr(), extraction.bsFolder, extraction);
}

// Writes what the folder lacks or holds otherwise than the pack: the pack and the paths checked first,
// the stamp gone while files change and written again once the whole tree is in place. In a folder that a
// running copy uses, nothing changes: the tree must prove whole and right as it is, or a box says so.
HRESULT RefreshContent(const CProductPack& pack, const _bstr_t& bsFolder, bool fInUse)
{
    BeginProgress(GetBytesToWrite(pack));
    RETURN_IF_FAILED(CheckProductPack(pack));
    RETURN_IF_FAILED(CheckContentPaths(pack, bsFolder));
    RETURN_IF_FAILED(RemoveCacheStamp(bsFolder));
    CExtraction extraction(pack, bsFolder, fInUse);
    RETURN_IF_FAILED(ExtractPack(extraction));
    RETURN_IF_FAILED(CheckExtractionWhole(extraction));
    EndProgress();
    if (pack.fHasDigests) WriteCacheStamp(bsFolder, pack.digests.Identity(), c_cbDigestIdentity);
    return S_OK;
}

void TraceCacheState(const CProductPack& pack, bool fWarm, bool fInUse)
{
    Trace(L"pack of %lu bytes, %ls; cache %ls%ls", static_cast<unsigned long>(pack.cbPack),
          pack.fHasDigests ? L"with digests" : L"without digests", fWarm ? L"up to date" : L"to be filled",
          fInUse ? L", in use by a running copy" : L"");
}
} // namespace

HRESULT PrepareProductContent(_bstr_t& bsContentFolder)
{
    _bstr_t bsFolder;
    HRESULT hr = GetProductContentCacheFolder(bsFolder);
    if (hr != S_OK) return hr;

    Trace(L"content cache folder %ls", static_cast<const wchar_t*>(bsFolder));
    // One name for the lock and the in-use mark: finding the folder's identity opens the folder.
    const _bstr_t bsLockName = GetContentCacheLockName(bsFolder);
    const CContentCacheLock lock(bsLockName, c_dwContentCacheLockWaitMs);
    CProductPack pack;
    hr = LoadProductPack(pack);
    if (hr != S_OK) return hr;
    const bool fWarm = IsCacheWarm(pack, bsFolder);
    const bool fInUse = !fWarm && IsContentFolderInUse(bsLockName);
    TraceCacheState(pack, fWarm, fInUse);
    if (!fWarm) RETURN_IF_FAILED(RefreshContent(pack, bsFolder, fInUse));
    // Marked while the lock is held, so that no start or cleanup after this one misses the mark.
    MarkContentFolderInUse(bsLockName);
    bsContentFolder = bsFolder;
    return S_OK;
}
} // namespace corvane
