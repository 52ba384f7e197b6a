// The runtime requirements dialog: found and required versions, the download offer and the Retry offer.
#pragma once

#include "version.h"

// The .NET Framework download page, opened when the user accepts the offer.
extern const wchar_t g_szFrameworkDownloadUrl[];

// E_ABORT, or S_FALSE when the user declined the download and chose Retry (offered when fOfferRetry).
HRESULT ShowRuntimeRequirementsDialog(CVersion4 verClrFound, CVersion4 verNetfxFound, int fOfferRetry,
                                      CVersion4 verClrRequired, CVersion4 verNetfxRequired);
