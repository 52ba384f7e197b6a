// Runtime binding: a runtime host obtained through the version-4 or the version-2 hosting interfaces.
#pragma once

#include "clr_interfaces.h"
#include "requirements/version.h"

// Bound (host present), not available (no host, hr not negative, nothing reported) or failed (no host,
// negative hr, already reported). Holds one reference on the host.
struct CClrBindResult
{
    explicit CClrBindResult(HRESULT hrResult) : hr(hrResult) {}
    CClrBindResult(HRESULT hrResult, CVersion4 ver, ICorRuntimeHostPtr oHost)
        : hr(hrResult), verClr(ver), oClrHost(oHost)
    {
    }

    HRESULT hr;
    CVersion4 verClr;
    ICorRuntimeHostPtr oClrHost;
};

// The runtime's version as its version text gives it; raises _com_error when that cannot be read.
CVersion4 GetRuntimeInfoVersion(ICLRRuntimeInfoPtr oRuntimeInfo);

// The newest installed runtime that meets the minimum, through the shim's meta host.
CClrBindResult BindClrV4(HMODULE hmodMscoree, CVersion4 verClrRequired, CVersion4 verNetfxRequired);

// The installed runtime through the shim's flat exports, for shims older than the meta host.
CClrBindResult BindClrV2(HMODULE hmodMscoree, CVersion4 verClrRequired, CVersion4 verNetfxRequired);
