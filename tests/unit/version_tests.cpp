// CVersion4: parsing runtime and registry texts, order, and the text form shown in messages.
#include "requirements/version.h"

#include <gtest/gtest.h>

#include <string>

using namespace corvane;

namespace
{
std::wstring Text(const CVersion4& ver, int nCount = 4)
{
    return std::wstring(static_cast<const wchar_t*>(ver.ToText(nCount)));
}
} // namespace

TEST(Version, ParsesComponentsLikeWcstol)
{
    const struct
    {
        const wchar_t* text;
        const wchar_t* expected;
    } cases[] = {
        {L"", L"0.0.0.0"},
        {L"4", L"4.0.0.0"},
        {L"4.0.30319", L"4.0.30319.0"},
        {L"1.2.3.4.5", L"1.2.3.4"},
        {L"4..5", L"4.0.0.0"},
        {L"4.", L"4.0.0.0"},
        {L".5", L"0.0.0.0"},
        {L"4.x.7", L"4.0.7.0"},
        {L"3.5b.1", L"3.5.1.0"},
        {L" 4.1", L"4.1.0.0"},
        {L"v4.0", L"0.0.0.0"},
        {L"-1.2", L"-1.2.0.0"},
        {L"99999999999", L"2147483647.0.0.0"},
        {L"-99999999999.1", L"-2147483648.1.0.0"},
        {L"3.5.30729.01", L"3.5.30729.1"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Text(CVersion4::ParseComponents(c.text)), c.expected)
            << "text: " << testing::PrintToString(std::wstring(c.text));
    EXPECT_TRUE(CVersion4::ParseComponents(L"").IsZero());
}

TEST(Version, ParseVersionStringSkipsOneLeadingV)
{
    EXPECT_EQ(Text(CVersion4::ParseVersionString(L"v4.0")), L"4.0.0.0");
    EXPECT_EQ(Text(CVersion4::ParseVersionString(L"V4.0")), L"4.0.0.0");
    EXPECT_EQ(Text(CVersion4::ParseVersionString(L"vv4")), L"0.0.0.0");
    EXPECT_EQ(Text(CVersion4::ParseVersionString(L"v2.0.50727")), L"2.0.50727.0");
    EXPECT_EQ(Text(CVersion4::ParseVersionString(L"4.0.30319")), L"4.0.30319.0");
}

TEST(Version, OverlongComponentIsReadFromItsLeadingDigits)
{
    std::wstring text = L"7" + std::wstring(5000, L'0') + L".3";
    EXPECT_EQ(CVersion4::ParseComponents(text.c_str()).GetComponent(0), 2147483647);
    std::wstring padded = L"12" + std::wstring(5000, L'x') + L".3";
    EXPECT_EQ(Text(CVersion4::ParseComponents(padded.c_str())), L"12.3.0.0");
}

TEST(Version, ComparesComponentsInOrderAsSignedNumbers)
{
    const CVersion4 v2000(2, 0, 0, 0), v2001(2, 0, 0, 1);
    EXPECT_TRUE(v2000 < v2001);
    EXPECT_FALSE(v2001 < v2000);
    EXPECT_TRUE(v2001 > v2000);
    EXPECT_TRUE(v2000 == CVersion4(2, 0, 0, 0));
    EXPECT_TRUE(v2000 >= CVersion4(2, 0, 0, 0));
    EXPECT_FALSE(v2000 < CVersion4(2, 0, 0, 0));
    EXPECT_FALSE(v2000 > CVersion4(2, 0, 0, 0));
    EXPECT_TRUE(v2000 != v2001);
    EXPECT_TRUE(CVersion4() > CVersion4(-1, 5, 0, 0));
    EXPECT_TRUE(CVersion4(4, 0, 30319, 0) > CVersion4(3, 5, 30729, 1));
    EXPECT_TRUE(CVersion4(3, 5, 0, 0) < CVersion4(3, 5, 30729, 1));
    EXPECT_TRUE(CVersion4(1, 9, 9, 9) < CVersion4(2, 0, 0, 0)); // the first difference decides
}

TEST(Version, ComponentAccessIgnoresIndexesAboveThree)
{
    CVersion4 ver(1, 2, 3, 4);
    EXPECT_EQ(ver.GetComponent(4), 0);
    ver.SetComponent(7, 9);
    EXPECT_EQ(ver, CVersion4(1, 2, 3, 4));
    ver.SetComponent(2, 0);
    EXPECT_EQ(Text(ver), L"1.2.0.4");
    EXPECT_FALSE(ver.IsZero());
}

TEST(Version, TextFormPrintsTheAskedNumberOfComponents)
{
    const CVersion4 ver(3, 5, 0, 0);
    EXPECT_EQ(Text(ver, 4), L"3.5.0.0");
    EXPECT_EQ(Text(ver, 2), L"3.5");
    EXPECT_EQ(Text(ver, 0), L"");
    EXPECT_EQ(Text(ver, -1), L"");
    EXPECT_EQ(Text(ver, 5), L"3.5.0.0.0");
    EXPECT_EQ(Text(CVersion4(-2147483647 - 1, -1, 0, 7)), L"-2147483648.-1.0.7");
}
