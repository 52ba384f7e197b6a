// Who else works on a cache folder: the lock a start holds while it unpacks, and the mark of a running
// application.
#pragma once

#include "base/com_support.h"
#include "base/error_report.h"
#include "base/unique_any.h"

namespace corvane
{
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
class CContentCacheLock : private CReleasedBeforeErrorBox
{
public:
    CContentCacheLock(const _bstr_t& bsLockName, DWORD dwWaitMs);
    ~CContentCacheLock();

    bool IsHeld() const { return m_fHeld; }

private:
    void ReleaseBeforeErrorBox() override;

    CUniqueHandle m_hMutex;
    bool m_fHeld = false;
};

// How long a start waits for another start's unpacking: the largest pack takes seconds, a start that
// waited this long stands behind a hung one.
const DWORD c_dwContentCacheLockWaitMs = 5 * 60 * 1000;

// A running application's folder: every start that runs the application marks its folder in use until its
// process ends, killed or not (the mark is a named object, which the system closes with the process).
// Another start must then change nothing in it, and the cleanup of old versions passes it by.
// Both take the folder's lock name (GetContentCacheLockName).
bool IsContentFolderInUse(const _bstr_t& bsLockName);
void MarkContentFolderInUse(const _bstr_t& bsLockName);
// The box of a start that would have to change a file (or folder) at bsPath of a folder in use.
HRESULT ReportContentFolderInUse(const _bstr_t& bsFolder, const _bstr_t& bsPath);
} // namespace corvane
