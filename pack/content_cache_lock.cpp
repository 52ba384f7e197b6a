// The cache folder's lock and in-use mark, both named by the folder's identity.
#include "content_cache_lock.h"

#include "base/message_pump.h"
#include "base/product.h"

#include <cstdio>
#include <cwctype>

namespace corvane
{
namespace
{
_bstr_t GetInUseMarkName(const _bstr_t& bsLockName)
{
    return Joined({bsLockName, L".InUse"});
}
} // namespace

_bstr_t GetContentCacheLockName(const wchar_t* szFolder)
{
    unsigned long long ullIdentity = 0;
    unsigned long ulVolume = 0;
    const CUniqueHFile hFolder(CreateFileW(szFolder, FILE_READ_ATTRIBUTES,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info = {};
    if (hFolder.IsValid() && GetFileInformationByHandle(hFolder.Get(), &info))
    {
        ulVolume = info.dwVolumeSerialNumber;
        ullIdentity = static_cast<unsigned long long>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    }
    else
    {
        // Object names take no further backslash and at most MAX_PATH characters: the path goes in hashed.
        ullIdentity = 14695981039346656037ull;
        for (const wchar_t* pch = szFolder; *pch; ++pch)
        {
            ullIdentity ^= static_cast<unsigned short>(towupper(*pch));
            ullIdentity *= 1099511628211ull;
        }
    }
    wchar_t szIdentity[32];
    swprintf(szIdentity, 32, L"%08lX.%08lX%08lX", ulVolume, static_cast<unsigned long>(ullIdentity >> 32),
             static_cast<unsigned long>(ullIdentity & 0xFFFFFFFF));
    return Joined({L"Local\\", g_szMakerName, L".", g_szProductName, L".ContentCache.", szIdentity});
}

CContentCacheLock::CContentCacheLock(const _bstr_t& bsLockName, DWORD dwWaitMs)
    : m_hMutex(CreateMutexW(nullptr, FALSE, bsLockName))
{
    m_fHeld = m_hMutex.IsValid() && WaitPumpingMessages(m_hMutex.Get(), dwWaitMs);
}

CContentCacheLock::~CContentCacheLock()
{
    ReleaseBeforeErrorBox();
}

void CContentCacheLock::ReleaseBeforeErrorBox()
{
    if (m_fHeld) ReleaseMutex(m_hMutex.Get());
    m_fHeld = false;
}

bool IsContentFolderInUse(const _bstr_t& bsLockName)
{
    const CUniqueHandle hMark(OpenEventW(SYNCHRONIZE, FALSE, GetInUseMarkName(bsLockName)));
    return hMark.IsValid();
}

void MarkContentFolderInUse(const _bstr_t& bsLockName)
{
    // Held until the process ends: the application runs from the folder for as long as the process lives.
    static CUniqueHandle s_hMark;
    s_hMark.Reset(CreateEventW(nullptr, TRUE, FALSE, GetInUseMarkName(bsLockName)));
}

HRESULT ReportContentFolderInUse(const _bstr_t& bsFolder, const _bstr_t& bsPath)
{
    return ReportWin32Error(ERROR_BUSY,
                            Joined({L"Another copy of ", g_szProductName, L" is running from ",
                                    Quoted(bsFolder), L", and this start would have to change ",
                                    Quoted(bsPath), L" in it. Close the other copy and start again."}));
}
} // namespace corvane
