#include <gtest/gtest.h>

#include "common/test_support.h"
#include "files/access_grant.h"
#include "files_test_helpers.h"

// The DACL lists are checked through an in-memory descriptor store: Wine
// keeps no DACL as written, it maps it to the file's Unix mode bits. The ACL
// building and descriptor calls are Wine's own. The accounts are read back
// as SIDs: the grant never asks for an account by its (translated) name.

namespace {

std::wstring NewFile(const ScratchFolder& dir, const wchar_t* name)
{
    std::wstring path = dir / name;
    WriteFileText(path, "data");
    return path;
}

}  // namespace

TEST(GrantFileAccess, SecondGrantLeavesOneEntryForTheAccount)
{
    ScratchFolder dir;
    MemorySecurityStore store;
    std::wstring file = NewFile(dir, L"twice.dat");
    ASSERT_TRUE(store.Put(file, L"D:(A;;FR;;;BU)"));

    StdoutCapture out;
    EXPECT_EQ(1, GrantFileAccess(file.c_str(), WellKnownAccount::kEveryone));
    EXPECT_EQ(1, GrantFileAccess(file.c_str(), WellKnownAccount::kEveryone));
    EXPECT_EQ("", out.Stop());

    std::vector<AceInfo> acl = DaclEntries(store.Get(file).data());
    ASSERT_EQ(2u, acl.size()) << Describe(acl);
    EXPECT_EQ(kUsersSid, acl[0].sid);
    EXPECT_EQ(kEveryoneSid, acl[1].sid);
    EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, acl[1].type);
    EXPECT_EQ(static_cast<DWORD>(GENERIC_ALL), acl[1].mask);
    EXPECT_EQ(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, acl[1].flags);
}

TEST(GrantFileAccess, ExplicitEntriesOfTheAccountGoAndInheritedOnesStayBehind)
{
    ScratchFolder dir;
    MemorySecurityStore store;
    std::wstring file = NewFile(dir, L"order.dat");
    // Administrators, a deny for Everyone, an allow for Everyone, Users, then
    // inherited SYSTEM, Everyone and Administrators.
    ASSERT_TRUE(store.Put(file, L"D:(A;;FR;;;BA)(D;;FW;;;WD)(A;;FR;;;WD)(A;;FX;;;BU)"
                                L"(A;ID;FA;;;SY)(A;ID;FR;;;WD)(A;ID;FA;;;BA)"));
    ASSERT_EQ(7u, DaclEntries(store.Get(file).data()).size());

    EXPECT_EQ(1, GrantFileAccess(file.c_str(), WellKnownAccount::kEveryone, GENERIC_READ | GENERIC_EXECUTE));

    std::vector<AceInfo> acl = DaclEntries(store.Get(file).data());
    ASSERT_EQ(6u, acl.size()) << Describe(acl);
    EXPECT_EQ(kAdministratorsSid, acl[0].sid);
    EXPECT_EQ(kUsersSid, acl[1].sid);
    EXPECT_EQ(kEveryoneSid, acl[2].sid);
    EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, acl[2].type);
    EXPECT_EQ(static_cast<DWORD>(GENERIC_READ | GENERIC_EXECUTE), acl[2].mask);
    EXPECT_EQ(0, acl[2].flags & INHERITED_ACE);
    EXPECT_EQ(kSystemSid, acl[3].sid);
    EXPECT_EQ(kEveryoneSid, acl[4].sid);
    EXPECT_EQ(static_cast<DWORD>(FILE_GENERIC_READ), acl[4].mask);
    EXPECT_EQ(kAdministratorsSid, acl[5].sid);
    for (int i = 3; i < 6; ++i) EXPECT_NE(0, acl[i].flags & INHERITED_ACE) << i;
    for (const AceInfo& e : acl) EXPECT_NE(ACCESS_DENIED_ACE_TYPE, e.type) << Describe(acl);
}

TEST(GrantFileAccess, MissingOrNullDaclEndsWithOnlyTheNewEntries)
{
    ScratchFolder dir;
    MemorySecurityStore store;
    std::wstring nullDacl = NewFile(dir, L"nulldacl.dat");
    std::wstring noDacl = NewFile(dir, L"nodacl.dat");
    ASSERT_TRUE(store.PutNullDacl(nullDacl));
    ASSERT_TRUE(store.Put(noDacl, L"O:BA"));
    for (const std::wstring& file : {nullDacl, noDacl}) {
        bool hasDacl = true;
        DaclEntries(store.Get(file).data(), &hasDacl);
        ASSERT_FALSE(hasDacl);

        EXPECT_EQ(1, GrantFileAccess(file.c_str(), WellKnownAccount::kAllApplicationPackages));
        EXPECT_EQ(1, GrantFileAccess(file.c_str(), WellKnownAccount::kEveryone));

        std::vector<AceInfo> acl = DaclEntries(store.Get(file).data(), &hasDacl);
        EXPECT_TRUE(hasDacl);
        ASSERT_EQ(2u, acl.size()) << Describe(acl);
        EXPECT_EQ(kAppPackagesSid, acl[0].sid);
        EXPECT_EQ(kEveryoneSid, acl[1].sid);
    }
}

TEST(GrantFileAccess, ProtectionAndAutoInheritanceAreCarriedOver)
{
    ScratchFolder dir;
    MemorySecurityStore store;
    std::wstring prot = NewFile(dir, L"protected.dat");
    std::wstring autoInh = NewFile(dir, L"auto.dat");
    std::wstring plain = NewFile(dir, L"plain.dat");
    ASSERT_TRUE(store.Put(prot, L"D:P(A;;FR;;;BU)"));
    ASSERT_TRUE(store.Put(autoInh, L"D:AI(A;ID;FR;;;BU)"));
    ASSERT_TRUE(store.Put(plain, L"D:(A;;FR;;;BU)"));
    ASSERT_NE(0, ControlOf(store.Get(prot).data()) & SE_DACL_PROTECTED);
    ASSERT_NE(0, ControlOf(store.Get(autoInh).data()) & SE_DACL_AUTO_INHERITED);

    EXPECT_EQ(1, GrantFileAccess(prot.c_str(), WellKnownAccount::kEveryone));
    EXPECT_EQ(1, GrantFileAccess(autoInh.c_str(), WellKnownAccount::kEveryone));
    EXPECT_EQ(1, GrantFileAccess(plain.c_str(), WellKnownAccount::kEveryone));

    SECURITY_DESCRIPTOR_CONTROL c = ControlOf(store.Get(prot).data());
    EXPECT_EQ(SE_DACL_PROTECTED, c & (SE_DACL_PROTECTED | SE_DACL_AUTO_INHERITED | SE_DACL_AUTO_INHERIT_REQ));
    c = ControlOf(store.Get(autoInh).data());
    EXPECT_EQ(SE_DACL_AUTO_INHERITED | SE_DACL_AUTO_INHERIT_REQ,
              c & (SE_DACL_PROTECTED | SE_DACL_AUTO_INHERITED | SE_DACL_AUTO_INHERIT_REQ));
    c = ControlOf(store.Get(plain).data());
    EXPECT_EQ(0, c & (SE_DACL_PROTECTED | SE_DACL_AUTO_INHERITED | SE_DACL_AUTO_INHERIT_REQ));
    EXPECT_EQ(2u, DaclEntries(store.Get(autoInh).data()).size());
}

TEST(GrantFileAccess, MissingFileFailsWithTheSecurityLine)
{
    ScratchFolder dir;
    StdoutCapture out;
    EXPECT_EQ(0, GrantFileAccess((dir / L"absent.dat").c_str(), WellKnownAccount::kEveryone));
    EXPECT_EQ("GetFileSecurity() failed. Error " + std::to_string(ERROR_FILE_NOT_FOUND) + "\n", out.Stop());
}

// On the real file system: Wine turns the written DACL into mode bits, so
// what "Everyone" may do shows in the DACL it reports afterwards.
TEST(GrantFileAccess, RealFileGetsTheRightsGrantedToEveryone)
{
    ScratchFolder dir;
    std::wstring full = NewFile(dir, L"full.dat");
    std::wstring readOnly = NewFile(dir, L"readexec.dat");
    EXPECT_EQ(1, GrantFileAccess(full.c_str(), WellKnownAccount::kEveryone));
    EXPECT_EQ(1, GrantFileAccess(readOnly.c_str(), WellKnownAccount::kEveryone, GENERIC_READ | GENERIC_EXECUTE));

    auto everyoneMask = [](const std::vector<AceInfo>& acl) {
        DWORD mask = 0;
        for (const AceInfo& e : acl)
            if (e.sid == kEveryoneSid && e.type == ACCESS_ALLOWED_ACE_TYPE) mask |= e.mask;
        return mask;
    };
    std::vector<AceInfo> a = ReadFileDacl(full), b = ReadFileDacl(readOnly);
    EXPECT_NE(0u, everyoneMask(a) & FILE_WRITE_DATA) << Describe(a);
    EXPECT_NE(0u, everyoneMask(b) & FILE_READ_DATA) << Describe(b);
    EXPECT_EQ(0u, everyoneMask(b) & FILE_WRITE_DATA) << Describe(b);
}

// A file moved into a folder is given, in one write, the list that a file
// made there (as a copy is) ends with once granted: entry for entry.
TEST(FolderGrantedList, MovedFileEndsAsAGrantedCopy)
{
    ScratchFolder dir;
    MemorySecurityStore store;
    const std::wstring folder = dir / L"";
    const std::wstring probe =
        dir / (L"zerda-list." + std::to_wstring(GetCurrentThreadId()) + L".probe");
    const wchar_t kMade[] = L"D:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)";
    ASSERT_TRUE(store.Put(probe, kMade));
    const std::wstring copied = NewFile(dir, L"copied.dat"), moved = NewFile(dir, L"moved.dat");
    ASSERT_TRUE(store.Put(copied, kMade));
    ASSERT_TRUE(store.Put(moved, L"D:P(A;;FA;;;BA)"));  // the work folder's, brought along

    const WellKnownAccount accounts[] = {WellKnownAccount::kAllApplicationPackages, WellKnownAccount::kEveryone};
    const DWORD rights = GENERIC_READ | GENERIC_EXECUTE;
    FolderGrantedList list;
    EXPECT_FALSE(list.WriteTo(moved.c_str())) << "nothing composed yet";
    std::wstring bare = folder;
    while (!bare.empty() && bare.back() == L'\\') bare.pop_back();
    ASSERT_TRUE(list.Compose(bare.c_str(), accounts, 2, rights));
    EXPECT_FALSE(FileExists(probe)) << "the file made for the list stayed";
    ASSERT_TRUE(list.WriteTo(moved.c_str()));
    ASSERT_EQ(1, GrantFileAccess(copied.c_str(), accounts, 2, rights));

    std::vector<AceInfo> fromMove = DaclEntries(store.Get(moved).data());
    std::vector<AceInfo> fromCopy = DaclEntries(store.Get(copied).data());
    EXPECT_EQ(Describe(fromCopy), Describe(fromMove));
    EXPECT_EQ(5u, fromMove.size()) << Describe(fromMove);

    // No folder to make the file in: nothing is composed.
    EXPECT_FALSE(list.Compose((dir / L"missing").c_str(), accounts, 2, rights));
    EXPECT_FALSE(list.WriteTo(moved.c_str()));
}
