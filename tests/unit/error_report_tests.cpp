// Error boxes: the platform texts of result codes with their fallbacks, the three report forms as the
// user reads them, and the hand-over of the error-information source.
#include "harness/box_answerer.h"
#include "product_names.h"
#include "base/error_report.h"

#include <gtest/gtest.h>

using namespace corvane;

namespace
{
std::wstring Str(const _bstr_t& bs)
{
    return bs.length() ? std::wstring(static_cast<const wchar_t*>(bs)) : std::wstring();
}

// An error object whose description and references a test can see.
class CTestErrorInfo : public IErrorInfo
{
public:
    explicit CTestErrorInfo(const wchar_t* szDescription, HRESULT hrDescription = S_OK)
        : m_description(szDescription), m_hrDescription(hrDescription)
    {
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid != IID_IUnknown && riid != IID_IErrorInfo) return *ppv = nullptr, E_NOINTERFACE;
        *ppv = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --m_refs; }
    HRESULT STDMETHODCALLTYPE GetGUID(GUID* p) override { return *p = GUID_NULL, S_OK; }
    HRESULT STDMETHODCALLTYPE GetSource(BSTR* p) override { return *p = nullptr, E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDescription(BSTR* p) override
    {
        *p = SUCCEEDED(m_hrDescription) ? SysAllocString(m_description) : nullptr;
        return m_hrDescription;
    }
    HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* p) override { return *p = nullptr, E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* p) override { return *p = 0, E_NOTIMPL; }
    ULONG m_refs = 1;

private:
    const wchar_t* m_description;
    HRESULT m_hrDescription;
};

const std::wstring c_caption = TEST_LOADING_CAPTION;
} // namespace

TEST(HresultText, RemovesOneTrailingLineBreakFromTheSystemText)
{
    for (HRESULT hr : {E_FAIL, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), E_ACCESSDENIED})
    {
        const std::wstring text = Str(GetHresultText(hr));
        ASSERT_FALSE(text.empty());
        EXPECT_NE(text.back(), L'\n');
        EXPECT_NE(text.back(), L'\r');
        EXPECT_EQ(text.find(L"Unknown error"), std::wstring::npos) << "hr " << std::hex << hr;
    }
}

TEST(HresultText, FallsBackWhenTheSystemHasNoText)
{
    // Codes this platform has no text for (checked first, so the test says so if that changes).
    wchar_t* pszProbe = nullptr;
    for (HRESULT hr :
         {HRESULT(0x80040201), HRESULT(0x80040200), HRESULT(0x8004FFFF), E_UNEXPECTED, HRESULT(0x80131700)})
    {
        ASSERT_EQ(FormatMessageW(0x1300, nullptr, static_cast<DWORD>(hr), 0x400,
                                 reinterpret_cast<LPWSTR>(&pszProbe), 0, nullptr),
                  0u);
    }
    EXPECT_EQ(Str(GetHresultText(0x80040201)), L"IDispatch error #1");
    EXPECT_EQ(Str(GetHresultText(static_cast<HRESULT>(0x8004FFFF))), L"IDispatch error #65023");
    EXPECT_EQ(Str(GetHresultText(static_cast<HRESULT>(0x80040200))), L"Unknown error 0x80040200");
    EXPECT_EQ(Str(GetHresultText(E_UNEXPECTED)), L"Unknown error 0x8000FFFF");
    EXPECT_EQ(Str(GetHresultText(static_cast<HRESULT>(0x80131700))), L"Unknown error 0x80131700");
}

TEST(Win32ErrorText, KeepsTheSystemLineBreakAndAddsTheDecimalCode)
{
    const std::wstring text = Str(GetWin32ErrorText(ERROR_ALREADY_EXISTS));
    ASSERT_GE(text.size(), 8u);
    EXPECT_EQ(text.substr(text.size() - 8), L"\r\n (183)");
    EXPECT_EQ(Str(GetWin32ErrorText(5)).substr(Str(GetWin32ErrorText(5)).size() - 6), L"\r\n (5)");
}

TEST(Win32ErrorText, BuildsADefinedTextForCodesWithoutSystemText)
{
    EXPECT_EQ(Str(GetWin32ErrorText(0x2AAAAAAA)), L"No system text is available for this error. (715827882)");
}

TEST(MessageText, JoinsPartsInOrderWithNullAndEmptyPartsAsNothing)
{
    const _bstr_t bsPath(L"C:\\a b\\c.dll");
    const _bstr_t bsJoined = Joined({L"Could not open ", Quoted(bsPath), nullptr, L"", _bstr_t(), L"."});
    EXPECT_EQ(Str(bsJoined), L"Could not open \x201C" L"C:\\a b\\c.dll\x201D.");
    EXPECT_EQ(bsJoined.length(), 30u); // the string's own length: nothing allocated beyond the text
    EXPECT_EQ(Str(Joined({nullptr, L""})), L"");
}

TEST(ErrorBoxes, ComErrorShowsSentenceSystemTextAndDescription)
{
    CBoxAnswerer answerer;
    CTestErrorInfo info(L"The managed code said no.");
    info.AddRef(); // the error takes this reference over
    ReportComError(_com_error(E_FAIL, &info, false), L"Could not do the thing.");
    const auto boxes = answerer.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, c_caption);
    EXPECT_EQ(boxes[0].text,
              L"Could not do the thing.\n" + Str(GetHresultText(E_FAIL)) + L"\nThe managed code said no.");
    EXPECT_EQ(boxes[0].owner, nullptr);
    EXPECT_EQ(boxes[0].icon, static_cast<UINT>(MB_ICONERROR));
    ASSERT_EQ(boxes[0].buttons.size(), 1u);
    EXPECT_EQ(boxes[0].buttons[0].first, IDOK);
    EXPECT_EQ(info.m_refs, 1u);
}

TEST(ErrorBoxes, EmptyOrFailingDescriptionAddsNoLine)
{
    CBoxAnswerer answerer;
    CTestErrorInfo empty(L"");
    CTestErrorInfo failing(L"never shown", E_FAIL);
    ReportHresult(E_FAIL, IErrorInfoPtr(&empty), L"First.");
    ReportHresult(E_FAIL, IErrorInfoPtr(&failing), L"Second.");
    ReportHresult(0x80040201, IErrorInfoPtr(), L"Third.\n\nDetail.");
    const auto boxes = answerer.Boxes();
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0].text, L"First.\n" + Str(GetHresultText(E_FAIL)));
    EXPECT_EQ(boxes[1].text, L"Second.\n" + Str(GetHresultText(E_FAIL)));
    EXPECT_EQ(boxes[2].text, L"Third.\n\nDetail.\nIDispatch error #1");
    // The report released exactly the reference it was handed.
    EXPECT_EQ(empty.m_refs, 1u);
    EXPECT_EQ(failing.m_refs, 1u);
}

TEST(ErrorBoxes, Win32ErrorJoinsSentenceAndTextWithABlank)
{
    CBoxAnswerer answerer;
    ReportWin32Error(ERROR_ACCESS_DENIED, L"Could not open the product content cache file for writing.");
    const auto boxes = answerer.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, c_caption);
    EXPECT_EQ(boxes[0].text,
              L"Could not open the product content cache file for writing. " + Str(GetWin32ErrorText(5)));
}

TEST(ErrorBoxes, SourceOfferingNoErrorInfoGivesNoDescription)
{
    // An object without IErrorInfo (here: a plain stream) yields a null source.
    IStream* pStream = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &pStream), S_OK);
    EXPECT_FALSE(GetErrorInfoSource(pStream));
    pStream->Release();
    CTestErrorInfo info(L"x");
    IErrorInfoPtr oSource = GetErrorInfoSource(&info);
    EXPECT_TRUE(oSource);
    EXPECT_EQ(info.m_refs, 2u);
}
