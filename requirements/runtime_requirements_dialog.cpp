// The runtime requirements dialog: explains missing or outdated runtimes and offers the download page.
#include "runtime_requirements_dialog.h"

#include "base/error_report.h"
#include "base/event_log.h"
#include "base/product.h"
#include "base/system_library.h"

namespace corvane
{
// Over https (the build refuses another address): a runtime installer must never be fetched through an
// unauthenticated channel.
const wchar_t g_szFrameworkDownloadUrl[] = CORVANE_DOWNLOAD_URL;

namespace
{
// hrFailure: what the start ends with unless the user retries; the event log keeps it with the first box's
// text. The Retry box follows from that box, so one dialog leaves one event.
HRESULT ShowRequirementsBoxes(CVersion4 verClrFound, CVersion4 verNetfxFound, int fOfferRetry,
                              CVersion4 verClrRequired, CVersion4 verNetfxRequired, HRESULT hrFailure)
{
    const _bstr_t bsTitle = Joined({g_szProductName, L" \x2013 .NET Runtime Requirements"});

    _bstr_t bsText = Joined({L"To run ", g_szMakerName, L" ", g_szProductName,
                             L", you must have the .NET Framework installed on your computer.\n\n"});
    if (!verNetfxFound.IsZero())
        bsText += Joined({L"Maximum .NET Framework version found: ", verNetfxFound.ToText(4), L".\n"});
    if (!verClrFound.IsZero())
        bsText += Joined({L"Maximum CLR version found: ", verClrFound.ToText(4), L".\n"});
    bsText += Joined(
        {L"Minimum .NET Framework version required: ", verNetfxRequired.ToText(4), L" (Full edition).\n"});
    bsText += Joined({L"Minimum CLR version required: ", verClrRequired.ToText(4), L".\n\n"});
    bsText += L"Would you like to open the Mirosoft website with a free download of the .NET Framework?";

    WriteBoxEvent(bsText, hrFailure);
    const HWND hwndOwner = GetMessageBoxOwner();
    if (MessageBoxW(hwndOwner, bsText, bsTitle, MB_YESNO | MB_ICONERROR) == IDYES)
    {
        OpenWithShell(g_szFrameworkDownloadUrl, SW_SHOWDEFAULT);
        return E_ABORT;
    }
    if (!fOfferRetry) return E_ABORT;

    bsText = Joined(
        {g_szProductName,
         L" has found the CLR version capable of running its code, but the .NET Framework version is "
         L"outdated. Some of the features might be missing, and the application might not run properly."
         L"\n\nIf you hit Retry, the application will attempt to start in the current environment. If it "
         L"fails, please proceed with installing a newer .NET Framework version."});
    if (MessageBoxW(hwndOwner, bsText, bsTitle, MB_RETRYCANCEL | MB_ICONWARNING) == IDRETRY) return S_FALSE;
    return E_ABORT;
}
} // namespace

HRESULT ShowRuntimeRequirementsDialog(CVersion4 verClrFound, CVersion4 verNetfxFound, int fOfferRetry,
                                      CVersion4 verClrRequired, CVersion4 verNetfxRequired)
{
    return ShowRequirementsBoxes(verClrFound, verNetfxFound, fOfferRetry, verClrRequired, verNetfxRequired,
                                 E_ABORT);
}

HRESULT ExplainMissingRuntime(CVersion4 verClrFound, CVersion4 verClrRequired, CVersion4 verNetfxRequired,
                              HRESULT hrEnd)
{
    ShowRequirementsBoxes(verClrFound, CVersion4(), FALSE, verClrRequired, verNetfxRequired, hrEnd);
    return hrEnd;
}
} // namespace corvane
