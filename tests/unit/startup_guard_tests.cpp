// The exit-code convention: results, the thrown result codes, and any other exception.
#include "harness/box_answerer.h"
#include "base/error_report.h"
#include "launcher/startup_guard.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace corvane;

TEST(StartupGuard, FailuresAreTheCodeAndEverySuccessIsZero)
{
    EXPECT_EQ(ExitCodeOfStartup([](HINSTANCE) { return S_OK; }, nullptr), 0);
    EXPECT_EQ(ExitCodeOfStartup([](HINSTANCE) { return S_FALSE; }, nullptr), 0);
    EXPECT_EQ(ExitCodeOfStartup([](HINSTANCE) { return HRESULT(0x7FFF); }, nullptr), 0);
    EXPECT_EQ(static_cast<DWORD>(ExitCodeOfStartup([](HINSTANCE) { return E_ABORT; }, nullptr)), 0x80004004u);
}

TEST(StartupGuard, ThrownCodesEndStartUpWithThemAndZeroBecomesEFail)
{
    const DWORD eFail = 0x80004005u;
    EXPECT_EQ(ExitCodeOfStartup([](HINSTANCE) -> HRESULT { throw 5; }, nullptr), 5);
    EXPECT_EQ(static_cast<DWORD>(ExitCodeOfStartup([](HINSTANCE) -> HRESULT { throw 0; }, nullptr)), eFail);
    EXPECT_EQ(static_cast<DWORD>(ExitCodeOfStartup([](HINSTANCE) -> HRESULT { throw 0u; }, nullptr)), eFail);
    EXPECT_EQ(static_cast<DWORD>(ExitCodeOfStartup([](HINSTANCE) -> HRESULT { throw 0x80070005u; }, nullptr)),
              0x80070005u);
    EXPECT_EQ(
        static_cast<DWORD>(ExitCodeOfStartup([](HINSTANCE) -> HRESULT { throw E_ACCESSDENIED; }, nullptr)),
        0x80070005u);
    EXPECT_EQ(static_cast<DWORD>(
                  ExitCodeOfStartup([](HINSTANCE) -> HRESULT { throw CHresultException(0); }, nullptr)),
              eFail);
    EXPECT_EQ(static_cast<DWORD>(
                  ExitCodeOfStartup([](HINSTANCE) -> HRESULT { throw CHresultException(E_ABORT); }, nullptr)),
              0x80004004u);
}

TEST(StartupGuard, OtherExceptionsAreReportedOnceAndEndWithTheirCode)
{
    CBoxAnswerer answerer;
    EXPECT_EQ(static_cast<DWORD>(ExitCodeOfStartup(
                  [](HINSTANCE) -> HRESULT { throw _com_error(HRESULT(0x80131700)); }, nullptr)),
              0x80131700u);
    EXPECT_EQ(static_cast<DWORD>(
                  ExitCodeOfStartup([](HINSTANCE) -> HRESULT { throw std::runtime_error("x"); }, nullptr)),
              0x8000FFFFu);
    const auto boxes = answerer.Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, L"The start-up ended with an unexpected error.\nUnknown error 0x80131700");
    EXPECT_EQ(boxes[1].text, L"The start-up ended with an unexpected error.\nUnknown error 0x8000FFFF");
}
