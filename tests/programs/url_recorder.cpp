// url-recorder: stands in for the web browser in the test prefix. It appends the address it was asked
// to open to the file named by CORVANE_URL_LOG, so that a test sees exactly what the launcher opened.
#include <windows.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR pszCmdLine, int)
{
    wchar_t szLog[MAX_PATH];
    if (!GetEnvironmentVariableW(L"CORVANE_URL_LOG", szLog, MAX_PATH)) return 1;
    std::wstring url(pszCmdLine);
    if (url.size() >= 2 && url.front() == L'"' && url.back() == L'"') url = url.substr(1, url.size() - 2);
    const HANDLE hFile = CreateFileW(szLog, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) return 1;
    url += L"\n";
    const int cb = WideCharToMultiByte(CP_UTF8, 0, url.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(cb), '\0');
    WideCharToMultiByte(CP_UTF8, 0, url.c_str(), -1, &utf8[0], cb, nullptr, nullptr);
    DWORD dwWritten = 0;
    WriteFile(hFile, utf8.data(), static_cast<DWORD>(cb - 1), &dwWritten, nullptr);
    CloseHandle(hFile);
    return 0;
}
