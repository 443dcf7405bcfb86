// The built setup program as a file: a PE32+ GUI image that needs no runtime
// DLL beside it and carries its manifest.
#include <gtest/gtest.h>

#include <string>

#include "common/test_support.h"

namespace {

std::string ReadInstaller()
{
    std::string image;
    EXPECT_TRUE(ReadFileBytes(BuildDir() + L"\\installer.exe", &image));
    return image;
}

}  // namespace

TEST(ProgramImage, Pe32PlusGuiWithSystemImportsOnly)
{
    std::string image = ReadInstaller();
    ASSERT_GT(image.size(), 0x400u);
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data());
    ASSERT_EQ(IMAGE_DOS_SIGNATURE, dos->e_magic);
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(image.data() + dos->e_lfanew);
    ASSERT_EQ(static_cast<DWORD>(IMAGE_NT_SIGNATURE), nt->Signature);
    EXPECT_EQ(IMAGE_NT_OPTIONAL_HDR64_MAGIC, nt->OptionalHeader.Magic);
    EXPECT_EQ(IMAGE_FILE_MACHINE_AMD64, nt->FileHeader.Machine);
    EXPECT_EQ(IMAGE_SUBSYSTEM_WINDOWS_GUI, nt->OptionalHeader.Subsystem);
    EXPECT_EQ(0u, nt->OptionalHeader.LoaderFlags);  // the plain program carries no payload

    // Loaded as an image the imports can be walked; none may be a MinGW runtime.
    HMODULE module = LoadLibraryExW((BuildDir() + L"\\installer.exe").c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    ASSERT_NE(nullptr, module);
    auto* base = reinterpret_cast<const BYTE*>(module);
    auto* lnt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = lnt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    ASSERT_NE(0u, dir.VirtualAddress);
    int count = 0;
    for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name; ++d, ++count) {
        std::string name = reinterpret_cast<const char*>(base + d->Name);
        for (auto& c : name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        EXPECT_EQ(std::string::npos, name.find("libstdc++")) << name;
        EXPECT_EQ(std::string::npos, name.find("libgcc")) << name;
        EXPECT_EQ(std::string::npos, name.find("libwinpthread")) << name;
        EXPECT_EQ(std::string::npos, name.find("zlib")) << name;
    }
    EXPECT_GT(count, 3);
    FreeLibrary(module);
}

TEST(ProgramImage, ManifestAsksForAdministratorAndCommonControls6)
{
    HMODULE module = LoadLibraryExW((BuildDir() + L"\\installer.exe").c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(nullptr, module);
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(nullptr, found);
    DWORD size = SizeofResource(module, found);
    const char* data = static_cast<const char*>(LockResource(LoadResource(module, found)));
    ASSERT_NE(nullptr, data);
    std::string manifest(data, size);
    EXPECT_NE(std::string::npos, manifest.find("level=\"requireAdministrator\""));
    EXPECT_NE(std::string::npos, manifest.find("Microsoft.Windows.Common-Controls"));
    EXPECT_NE(std::string::npos, manifest.find("version=\"6.0.0.0\""));
    // Drawn for the screen's scale: per monitor where Windows has it, the system's before.
    EXPECT_NE(std::string::npos, manifest.find(">PerMonitorV2, System</dpiAwareness>"));
    EXPECT_NE(std::string::npos, manifest.find(">true</dpiAware>"));
    // The dialogs the start routine runs are in the program.
    for (int id : {129, 133, 135, 140, 141, 142})
        EXPECT_NE(nullptr, FindResourceW(module, MAKEINTRESOURCEW(id), RT_DIALOG)) << id;
    FreeLibrary(module);
}

// Every DLL the image imports must be one the system takes from its own
// folder whatever lies beside the program: a known DLL, or comctl32, which the
// manifest binds to the side-by-side store. Anything else (VERSION.dll, say)
// would be looked up in the downloads folder first.
TEST(ProgramImage, ImportsOnlyDllsTheSystemTakesFromItsOwnFolder)
{
    static const char* const kAllowed[] = {"kernel32.dll", "user32.dll",   "gdi32.dll",    "advapi32.dll",
                                           "shell32.dll",  "ole32.dll",    "oleaut32.dll", "imm32.dll",
                                           "comdlg32.dll", "msvcrt.dll",   "shlwapi.dll",  "psapi.dll",
                                           "msctf.dll",    "comctl32.dll"};
    HMODULE module = LoadLibraryExW((BuildDir() + L"\\installer.exe").c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    ASSERT_NE(nullptr, module);
    auto* base = reinterpret_cast<const BYTE*>(module);
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    ASSERT_NE(0u, dir.VirtualAddress);
    bool kernel = false;
    for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name; ++d) {
        std::string name = reinterpret_cast<const char*>(base + d->Name);
        for (auto& c : name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        bool allowed = false;
        for (const char* known : kAllowed) allowed = allowed || name == known;
        EXPECT_TRUE(allowed) << name << " is imported but is no known DLL";
        kernel = kernel || name == "kernel32.dll";
    }
    EXPECT_TRUE(kernel);
    // Nor delay-loaded: those are looked up by name as well.
    EXPECT_EQ(0u, nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT].VirtualAddress);
    FreeLibrary(module);
}

// Account names are translated with Windows ("Jeder", "Tout le monde"): the
// rights of placed files go to well-known SIDs, and the program neither
// imports nor looks up a name-to-account function.
TEST(ProgramImage, NoAccountIsLookedUpByName)
{
    std::string image = ReadInstaller();
    ASSERT_GT(image.size(), 0x400u);
    EXPECT_EQ(std::string::npos, image.find("LookupAccountName"));
}

// What the build packs and ships: no symbol table, and small.
TEST(ProgramImage, ShippedProgramIsStrippedAndSmall)
{
    std::string image = ReadInstaller();
    ASSERT_GT(image.size(), 0x400u);
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data());
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(image.data() + dos->e_lfanew);
    EXPECT_EQ(0u, nt->FileHeader.PointerToSymbolTable);
    EXPECT_EQ(0u, nt->FileHeader.NumberOfSymbols);
    EXPECT_LE(image.size(), 530u * 1000u);
}
