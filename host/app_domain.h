// The application step: start the runtime, unpack the pack, create the domain and call the managed entry.
#pragma once

#include "base/com_support.h"

namespace corvane
{
// The entry method's integer result, or the failure code of the first failing step (reported).
HRESULT RunManagedApplication(ICorRuntimeHostPtr oClrHost);
} // namespace corvane
