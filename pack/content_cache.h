// The content cache: where the product pack is unpacked, and the helpers its writers share.
#pragma once

#include "launcher/com_support.h"

// The per-version cache folder below the temporary folder, created if missing; empty on failure.
_bstr_t GetProductContentCacheFolder();

// Writes a whole buffer to an open file; false when the write failed or came up short, with the
// Win32 code in dwError.
bool WriteWholeBuffer(HANDLE hFile, const void* pvData, DWORD cbData, DWORD& dwError);

// "“" text "”": names and paths are quoted typographically in every message.
_bstr_t Quoted(const _bstr_t& bsText);
