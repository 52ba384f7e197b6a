// Runtime binding: a runtime host obtained through the version-4 or the version-2 hosting interfaces.
#pragma once

#include "host/clr_interfaces.h"
#include "requirements/version.h"

namespace corvane
{
// A bound runtime: its version and its host, on which the record holds one reference.
struct CClrBindResult
{
    CVersion4 verClr;
    ICorRuntimeHostPtr oClrHost;
};

// Each binding answers S_OK (bound: clrresult filled), S_FALSE (these interfaces are not available here;
// nothing reported, another binding may be tried) or a failure that has been reported.

// The newest installed runtime that meets the minimum, through the shim's meta host.
HRESULT BindClrV4(HMODULE hmodMscoree, CVersion4 verClrRequired, CVersion4 verNetfxRequired,
                  CClrBindResult& clrresult);

// The installed runtime through the shim's flat exports, for shims older than the meta host.
HRESULT BindClrV2(HMODULE hmodMscoree, CVersion4 verClrRequired, CVersion4 verNetfxRequired,
                  CClrBindResult& clrresult);
} // namespace corvane
