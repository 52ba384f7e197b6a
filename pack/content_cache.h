// The content cache: where the product pack is unpacked, and the file helpers its writers share.
#pragma once

#include "base/com_support.h"

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

// Writes a whole buffer to an open file; false when the write failed or came up short, with the
// Win32 code in dwError.
bool WriteWholeBuffer(HANDLE hFile, const void* pvData, DWORD cbData, DWORD& dwError);
} // namespace corvane
