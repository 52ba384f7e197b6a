// The content cache: where the product pack is unpacked, and the file helpers its writers share.
#pragma once

#include "base/com_support.h"
#include "base/unique_any.h"

namespace corvane
{
// The cache folder below a temporary folder as GetTempPathW gives it (with or without its final "\"):
// Skarnveld\Corvane\v<version>\ProductContentCache.
_bstr_t GetContentCacheFolderBelow(const wchar_t* szTempFolder);

// The per-version cache folder below the temporary folder, created if missing: S_OK; S_FALSE when the
// temporary folder is empty (nothing reported); otherwise the failure, reported.
HRESULT GetProductContentCacheFolder(_bstr_t& bsFolder);

// Creates a folder with the ones above it; one that exists already is fine. A failure is reported with
// szSentenceStart, the quoted path and a full stop.
HRESULT CreateCacheFolder(const _bstr_t& bsFolder, const wchar_t* szSentenceStart);

// True when the file (or folder) exists with exactly this size; nothing else is compared.
bool IsFileUpToDate(const _bstr_t& bsPath, ULARGE_INTEGER size);

// The name of the session-wide lock of one cache folder: the same for every spelling of its path's case.
_bstr_t GetContentCacheLockName(const wchar_t* szFolder);

// Holds the cache folder's lock while it lives, so that two starts at once (a double click twice) do not
// write the same files: the second waits while the first unpacks, then finds every file up to date. A
// holder that died leaves the lock abandoned, which counts as acquired. When the wait runs out, or the
// lock cannot be made, the start goes on unlocked and any clash is reported where a write fails.
class CContentCacheLock
{
public:
    explicit CContentCacheLock(const _bstr_t& bsFolder);
    CContentCacheLock(const CContentCacheLock&) = delete;
    CContentCacheLock& operator=(const CContentCacheLock&) = delete;
    ~CContentCacheLock();

private:
    CUniqueHandle m_hMutex;
    bool m_fHeld = false;
};

// Writes a whole buffer to an open file; false when the write failed or came up short, with the
// Win32 code in dwError.
bool WriteWholeBuffer(HANDLE hFile, const void* pvData, DWORD cbData, DWORD& dwError);
} // namespace corvane
