// The main flow: everything after the splash screen, from the runtime shim to the managed application.
#pragma once

#include "requirements/version.h"

namespace corvane
{
// The two minimum versions the application demands of the runtime and of the framework.
void InitRequiredVersions(CVersion4& verClrRequired, CVersion4& verNetfxRequired);

// The outcome of the start-up after the splash screen; negative when a step failed (already reported).
HRESULT LoadAndRunApplication();
} // namespace corvane
