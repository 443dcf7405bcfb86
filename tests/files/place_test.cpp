#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "base/bounded_string.h"
#include "base/setup_context.h"
#include "common/test_support.h"
#include "files/access_grant.h"
#include "files/in_use.h"
#include "files/place.h"
#include "files/version_info.h"
#include "files_test_helpers.h"

namespace {

const wchar_t kCaption[] = L"ھۆججەت ئېچىشتا توقۇنۇش كۆرۈلدى";
const wchar_t kNewer[] = L"ھۆججەت بۇرۇنلا مەۋجۈت ھەم نۇسخا نومۇرى ھازىرقىدىن تۆۋەن، داۋاملىق قاچىلىماقچى بولسىڭىز، بۇرۇنقى ھۆججەتلەر ئالماشتۇرىۋېتىلىدۇ، \r\nنىشان ھۆججەت:%s";
const wchar_t kProgram[] = L"%s\r\nپىروگرامما ئىجرا قىلىنىۋاتىدۇ،پىروگراممىنى تاقىغاندىن كىيىن قايتا سىناپ كۆرۈڭ";
const wchar_t kOther[] = L"%s\r\nپىروگرامما ئىجرا قىلىنىۋاتىدۇ،پىروگراممىنى تاقىغاندىن كىيىن قايتا سىناپ كۆرۈڭ\r\n\r\nتەكشۈرۈپ كۆرۈڭ:\r\n1）كىرگۈزگۈچ ئىجرا قىلىنىۋاتامدۇ؟\r\n2）باشقا پىروگرامما كىرگۈزگۈچنى ئىشلىتىۋاتامدۇ يوق؟\r\n3）كىرگۈزگۈچ ھۆججىتى باشقا پىروگراممىدا ئېچىلىۋاتقانمۇ يوق؟";

std::wstring Format(const wchar_t* format, const std::wstring& path)
{
    wchar_t text[512];
    BoundedFormat(text, 512, format, path.c_str());
    return text;
}

std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

std::wstring Lower(std::wstring s)
{
    for (wchar_t& c : s)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return s;
}

// PlaceFile on a copy of the destination text (the routine lower-cases it).
int Place(const std::wstring& source, const std::wstring& destination, int compare = 1, std::wstring* lowered = nullptr)
{
    wchar_t buffer[MAX_PATH];
    BoundedCopy(buffer, MAX_PATH, destination.c_str());
    int r = PlaceFile(source.c_str(), buffer, compare, 0);
    if (lowered) *lowered = buffer;
    return r;
}

}  // namespace

TEST(PlaceFile, NewFilesGetLowerCaseNamesAndTheCallerSeesTheLoweredPath)
{
    ScratchFolder dir;
    ASSERT_TRUE(CreateDirectoryW((dir / L"Data").c_str(), nullptr));
    std::wstring source = dir / L"source.icc";
    ASSERT_TRUE(WriteFileText(source, "skin"));
    ScriptedPrompts prompts;

    std::wstring lowered;
    EXPECT_EQ(1, Place(source, dir / L"Data\\Skin.ICC", 1, &lowered));
    EXPECT_EQ(Lower(dir / L"Data\\Skin.ICC"), lowered);
    EXPECT_TRUE(prompts.Shown().empty());
    std::vector<std::wstring> top = Listing(dir.Path());
    EXPECT_NE(top.end(), std::find(top.begin(), top.end(), L"Data"));  // the folder keeps its case
    EXPECT_EQ(std::vector<std::wstring>{L"skin.icc"}, Listing(dir / L"Data"));
    EXPECT_TRUE(SameContent(source, dir / L"data\\skin.icc"));
}

TEST(PlaceFile, NothingToDoForAnEmptySourceOrTheSameFile)
{
    ScratchFolder dir;
    std::wstring file = dir / L"Same.dll";
    ASSERT_TRUE(CopyFixture(L"v1000.dll", file));
    ScriptedPrompts prompts;
    EXPECT_EQ(1, Place(L"", dir / L"new.txt"));
    EXPECT_FALSE(FileExists(dir / L"new.txt"));
    EXPECT_EQ(1, Place(Lower(file), file));
    EXPECT_TRUE(SameContent(file, FixturePath(L"v1000.dll")));
    EXPECT_TRUE(prompts.Shown().empty());
}

TEST(PlaceFile, OlderSourceOverNewerDestinationAsksFirst)
{
    ScratchFolder dir;
    std::wstring dest = dir / L"Engine.dll";
    ASSERT_TRUE(CopyFixture(L"v3000.dll", dest));
    ScriptedPrompts prompts;

    prompts.Queue(IDNO);
    EXPECT_EQ(1, Place(FixturePath(L"v1000.dll"), dest));
    ASSERT_EQ(1u, prompts.Shown().size());
    EXPECT_EQ(Format(kNewer, Lower(dest)), prompts.Shown()[0].text);
    EXPECT_EQ(kCaption, prompts.Shown()[0].caption);
    EXPECT_EQ(static_cast<UINT>(MB_YESNO | MB_ICONQUESTION), prompts.Shown()[0].type);
    EXPECT_EQ(nullptr, prompts.Shown()[0].owner);
    EXPECT_TRUE(SameContent(dest, FixturePath(L"v3000.dll")));

    // A source without any version information is older than everything.
    prompts.Queue(IDCANCEL);
    EXPECT_EQ(1, Place(FixturePath(L"plain.dll"), dest));
    EXPECT_EQ(2u, prompts.Shown().size());
    EXPECT_TRUE(SameContent(dest, FixturePath(L"v3000.dll")));

    prompts.Queue(IDYES);
    EXPECT_EQ(1, Place(FixturePath(L"v1000.dll"), dest));
    EXPECT_EQ(3u, prompts.Shown().size());
    EXPECT_TRUE(SameContent(Lower(dest), FixturePath(L"v1000.dll")));

    // Without the comparison nobody is asked.
    ASSERT_TRUE(CopyFixture(L"v3000.dll", dest));
    EXPECT_EQ(1, Place(FixturePath(L"v1000.dll"), dest, 0));
    EXPECT_EQ(3u, prompts.Shown().size());
    EXPECT_TRUE(SameContent(dest, FixturePath(L"v1000.dll")));
}

TEST(PlaceFile, OnlyAStrictlyNewerVersionedDestinationAsks)
{
    ScratchFolder dir;
    ScriptedPrompts prompts(IDNO);
    // Missing destination, equal versions, a newer source: no question.
    EXPECT_EQ(1, Place(FixturePath(L"v1000.dll"), dir / L"a.dll"));
    ASSERT_TRUE(CopyFixture(L"v1000.dll", dir / L"b.ime"));
    EXPECT_EQ(1, Place(FixturePath(L"v1000.dll"), dir / L"b.ime"));
    EXPECT_EQ(1, Place(FixturePath(L"v3000.dll"), dir / L"a.dll"));
    EXPECT_TRUE(SameContent(dir / L"a.dll", FixturePath(L"v3000.dll")));
    // Not a versioned file: never compared.
    ASSERT_TRUE(CopyFixture(L"v3000.dll", dir / L"readme.txt"));
    EXPECT_EQ(1, Place(FixturePath(L"v1000.dll"), dir / L"readme.txt"));
    EXPECT_TRUE(SameContent(dir / L"readme.txt", FixturePath(L"v1000.dll")));
    EXPECT_TRUE(prompts.Shown().empty());
    // ".dll" anywhere in the path makes it versioned.
    ASSERT_TRUE(CopyFixture(L"v3000.dll", dir / L"a.dll.mui"));
    EXPECT_EQ(1, Place(FixturePath(L"v1000.dll"), dir / L"a.dll.mui"));
    EXPECT_EQ(1u, prompts.Shown().size());
    EXPECT_TRUE(SameContent(dir / L"a.dll.mui", FixturePath(L"v3000.dll")));
}

TEST(PlaceFile, PromptsAreOwnedByTheMainWindow)
{
    ScratchFolder dir;
    ASSERT_TRUE(CopyFixture(L"v3000.dll", dir / L"x.dll"));
    CWnd main(CreateWindowExW(0, L"STATIC", L"main", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr));
    ASSERT_NE(nullptr, main.m_hWnd);
    SetMainWindow(&main);
    ScriptedPrompts prompts(IDNO);
    EXPECT_EQ(1, Place(FixturePath(L"v1000.dll"), dir / L"x.dll"));
    SetMainWindow(nullptr);
    DestroyWindow(main.m_hWnd);
    ASSERT_EQ(1u, prompts.Shown().size());
    EXPECT_EQ(main.m_hWnd, prompts.Shown()[0].owner);
}

// Only the data folder's files are everyone's to change; the rest, skins
// and help included, is for reading and running.
TEST(PlaceFile, PlacedFilesReadAndRunOnlyButTheDataFilesOpenToEveryone)
{
    ScratchFolder dir;
    MemorySecurityStore store;
    ScriptedPrompts prompts;
    const std::wstring dataFolder = dir / L"data\\";
    CreateDirectoryW(dataFolder.c_str(), nullptr);
    CreateDirectoryW((dir / L"data other").c_str(), nullptr);
    std::memset(&g_setup, 0, sizeof g_setup);
    BoundedCopy(g_setup.dataFolder, kPathChars, dataFolder.c_str());
    std::wstring dataFile = dataFolder + L"Main.dmg", skin = dir / L"skin.icc", help = dir / L"main.chm",
                 nearMiss = dir / L"data other\\main.dmg", driver = dir / L"drv.ime", program = dir / L"tool.exe";
    ASSERT_TRUE(WriteFileText(dir / L"src.dat", "data"));
    for (const std::wstring& file : {dataFile, skin, help, nearMiss}) EXPECT_EQ(1, Place(dir / L"src.dat", file));
    EXPECT_EQ(1, Place(FixturePath(L"drv.ime"), driver));
    EXPECT_EQ(1, Place(FixturePath(L"holder.exe"), program));

    auto granted = [&](const std::wstring& file) {
        std::vector<AceInfo> acl = DaclEntries(store.Get(Lower(file)).data());
        std::vector<AceInfo> ours;
        for (const AceInfo& e : acl)
            if (e.sid == kAppPackagesSid || e.sid == kEveryoneSid) ours.push_back(e);
        return ours;
    };
    std::vector<AceInfo> d = granted(dataFile);
    ASSERT_EQ(2u, d.size()) << Describe(d);
    EXPECT_EQ(kAppPackagesSid, d[0].sid);
    EXPECT_EQ(kEveryoneSid, d[1].sid);
    for (const AceInfo& e : d) EXPECT_EQ(static_cast<DWORD>(GENERIC_ALL), e.mask);
    for (const std::wstring& file : {skin, help, nearMiss, driver, program}) {
        std::vector<AceInfo> g = granted(file);
        ASSERT_EQ(2u, g.size()) << Describe(g);
        for (const AceInfo& e : g) EXPECT_EQ(static_cast<DWORD>(GENERIC_READ | GENERIC_EXECUTE), e.mask);
    }
    EXPECT_TRUE(prompts.Shown().empty());
    std::memset(&g_setup, 0, sizeof g_setup);
}

TEST(PlaceFile, FailedCopyOfAnOtherFileOffersRetryWithTheLongText)
{
    ScratchFolder dir;
    ScriptedPrompts prompts;
    std::wstring dest = dir / L"Missing\\Data.bin";  // the folder is not there
    ASSERT_TRUE(WriteFileText(dir / L"data.bin", "x"));
    prompts.Queue(IDRETRY);
    prompts.Queue(IDCANCEL);
    EXPECT_EQ(0, Place(dir / L"data.bin", dest));
    ASSERT_EQ(2u, prompts.Shown().size());
    EXPECT_EQ(Format(kOther, Lower(dest)), prompts.Shown()[1].text);
    EXPECT_EQ(kCaption, prompts.Shown()[1].caption);
    EXPECT_EQ(static_cast<UINT>(MB_RETRYCANCEL), prompts.Shown()[1].type);

    // Retry after the cause is gone succeeds.
    prompts.Clear();
    prompts.Queue(IDRETRY);
    std::wstring dest2 = dir / L"Later\\data.bin";
    struct MakeFolderOnPrompt {
        static int Respond(const PromptRequest&, void* user)
        {
            CreateDirectoryW(static_cast<std::wstring*>(user)->c_str(), nullptr);
            return IDRETRY;
        }
    };
    std::wstring later = dir / L"Later";
    SetPromptResponder(&MakeFolderOnPrompt::Respond, &later);
    EXPECT_EQ(1, Place(dir / L"data.bin", dest2));
    SetPromptResponder(nullptr, nullptr);
    EXPECT_TRUE(SameContent(dest2, dir / L"data.bin"));
}

TEST(PlaceFile, MissingSourceOfAProgramGetsTheShortText)
{
    ScratchFolder dir;
    ScriptedPrompts prompts(IDCANCEL);
    std::wstring dest = dir / L"Config.EXE";
    EXPECT_EQ(0, Place(dir / L"absent.exe", dest));
    ASSERT_EQ(1u, prompts.Shown().size());
    EXPECT_EQ(Format(kProgram, Lower(dest)), prompts.Shown()[0].text);
    EXPECT_EQ(static_cast<UINT>(MB_RETRYCANCEL), prompts.Shown()[0].type);
    EXPECT_FALSE(FileExists(dest));
}

TEST(PlaceFile, DestinationThatCannotBeWrittenTakesTheFailurePath)
{
    ScratchFolder dir;
    ScriptedPrompts prompts(IDCANCEL);
    ASSERT_TRUE(WriteFileText(dir / L"new.txt", "new"));

    // A folder stands where the file should go.
    ASSERT_TRUE(CreateDirectoryW((dir / L"taken.txt").c_str(), nullptr));
    EXPECT_EQ(0, Place(dir / L"new.txt", dir / L"taken.txt"));
    EXPECT_EQ(1u, prompts.Shown().size());

    // A read-only destination is not made writable first.
    std::wstring readOnly = dir / L"readonly.txt";
    ASSERT_TRUE(WriteFileText(readOnly, "old"));
    ASSERT_TRUE(SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(0, Place(dir / L"new.txt", readOnly));
    EXPECT_EQ(2u, prompts.Shown().size());
    EXPECT_NE(0u, GetFileAttributesW(readOnly.c_str()) & FILE_ATTRIBUTE_READONLY);
    std::string content;
    ReadFileBytes(readOnly, &content);
    EXPECT_EQ("old", content);
    SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(PlaceFile, LockedLibraryWithNoHolderLeadsToOneFurtherAttemptPerRun)
{
    ScratchFolder dir;
    ScriptedPrompts prompts;
    ScriptedDialogs dialogs([](CDialog& d) { ClickButton(d.m_hWnd, IDCANCEL); });
    g_bRetryAfterLoadStatus = 1;
    // The source is missing, so every attempt fails; no process holds the
    // destination, so the process list ends with OK by itself.
    EXPECT_EQ(0, Place(dir / L"absent.dll", dir / L"lib.dll"));
    EXPECT_EQ(0, g_bRetryAfterLoadStatus);
    EXPECT_EQ(0, dialogs.Opened());
    EXPECT_TRUE(prompts.Shown().empty());
    EXPECT_EQ(0, Place(dir / L"absent.dll", dir / L"lib2.ime"));
    EXPECT_EQ(0, g_bRetryAfterLoadStatus);
    g_bRetryAfterLoadStatus = 1;
}

// An on-access scanner opens fresh files for a moment: the part file beside
// the destination (here one a killed run left), and the destination. Its
// hold is waited out, not taken for a program holding the file: no process
// list, nothing moved aside.
TEST(PlaceFile, BriefHoldsOfAScannerAreWaitedOut)
{
    ScratchFolder dir;
    std::wstring dest = dir / L"scanned.dll";
    ScriptedDialogs dialogs([](CDialog& d) { ClickButton(d.m_hWnd, IDCANCEL); });
    g_bRetryAfterLoadStatus = 1;
    for (const std::wstring& held : {dest + L".zerda-part", dest}) {
        SCOPED_TRACE(held);
        ASSERT_TRUE(CopyFixture(L"v1000.dll", dest));
        ASSERT_TRUE(CopyFixture(L"v1000.dll", dest + L".zerda-part"));
        BriefHold hold(held, 500);
        ASSERT_TRUE(hold.Held());
        EXPECT_EQ(1, Place(FixturePath(L"v3000.dll"), dest));
        EXPECT_TRUE(SameContent(dest, FixturePath(L"v3000.dll")));
        EXPECT_FALSE(FileExists(dest + L".zerda-part"));
    }
    EXPECT_EQ(0, dialogs.Opened());
    EXPECT_EQ(1, g_bRetryAfterLoadStatus);
    EXPECT_TRUE(FilesMovedAside(dest).empty());
}

TEST(PlaceFolderTree, MovesTheTreeSkippingDotFolders)
{
    ScratchFolder dir;
    ScriptedPrompts prompts;
    std::wstring src = dir / L"src", dst = dir / L"Out\\Deep\\Dest";
    CreateDirectoryW(src.c_str(), nullptr);
    CreateDirectoryW((src + L"\\Sub").c_str(), nullptr);
    CreateDirectoryW((src + L"\\.cache").c_str(), nullptr);
    ASSERT_TRUE(WriteFileText(src + L"\\Mixed.TXT", "a"));
    ASSERT_TRUE(WriteFileText(src + L"\\.hidden", "h"));
    ASSERT_TRUE(WriteFileText(src + L"\\Sub\\B.dat", "b"));
    ASSERT_TRUE(WriteFileText(src + L"\\.cache\\c.dat", "c"));

    EXPECT_EQ(1, PlaceFolderTree(src.c_str(), (dst + L"\\").c_str(), 0));

    std::vector<std::wstring> top = Listing(dst);
    std::sort(top.begin(), top.end());
    EXPECT_EQ((std::vector<std::wstring>{L".hidden", L"Sub", L"mixed.txt"}), top);
    EXPECT_EQ(std::vector<std::wstring>{L"b.dat"}, Listing(dst + L"\\Sub"));
    EXPECT_FALSE(DirExists(dst + L"\\.cache"));
    // Moved: the files are gone from the source, the folders stay.
    EXPECT_FALSE(FileExists(src + L"\\Mixed.TXT"));
    EXPECT_FALSE(FileExists(src + L"\\Sub\\B.dat"));
    EXPECT_TRUE(FileExists(src + L"\\.cache\\c.dat"));
    EXPECT_TRUE(DirExists(src + L"\\Sub"));
    EXPECT_TRUE(prompts.Shown().empty());
}

// A folder the destination lacks, whose files all have lower-case names, goes
// in with one rename and ends as the walk would leave it; the others are
// walked file by file.
TEST(PlaceFolderTree, AFolderTheDestinationLacksGoesInWholeAndEndsAsIfWalked)
{
    ScratchFolder dir;
    MemorySecurityStore store;
    ScriptedPrompts prompts;
    std::wstring src = dir / L"src", dst = dir / L"Dest";
    for (const std::wstring& folder : {src, src + L"\\Skins", src + L"\\Skins\\deep", src + L"\\Mixed", src + L"\\dotted",
                                       src + L"\\dotted\\.cache", src + L"\\there", dst, dst + L"\\there"})
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr)) << Narrow(folder);
    for (const wchar_t* name : {L"\\Skins\\a.icc", L"\\Skins\\deep\\b.icc", L"\\Mixed\\C.txt", L"\\dotted\\d.txt",
                                L"\\dotted\\.cache\\e.txt", L"\\there\\f.txt"})
        ASSERT_TRUE(WriteFileText(src + name, Narrow(name)));

    EXPECT_EQ(1, PlaceFolderTree(src.c_str(), dst.c_str(), 0));

    EXPECT_FALSE(DirExists(src + L"\\Skins")) << "moved whole";
    std::vector<std::wstring> skins = Listing(dst + L"\\Skins");
    std::sort(skins.begin(), skins.end());
    EXPECT_EQ((std::vector<std::wstring>{L"a.icc", L"deep"}), skins);
    EXPECT_EQ(std::vector<std::wstring>{L"b.icc"}, Listing(dst + L"\\Skins\\deep", true));
    // An upper-case name, a dot folder inside, a folder already there: walked.
    for (const wchar_t* walked : {L"\\Mixed", L"\\dotted", L"\\there"}) EXPECT_TRUE(DirExists(src + walked));
    EXPECT_EQ(std::vector<std::wstring>{L"c.txt"}, Listing(dst + L"\\Mixed", true));
    EXPECT_TRUE(FileExists(src + L"\\dotted\\.cache\\e.txt"));
    EXPECT_FALSE(DirExists(dst + L"\\dotted\\.cache"));
    std::string content;
    ASSERT_TRUE(ReadFileBytes(dst + L"\\Skins\\deep\\b.icc", &content));
    EXPECT_EQ("\\Skins\\deep\\b.icc", content);
    // Opened to everyone for reading and running, as each walked file is.
    for (const std::wstring& file : {dst + L"\\Skins\\a.icc", dst + L"\\Skins\\deep\\b.icc", dst + L"\\Mixed\\c.txt"}) {
        int granted = 0;
        for (const AceInfo& e : DaclEntries(store.Get(Lower(file)).data()))
            if ((e.sid == kAppPackagesSid || e.sid == kEveryoneSid) &&
                e.mask == static_cast<DWORD>(GENERIC_READ | GENERIC_EXECUTE))
                ++granted;
        EXPECT_EQ(2, granted) << Narrow(file);
    }
    EXPECT_TRUE(prompts.Shown().empty());
}

TEST(PlaceFolderTree, KeepsSourcesWhenAskedAndCreatesTheDestinationOfAMissingSource)
{
    ScratchFolder dir;
    std::wstring src = dir / L"src\\";
    CreateDirectoryW(src.c_str(), nullptr);
    ASSERT_TRUE(WriteFileText(src + L"f.txt", "f"));
    EXPECT_EQ(1, PlaceFolderTree(src.c_str(), (dir / L"copy").c_str(), 1));
    EXPECT_TRUE(FileExists(src + L"f.txt"));
    EXPECT_TRUE(FileExists(dir / L"copy\\f.txt"));

    EXPECT_EQ(1, PlaceFolderTree((dir / L"nothing").c_str(), (dir / L"made\\here").c_str(), 0));
    EXPECT_TRUE(DirExists(dir / L"made\\here"));
}

TEST(PlaceFolderTree, DestinationThatCannotBeMadeStopsBeforeCopying)
{
    ScratchFolder dir;
    std::wstring src = dir / L"src";
    CreateDirectoryW(src.c_str(), nullptr);
    ASSERT_TRUE(WriteFileText(src + L"\\f.txt", "f"));
    ASSERT_TRUE(WriteFileText(dir / L"blocker", "a file, not a folder"));
    EXPECT_EQ(0, PlaceFolderTree(src.c_str(), (dir / L"blocker\\dest").c_str(), 0));
    EXPECT_TRUE(FileExists(src + L"\\f.txt"));
}

TEST(PlaceFolderTree, NewerVersionKeptOnNoCountsAsDealtWith)
{
    ScratchFolder dir;
    std::wstring src = dir / L"src", dst = dir / L"dst";
    CreateDirectoryW(src.c_str(), nullptr);
    CreateDirectoryW(dst.c_str(), nullptr);
    ASSERT_TRUE(CopyFixture(L"v1000.dll", src + L"\\Lib.dll"));
    ASSERT_TRUE(CopyFixture(L"v3000.dll", dst + L"\\lib.dll"));
    ScriptedPrompts prompts(IDNO);
    EXPECT_EQ(1, PlaceFolderTree(src.c_str(), dst.c_str(), 0));
    ASSERT_EQ(1u, prompts.Shown().size());
    EXPECT_EQ(Format(kNewer, Lower(dst + L"\\Lib.dll")), prompts.Shown()[0].text);
    EXPECT_TRUE(SameContent(dst + L"\\lib.dll", FixturePath(L"v3000.dll")));
    EXPECT_FALSE(FileExists(src + L"\\Lib.dll"));
}

// One entry of the source cannot be placed (a folder stands in its way): the
// user cancels, the file is kept aside in the work folder and the walk
// of that folder ends there.
TEST(PlaceFolderTree, SideCopyEndsTheWalkOfThatFolder)
{
    ScratchFolder dir;
    std::wstring src = dir / L"src", dst = dir / L"dst";
    CreateDirectoryW(src.c_str(), nullptr);
    CreateDirectoryW(dst.c_str(), nullptr);
    const std::wstring blocked = L"Blocked_" + std::to_wstring(GetCurrentProcessId()) + L".txt";
    for (const wchar_t* n : {L"a.txt", L"b.txt", L"c.txt", L"d.txt", L"e.txt"}) ASSERT_TRUE(WriteFileText(src + L"\\" + n, "x"));
    ASSERT_TRUE(WriteFileText(src + L"\\" + blocked, "blocked"));
    ASSERT_TRUE(CreateDirectoryW((dst + L"\\" + Lower(blocked)).c_str(), nullptr));
    std::vector<std::wstring> order = Listing(src, true);
    std::wstring side = SideCopyFolder() + blocked + L".temp";
    DeleteFileW(side.c_str());

    ScriptedPrompts prompts(IDCANCEL);
    EXPECT_EQ(0, PlaceFolderTree(src.c_str(), dst.c_str(), 0));
    ASSERT_EQ(1u, prompts.Shown().size());
    EXPECT_EQ(Format(kOther, Lower(dst + L"\\" + blocked)), prompts.Shown()[0].text);
    EXPECT_TRUE(SameContent(Lower(side), src + L"\\" + blocked));
    EXPECT_TRUE(FileExists(src + L"\\" + blocked));  // not deleted
    // Never in the account's temporary folder, which others may redirect.
    EXPECT_FALSE(FileExists(TempFolder() + blocked + L".temp"));

    bool before = true;
    for (const std::wstring& n : order) {
        if (n == blocked) {
            before = false;
            continue;
        }
        EXPECT_EQ(before, FileExists(dst + L"\\" + n)) << "placed: " << std::string(n.begin(), n.end());
        EXPECT_EQ(!before, FileExists(src + L"\\" + n)) << "left: " << std::string(n.begin(), n.end());
    }
    DeleteFileW(side.c_str());
}

TEST(PlaceFolderTree, StopInASubFolderEndsOnlyThatSubFolder)
{
    ScratchFolder dir;
    std::wstring src = dir / L"src", dst = dir / L"dst";
    CreateDirectoryW(src.c_str(), nullptr);
    CreateDirectoryW((src + L"\\inner").c_str(), nullptr);
    CreateDirectoryW(dst.c_str(), nullptr);
    CreateDirectoryW((dst + L"\\inner").c_str(), nullptr);
    const std::wstring blocked = L"inblocked_" + std::to_wstring(GetCurrentProcessId()) + L".txt";
    ASSERT_TRUE(WriteFileText(src + L"\\inner\\" + blocked, "blocked"));
    ASSERT_TRUE(CreateDirectoryW((dst + L"\\inner\\" + blocked).c_str(), nullptr));
    for (const wchar_t* n : {L"t1.txt", L"t2.txt", L"t3.txt"}) ASSERT_TRUE(WriteFileText(src + L"\\" + n, "t"));
    std::wstring side = SideCopyFolder() + blocked + L".temp";

    ScriptedPrompts prompts(IDCANCEL);
    EXPECT_EQ(1, PlaceFolderTree(src.c_str(), dst.c_str(), 0));
    for (const wchar_t* n : {L"t1.txt", L"t2.txt", L"t3.txt"}) {
        EXPECT_TRUE(FileExists(dst + L"\\" + n));
        EXPECT_FALSE(FileExists(src + L"\\" + n));
    }
    EXPECT_TRUE(FileExists(side));
    DeleteFileW(side.c_str());
}

TEST(PlaceFolderTree, FailedSideCopyGoesOnAndRemovesTheSource)
{
    ScratchFolder dir;
    std::wstring src = dir / L"src", dst = dir / L"dst";
    CreateDirectoryW(src.c_str(), nullptr);
    CreateDirectoryW(dst.c_str(), nullptr);
    const std::wstring blocked = L"twice_" + std::to_wstring(GetCurrentProcessId()) + L".txt";
    ASSERT_TRUE(WriteFileText(src + L"\\" + blocked, "blocked"));
    for (const wchar_t* n : {L"k1.txt", L"k2.txt", L"k3.txt"}) ASSERT_TRUE(WriteFileText(src + L"\\" + n, "k"));
    ASSERT_TRUE(CreateDirectoryW((dst + L"\\" + blocked).c_str(), nullptr));
    std::wstring side = SideCopyFolder() + blocked + L".temp";
    ASSERT_TRUE(CreateDirectoryW(side.c_str(), nullptr));  // the side copy fails too

    ScriptedPrompts prompts(IDCANCEL);
    EXPECT_EQ(1, PlaceFolderTree(src.c_str(), dst.c_str(), 0));
    EXPECT_EQ(2u, prompts.Shown().size());
    for (const wchar_t* n : {L"k1.txt", L"k2.txt", L"k3.txt"}) EXPECT_TRUE(FileExists(dst + L"\\" + n));
    EXPECT_FALSE(FileExists(src + L"\\" + blocked));
    RemoveDirectoryW(side.c_str());
}

TEST(PlaceFolderTree, PathsBeyondTheLimitAreNeverWrittenCut)
{
    ScratchFolder dir;
    std::wstring src = dir / L"src";
    CreateDirectoryW(src.c_str(), nullptr);
    // The destination folder leaves room for short names only.
    std::wstring dst = dir.Path() + L"\\";
    dst += std::wstring(MAX_PATH - 12 - dst.size(), L'd');
    ASSERT_EQ(static_cast<size_t>(MAX_PATH - 12), dst.size());
    const std::wstring longName = L"long_name_" + std::to_wstring(GetCurrentProcessId()) + L".txt";
    ASSERT_TRUE(WriteFileText(src + L"\\" + longName, "long"));
    ASSERT_TRUE(WriteFileText(src + L"\\ok.txt", "ok"));
    std::wstring side = SideCopyFolder() + longName + L".temp";
    DeleteFileW(side.c_str());

    ScriptedPrompts prompts(IDCANCEL);
    int result = PlaceFolderTree(src.c_str(), dst.c_str(), 0);
    ASSERT_TRUE(DirExists(dst));
    std::vector<std::wstring> placed = Listing(dst);
    // Only the short name arrived; the long one was not written under a cut
    // name but kept aside, which ends the walk.
    for (const std::wstring& n : placed) EXPECT_EQ(L"ok.txt", n);
    EXPECT_TRUE(FileExists(side));
    EXPECT_TRUE(FileExists(src + L"\\" + longName));
    EXPECT_EQ(0, result);
    EXPECT_TRUE(prompts.Shown().empty());
    DeleteFileW(side.c_str());
}
