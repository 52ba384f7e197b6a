// The application step: start the runtime, create the domain over the content folder, load the entry
// type, call the managed entry and stop the runtime, each reported where it fails.
#pragma once

#include "host/clr_interfaces.h"

namespace corvane
{
HRESULT StartRuntime(ICorRuntimeHost* pClrHost);

// The domain "Entryway" over the content folder with the product as its application name; without a
// content folder (nothing was unpacked) the runtime's default domain.
HRESULT CreateApplicationDomain(ICorRuntimeHost* pClrHost, const _bstr_t& bsContentFolder,
                                _AppDomainPtr& oAppDomain);

// The entry type of the core assembly, loaded into the domain. A missing domain or assembly (a call that
// succeeded without its object) fails the step that needs it, with E_POINTER.
HRESULT LoadEntryType(_AppDomain* pAppDomain, _TypePtr& oType);

// Calls the entry method with the product name and the splash window; its result as an integer.
HRESULT InvokeEntryMethod(_Type* pType, int& nResult);

HRESULT StopRuntime(ICorRuntimeHost* pClrHost);
} // namespace corvane
