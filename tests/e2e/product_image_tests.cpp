// The shipped 32-bit executable itself, read as a file: one x86 GUI program that imports only the
// system's known DLLs and carries the picture, the pack, the icon, the version and the manifest.
#include "harness/wine_test_env.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

namespace
{
const std::wstring c_product = BuildPath(L"..\\win32\\" TEST_EXE_NAME);

template <class T> T At(const std::string& image, size_t offset)
{
    T value{};
    if (offset + sizeof(T) <= image.size()) std::memcpy(&value, image.data() + offset, sizeof(T));
    return value;
}

// The file offset of a relative virtual address, through the section table.
size_t FileOffset(const std::string& image, const IMAGE_NT_HEADERS32& nt, size_t ntOffset, DWORD rva)
{
    const size_t sections =
        ntOffset + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) + nt.FileHeader.SizeOfOptionalHeader;
    for (WORD i = 0; i < nt.FileHeader.NumberOfSections; ++i)
    {
        const auto section = At<IMAGE_SECTION_HEADER>(image, sections + i * sizeof(IMAGE_SECTION_HEADER));
        if (rva >= section.VirtualAddress && rva < section.VirtualAddress + section.Misc.VirtualSize)
            return rva - section.VirtualAddress + section.PointerToRawData;
    }
    return image.size();
}

std::string Resource(HMODULE hmod, LPCWSTR type, int id)
{
    HRSRC hrsrc = FindResourceW(hmod, MAKEINTRESOURCEW(id), type);
    if (!hrsrc) return std::string();
    return std::string(static_cast<const char*>(LockResource(LoadResource(hmod, hrsrc))),
                       SizeofResource(hmod, hrsrc));
}

uint32_t BigEndian32(const std::string& bytes, size_t offset)
{
    return (uint32_t(uint8_t(bytes[offset])) << 24) | (uint32_t(uint8_t(bytes[offset + 1])) << 16) |
           (uint32_t(uint8_t(bytes[offset + 2])) << 8) | uint32_t(uint8_t(bytes[offset + 3]));
}
} // namespace

TEST(ProductImage, IsA32BitGuiProgramImportingOnlyKnownSystemDlls)
{
    const std::string image = ReadFileBytes(c_product);
    ASSERT_GT(image.size(), 4096u) << Narrow(c_product);
    const size_t ntOffset = At<IMAGE_DOS_HEADER>(image, 0).e_lfanew;
    const auto nt = At<IMAGE_NT_HEADERS32>(image, ntOffset);
    ASSERT_EQ(nt.Signature, IMAGE_NT_SIGNATURE);
    EXPECT_EQ(nt.FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
    EXPECT_EQ(nt.OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR32_MAGIC);
    EXPECT_EQ(nt.OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);

    const std::set<std::string> known = {"kernel32.dll", "user32.dll",   "gdi32.dll",   "advapi32.dll",
                                         "ole32.dll",    "oleaut32.dll", "shell32.dll", "msvcrt.dll"};
    const DWORD importRva = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    ASSERT_NE(importRva, 0u);
    std::set<std::string> imported;
    for (size_t offset = FileOffset(image, nt, ntOffset, importRva);;
         offset += sizeof(IMAGE_IMPORT_DESCRIPTOR))
    {
        const auto descriptor = At<IMAGE_IMPORT_DESCRIPTOR>(image, offset);
        if (descriptor.Name == 0) break;
        std::string name(image.c_str() + FileOffset(image, nt, ntOffset, descriptor.Name));
        for (char& ch : name)
            ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
        imported.insert(name);
    }
    for (const auto& name : imported)
        EXPECT_EQ(known.count(name), 1u) << name << " is not a known system DLL";
    EXPECT_EQ(imported.count("kernel32.dll"), 1u);
}

TEST(ProductImage, CarriesTheVersionOfTheCacheFolder)
{
    DWORD dwHandle = 0;
    const DWORD cb = GetFileVersionInfoSizeW(c_product.c_str(), &dwHandle);
    ASSERT_NE(cb, 0u);
    std::string block(cb, '\0');
    ASSERT_TRUE(GetFileVersionInfoW(c_product.c_str(), 0, cb, &block[0]));
    VS_FIXEDFILEINFO* pInfo = nullptr;
    UINT uLen = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&pInfo), &uLen));
    EXPECT_EQ(pInfo->dwFileVersionMS, 0x00010001u);
    EXPECT_EQ(pInfo->dwFileVersionLS, 0x00010021u);
    EXPECT_EQ(pInfo->dwProductVersionMS, 0x00010001u);
    EXPECT_EQ(pInfo->dwProductVersionLS, 0x00010021u);
    for (const auto& entry :
         {std::make_pair(L"CompanyName", TEST_MAKER), std::make_pair(L"ProductName", TEST_PRODUCT),
          std::make_pair(L"FileVersion", L"1.1.1.33")})
    {
        wchar_t* psz = nullptr;
        ASSERT_TRUE(VerQueryValueW(block.data(),
                                   (std::wstring(L"\\StringFileInfo\\040904B0\\") + entry.first).c_str(),
                                   reinterpret_cast<void**>(&psz), &uLen));
        EXPECT_STREQ(psz, entry.second);
    }
}

TEST(ProductImage, CarriesPicturePackIconAndManifest)
{
    const HMODULE hmod = LoadLibraryExW(c_product.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(hmod, nullptr);

    const std::string png = Resource(hmod, RT_RCDATA, 129);
    ASSERT_GT(png.size(), 33u);
    EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    EXPECT_EQ(png.substr(12, 4), "IHDR");
    EXPECT_EQ(BigEndian32(png, 16), 512u);
    EXPECT_EQ(BigEndian32(png, 20), 197u);
    EXPECT_EQ(png[24], 8); // bits per channel
    EXPECT_EQ(png[25], 2); // truecolour without alpha

    const std::string pack = Resource(hmod, RT_RCDATA, 666);
    EXPECT_EQ(pack.substr(0, 4), "ITSF");
    EXPECT_EQ(At<DWORD>(pack, 4), 3u);
    EXPECT_EQ(pack, ReadFileBytes(BuildPath(L"..\\win32\\ProductPack.chm")));

    const std::string group = Resource(hmod, RT_GROUP_ICON, 101);
    ASSERT_GE(group.size(), 6u);
    EXPECT_GE(At<WORD>(group, 4), 3u) << "icon sizes";

    const std::string manifest = Resource(hmod, RT_MANIFEST, 1);
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
    EXPECT_NE(manifest.find("processorArchitecture=\"x86\" publicKeyToken=\"6595b64144ccf1df\""), std::string::npos)
        << "the 32-bit product binds the x86 common controls";
    EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
              std::string::npos);
    FreeLibrary(hmod);
}
