// The folders the setup places files in: created with a list of their own,
// taken over when someone else owns them or may write in them, and refused
// where they are the system's or reached through a link. Wine keeps a
// file's rights as Unix mode bits: "Everyone" stands for the other users'
// bits, so the lists are judged by what each account may do.
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>
#include <shlobj.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/bounded_string.h"
#include "base/setup_context.h"
#include "common/test_support.h"
#include "files/place.h"
#include "files/secure_folder.h"
#include "files_test_helpers.h"

namespace {

std::string Narrow(const std::wstring& w)
{
    std::string s;
    for (wchar_t c : w) s += static_cast<char>(c < 128 ? c : '?');
    return s;
}

bool EveryoneHasAnEntry(const std::wstring& path)
{
    for (const AceInfo& e : ReadFileDacl(path))
        if (e.sid == kEveryoneSid && e.type == ACCESS_ALLOWED_ACE_TYPE && e.mask) return true;
    return false;
}

int PlaceAs(const std::wstring& source, const std::wstring& destination)
{
    wchar_t buffer[MAX_PATH];
    BoundedCopy(buffer, MAX_PATH, destination.c_str());
    return PlaceFile(source.c_str(), buffer, 1, 0);
}

}  // namespace

TEST(ProductFolder, MissingFolderIsCreatedWithAListOfItsOwn)
{
    ScratchFolder dir(L"pfnew");
    const std::wstring folder = dir / L"a\\b\\Product\\";
    ASSERT_TRUE(SecureProductFolder(folder.c_str(), ProductFolder::Install));
    // The folder and the folders made above it: nobody but SYSTEM and the
    // Administrators may change them, and "Everyone" is not named at all.
    for (const std::wstring& path : {folder, dir / L"a\\b", dir / L"a"}) {
        ASSERT_TRUE(DirExists(path)) << Narrow(path);
        EXPECT_EQ("", WritableByOthers(path)) << Narrow(path);
        EXPECT_FALSE(EveryoneHasAnEntry(path)) << Narrow(path);
    }
    // A second call finds it as it left it.
    EXPECT_TRUE(SecureProductFolder(folder.c_str(), ProductFolder::Install));
    EXPECT_FALSE(IsDistrustedDestination((folder + L"config.exe").c_str()));
    // Another folder put under its name is not the one the run made: taken over.
    ASSERT_TRUE(MoveFileW(folder.c_str(), (dir / L"a\\b\\Moved").c_str()));
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(OpenToEveryone(folder));
    EXPECT_TRUE(SecureProductFolder(folder.c_str(), ProductFolder::Install));
    EXPECT_EQ("", WritableByOthers(folder));
    EXPECT_TRUE(IsDistrustedDestination((folder + L"config.exe").c_str()));
}

// A folder someone else prepared: everything in it is reset, a second name
// of an outside file gets data of its own (writing it would write that file;
// deleting it could lose the data), and a newer program found there does
// not keep the payload's out.
TEST(ProductFolder, FolderOpenToOthersIsTakenOverBeforeAnythingIsPlaced)
{
    ScratchFolder dir(L"pfopen");
    std::memset(&g_setup, 0, sizeof g_setup);
    const std::wstring folder = dir / L"Product", skins = folder + L"\\skins";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(skins.c_str(), nullptr));
    ASSERT_TRUE(CopyFixture(L"v3000.dll", folder + L"\\config.exe"));
    ASSERT_TRUE(WriteFileText(skins + L"\\default.icc", "planted skin"));
    const std::wstring victim = dir / L"victim.dll";
    ASSERT_TRUE(WriteFileText(victim, "somebody else's file"));
    ASSERT_TRUE(CreateHardLinkW((folder + L"\\main.chm.zerda-part").c_str(), victim.c_str(), nullptr));
    for (const std::wstring& path : {folder, skins, skins + L"\\default.icc"})
        ASSERT_TRUE(OpenToEveryone(path)) << Narrow(path);

    ASSERT_TRUE(SecureProductFolder((folder + L"\\").c_str(), ProductFolder::Install));
    for (const std::wstring& path : {folder, skins, skins + L"\\default.icc", folder + L"\\config.exe"})
        EXPECT_EQ("", WritableByOthers(path)) << Narrow(path);
    for (const std::wstring& name : {folder + L"\\main.chm.zerda-part", victim}) {
        std::string bytes;
        EXPECT_TRUE(ReadFileBytes(name, &bytes) && bytes == "somebody else's file") << Narrow(name);
        EXPECT_EQ(1u, NameCount(name)) << Narrow(name);
    }

    EXPECT_TRUE(IsDistrustedDestination((folder + L"\\config.exe").c_str()));
    EXPECT_TRUE(IsDistrustedDestination((skins + L"\\default.icc").c_str()));
    EXPECT_FALSE(IsDistrustedDestination((dir / L"Product2\\config.exe").c_str()));
    EXPECT_FALSE(IsDistrustedDestination(folder.c_str()));

    // The planted 3.0 program gives way to the payload's 1.0 without a question.
    ScriptedPrompts prompts(IDNO);
    EXPECT_EQ(1, PlaceAs(FixturePath(L"v1000.dll"), folder + L"\\config.exe"));
    EXPECT_TRUE(prompts.Shown().empty());
    EXPECT_TRUE(SameContent(FixturePath(L"v1000.dll"), folder + L"\\config.exe"));
    std::wstring main = folder + L"\\main.chm";
    EXPECT_EQ(1, PlaceAs(FixturePath(L"v1000.dll"), main));
    std::string victimBytes;
    ASSERT_TRUE(ReadFileBytes(victim, &victimBytes));
    EXPECT_EQ("somebody else's file", victimBytes);
}

// A tree deeper than the take-over goes is surveyed first and left
// untouched: nothing in it half taken over.
TEST(ProductFolder, TreeThatCannotBeTakenOverWhollyIsNotTouched)
{
    ScratchFolder dir(L"pfdeep");
    const std::wstring folder = dir / L"P";
    std::wstring deepest = folder;
    for (int level = 0; level < 34; ++level) deepest += L"\\d";
    ASSERT_EQ(0, SHCreateDirectoryExW(nullptr, deepest.c_str(), nullptr));
    ASSERT_TRUE(WriteFileText(folder + L"\\file.txt", "theirs"));
    for (const std::wstring& path : {folder, folder + L"\\file.txt", folder + L"\\d"})
        ASSERT_TRUE(OpenToEveryone(path)) << Narrow(path);
    EXPECT_FALSE(SecureProductFolder(folder.c_str(), ProductFolder::Install));
    for (const std::wstring& path : {folder, folder + L"\\file.txt", folder + L"\\d"})
        EXPECT_NE("", WritableByOthers(path)) << Narrow(path);
}

// A link in the folder is removed as itself where the system can open it so
// (Windows); where it cannot (Wine follows every link), the folder is
// refused. Either way the folder it points to is left as it was.
TEST(ProductFolder, LinkInsideNeverLeadsTheTakeOverElsewhere)
{
    ScratchFolder dir(L"pflink");
    const std::wstring folder = dir / L"Product", target = dir / L"Elsewhere";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(target.c_str(), nullptr));
    ASSERT_TRUE(WriteFileText(target + L"\\keep.txt", "kept"));
    ASSERT_TRUE(OpenToEveryone(target) && OpenToEveryone(folder));
    if (!MakeFolderLink(folder + L"\\skins", target)) {
        GTEST_SKIP() << "no folder link can be made here";
    }
    const std::string targetRights = Describe(ReadFileDacl(target));

    bool taken = SecureProductFolder(folder.c_str(), ProductFolder::Install);
    if (taken) EXPECT_FALSE(FileExists(folder + L"\\skins"));
    else EXPECT_TRUE(RemoveFolderLink(folder + L"\\skins"));
    EXPECT_EQ(targetRights, Describe(ReadFileDacl(target)));
    EXPECT_TRUE(FileExists(target + L"\\keep.txt"));

    // A link as the install folder itself is refused, its target untouched.
    ASSERT_TRUE(MakeFolderLink(dir / L"Linked", target));
    EXPECT_FALSE(SecureProductFolder((dir / L"Linked").c_str(), ProductFolder::Install));
    EXPECT_FALSE(SecureProductFolder((dir / L"Linked\\Below").c_str(), ProductFolder::Install));
    EXPECT_FALSE(DirExists(target + L"\\Below"));
    EXPECT_EQ(targetRights, Describe(ReadFileDacl(target)));
    EXPECT_TRUE(RemoveFolderLink(dir / L"Linked"));
}

// The family's folder any user may create first, and a data folder in it.
TEST(ProductFolder, FamilyAndDataFoldersAreTakenOver)
{
    const std::wstring family = CommonFolder(CSIDL_COMMON_APPDATA) + L"ZerdaIME3";
    const std::wstring data = family + L"\\ztpf" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(family.c_str(), nullptr);
    ASSERT_TRUE(CreateDirectoryW(data.c_str(), nullptr));
    ASSERT_TRUE(WriteFileText(data + L"\\config.dsc", "planted"));
    ASSERT_TRUE(OpenToEveryone(family) && OpenToEveryone(data));

    EXPECT_TRUE(SecureProductFolder(family.c_str(), ProductFolder::Family));
    EXPECT_TRUE(SecureProductFolder((data + L"\\").c_str(), ProductFolder::Data));
    EXPECT_EQ("", WritableByOthers(family));
    EXPECT_EQ("", WritableByOthers(data));
    EXPECT_EQ("", WritableByOthers(data + L"\\config.dsc"));
    DeleteTree(data);
}
