// The runtime requirements dialog: found and required versions, the download offer and the Retry offer.
#pragma once

#include "version.h"

namespace corvane
{
// The .NET Framework download page, opened when the user accepts the offer.
extern const wchar_t g_szFrameworkDownloadUrl[];

// E_ABORT, or S_FALSE when the user declined the download and chose Retry (offered when fOfferRetry).
HRESULT ShowRuntimeRequirementsDialog(CVersion4 verClrFound, CVersion4 verNetfxFound, int fOfferRetry,
                                      CVersion4 verClrRequired, CVersion4 verNetfxRequired);

// A runtime that is missing (verClrFound all zero) or too old: the dialog without the Retry offer, whose
// answer changes nothing; then hrEnd, the result that ends start-up.
HRESULT ExplainMissingRuntime(CVersion4 verClrFound, CVersion4 verClrRequired, CVersion4 verNetfxRequired,
                              HRESULT hrEnd);
} // namespace corvane
