// Whole-program installations that meet something awkward on the machine or
// in the payload; the robot answers the questions as a person would.
#include "robot_test_support.h"

using namespace robot_test;

namespace {
const wchar_t kConflictCaption[] = L"ھۆججەت ئېچىشتا توقۇنۇش كۆرۈلدى";

uint64_t FileVersionNumber(const std::wstring& file)
{
    DWORD handle = 0, size = GetFileVersionInfoSizeW(file.c_str(), &handle);
    if (!size) return 0;
    std::vector<BYTE> info(size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT bytes = 0;
    if (!GetFileVersionInfoW(file.c_str(), 0, size, info.data()) ||
        !VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &bytes) || !fixed)
        return 0;
    return (static_cast<uint64_t>(fixed->dwFileVersionMS) << 32) | fixed->dwFileVersionLS;
}

std::string ReadLog(const std::wstring& path)
{
    std::string bytes;
    ReadFileBytes(path, &bytes);
    return bytes;
}
}  // namespace

// A newer 32-bit driver is kept when the user says so; then a reinstall
// while the older 64-bit driver is held twice: by a program the process list
// cannot see (mapped as an image, not loaded) and by one that comes back
// whenever it is ended, as Explorer does. After Force End the person goes
// on; the new driver goes in, the held one is renamed aside for deletion at
// the next restart, the holders keep running, the setup asks whether to
// restart (No) and ends with 3010. Meanwhile the wizard, clicked again
// between the folder question and the placing, installs once and answers.
TEST_F(InstallRun, NewerWow64DriverIsKeptAndAHeldDriverGoesAtTheNextRestart)
{
    // A newer 32-bit driver already in place under the driver's name.
    const std::wstring newer = SystemFolder(true) + Lower(imeName) + L".ime";
    const std::wstring donor = BuildDir() + L"\\tests\\robot\\newer32\\newer_driver.ime";
    ASSERT_GT(FileVersionNumber(donor), (2ull << 48) | 1ull) << "the donor must be newer than the payload's 2.0.0.1";
    ASSERT_TRUE(CopyFileW(donor.c_str(), newer.c_str(), FALSE));
    const std::string before = Bytes(newer);

    const std::wstring keepNewer = L"--answer \"" + std::wstring(kConflictCaption) + L"=no\"";
    InstallThroughTheWindows(L"newer_driver", false, keepNewer);
    if (!HasFatalFailure()) {
        EXPECT_NE(std::wstring::npos, robotOutput.find(L"message: " + std::wstring(kConflictCaption) + L" | "));
        EXPECT_NE(std::wstring::npos, robotOutput.find(L"نىشان ھۆججەت:" + Lower(newer)));
        EXPECT_TRUE(before == Bytes(newer)) << "the newer driver was replaced";
        // Keeping the newer file counts as success: the installation ran to its end.
        EXPECT_EQ(SuccessfulLog(), FromUtf8(ReadLog(logFile)));
        EXPECT_NE(std::wstring::npos, robotOutput.find(L"exit code: 0"));
        EXPECT_TRUE(FileExists(SystemFolder(false) + Lower(imeName) + L".ime"));
        EXPECT_TRUE(FileExists(installFolder + L"installer.exe"));
    }

    const std::wstring driver = SystemFolder(false) + Lower(imeName) + L".ime";
    const std::string placed = Bytes(driver);
    if (!HasFatalFailure() && !placed.empty()) {
        ASSERT_TRUE(CopyFileW((BuildDir() + L"\\tests\\files\\fixtures\\v1000.dll").c_str(), driver.c_str(), FALSE));
        FileHolder holder(driver, true), comesBack(driver, false, true);
        ASSERT_TRUE(holder.Ready() && comesBack.Ready());
        InstallThroughTheWindows(L"held_driver", true, keepNewer + L" --go-on --press-again");
        for (const wchar_t* line : {L"process list: force end", L"process list: go on", L"exit code: 3010",
                                    L"wizard: I agree, Install and Cancel pressed again"})
            EXPECT_NE(std::wstring::npos, robotOutput.find(line)) << Narrow(line);
        EXPECT_EQ(L"-> 7", RobotLine(robotOutput, L"message: قايتا قوزغىتىش | ").substr(0, 4)) << "the restart question, No";
        EXPECT_EQ(std::wstring::npos, robotOutput.find(L"made by another thread")) << Narrow(robotOutput);
        const std::wstring overwrite = L"message: داۋاملىق قاچىلامسىز؟";
        EXPECT_EQ(robotOutput.find(overwrite), robotOutput.rfind(overwrite)) << "asked once";
        ExpectRobotSawAnswers(robotOutput);
        EXPECT_EQ(SuccessfulLog(), FromUtf8(ReadLog(logFile)));
        EXPECT_TRUE(holder.Running()) << "the holder was ended";
        EXPECT_TRUE(placed == Bytes(driver)) << "the payload's driver is not in place";
        std::vector<std::wstring> aside;
        for (const std::wstring& name : Listing(SystemFolder(false)))
            if (Lower(name).rfind(Lower(imeName) + L".ime.", 0) == 0 && Lower(name).find(L".old") != std::wstring::npos)
                aside.push_back(SystemFolder(false) + name);
        ASSERT_EQ(1u, aside.size());
        EXPECT_NE(std::wstring::npos, Lower(PendingRenames()).find(Lower(aside[0]))) << "no deletion at the restart";
        holder.End();
        comesBack.End();
        for (int i = 0; i < 50 && !DeleteFileW(aside[0].c_str()); ++i) Sleep(100);
    }
    DeleteFileW(newer.c_str());
}

TEST_F(InstallRun, DisplayNameWithInvalidFileNameCharactersStillInstalls)
{
    UseVariant(L"bad_display_name", {{L"display_name", L"Zerda*Bad?Name|"},
                                     {L"default_folder", L"ZerdaBadName"},
                                     {L"text_service_guid", L"{7A3C4E1D-5B2F-4C8A-9E61-2D0F3B8A4C58}"}});
    ASSERT_TRUE(FileExists(setup)) << Narrow(setup);
    InstallThroughTheWindows(L"bad_display_name", false);
    if (HasFatalFailure()) return;
    EXPECT_NE(std::wstring::npos, robotOutput.find(L"window: Zerda*Bad?Name| قاچىلاش يېتەكچىسى"));
    EXPECT_EQ(SuccessfulLog(), FromUtf8(ReadLog(logFile)));
    EXPECT_EQ(L"Zerda*Bad?Name|", RegString(HKEY_LOCAL_MACHINE, UninstallKey(), L"DisplayName"));
    EXPECT_EQ(installFolder, RegString(HKEY_LOCAL_MACHINE, L"Software\\ZerdaIME3\\" + guid, L"InstallLocation"));
    EXPECT_TRUE(FileExists(installFolder + L"installer.exe"));
    EXPECT_TRUE(FileExists(installFolder + L"_backup_.dat"));
    // No program group could be made under that name.
    for (const std::wstring& name : Listing(robot_test::Folder(CSIDL_COMMON_PROGRAMS)))
        EXPECT_EQ(std::wstring::npos, name.find(L"Zerda")) << Narrow(name);
    // The companion tool ran all the same.
    std::string calls;
    for (int i = 0; i < 50 && !(ReadFileBytes(callsLog, &calls) && calls.find("/do=install") != std::string::npos); ++i)
        Sleep(100);
    EXPECT_NE(std::string::npos, calls.find("/do=install"));
}

TEST_F(InstallRun, AgreementPageFirstThenTheWizardWithoutItsRow)
{
    UseVariant(L"agreement_first", {{L"agreement", L"1"},
                                    {L"default_folder", L"ZerdaAgreement"},
                                    {L"text_service_guid", L"{7A3C4E1D-5B2F-4C8A-9E61-2D0F3B8A4C59}"}});
    ASSERT_TRUE(FileExists(setup)) << Narrow(setup);
    InstallThroughTheWindows(L"agreement_first", false);
    if (HasFatalFailure()) return;
    const size_t page = robotOutput.find(L"window: " + displayName + L" - ئىشلىتىش كېلىشىمى");
    const size_t wizard = robotOutput.find(L"window: " + displayName + L" قاچىلاش يېتەكچىسى");
    ASSERT_NE(std::wstring::npos, page);
    ASSERT_NE(std::wstring::npos, wizard);
    EXPECT_LT(page, wizard);
    EXPECT_EQ(SuccessfulLog(), FromUtf8(ReadLog(logFile)));
}

TEST_F(InstallRun, DeclinedAgreementPageEndsWithoutInstalling)
{
    UseVariant(L"agreement_first", {{L"agreement", L"1"},
                                    {L"default_folder", L"ZerdaAgreement"},
                                    {L"text_service_guid", L"{7A3C4E1D-5B2F-4C8A-9E61-2D0F3B8A4C59}"}});
    const std::wstring out = TempFolder() + L"zerda_robot_decline.out";
    std::wstring command = L"cmd /c \"\"" + robot + L"\" install \"" + setup + L"\" - --decline-licence --timeout 120 > \"" +
                           out + L"\"\"";
    EXPECT_EQ(4, RunAndWait(command, 150000));
    std::string text;
    ReadFileBytes(out, &text);
    EXPECT_NE(std::wstring::npos, FromUtf8(text).find(L" - ئىشلىتىش كېلىشىمى"));
    EXPECT_EQ(std::wstring::npos, FromUtf8(text).find(L"window: " + displayName + L" قاچىلاش يېتەكچىسى"));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, UninstallKey()));
    EXPECT_TRUE(LeftWorkFolders().empty());
}
