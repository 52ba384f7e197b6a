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
// Removed before any file of the folder changes, so that no stamp ever vouches for a half-filled folder:
// S_OK, or the failure, reported (the start must then change nothing).
HRESULT RemoveCacheStamp(const _bstr_t& bsFolder);

// Writes a whole buffer to an open file: S_OK, or the Win32 failure as an HRESULT (ERROR_DISK_FULL for a
// write that came up short). Nothing is reported: the caller names the file.
HRESULT WriteWholeBuffer(HANDLE hFile, const void* pvData, DWORD cbData);
} // namespace corvane
