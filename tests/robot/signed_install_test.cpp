// The signed demo setup that signed_setup_test.sh packs: the split gives back
// the signed plain installer and stops at a cut or damaged signature block,
// the robot installs it as it installs an unsigned one, and the signed
// drivers are placed unchanged. What was placed is copied to
// ZERDA_SIGNING_DIR\placed for the script to verify with osslsigncode.
#include <cstring>
#include <memory>

#include "base/setup_context.h"
#include "payload/archive.h"
#include "payload/archive_copy.h"
#include "payload/own_image.h"
#include "robot_test_support.h"

using namespace robot_test;

namespace {

const wchar_t kFailedCaption[] = L"قاچىلىيالمىدى";

uint32_t Le32(const std::string& s, size_t at)
{
    uint32_t v = 0;
    if (at + 4 <= s.size()) std::memcpy(&v, s.data() + at, 4);
    return v;
}
size_t OptionalHeader(const std::string& image) { return Le32(image, 0x3C) + 24; }
// Data directories follow 112 bytes of a PE32+ optional header, 96 of a PE32 one.
size_t CertEntryAt(const std::string& image)
{
    size_t optional = OptionalHeader(image);
    bool pe32 = optional + 2 <= image.size() && image[optional] == 0x0B && image[optional + 1] == 0x01;
    return optional + (pe32 ? 96 : 112) + 4 * 8;
}

// Splits `setup` as the running setup does.
bool Split(const std::wstring& setup, const std::wstring& work, std::wstring* plain, std::wstring* archive)
{
    auto ctx = std::make_unique<SetupContext>();
    std::memset(ctx.get(), 0, sizeof(SetupContext));
    CreateDirectoryW(work.c_str(), nullptr);
    wcscpy(ctx->workFolder, work.c_str());
    wcscpy(ctx->ownFilePath, setup.c_str());
    HoldOwnFile(setup.c_str());
    // The archive's copy is written on a thread of its own: waited for.
    bool ok = SplitOwnFile(*ctx) && FinishArchiveCopy(nullptr);
    ReleaseOwnFile();
    if (plain) *plain = ctx->plainInstallerPath;
    if (archive) *archive = ctx->archivePath;
    return ok;
}

// The image with LoaderFlags, checksum and certificate entry cleared.
std::string WithoutSignedFields(std::string image)
{
    size_t optional = OptionalHeader(image);
    for (size_t at : {optional + 64, optional + 104, CertEntryAt(image), CertEntryAt(image) + 4})
        if (at + 4 <= image.size()) std::memset(&image[at], 0, 4);
    return image;
}

}  // namespace

TEST_F(InstallRun, SignedSetupSplitsAndInstallsLikeAnUnsignedOne)
{
    const std::wstring dir = EnvString(L"ZERDA_SIGNING_DIR");
    ASSERT_FALSE(dir.empty()) << "started by signed_setup_test.sh";
    const std::wstring placed = dir + L"\\placed\\";
    CreateDirectoryW(placed.c_str(), nullptr);
    setup = dir + L"\\signed.exe";
    const std::string packed = Bytes(setup);
    const size_t offset = PayloadOffset(packed);
    const uint32_t certAt = Le32(packed, CertEntryAt(packed));
    ASSERT_GT(offset, 0u);
    ASSERT_GT(certAt, offset);
    ASSERT_LT(certAt, packed.size());

    // The split: the plain installer with its own signature entry and no
    // payload offset; the archive without the outer signature.
    ScratchFolder scratch(L"sig");
    std::wstring plainPath, archivePath;
    ASSERT_TRUE(Split(setup, scratch / L"work", &plainPath, &archivePath));
    const std::string plain = Bytes(plainPath);
    ASSERT_EQ(offset, plain.size());
    EXPECT_EQ(0u, Le32(plain, OptionalHeader(plain) + 104));
    EXPECT_EQ(offset, size_t(Le32(plain, CertEntryAt(plain))) + Le32(plain, CertEntryAt(plain) + 4));
    EXPECT_NE(Le32(packed, CertEntryAt(packed)), Le32(plain, CertEntryAt(plain)));
    EXPECT_TRUE(WithoutSignedFields(plain) == WithoutSignedFields(packed.substr(0, offset)));
    const std::string archive = Bytes(archivePath);
    EXPECT_TRUE(archive == packed.substr(offset, certAt - offset));
    EXPECT_EQ("PK", archive.substr(0, 2));
    ASSERT_TRUE(CopyFileW(plainPath.c_str(), (placed + L"work-installer.exe").c_str(), FALSE));

    // Unpacked, the payload is the demo's, its PE files now signed copies.
    const std::wstring payload = BuildDir() + L"\\demo\\payload\\";
    ASSERT_TRUE(UnpackArchive(archivePath.c_str(), (scratch / L"out").c_str(), nullptr));
    for (const wchar_t* name : {L"$dataFiles$\\config.dsc", L"main.chm", L"License.html"})
        EXPECT_TRUE(Bytes(payload + name) == Bytes(scratch / L"out\\" + name)) << Narrow(name);
    for (const wchar_t* name : {L"config.exe", L"zerdaIME.ime", L"x86\\zerdaIME.ime"}) {
        std::string original = Bytes(payload + name), copy = Bytes(scratch / L"out\\" + name);
        EXPECT_GT(copy.size(), original.size()) << Narrow(name);
        EXPECT_NE(0u, Le32(copy, CertEntryAt(copy))) << Narrow(name);
    }
    const std::string signedIme64 = Bytes(scratch / L"out\\zerdaIME.ime");
    const std::string signedIme32 = Bytes(scratch / L"out\\x86\\zerdaIME.ime");
    const std::string signedConfig = Bytes(scratch / L"out\\config.exe");

    // A cut or damaged signature block: the split writes nothing, and the
    // setup ends with its own failure message, installing nothing.
    for (const wchar_t* name : {L"truncated.exe", L"damaged.exe"}) {
        SCOPED_TRACE(Narrow(name));
        const std::wstring work = scratch / (std::wstring(L"w-") + name);
        EXPECT_FALSE(Split(dir + L"\\" + name, work, nullptr, nullptr));
        EXPECT_FALSE(FileExists(work + L"\\installer.exe"));
        EXPECT_FALSE(FileExists(work + L"\\makedata.zip"));
        const std::wstring out = TempFolder() + L"zerda_robot_damaged.out";
        RunAndWait(L"cmd /c \"\"" + robot + L"\" install \"" + dir + L"\\" + name + L"\" - --timeout 60 > \"" + out +
                       L"\"\"",
                   90000);
        EXPECT_NE(std::wstring::npos, FromUtf8(Bytes(out)).find(std::wstring(L"message: ") + kFailedCaption))
            << Bytes(out);
        EXPECT_EQ(L"", RegString(HKEY_LOCAL_MACHINE, L"Software\\ZerdaIME3\\" + guid, L"InstallLocation"));
    }

    // The install itself, through the windows.
    InstallThroughTheWindows(L"signed");
    if (HasFatalFailure()) return;
    EXPECT_EQ(SuccessfulLog(), FromUtf8(Bytes(logFile)));
    EXPECT_EQ(installFolder, RegString(HKEY_LOCAL_MACHINE, L"Software\\ZerdaIME3\\" + guid, L"InstallLocation"));
    EXPECT_EQ(displayName, RegString(HKEY_LOCAL_MACHINE, UninstallKey(), L"DisplayName"));
    EXPECT_EQ(6u, Listing(groupFolder).size());
    EXPECT_EQ((std::vector<std::wstring>{L"config.dsc", L"main.dmg", L"temp.dmg"}), Listing(dataFolder));

    // Signed drivers are placed as signed: no language rewrite.
    const std::wstring ime = Lower(imeName) + L".ime";
    const std::wstring ime64 = SystemFolder(false) + ime, ime32 = SystemFolder(true) + ime;
    EXPECT_TRUE(Bytes(ime64) == signedIme64);
    EXPECT_TRUE(Bytes(ime32) == signedIme32);
    // The demo drivers are built with language 0x0804; stamping would make it 0x0480.
    EXPECT_EQ(0x0804, VersionLanguage(ime64));
    EXPECT_EQ(0x0804, VersionLanguage(ime32));
    EXPECT_EQ(0x014C, Machine(ime32));
    EXPECT_TRUE(Bytes(installFolder + L"config.exe") == signedConfig);
    // The plain installer in the install folder is the one the split wrote;
    // the backup is the payload without the outer signature.
    EXPECT_TRUE(Bytes(installFolder + L"installer.exe") == plain);
    EXPECT_TRUE(Bytes(installFolder + L"_backup_.dat") == archive);
    EXPECT_TRUE(LeftWorkFolders().empty());

    for (const auto& [from, to] : std::vector<std::pair<std::wstring, std::wstring>>{
             {ime64, L"ime64.ime"}, {ime32, L"ime32.ime"}, {installFolder + L"config.exe", L"config.exe"},
             {installFolder + L"tools\\varekinputtool.exe", L"varekinputtool.exe"},
             {installFolder + L"installer.exe", L"installer.exe"}})
        EXPECT_TRUE(CopyFileW(from.c_str(), (placed + to).c_str(), FALSE)) << Narrow(from);
}
