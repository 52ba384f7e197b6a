// The content cache: where the product pack is unpacked, and the file helpers its writers share.
#pragma once

#include "base/com_support.h"
#include "base/unique_any.h"

namespace corvane
{
// The pack file's name in the cache folder.
const wchar_t c_szPackFileName[] = L"ProductContent.chm";

// True when the system can create a path of that length without the long-path prefix: a file's shorter
// than MAX_PATH, a folder's short enough to leave room for an 8.3 name inside it (MAX_PATH - 12).
bool PathFits(size_t cchPath, bool fFolder);

// The cache folder below a temporary folder as GetTempPathW gives it (with or without its final "\"):
// Skarnveld\Corvane\v<version>\ProductContentCache.
_bstr_t GetContentCacheFolderBelow(const wchar_t* szTempFolder);

// The per-version cache folder below the temporary folder, created if missing: S_OK; S_FALSE when the
// temporary folder is empty (nothing reported); otherwise the failure, reported.
HRESULT GetProductContentCacheFolder(_bstr_t& bsFolder);

// Creates a folder with the ones above it; one that exists already is fine. A failure, a path too long
// for a folder, or success without an item there afterwards is reported with szSentenceStart, the quoted
// path and a full stop.
HRESULT CreateCacheFolder(const _bstr_t& bsFolder, const wchar_t* szSentenceStart);

// True when the file (or folder) exists with exactly this size; nothing else is compared.
bool IsFileUpToDate(const _bstr_t& bsPath, ULARGE_INTEGER size);

// The stamp beside the cache folder names the digests of the pack that the folder was last filled from,
// whole: a start that finds it matching and every file of the right size has nothing to unpack.
bool IsCacheStampOf(const _bstr_t& bsFolder, const BYTE* pbStamp, DWORD cbStamp);
// Written once the whole tree is in place; a stamp that cannot be written only costs the next start a
// full check.
void WriteCacheStamp(const _bstr_t& bsFolder, const BYTE* pbStamp, DWORD cbStamp);
// Removed before any file of the folder changes, so that no stamp ever vouches for a half-filled folder.
void RemoveCacheStamp(const _bstr_t& bsFolder);

// The name of the session-wide lock of one cache folder: the folder's identity on its volume, so that
// every spelling of its path (case, short names) gives the same lock; the upper-cased path when the folder
// cannot be opened.
_bstr_t GetContentCacheLockName(const wchar_t* szFolder);

// Holds the cache folder's lock while it lives, so that two starts at once (a double click twice) do not
// write the same files: the second waits while the first unpacks, then finds every file up to date. A
// holder that died leaves the lock abandoned, which counts as acquired. While it waits, the thread's
// windows (the splash) keep answering. The lock goes before any error box, so that no start waits behind
// another's box. When the wait runs out, or the lock cannot be made, the start goes on unlocked: a file
// that two starts write at once fails for one of them at its opening, and every file is checked against
// its digest, so an unlocked start can fail but cannot unpack wrong bytes.
class CContentCacheLock
{
public:
    explicit CContentCacheLock(const _bstr_t& bsFolder);
    CContentCacheLock(const CContentCacheLock&) = delete;
    CContentCacheLock& operator=(const CContentCacheLock&) = delete;
    ~CContentCacheLock();

private:
    static void ReleaseHeld();

    CUniqueHandle m_hMutex;
    static CContentCacheLock* s_pHeld;
};

// Writes a whole buffer to an open file: S_OK, or the Win32 failure as an HRESULT (ERROR_DISK_FULL for a
// write that came up short). Nothing is reported: the caller names the file.
HRESULT WriteWholeBuffer(HANDLE hFile, const void* pvData, DWORD cbData);
} // namespace corvane
