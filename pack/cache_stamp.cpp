// The cache stamp: the identity of the digests that the folder was last filled from, in a file beside it.
#include "cache_stamp.h"

#include "base/error_report.h"
#include "cache_files.h"

#include <cstring>

namespace corvane
{
_bstr_t GetCacheStampPath(const _bstr_t& bsFolder)
{
    return Joined({bsFolder, L".stamp"});
}

bool IsCacheStampOf(const _bstr_t& bsFolder, const BYTE* pbStamp, DWORD cbStamp)
{
    const CUniqueHFile hFile(CreateFileW(GetCacheStampPath(bsFolder), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    BYTE buffer[64];
    DWORD cbRead = 0;
    // One byte more than the stamp is asked for, so that a longer file never matches.
    return hFile.IsValid() && cbStamp < sizeof(buffer) &&
           ReadFile(hFile.Get(), buffer, cbStamp + 1, &cbRead, nullptr) && cbRead == cbStamp &&
           memcmp(buffer, pbStamp, cbStamp) == 0;
}

void WriteCacheStamp(const _bstr_t& bsFolder, const BYTE* pbStamp, DWORD cbStamp)
{
    // A short write leaves a stamp of another length, which never matches.
    CUniqueHFile hFile;
    DWORD dwWritten = 0;
    if (OpenCacheFileForWriting(GetCacheStampPath(bsFolder), hFile) == ERROR_SUCCESS)
        WriteFile(hFile.Get(), pbStamp, cbStamp, &dwWritten, nullptr);
}

HRESULT RemoveCacheStamp(const _bstr_t& bsFolder)
{
    const _bstr_t bsStamp = GetCacheStampPath(bsFolder);
    const HRESULT hr = RemoveCacheItem(bsStamp);
    if (SUCCEEDED(hr)) return S_OK;
    if (IsHeldFileError(HRESULT_CODE(hr))) return ReportHeldFile(HRESULT_CODE(hr), bsStamp);
    return ReportWin32Error(HRESULT_CODE(hr),
                            Joined({L"Could not remove the product content cache stamp ", Quoted(bsStamp),
                                    L", which must go before files change."}));
}
} // namespace corvane
