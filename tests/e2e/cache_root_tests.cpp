// Where the content cache lies when an administrator's policy or the user's variable moves its root, what
// the trace says about it, and the one box that a root which cannot hold the cache gives.
#include "harness/wine_test_env.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace
{
const wchar_t c_szPolicies[] = L"Software\\Policies";
const wchar_t c_szPolicyKey[] = L"Software\\Policies\\" TEST_MAKER L"\\" TEST_PRODUCT;
const std::wstring c_fromPolicy =
    std::wstring(L"from the policy value CacheRoot of HKEY_LOCAL_MACHINE\\") + c_szPolicyKey;
const std::wstring c_fromVariable = L"from the environment variable CORVANE_CACHE_ROOT";

// The policy as an administrator's 64-bit tools write it, whichever flavour the test is built as; the
// maker's policy key is gone again afterwards.
class CCacheRootPolicy
{
public:
    CCacheRootPolicy(DWORD dwType, const std::wstring& value)
    {
        if (dwType == REG_NONE) return;
        HKEY hkey = nullptr;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, c_szPolicyKey, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY,
                            nullptr, &hkey, nullptr) != ERROR_SUCCESS)
            throw std::runtime_error("cannot create the policy key");
        RegSetValueExW(hkey, L"CacheRoot", 0, dwType, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(hkey);
    }
    CCacheRootPolicy(const CCacheRootPolicy&) = delete;
    CCacheRootPolicy& operator=(const CCacheRootPolicy&) = delete;
    ~CCacheRootPolicy()
    {
        HKEY hkey = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, c_szPolicies, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &hkey) !=
            ERROR_SUCCESS)
            return;
        RegDeleteTreeW(hkey, TEST_MAKER);
        RegCloseKey(hkey);
    }
};

// A Win32 failure as the box words it: the system's text as it is, then the code in brackets.
std::wstring Win32Tail(DWORD dwCode)
{
    wchar_t sz[4096] = {};
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, dwCode, 0, sz, 4096,
                   nullptr);
    EXPECT_NE(sz[0], L'\0') << "no system text for " << dwCode;
    return sz + std::wstring(L" (") + std::to_wstring(dwCode) + L")";
}

::testing::AssertionResult HasLineWith(const std::vector<std::string>& lines, const std::string& part)
{
    std::string all;
    for (const std::string& line : lines)
    {
        if (line.find(part) != std::string::npos) return ::testing::AssertionSuccess();
        all += "\n  " + line;
    }
    return ::testing::AssertionFailure() << "no line with " << part << " in:" << all;
}
} // namespace

TEST(CacheRoot, PolicyThenVariableThenTemporaryFolderAndANamedRootThatCannotHoldTheCacheIsReported)
{
    InstallSimulatedRuntime(L"full");
    CTempFolder scratch(L"cache-root");
    const std::wstring temp = scratch / L"temp";
    const std::wstring policyRoot = scratch / L"policy root";
    const std::wstring variableRoot = scratch / L"variable root";
    const std::wstring expandedRoot = scratch / L"expanded";
    const std::wstring missing = scratch / L"missing";
    const std::wstring file = scratch / L"a file";
    for (const std::wstring& folder : {temp, policyRoot, variableRoot, expandedRoot})
        CreateDirectoryW(folder.c_str(), nullptr);
    WriteFileBytes(file, "not a folder");

    const struct
    {
        const char* what;
        DWORD dwPolicyType; // REG_NONE: no policy
        std::wstring policy;
        std::wstring variable; // empty: not set
        std::wstring root;     // where the cache must lie; empty: the start fails with the box
        std::wstring from;     // the source the trace or the box names
        DWORD dwError;
    } rows[] = {
        {"no policy, no variable", REG_NONE, L"", L"", temp, L"the temporary folder", 0},
        {"the policy", REG_SZ, policyRoot, L"", policyRoot, c_fromPolicy, 0},
        {"the variable", REG_NONE, L"", variableRoot, variableRoot, c_fromVariable, 0},
        {"both: the policy wins", REG_SZ, policyRoot, variableRoot, policyRoot, c_fromPolicy, 0},
        {"an expandable policy", REG_EXPAND_SZ, L"%CORVANE_TEST_SCRATCH%\\expanded", L"", expandedRoot,
         c_fromPolicy, 0},
        {"a missing root", REG_NONE, L"", missing, L"", c_fromVariable, ERROR_FILE_NOT_FOUND},
        {"a file as root", REG_SZ, file, L"", L"", c_fromPolicy, ERROR_DIRECTORY},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.what);
        for (const std::wstring& folder : {temp, policyRoot, variableRoot, expandedRoot})
            RemoveTree(folder + L"\\" TEST_MAKER);
        const std::wstring trace = scratch / L"trace.log";
        DeleteFileW(trace.c_str());
        const CCacheRootPolicy policy(row.dwPolicyType, row.policy);
        CLauncherStart start;
        start.exePath = BuildPath(L"tests\\packs\\corvane-pack-full.exe");
        start.tempFolder = temp;
        start.clrLog = scratch / L"clr.log";
        DeleteFileW(start.clrLog.c_str());
        start.env = {{L"CORVANE_TEST_SCRATCH", scratch.Path()}, {L"CORVANE_TRACE", trace}};
        if (!row.variable.empty()) start.env.emplace_back(L"CORVANE_CACHE_ROOT", row.variable);
        const CLaunchResult result = start.Run();

        if (row.root.empty())
        {
            const std::wstring named = row.dwPolicyType == REG_NONE ? row.variable : row.policy;
            ASSERT_EQ(result.boxes.size(), 1u) << Narrow(result.transcript);
            EXPECT_EQ(result.boxes[0].caption, TEST_LOADING_CAPTION);
            EXPECT_EQ(result.boxes[0].text, L"Could not use the product content cache root \x201C" + named +
                                                L"\x201D " + row.from + L". " + Win32Tail(row.dwError));
            EXPECT_EQ(result.exitCode, static_cast<DWORD>(HRESULT_FROM_WIN32(row.dwError)));
            EXPECT_FALSE(HasLineWith(ReadClrLog(start.clrLog), "put_ApplicationBase"));
            for (const std::wstring& folder : {temp, policyRoot, variableRoot, expandedRoot})
                EXPECT_EQ(GetFileAttributesW((folder + L"\\" TEST_MAKER).c_str()), INVALID_FILE_ATTRIBUTES);
            continue;
        }
        EXPECT_TRUE(result.boxes.empty()) << Narrow(result.transcript);
        EXPECT_EQ(result.exitCode, 0u);
        const std::wstring cache = row.root + L"\\" TEST_CACHE_BELOW_TEMP;
        EXPECT_TRUE(HasLineWith(ReadClrLog(start.clrLog), "put_ApplicationBase \"" + Narrow(cache) + "\""));
        // GetTempPathW ends the temporary folder with a backslash.
        const std::wstring traced = row.root + (row.root == temp ? L"\\, " : L", ") + row.from;
        EXPECT_TRUE(HasLineWith(ReadLines(trace), "content cache root " + Narrow(traced)));
    }
}
