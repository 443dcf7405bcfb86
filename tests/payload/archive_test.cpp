// Unpacking the payload archive and splitting the setup executable.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/setup_context.h"
#include "common/test_support.h"
#include "payload/archive.h"
#include "payload/archive_copy.h"
#include "payload/payload_preload.h"
#include "payload/own_image.h"
#include "zip_builder.h"

namespace {

struct ProgressLine {
    std::wstring text;
    int32_t done;
    int32_t total;
};
std::vector<ProgressLine> g_lines;

void Record(const wchar_t* text, int32_t done, int32_t total) { g_lines.push_back({text, done, total}); }

bool HasLine(const std::wstring& text)
{
    for (const auto& l : g_lines)
        if (l.text == text) return true;
    return false;
}

class Unpack : public ::testing::Test {
protected:
    void SetUp() override { g_lines.clear(); }
    bool Run(const std::vector<ZipItem>& items)
    {
        EXPECT_TRUE(BuildZip(Zip(), items));
        return UnpackArchive(Zip().c_str(), Dest().c_str(), &Record);
    }
    std::wstring Zip() const { return dir_ / L"a.zip"; }
    std::wstring Dest() const { return dir_ / L"out"; }
    std::string Read(const std::wstring& rel) const
    {
        std::string s;
        EXPECT_TRUE(ReadFileBytes(Dest() + L"\\" + rel, &s)) << "missing " << std::string(rel.begin(), rel.end());
        return s;
    }
    ScratchFolder dir_{L"zip"};
};

std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

std::string Pattern(size_t n)
{
    std::string s(n, '\0');
    uint32_t x = 12345;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        s[i] = static_cast<char>(x >> 24);
    }
    return s;
}

}  // namespace

TEST_F(Unpack, WritesEntriesFoldersAndEmptyFiles)
{
    std::string big = Pattern(300000);
    ASSERT_TRUE(WriteFileText(dir_ / L"stale.txt", "x"));
    ASSERT_TRUE(Run({{"$dataFiles$\\config.dsc", "CFG"},
                     {"$fonts$\\A.TTF", big},
                     {"\\tools\\tool.exe", "TOOL"},  // leading backslash: same file as without
                     {"empty.txt", ""},
                     {"skins\\", ""},  // folder entry
                     {"deep\\er\\and\\deeper\\f.bin", "D"}}));
    EXPECT_EQ("CFG", Read(L"$dataFiles$\\config.dsc"));
    EXPECT_TRUE(big == Read(L"$fonts$\\A.TTF"));
    EXPECT_EQ("TOOL", Read(L"tools\\tool.exe"));
    EXPECT_EQ("", Read(L"empty.txt"));
    EXPECT_TRUE(DirExists(Dest() + L"\\skins"));
    EXPECT_EQ("D", Read(L"deep\\er\\and\\deeper\\f.bin"));

    // Every entry reported, the bar ends at 100.
    EXPECT_TRUE(HasLine(L"Success: empty.txt"));
    EXPECT_TRUE(HasLine(L"Success: skins\\"));
    EXPECT_TRUE(HasLine(L"Success: \\tools\\tool.exe"));
    ASSERT_FALSE(g_lines.empty());
    EXPECT_EQ(L"Completed.", g_lines.back().text);
    EXPECT_EQ(g_lines.back().done, g_lines.back().total);
    EXPECT_EQ(static_cast<int32_t>(3 + big.size() + 4 + 1), g_lines.back().total);
    EXPECT_EQ(7u, g_lines.size());
    for (size_t i = 1; i + 1 < g_lines.size(); ++i) EXPECT_GE(g_lines[i].done, g_lines[i - 1].done);
}

TEST_F(Unpack, ExistingFilesAreReplaced)
{
    ASSERT_TRUE(CreateDirectoryW(Dest().c_str(), nullptr));
    ASSERT_TRUE(WriteFileText(Dest() + L"\\a.txt", "a much longer old content"));
    ASSERT_TRUE(Run({{"a.txt", "new"}}));
    EXPECT_EQ("new", Read(L"a.txt"));
}

TEST_F(Unpack, ForwardSlashesDoNotMakeFolders)
{
    EXPECT_FALSE(Run({{"ok.txt", "1"}, {"sub/x.txt", "2"}}));
    EXPECT_TRUE(HasLine(L"Failure: sub/x.txt"));
    EXPECT_TRUE(HasLine(L"Completed."));
    EXPECT_EQ("1", Read(L"ok.txt"));
    // Once the folder exists, the same name works.
    g_lines.clear();
    ASSERT_TRUE(CreateDirectoryW((Dest() + L"\\sub").c_str(), nullptr));
    EXPECT_TRUE(UnpackArchive(Zip().c_str(), Dest().c_str(), &Record));
    EXPECT_EQ("2", Read(L"sub\\x.txt"));
}

// Names that climb out of the destination are refused, and nothing lands
// outside it; the other entries still get their turn.
TEST_F(Unpack, NamesLeavingTheDestinationAreRefused)
{
    std::wstring escapee = dir_ / L"escaped.txt";
    const char* bad[] = {"..\\escaped.txt", "a\\..\\..\\escaped.txt", "a/../../escaped.txt",
                         "...\\escaped.txt", "C:\\escaped.txt", "\\\\server\\share\\escaped.txt",
                         "x:stream", "..\\"};
    for (const char* name : bad) {
        g_lines.clear();
        EXPECT_FALSE(Run({{"first.txt", "1"}, {name, std::string(name) == "..\\" ? "" : "evil"}, {"last.txt", "3"}}))
            << name;
        std::wstring failure = L"Failure: ";
        for (const char* c = name; *c; ++c) failure += static_cast<wchar_t>(*c);
        EXPECT_TRUE(HasLine(failure)) << name;
        EXPECT_FALSE(FileExists(escapee)) << name;
        EXPECT_EQ("3", Read(L"last.txt"));
        EXPECT_EQ(L"Completed.", g_lines.back().text);
    }
    EXPECT_FALSE(FileExists(L"C:\\escaped.txt"));
    // A single leading backslash and a dotted file name stay inside.
    EXPECT_TRUE(Run({{"\\x..y.txt", "ok"}, {".\\dot.txt", "ok"}}));
    EXPECT_EQ("ok", Read(L"x..y.txt"));
}

TEST_F(Unpack, LongNamesAreRefused)
{
    std::string name63(59, 'n');
    name63 += ".txt";  // 63 bytes
    std::string name64 = "n" + name63;
    EXPECT_FALSE(Run({{name63, "fits"}, {name64, "too long"}}));
    EXPECT_EQ("fits", Read(std::wstring(name63.begin(), name63.end())));
    EXPECT_FALSE(FileExists(Dest() + L"\\" + std::wstring(name64.begin(), name64.begin() + 63)));
    EXPECT_EQ(1, static_cast<int>(std::count_if(g_lines.begin(), g_lines.end(), [](const ProgressLine& l) {
                  return l.text.rfind(L"Failure: ", 0) == 0;
              })));

    ArchiveEntryList* list = LoadArchiveEntries(Narrow(Zip()).c_str());
    ASSERT_NE(nullptr, list);
    ASSERT_EQ(2, list->count);
    EXPECT_FALSE(list->entries[0].readFailed);
    EXPECT_TRUE(list->entries[1].readFailed);
    EXPECT_EQ(63u, strlen(list->entries[1].name));  // cut, always terminated
    FreeArchiveEntries(list);
}

TEST_F(Unpack, DamagedContentCountsAsNotWritten)
{
    std::string content(4000, 'Q');
    content += "MARKER-0123456789";
    ASSERT_TRUE(BuildZip(Zip(), {{"good.txt", "fine"}, {"bad.bin", content, true}, {"empty.txt", ""}}));
    std::string bytes;
    ASSERT_TRUE(ReadFileBytes(Zip(), &bytes));
    size_t at = bytes.find("MARKER-0123456789");
    ASSERT_NE(std::string::npos, at);
    bytes[at] = 'm';  // the CRC no longer matches
    ASSERT_TRUE(WriteFileBytes(Zip(), bytes.data(), bytes.size()));

    ArchiveEntryList* list = LoadArchiveEntries(Narrow(Zip()).c_str());
    ASSERT_NE(nullptr, list);
    ASSERT_EQ(3, list->count);
    EXPECT_TRUE(list->entries[1].readFailed);
    EXPECT_EQ(0, list->entries[1].size);
    EXPECT_EQ(nullptr, list->entries[1].data);
    EXPECT_FALSE(list->entries[2].readFailed);
    FreeArchiveEntries(list);

    EXPECT_FALSE(UnpackArchive(Zip().c_str(), Dest().c_str(), &Record));
    EXPECT_TRUE(HasLine(L"Failure: bad.bin"));
    EXPECT_TRUE(HasLine(L"Success: empty.txt"));
    EXPECT_FALSE(FileExists(Dest() + L"\\bad.bin"));
    EXPECT_EQ("fine", Read(L"good.txt"));
}

TEST_F(Unpack, BadArchivesAndDestinationsFail)
{
    EXPECT_FALSE(UnpackArchive((dir_ / L"missing.zip").c_str(), Dest().c_str(), &Record));
    EXPECT_FALSE(UnpackArchive(L"", Dest().c_str(), &Record));

    ASSERT_TRUE(WriteFileText(dir_ / L"text.zip", "this is not a zip archive at all"));
    EXPECT_FALSE(UnpackArchive((dir_ / L"text.zip").c_str(), Dest().c_str(), &Record));

    ASSERT_TRUE(BuildZip(Zip(), {{"a.txt", Pattern(5000)}, {"b.txt", Pattern(7000)}}));
    std::string bytes;
    ASSERT_TRUE(ReadFileBytes(Zip(), &bytes));
    for (size_t keep : {bytes.size() / 2, bytes.size() - 10}) {
        ASSERT_TRUE(WriteFileBytes(dir_ / L"cut.zip", bytes.data(), keep));
        EXPECT_FALSE(UnpackArchive((dir_ / L"cut.zip").c_str(), Dest().c_str(), &Record)) << keep;
    }
    EXPECT_FALSE(DirExists(Dest()));

    EXPECT_FALSE(UnpackArchive(Zip().c_str(), L"", &Record));
    // A destination below a file cannot be created.
    ASSERT_TRUE(WriteFileText(dir_ / L"blocker", "file"));
    g_lines.clear();
    EXPECT_FALSE(UnpackArchive(Zip().c_str(), (dir_ / L"blocker\\out").c_str(), &Record));
    EXPECT_TRUE(HasLine(L"Failure: a.txt"));
    // A folder in the way of a file: that entry fails, the other is written.
    // (A read-only file would do on Windows; Wine run as root writes it anyway.)
    g_lines.clear();
    ASSERT_TRUE(CreateDirectoryW(Dest().c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((Dest() + L"\\a.txt").c_str(), nullptr));
    EXPECT_FALSE(UnpackArchive(Zip().c_str(), Dest().c_str(), &Record));
    EXPECT_TRUE(HasLine(L"Failure: a.txt"));
    EXPECT_TRUE(DirExists(Dest() + L"\\a.txt"));
    EXPECT_TRUE(Pattern(7000) == Read(L"b.txt"));
}

// Many entries, sizes around the read buffers' lengths, stored and deflated,
// random and repetitive, two damaged: each comes back whole or fails alone,
// and the reports follow the archive's order with the running total.
TEST_F(Unpack, ManyEntriesComeBackWholeAndAreReportedInOrder)
{
    const size_t sizes[] = {0, 1, 16383, 16384, 16385, 65535, 65536, 65537, 131073, 300001};
    std::vector<ZipItem> items;
    for (int i = 0; i < 60; ++i) {
        std::string content = i % 3 ? Pattern(sizes[i % 10] + i) : std::string(sizes[i % 10] + i, 'a' + i % 26);
        std::string tag = "entry " + std::to_string(i) + " MARKER";
        content.replace(0, std::min(tag.size(), content.size()), tag.substr(0, content.size()));
        items.push_back({"d" + std::to_string(i % 4) + "\\f" + std::to_string(i) + ".bin", content, i % 4 == 1});
    }
    ASSERT_TRUE(BuildZip(Zip(), items));
    std::string bytes;
    ASSERT_TRUE(ReadFileBytes(Zip(), &bytes));
    for (int damaged : {17, 41}) {  // stored, so the tag is there verbatim
        size_t at = bytes.find("entry " + std::to_string(damaged) + " MARKER");
        ASSERT_NE(std::string::npos, at);
        bytes[at] = 'E';
    }
    ASSERT_TRUE(WriteFileBytes(Zip(), bytes.data(), bytes.size()));

    EXPECT_FALSE(UnpackArchive(Zip().c_str(), Dest().c_str(), &Record));
    int32_t total = 0;
    for (int i = 0; i < 60; ++i)
        if (i != 17 && i != 41) total += static_cast<int32_t>(items[i].content.size());
    std::vector<ProgressLine> expected;
    int32_t done = 0;
    for (int i = 0; i < 60; ++i) {
        std::wstring name(items[i].name.begin(), items[i].name.end());
        if (i == 17 || i == 41) {
            expected.push_back({L"Failure: " + name, 0, 0});
            EXPECT_FALSE(FileExists(Dest() + L"\\" + name)) << i;
            continue;
        }
        done += static_cast<int32_t>(items[i].content.size());
        expected.push_back({L"Success: " + name, done, total});
        EXPECT_TRUE(items[i].content == Read(name)) << i;
    }
    expected.push_back({L"Completed.", total, total});
    ASSERT_EQ(expected.size(), g_lines.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(expected[i].text, g_lines[i].text) << i;
        EXPECT_EQ(expected[i].done, g_lines[i].done) << i;
        EXPECT_EQ(expected[i].total, g_lines[i].total) << i;
    }

    // The list through the ANSI path: archive order, each entry its own content.
    ArchiveEntryList* list = LoadArchiveEntries(Narrow(Zip()).c_str());
    ASSERT_NE(nullptr, list);
    ASSERT_EQ(60, list->count);
    for (int i = 0; i < 60; ++i) {
        const ArchiveEntry& e = list->entries[i];
        EXPECT_EQ(items[i].name, e.name) << i;
        bool damaged = i == 17 || i == 41;
        EXPECT_EQ(damaged, e.readFailed) << i;
        std::string data = e.data ? std::string(reinterpret_cast<const char*>(e.data), e.size) : std::string();
        EXPECT_TRUE((damaged ? std::string() : items[i].content) == data) << i;
    }
    FreeArchiveEntries(list);
}

// --- the split of the running executable ---

namespace {

class Split : public ::testing::Test {
protected:
    void SetUp() override
    {
        ctx_ = std::make_unique<SetupContext>();
        std::memset(ctx_.get(), 0, sizeof(SetupContext));
        wcscpy(ctx_->workFolder, (dir_ / L"work").c_str());
        CreateDirectoryW(ctx_->workFolder, nullptr);
        installer_ = BuildDir() + L"\\installer.exe";
        ASSERT_TRUE(BuildZip(dir_ / L"p.zip", {{"x.txt", "payload"}}));
    }
    void TearDown() override { ReleaseOwnFile(); }
    // The setup as the start routine holds its own file.
    bool Own(const std::wstring& setup)
    {
        wcscpy(ctx_->ownFilePath, setup.c_str());
        return HoldOwnFile(setup.c_str());
    }
    ScratchFolder dir_{L"split"};
    std::unique_ptr<SetupContext> ctx_;
    std::wstring installer_;
};

}  // namespace

TEST_F(Split, WritesThePlainInstallerAndTheArchive)
{
    std::wstring setup = dir_ / L"setup.exe";
    ASSERT_TRUE(BuildSetup(installer_, dir_ / L"p.zip", setup));
    ASSERT_TRUE(Own(setup));
    // Held: nobody renames, replaces or rewrites it while the run lasts.
    EXPECT_FALSE(MoveFileExW(setup.c_str(), (dir_ / L"moved.exe").c_str(), 0));
    EXPECT_FALSE(DeleteFileW(setup.c_str()));
    HANDLE writer = CreateFileW(setup.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, writer);
    if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
    ASSERT_TRUE(SplitOwnFile(*ctx_));
    // The archive's copy is written meanwhile and held until it is finished.
    ASSERT_TRUE(WaitForArchiveCopy());
    EXPECT_FALSE(MoveFileExW(ctx_->archivePath, (dir_ / L"moved.zip").c_str(), 0));
    wchar_t digest[65];
    ASSERT_TRUE(FinishArchiveCopy(digest));
    EXPECT_FALSE(FinishArchiveCopy(nullptr)) << "finished once";

    EXPECT_EQ(dir_ / L"work\\installer.exe", std::wstring(ctx_->plainInstallerPath));
    EXPECT_EQ(dir_ / L"work\\makedata.zip", std::wstring(ctx_->archivePath));
    std::string whole, plain, archive, zip;
    ASSERT_TRUE(ReadFileBytes(setup, &whole));
    ASSERT_TRUE(ReadFileBytes(ctx_->plainInstallerPath, &plain));
    ASSERT_TRUE(ReadFileBytes(ctx_->archivePath, &archive));
    ASSERT_TRUE(ReadFileBytes(dir_ / L"p.zip", &zip));
    EXPECT_EQ(whole, plain + archive);
    EXPECT_EQ(zip, archive);
    EXPECT_EQ(Sha256Text(zip), std::wstring(digest));
    EXPECT_EQ(ReadPayloadOffset(reinterpret_cast<const BYTE*>(whole.data()), static_cast<DWORD>(whole.size())),
              plain.size());
    EXPECT_TRUE(UnpackArchive(ctx_->archivePath, (dir_ / L"out").c_str(), nullptr));
}

TEST_F(Split, BadPayloadOffsetsFail)
{
    std::wstring setup = dir_ / L"setup.exe";
    for (long long flags : {0LL, 0x7FFFFFF0LL}) {
        ReleaseOwnFile();
        ASSERT_TRUE(BuildSetup(installer_, dir_ / L"p.zip", setup, flags));
        ASSERT_TRUE(Own(setup));
        ctx_->archivePath[0] = L'\0';
        EXPECT_FALSE(SplitOwnFile(*ctx_)) << flags;
        EXPECT_FALSE(FileExists(dir_ / L"work\\makedata.zip")) << flags;
    }
    // The plain installer alone: its offset is its own size, nothing follows.
    std::string plain;
    ASSERT_TRUE(ReadFileBytes(installer_, &plain));
    ReleaseOwnFile();
    ASSERT_TRUE(BuildSetup(installer_, dir_ / L"p.zip", setup));
    std::string whole;
    ASSERT_TRUE(ReadFileBytes(setup, &whole));
    whole.resize(plain.size());
    ASSERT_TRUE(WriteFileBytes(setup, whole.data(), whole.size()));
    ASSERT_TRUE(Own(setup));
    EXPECT_FALSE(SplitOwnFile(*ctx_));
    // Not an executable at all.
    ReleaseOwnFile();
    ASSERT_TRUE(WriteFileText(setup, "MZ but nothing else"));
    ASSERT_TRUE(Own(setup));
    EXPECT_FALSE(SplitOwnFile(*ctx_));
}

TEST_F(Split, RelaunchedRunsUseTheArchivePathAsItIs)
{
    ctx_->relaunched = 'y';
    wcscpy(ctx_->ownFilePath, L"");
    wcscpy(ctx_->archivePath, (dir_ / L"p.zip").c_str());
    EXPECT_TRUE(SplitOwnFile(*ctx_));
    EXPECT_FALSE(FileExists(dir_ / L"work\\installer.exe"));
    EXPECT_EQ(dir_ / L"p.zip", std::wstring(ctx_->archivePath));

    // "/f" on an install command line: no archive path, so unpacking fails.
    ctx_->archivePath[0] = L'\0';
    EXPECT_TRUE(SplitOwnFile(*ctx_));
    EXPECT_FALSE(UnpackArchive(ctx_->archivePath, (dir_ / L"out").c_str(), nullptr));

    // Without the flag and without a held own file: whether the archive
    // exists. A path alone is never opened again: it may name another file.
    ctx_->relaunched = 0;
    std::wstring setup = dir_ / L"setup.exe";
    ASSERT_TRUE(BuildSetup(installer_, dir_ / L"p.zip", setup));
    for (const std::wstring& own : {dir_ / L"nope.exe", setup}) {
        wcscpy(ctx_->ownFilePath, own.c_str());
        ctx_->archivePath[0] = L'\0';
        EXPECT_FALSE(SplitOwnFile(*ctx_));
        EXPECT_FALSE(FileExists(dir_ / L"work\\makedata.zip"));
    }
    wcscpy(ctx_->archivePath, (dir_ / L"p.zip").c_str());
    EXPECT_TRUE(SplitOwnFile(*ctx_));
}

TEST_F(Split, OnlyTheRunningProgramsOwnFileCountsAsIt)
{
    wchar_t self[MAX_PATH];
    ASSERT_NE(0u, GetModuleFileNameW(nullptr, self, MAX_PATH));
    ASSERT_TRUE(HoldOwnFile(self));
    EXPECT_TRUE(IsRunningImage(HeldOwnFile()));
    // Another program: the setup put under the running one's name.
    ASSERT_TRUE(HoldOwnFile(installer_.c_str()));
    EXPECT_FALSE(IsRunningImage(HeldOwnFile()));
    ReleaseOwnFile();

    std::string image;
    ASSERT_TRUE(ReadFileBytes(self, &image));
    const size_t nt = *reinterpret_cast<const uint32_t*>(&image[0x3C]);
    const std::wstring copy = dir_ / L"copy.exe";
    // A relocated image base is the loader's doing; a changed time stamp is another build.
    for (size_t at : {nt + 24 + 24, nt + 8}) {
        std::string changed = image;
        changed[at] ^= 0x10;
        ASSERT_TRUE(WriteFileBytes(copy, changed.data(), changed.size()));
        ASSERT_TRUE(HoldOwnFile(copy.c_str()));
        EXPECT_EQ(at == nt + 24 + 24, IsRunningImage(HeldOwnFile())) << at;
        ReleaseOwnFile();
    }
}

TEST_F(Unpack, FoldersWhoseNamesAreNotInTheAnsiCodePage)
{
    // The default install folder is named in Uyghur: the backup archive in it
    // and any destination must open all the same.
    std::wstring folder = dir_ / L"ۋارېك ئۇيغۇرچە";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    std::wstring zip = folder + L"\\_backup_.dat";
    ASSERT_TRUE(BuildZip(zip, {{"$dataFiles$\\config.dsc", "CFG"}, {"main.chm", "CHM"}}));
    std::wstring dest = folder + L"\\zipdatas";
    EXPECT_TRUE(UnpackArchive(zip.c_str(), dest.c_str(), &Record));
    std::string s;
    EXPECT_TRUE(ReadFileBytes(dest + L"\\$dataFiles$\\config.dsc", &s));
    EXPECT_EQ("CFG", s);
    EXPECT_TRUE(ReadFileBytes(dest + L"\\main.chm", &s));
    EXPECT_EQ("CHM", s);
}

// The payload read from the held setup at the start: the same entries as the
// archive file gives, a damaged one failed alike; nothing without a held file.
TEST_F(Split, ThePreloadedPayloadIsTheArchivesOwnEntries)
{
    std::string damaged(3000, 'Q');
    damaged += "MARKER-0123456789";
    ASSERT_TRUE(BuildZip(dir_ / L"p.zip", {{"a.txt", Pattern(70000)}, {"sub/b.bin", Pattern(5000), true},
                                          {"bad.bin", damaged, true}, {"empty.txt", ""}}));
    std::string bytes;
    ASSERT_TRUE(ReadFileBytes(dir_ / L"p.zip", &bytes));
    bytes[bytes.find("MARKER-0123456789")] = 'm';
    ASSERT_TRUE(WriteFileBytes(dir_ / L"p.zip", bytes.data(), bytes.size()));
    std::wstring setup = dir_ / L"setup.exe";
    ASSERT_TRUE(BuildSetup(installer_, dir_ / L"p.zip", setup));

    StartPayloadPreload();
    EXPECT_EQ(nullptr, TakePreloadedPayload()) << "no file held";
    ASSERT_TRUE(Own(setup));
    StartPayloadPreload();
    ArchiveEntryList* preloaded = TakePreloadedPayload();
    ArchiveEntryList* fromFile = LoadArchiveEntries(Narrow(dir_ / L"p.zip").c_str());
    ASSERT_NE(nullptr, preloaded);
    ASSERT_NE(nullptr, fromFile);
    ASSERT_EQ(4, preloaded->count);
    ASSERT_EQ(fromFile->count, preloaded->count);
    for (int32_t i = 0; i < preloaded->count; ++i) {
        const ArchiveEntry &p = preloaded->entries[i], &f = fromFile->entries[i];
        EXPECT_STREQ(f.name, p.name);
        EXPECT_EQ(f.readFailed, p.readFailed) << p.name;
        ASSERT_EQ(f.size, p.size) << p.name;
        EXPECT_TRUE(f.size == 0 || std::memcmp(f.data, p.data, f.size) == 0) << p.name;
    }
    EXPECT_TRUE(preloaded->entries[2].readFailed);
    FreeArchiveEntries(fromFile);
    FreeArchiveEntries(preloaded);
    EXPECT_EQ(nullptr, TakePreloadedPayload()) << "handed over once";

    // Read for a wizard: the configuration, the agreement page and the fonts
    // first, then the rest (a damaged entry failing there), each in order.
    ASSERT_TRUE(BuildZip(dir_ / L"w.zip", {{"a.txt", "a"}, {"\\$fonts$\\f.ttf", "font"}, {"bad.bin", damaged, true},
                                          {"License.html", "page"}, {"$DATAFILES$\\Config.dsc", "c"},
                                          {"main.chm.txt", "not the help"}, {"$fonts$x.ttf", "no font"}}));
    ASSERT_TRUE(ReadFileBytes(dir_ / L"w.zip", &bytes));
    bytes[bytes.find("MARKER-0123456789")] = 'm';
    ASSERT_TRUE(WriteFileBytes(dir_ / L"w.zip", bytes.data(), bytes.size()));
    ASSERT_TRUE(BuildSetup(installer_, dir_ / L"w.zip", dir_ / L"wizard.exe"));
    ASSERT_TRUE(Own(dir_ / L"wizard.exe"));
    StartPayloadPreload(true);
    bool restFollows = false;
    ArchiveEntryList* wizard = TakePreloadedPayload(&restFollows);
    EXPECT_TRUE(restFollows && PreloadedRestPending());
    LetPreloadRestBegin();
    ArchiveEntryList* rest = TakePreloadedRest();
    EXPECT_FALSE(PreloadedRestPending());
    auto names = [](const ArchiveEntryList* list) {
        std::string text;
        for (int32_t i = 0; list && i < list->count; ++i)
            text += std::string(list->entries[i].name) + (list->entries[i].readFailed ? "!" : "") + ";";
        return text;
    };
    EXPECT_EQ("\\$fonts$\\f.ttf;License.html;$DATAFILES$\\Config.dsc;", names(wizard));
    EXPECT_EQ("a.txt;bad.bin!;main.chm.txt;$fonts$x.ttf;", names(rest));
    ASSERT_TRUE(wizard && wizard->count == 3 && wizard->entries[1].size == 4);
    EXPECT_EQ(0, std::memcmp(wizard->entries[1].data, "page", 4));
    FreeArchiveEntries(wizard);
    FreeArchiveEntries(rest);
}

// The payload read from memory is decoded in place from what the headers
// say: an entry whose record lies fails alone, and nothing is read past the
// archive's bytes.
TEST_F(Unpack, EntriesDecodedInPlaceFailAloneWhenTheirRecordsLie)
{
    struct Lie {
        const char* what;
        size_t localField, centralField;  // offsets in the local and central headers
        uint32_t value;
        int bytes;
    };
    const Lie lies[] = {
        {"bzip2, which minizip lets through unread", 8, 10, 12, 2},
        {"packed beyond the end", 18, 20, 0x7fff0000, 4},
        {"longer than it decodes", 22, 24, 5001, 4},
    };
    for (const Lie& lie : lies) {
        for (bool stored : {true, false}) {
            ASSERT_TRUE(BuildZip(Zip(), {{"good.bin", Pattern(40000)}, {"lie.bin", Pattern(5000), stored},
                                         {"after.txt", "after", true}}));
            std::string bytes;
            ASSERT_TRUE(ReadFileBytes(Zip(), &bytes));
            auto patch = [&](const char* signature, size_t nameAt, size_t field) {
                for (size_t at = bytes.find(signature); at != std::string::npos; at = bytes.find(signature, at + 1)) {
                    if (bytes.compare(at + nameAt, 7, "lie.bin") != 0) continue;
                    for (int i = 0; i < lie.bytes; ++i) bytes[at + field + i] = static_cast<char>(lie.value >> (8 * i));
                    return true;
                }
                return false;
            };
            ASSERT_TRUE(patch("PK\x03\x04", 30, lie.localField) && patch("PK\x01\x02", 46, lie.centralField));
            ArchiveEntryList* list =
                LoadArchiveEntriesFrom(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size());
            ASSERT_NE(nullptr, list) << lie.what;
            ASSERT_EQ(3, list->count);
            EXPECT_FALSE(list->entries[0].readFailed) << lie.what;
            EXPECT_EQ(0, std::memcmp(list->entries[0].data, Pattern(40000).data(), 40000)) << lie.what;
            EXPECT_TRUE(list->entries[1].readFailed) << lie.what << (stored ? ", stored" : ", deflated");
            EXPECT_FALSE(list->entries[2].readFailed) << lie.what;
            FreeArchiveEntries(list);
        }
    }
}
