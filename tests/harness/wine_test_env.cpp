// The test prefix as the tests arrange it.
#include "wine_test_env.h"

#include <gtest/gtest.h>
#include <shellapi.h>

#include <stdexcept>

std::wstring BuildPath(const std::wstring& relative)
{
    return std::wstring(TEST_BINARY_DIR) + L"\\" + relative;
}

std::wstring SourcePath(const std::wstring& relative)
{
    return std::wstring(TEST_SOURCE_DIR) + L"\\" + relative;
}

std::string Narrow(const std::wstring& text)
{
    return ToUtf8(text);
}

std::wstring Widen(const std::string& utf8)
{
    if (utf8.empty()) return std::wstring();
    const int cch = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(cch), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &text[0], cch);
    return text;
}

std::string ReadFileBytes(const std::wstring& path)
{
    const HANDLE hFile = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) return std::string();
    std::string bytes;
    char buffer[65536];
    DWORD dwRead = 0;
    while (ReadFile(hFile, buffer, sizeof(buffer), &dwRead, nullptr) && dwRead)
        bytes.append(buffer, dwRead);
    CloseHandle(hFile);
    return bytes;
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    const HANDLE hFile =
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot write " + Narrow(path));
    DWORD dwWritten = 0;
    WriteFile(hFile, bytes.data(), static_cast<DWORD>(bytes.size()), &dwWritten, nullptr);
    CloseHandle(hFile);
}

std::vector<std::string> ReadLines(const std::wstring& path)
{
    std::vector<std::string> lines;
    const std::string bytes = ReadFileBytes(path);
    size_t start = 0;
    while (start < bytes.size())
    {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        std::string line = bytes.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

void RemoveTree(const std::wstring& path)
{
    WIN32_FIND_DATAW fd;
    const HANDLE hFind = FindFirstFileW((path + L"\\*").c_str(), &fd);
    if (hFind != INVALID_HANDLE_VALUE)
    {
        do
        {
            const std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = path + L"\\" + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
            {
                SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(hFind, &fd));
        FindClose(hFind);
    }
    RemoveDirectoryW(path.c_str());
    DeleteFileW(path.c_str());
}

CTempFolder::CTempFolder(const std::wstring& name)
{
    CreateDirectoryW(BuildPath(L"test-tmp").c_str(), nullptr);
    m_path = BuildPath(L"test-tmp\\" + name);
    RemoveTree(m_path);
    if (!CreateDirectoryW(m_path.c_str(), nullptr))
        throw std::runtime_error("cannot create " + Narrow(m_path));
}

CTempFolder::~CTempFolder()
{
    RemoveTree(m_path);
}

CWineAppSetting::CWineAppSetting(const std::wstring& exeName, const std::wstring& subkey,
                                 const std::wstring& name, const std::wstring& value)
    : m_key(L"Software\\Wine\\AppDefaults\\" + exeName + (subkey.empty() ? L"" : L"\\" + subkey)),
      m_name(name)
{
    HKEY hkey = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, m_key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &hkey, nullptr))
        throw std::runtime_error("cannot create " + Narrow(m_key));
    RegSetValueExW(hkey, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(hkey);
}

CWineAppSetting::~CWineAppSetting()
{
    RegDeleteKeyValueW(HKEY_CURRENT_USER, m_key.c_str(), m_name.c_str());
}

namespace
{
const wchar_t c_szNdp[] = L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP";

HKEY CreateNdpKey(const std::wstring& subkey)
{
    HKEY hkey = nullptr;
    const std::wstring path = subkey.empty() ? c_szNdp : std::wstring(c_szNdp) + L"\\" + subkey;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &hkey, nullptr))
        throw std::runtime_error("cannot create " + Narrow(path));
    return hkey;
}
} // namespace

CNdpRegistry::CNdpRegistry()
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, c_szNdp);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, c_szNdp);
}

CNdpRegistry::~CNdpRegistry()
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, c_szNdp);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, c_szNdp);
}

void CNdpRegistry::CreateRoot()
{
    RegCloseKey(CreateNdpKey(L""));
}

void CNdpRegistry::SetDword(const std::wstring& subkey, const std::wstring& name, DWORD value)
{
    const HKEY hkey = CreateNdpKey(subkey);
    RegSetValueExW(hkey, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    RegCloseKey(hkey);
}

void CNdpRegistry::SetString(const std::wstring& subkey, const std::wstring& name, const std::wstring& value)
{
    const HKEY hkey = CreateNdpKey(subkey);
    RegSetValueExW(hkey, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(hkey);
}

std::wstring SystemFolder()
{
    wchar_t sz[MAX_PATH];
    GetSystemDirectoryW(sz, MAX_PATH);
    return sz;
}

void InstallSimulatedRuntime(const std::wstring& variant)
{
    const std::wstring source = BuildPath(L"fakeclr\\" + variant + L"\\mscoree.dll");
    if (!CopyFileW(source.c_str(), (SystemFolder() + L"\\mscoree.dll").c_str(), FALSE))
        throw std::runtime_error("cannot install " + Narrow(source));
}

void RegisterUrlRecorder()
{
    const std::wstring command = L"\"" + BuildPath(L"tests\\url-recorder.exe") + L"\" \"%1\"";
    HKEY hkey = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, L"https\\shell\\open\\command", 0, nullptr, 0, KEY_WRITE, nullptr,
                        &hkey, nullptr))
        throw std::runtime_error("cannot register the recorder");
    RegSetValueExW(hkey, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                   static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(hkey);
}

CLaunchResult CLauncherStart::Run() const
{
    const std::wstring exeName = exePath.substr(exePath.find_last_of(L'\\') + 1);
    CWineAppSetting shim(exeName, L"DllOverrides", L"mscoree", dllOverride);
    CLaunchOptions options;
    options.exePath = exePath;
    options.workDir = workDir;
    options.answers = answers;
    options.onBox = onBox;
    options.timeoutMs = timeoutMs;
    options.env = env;
    if (!tempFolder.empty())
    {
        options.env.emplace_back(L"TEMP", tempFolder);
        options.env.emplace_back(L"TMP", tempFolder);
    }
    if (!scenarioFile.empty())
    {
        WriteFileBytes(scenarioFile, Narrow(scenario));
        options.env.emplace_back(L"CORVANE_FAKECLR_SCENARIO", scenarioFile);
    }
    if (!clrLog.empty()) options.env.emplace_back(L"CORVANE_FAKECLR_LOG", clrLog);
    if (!urlLog.empty()) options.env.emplace_back(L"CORVANE_URL_LOG", urlLog);
    return RunLauncher(options);
}

std::wstring PlatformHresultText(HRESULT hr)
{
    wchar_t* psz = nullptr;
    if (FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                           FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, static_cast<DWORD>(hr), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                       reinterpret_cast<LPWSTR>(&psz), 0, nullptr) &&
        psz)
    {
        std::wstring text(psz);
        LocalFree(psz);
        if (text.size() > 1 && text.back() == L'\n') text.pop_back();
        if (!text.empty() && text.back() == L'\r') text.pop_back();
        return text;
    }
    wchar_t sz[32];
    const DWORD dw = static_cast<DWORD>(hr);
    if (dw > 0x80040200 && dw <= 0x8004FFFF)
        swprintf(sz, 32, L"IDispatch error #%d", static_cast<int>(dw - 0x80040200));
    else
        swprintf(sz, 32, L"Unknown error 0x%lX", static_cast<unsigned long>(dw));
    return sz;
}

std::vector<std::string> ReadClrLog(const std::wstring& path)
{
    return ReadLines(path);
}

std::vector<std::string> ClrLogProblems(const std::vector<std::string>& log)
{
    std::vector<std::string> problems;
    for (const auto& line : log)
        if (line.rfind("VIOLATION", 0) == 0 || line.rfind("scenario error", 0) == 0 ||
            line.rfind("FATAL", 0) == 0 ||
            (line.rfind("leak ", 0) == 0 && line.rfind("leak ErrorInfo", 0) != 0))
            problems.push_back(line);
    return problems;
}

bool LogHas(const std::vector<std::string>& log, const std::string& prefix)
{
    for (const auto& line : log)
        if (line.rfind(prefix, 0) == 0) return true;
    return false;
}

std::string ReadWineStderr()
{
    const std::wstring path = WinePathOfVariable(L"CORVANE_WINE_STDERR");
    if (path.empty())
    {
        ADD_FAILURE() << "CORVANE_WINE_STDERR is not set: run the test through ctest";
        return std::string();
    }
    return ReadFileBytes(path);
}

std::wstring CurrentTestName()
{
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    return Widen(std::string(info->test_suite_name()) + "." + info->name());
}

CLauncherStart ScenarioStart(const CTempFolder& scratch, const std::wstring& scenario)
{
    CLauncherStart start;
    start.tempFolder = scratch / L"temp";
    CreateDirectoryW(start.tempFolder.c_str(), nullptr);
    start.scenario = scenario;
    start.scenarioFile = scratch / L"scenario.txt";
    start.clrLog = scratch / L"clr.log";
    return start;
}
