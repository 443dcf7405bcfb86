// Packaging round trip: what the packaging tool packs is exactly what the
// setup's split and unpacking give back.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/setup_context.h"
#include "common/test_support.h"
#include "formats/setup_image.h"
#include "formats/sha256.h"
#include "payload/archive.h"
#include "payload/archive_copy.h"
#include "payload/own_image.h"
#include "zip_builder.h"

namespace {

using Tree = std::vector<std::pair<std::wstring, std::string>>;

std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

void ExpectSameTree(const std::wstring& expectedRoot, const std::wstring& actualRoot)
{
    Tree expected, actual;
    ReadTree(expectedRoot, &expected);
    ReadTree(actualRoot, &actual);
    ASSERT_FALSE(expected.empty());
    ASSERT_EQ(expected.size(), actual.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(expected[i].first, actual[i].first);
        EXPECT_TRUE(expected[i].second == actual[i].second) << Narrow(expected[i].first);
    }
}

// Splits `setup` as the running installer would and unpacks it into `out`.
void SplitAndUnpack(const std::wstring& setup, const std::wstring& work, const std::wstring& out,
                    std::wstring* plainInstaller)
{
    auto ctx = std::make_unique<SetupContext>();
    std::memset(ctx.get(), 0, sizeof(SetupContext));
    CreateDirectoryW(work.c_str(), nullptr);
    wcscpy(ctx->workFolder, work.c_str());
    wcscpy(ctx->ownFilePath, setup.c_str());
    ASSERT_TRUE(HoldOwnFile(setup.c_str()));
    // The archive's copy is written on a thread of its own: waited for.
    bool split = SplitOwnFile(*ctx) && FinishArchiveCopy(nullptr);
    ReleaseOwnFile();
    ASSERT_TRUE(split);
    ASSERT_TRUE(UnpackArchive(ctx->archivePath, out.c_str(), nullptr));
    *plainInstaller = ctx->plainInstallerPath;
}

std::string WithoutLoaderFlags(std::string image)
{
    size_t at = 0;
    if (formats::image::Classify(formats::ByteSpan{reinterpret_cast<const uint8_t*>(image.data()), image.size()},
                                 &at) == formats::image::Kind::Pe32Plus)
        std::memset(&image[at], 0, 4);
    return image;
}

}  // namespace

TEST(RoundTrip, DemoSetupGivesBackItsPayload)
{
    ScratchFolder dir(L"rt");
    std::wstring plain;
    SplitAndUnpack(BuildDir() + L"\\demo\\ZerdaIME3_Setup.exe", dir / L"work", dir / L"out", &plain);
    ExpectSameTree(BuildDir() + L"\\demo\\payload", dir / L"out");

    // The plain installer is the built one with only its payload offset set.
    std::string built, split;
    ASSERT_TRUE(ReadFileBytes(BuildDir() + L"\\installer.exe", &built));
    ASSERT_TRUE(ReadFileBytes(plain, &split));
    ASSERT_EQ(built.size(), split.size());
    EXPECT_TRUE(WithoutLoaderFlags(built) == WithoutLoaderFlags(split));
    EXPECT_EQ(built.size(), ReadPayloadOffset(reinterpret_cast<const BYTE*>(split.data()),
                                              static_cast<DWORD>(split.size())));
}

// The Windows build of the packaging tool, run here under Wine.
TEST(RoundTrip, PacktoolExeOnOddContent)
{
    ScratchFolder dir(L"rtp");
    std::wstring in = dir / L"in";
    CreateDirectoryW(in.c_str(), nullptr);
    CreateDirectoryW((in + L"\\$dataFiles$").c_str(), nullptr);
    CreateDirectoryW((in + L"\\a").c_str(), nullptr);
    CreateDirectoryW((in + L"\\a\\b").c_str(), nullptr);
    std::string random(200000, '\0');
    uint32_t x = 7;
    for (char& c : random) c = static_cast<char>((x = x * 1664525u + 1013904223u) >> 24);
    ASSERT_TRUE(WriteFileBytes(in + L"\\a\\b\\random.bin", random.data(), random.size()));
    ASSERT_TRUE(WriteFileText(in + L"\\a\\empty.txt", ""));
    // What the setup needs besides: a configuration it loads and the drivers.
    ASSERT_TRUE(CopyFileW((BuildDir() + L"\\demo\\payload\\$dataFiles$\\config.dsc").c_str(),
                          (in + L"\\$dataFiles$\\config.dsc").c_str(), FALSE));
    CreateDirectoryW((in + L"\\x86").c_str(), nullptr);
    ASSERT_TRUE(WriteFileText(in + L"\\zerdaIME.ime", std::string(5000, 'c')));
    ASSERT_TRUE(WriteFileText(in + L"\\x86\\zerdaIME.ime", "32"));
    std::string name63(59, 'n');
    ASSERT_TRUE(WriteFileText(in + L"\\" + std::wstring(name63.begin(), name63.end()) + L".txt", "63"));

    std::wstring tool = L"\"" + BuildDir() + L"\\packtool\\packtool.exe\"";
    std::wstring installer = L"\"" + BuildDir() + L"\\installer.exe\"";
    std::wstring setup = dir / L"setup.exe";
    ASSERT_EQ(0, RunAndWait(tool + L" pack " + installer + L" \"" + in + L"\" \"" + setup + L"\""));

    std::wstring plain;
    SplitAndUnpack(setup, dir / L"work", dir / L"out", &plain);
    ExpectSameTree(in, dir / L"out");

    // A name of 64 bytes is refused, and nothing is left behind.
    std::wstring setup2 = dir / L"setup2.exe";
    ASSERT_TRUE(WriteFileText(in + L"\\" + std::wstring(name63.begin(), name63.end()) + L"x.txt", "64"));
    EXPECT_NE(0, RunAndWait(tool + L" pack " + installer + L" \"" + in + L"\" \"" + setup2 + L"\""));
    EXPECT_FALSE(FileExists(setup2));
    Tree left;
    ReadTree(dir.Path(), &left);
    for (const auto& f : left) EXPECT_EQ(std::wstring::npos, f.first.find(L".partial")) << Narrow(f.first);
}

// The demo payload's own programs do what the setup relies on.
TEST(DemoPayload, ProgramsDriversAndDataFiles)
{
    std::wstring payload = BuildDir() + L"\\demo\\payload";
    wchar_t base[MAX_PATH] = L"";
    ASSERT_GT(GetEnvironmentVariableW(L"ALLUSERSPROFILE", base, MAX_PATH), 0u);
    std::wstring log = std::wstring(base) + L"\\VarekInputTool\\calls.log";
    std::string before;
    ReadFileBytes(log, &before);

    std::wstring tool = L"\"" + payload + L"\\tools\\VarekInputTool.exe\"";
    EXPECT_EQ(0, RunAndWait(tool + L" /do=zixun"));
    EXPECT_EQ(1, RunAndWait(tool + L" /do=nothing"));
    std::string after;
    ASSERT_TRUE(ReadFileBytes(log, &after));
    ASSERT_GT(after.size(), before.size());
    EXPECT_EQ("/do=zixun\r\n/do=nothing\r\n", after.substr(before.size()));

    std::wstring config = L"\"" + payload + L"\\config.exe\"";
    EXPECT_EQ(0, RunAndWait(config + L" /n {7A3C4E1D-5B2F-4C8A-9E61-2D0F3B8A4C57} /do anjianshezhi"));
    EXPECT_EQ(1, RunAndWait(config));

    // Both drivers carry a version resource with a translation table; the
    // 64-bit one has the icon that the key-functions shortcut names (16).
    for (const wchar_t* driver : {L"\\zerdaIME.ime", L"\\x86\\zerdaIME.ime"}) {
        std::wstring path = payload + driver;
        DWORD handle = 0;
        DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
        ASSERT_GT(size, 0u) << Narrow(path);
        std::vector<BYTE> info(size);
        ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));
        void* translation = nullptr;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", &translation, &length));
        EXPECT_GE(length, 4u);
    }
    EXPECT_GE(ExtractIconExW((payload + L"\\zerdaIME.ime").c_str(), -1, nullptr, nullptr, 0), 17u);

    std::string temp;
    ASSERT_TRUE(ReadFileBytes(payload + L"\\$dataFiles$\\temp.dmg", &temp));
    EXPECT_GE(temp.size(), 65672u);
    EXPECT_TRUE(FileExists(payload + L"\\$fonts$\\UKIJTzTr.TTF"));
}

// The digest, fed in pieces of every kind (a part block, whole blocks, the
// rest), equals the system's SHA-256 of the same bytes, on whichever block
// function this processor takes.
TEST(Digest, EqualsTheSystemsForAnyPieces)
{
    std::string data;
    for (int i = 0; i < 5000; ++i) data += static_cast<char>((i * 131) ^ (i >> 3));
    for (size_t length : {0u, 1u, 55u, 56u, 63u, 64u, 65u, 127u, 128u, 129u, 1000u, 4097u, 5000u}) {
        const std::string message = data.substr(0, length);
        const std::wstring expected = Sha256Text(message);
        ASSERT_EQ(64u, expected.size());
        for (size_t piece : {1u, 7u, 64u, 100u, 5000u}) {
            formats::Sha256 hash;
            for (size_t at = 0; at < length; at += piece) {
                size_t take = length - at < piece ? length - at : piece;
                hash.Update(reinterpret_cast<const uint8_t*>(message.data()) + at, take);
            }
            uint8_t digest[formats::Sha256::kDigestBytes];
            char text[formats::Sha256::kTextChars];
            hash.Finish(digest);
            formats::DigestText(digest, text);
            EXPECT_EQ(Narrow(expected), text) << "length " << length << ", pieces of " << piece;
        }
    }
}
