// A full disk: drive E: is a small file system of its own (the wrapper
// script mounts it). A placement that cannot be written completely fails
// the run with 1603 and never leaves a partly written file in place.
#include "interrupt_support.h"

using namespace robot_test;

namespace {

const wchar_t kFiller[] = L"E:\\filler.bin";

// Fills the drive until fewer than leaveBytes are free (0: completely).
void FillDrive(uint64_t leaveBytes)
{
    HANDLE file = CreateFileW(kFiller, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    std::vector<char> block(4096, 'x');
    for (;;) {
        ULARGE_INTEGER freeBytes{};
        GetDiskFreeSpaceExW(L"E:\\", &freeBytes, nullptr, nullptr);
        if (freeBytes.QuadPart <= leaveBytes + block.size()) break;
        DWORD written = 0;
        if (!WriteFile(file, block.data(), static_cast<DWORD>(block.size()), &written, nullptr) || !written) break;
    }
    if (leaveBytes == 0) {
        DWORD written = 0;
        for (int i = 0; i < 64 && WriteFile(file, block.data(), 512, &written, nullptr) && written; ++i) {
        }
    }
    CloseHandle(file);
}

std::vector<std::wstring> PartFiles(const std::wstring& folder)
{
    std::vector<std::wstring> parts;
    for (const std::wstring& name : Listing(folder)) {
        if (DirExists(folder + name)) {
            for (const std::wstring& below : PartFiles(folder + name + L"\\")) parts.push_back(name + L"\\" + below);
        } else if (Lower(name).find(L".zerda-part") != std::wstring::npos) {
            parts.push_back(name);
        }
    }
    return parts;
}

class SmallDisk : public SetupRuns {
public:
    void SetUp() override
    {
        SetupRuns::SetUp();
        product.installFolder = L"E:\\Zerda\\";
        installer = product.installFolder + L"installer.exe";
    }
    void TearDown() override
    {
        DeleteFileW(kFiller);
        SetupRuns::TearDown();
        DeleteTree(product.installFolder);
    }
    std::wstring Log(const std::wstring& path) { return FromUtf8(Bytes(path)); }
};

TEST_F(SmallDisk, AFullDriveFailsTheRunAndKeepsTheGoodFiles)
{
    ULARGE_INTEGER total{};
    ASSERT_TRUE(GetDiskFreeSpaceExW(L"E:\\", nullptr, &total, nullptr)) << "no drive E:";
    ASSERT_LT(total.QuadPart, 64ull << 20) << "E: is not the small drive";

    // Room enough: an ordinary installation onto E:.
    ASSERT_EQ(0, RunWhole(Command::Install, nullptr));
    const std::vector<std::wstring> installed = MachineState(product);
    std::map<std::wstring, std::string> good;
    for (const std::wstring& name : Listing(product.installFolder))
        if (!DirExists(product.installFolder + name)) good[name] = Bytes(product.installFolder + name);
    ASSERT_TRUE(good.count(L"config.exe") && good.count(L"installer.exe"));

    // A repair onto the full drive: it fails, and every file is still the good one.
    FillDrive(0);
    const std::wstring repairLog = TempFolder() + L"small disk repair.log";
    DeleteFileW(repairLog.c_str());
    EXPECT_EQ(1603, RunAndWait(CommandLine(Command::Repair) + L" \"/log=" + repairLog + L"\"", 180000));
    std::wstring log = Log(repairLog);
    EXPECT_NE(std::wstring::npos, log.find(L"FAILED: Not placed: e:\\zerda\\")) << Narrow(log);
    EXPECT_NE(std::wstring::npos, log.find(L"(error 112")) << Narrow(log);
    EXPECT_NE(std::wstring::npos, log.find(L"Exit code: 1603")) << Narrow(log);
    for (const auto& [name, bytes] : good)
        EXPECT_TRUE(bytes == Bytes(product.installFolder + name)) << Narrow(name) << " was changed";
    EXPECT_TRUE(PartFiles(L"E:\\").empty()) << Narrow(PartFiles(L"E:\\")[0]);
    EXPECT_EQ("", DanglingRegistrations(product));
    EXPECT_EQ("", StateDifference(installed, MachineState(product)));

    // With room again the same repair finishes.
    DeleteFileW(kFiller);
    EXPECT_EQ(0, RunWhole(Command::Repair, nullptr));
    EXPECT_EQ("", StateDifference(installed, MachineState(product)));
    ASSERT_EQ(0, RunWhole(Command::Uninstall, nullptr));
    // The uninstaller ran from E: and could not move its own image to the
    // system drive: that file alone stays, under a name of its own, and goes
    // at the next restart with the folder, if it is empty then.
    std::vector<std::wstring> left = Listing(product.installFolder);
    ASSERT_EQ(1u, left.size());
    EXPECT_EQ(0u, left[0].find(L"installer.exe.")) << Narrow(left[0]);
    std::wstring pending = Lower(PendingRenames());
    EXPECT_NE(std::wstring::npos, pending.find(Lower(product.installFolder + left[0]))) << Narrow(pending);
    EXPECT_EQ(std::wstring::npos, pending.find(L"e:\\zerda\\installer.exe|")) << Narrow(pending);
    // A reinstall before that restart: the leftover is nobody's, and the
    // restart takes neither the new setup nor its folder.
    EXPECT_EQ(0, RunWhole(Command::Install, nullptr));
    EXPECT_TRUE(FileExists(installer));
    EXPECT_EQ(std::wstring::npos, Lower(PendingRenames()).find(L"e:\\zerda\\installer.exe|"));
    ASSERT_EQ(0, RunWhole(Command::Uninstall, nullptr));
    DeleteTree(product.installFolder);

    // An installation onto a drive that holds the smaller files but not the
    // setup and its backup: the step fails with its own line, nothing is
    // registered, and no part of a file stays.
    FillDrive(400 * 1024);
    const std::wstring installLog = TempFolder() + L"small disk install.log";
    DeleteFileW(installLog.c_str());
    EXPECT_EQ(1603, RunAndWait(CommandLine(Command::Install) + L" \"/log=" + installLog + L"\"", 180000));
    log = Log(installLog);
    EXPECT_NE(std::wstring::npos, log.find(L"قاچىلاش پىروگراممىسىدا خاتالىق كۆرۈلدى")) << Narrow(log);
    EXPECT_NE(std::wstring::npos, log.find(L"(error 112")) << Narrow(log);
    EXPECT_EQ(std::wstring::npos, log.find(L"  7.")) << Narrow(log);
    EXPECT_TRUE(PartFiles(L"E:\\").empty()) << Narrow(PartFiles(L"E:\\")[0]);
    for (const wchar_t* name : {L"installer.exe", L"_backup_.dat"}) {
        if (FileExists(product.installFolder + name)) {
            EXPECT_TRUE(good[name] == Bytes(product.installFolder + name)) << Narrow(name) << " written in part";
        }
    }
    EXPECT_EQ("", DanglingRegistrations(product));

    // With room again the same command installs.
    DeleteFileW(kFiller);
    EXPECT_EQ(0, RunWhole(Command::Install, nullptr));
    EXPECT_EQ("", StateDifference(installed, MachineState(product)));
}

}  // namespace
