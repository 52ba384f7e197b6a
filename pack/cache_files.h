// File operations on the cache that outlast another program holding a file for a while (an on-access
// scanner, an indexer, a backup), and that treat the cache as the launcher's own: read-only attributes are
// cleared, links are removed and never entered.
#pragma once

#include "base/com_support.h"
#include "base/unique_any.h"

namespace corvane
{
// How long a file may be held before the start gives up: an on-access scanner holds a fresh file for up to
// its scan timeout (45 s for a common one), and the launchers that cope best wait 50 s.
const DWORD c_dwHeldFileWaitMs = 50 * 1000;

// Waits with growing pauses while a failure is one that a holder causes, up to the bound; the splash keeps
// answering meanwhile.
class CHeldFileWait
{
public:
    explicit CHeldFileWait(DWORD dwBoundMs = c_dwHeldFileWaitMs) : m_dwBoundMs(dwBoundMs) {}

    // True after a pause when the failure may pass by itself and time is left: try again.
    bool PauseAfter(DWORD dwError);

private:
    DWORD m_dwBoundMs;
    DWORD m_dwStart = GetTickCount();
    DWORD m_dwPauseMs = 50;
};

// True for the codes with which a held file fails: a sharing or lock violation, or access denied (a file
// being deleted, or still held by a scanner, refuses that way).
bool IsHeldFileError(DWORD dwError);

// The box of a file held past the bound, naming it: S_OK never; the failure to end the step with.
HRESULT ReportHeldFile(DWORD dwError, const _bstr_t& bsPath);

// Opens a cache file for writing from its start (CREATE_ALWAYS, read sharing only), waiting out holders:
// ERROR_SUCCESS, or the failure, not reported.
DWORD OpenCacheFileForWriting(const _bstr_t& bsPath, CUniqueHFile& hFile);
// The same, a failure reported: a held file by ReportHeldFile, any other with pszSentence.
HRESULT CreateCacheFile(const _bstr_t& bsPath, const wchar_t* pszSentence, CUniqueHFile& hFile);

// Removes a file, a link (without touching what it points at) or a folder with everything in it, waiting
// out holders: S_OK when nothing is left at the path (nothing there to begin with included), otherwise the
// Win32 failure as an HRESULT, not reported: the caller knows what the item was for.
// dwHeldWaitMs: how long holders are waited out (0: a held item ends the removal at once).
HRESULT RemoveCacheItem(const _bstr_t& bsPath, DWORD dwHeldWaitMs = c_dwHeldFileWaitMs);

// The item's kind at a path, links told apart from what they point at.
enum class EItemKind
{
    None,
    File,
    Folder,
    Link,
};
// pcbSize, when given, receives the item's size (0 for a folder or when there is none).
EItemKind GetItemKind(const wchar_t* szPath, ULONGLONG* pcbSize = nullptr);

// True when the file (or folder) exists with exactly this size; nothing else is compared.
bool IsFileOfSize(const _bstr_t& bsPath, ULARGE_INTEGER size);

// Writes a whole buffer to an open file: S_OK, or the Win32 failure as an HRESULT (ERROR_DISK_FULL for a
// write that came up short). Nothing is reported: the caller names the file.
HRESULT WriteWholeBuffer(HANDLE hFile, const void* pvData, DWORD cbData);
} // namespace corvane
