// Interrupted runs of the packed demo setup: quiet installs,
// repairs and uninstalls are killed at evenly spread moments of their run;
// nothing may stay registered without its driver, and running the same
// command again must leave the machine as one uninterrupted run does.
// ZERDA_KILL_POINTS sets the number of moments per command (default 3).
#include "interrupt_support.h"

#include <algorithm>
#include <cstdlib>

using namespace robot_test;

namespace {

int KillPoints()
{
    const char* text = std::getenv("ZERDA_KILL_POINTS");
    int n = text ? std::atoi(text) : 0;
    return n > 0 ? n : 3;
}

class Interrupted : public SetupRuns {
public:
    // One kill point: kill, check for dangling registrations, run again,
    // compare. Prints the summary line the sweep script counts.
    void KillAndConverge(Command c, int k, int n, int wholeMs, const std::vector<std::wstring>& expected)
    {
        int afterMs = wholeMs * k / (n + 1);
        SCOPED_TRACE(std::string(CommandName(c)) + " killed after " + std::to_string(afterMs) + " ms");
        bool killed = RunAndKill(c, afterMs);
        std::string dangling = DanglingRegistrations(product);
        EXPECT_EQ("", dangling);

        int again = -2;
        if (c == Command::Uninstall && !FileExists(installer)) {
            // Nothing to run again: nothing of the product may be left.
            EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, product.UninstallKey())) << "an entry whose program is gone";
        } else {
            again = RunWhole(c, nullptr);
            EXPECT_TRUE(again == 0 || again == 3010) << again;
        }
        if (c == Command::Uninstall) WaitForUninstallRemains();
        std::string difference = StateDifference(expected, MachineState(product));
        EXPECT_EQ("", difference);
        bool converged = dangling.empty() && difference.empty() && (again == -2 || again == 0 || again == 3010);
        std::printf("KILLPOINT %s %s %d/%d after %d ms%s: %s\n", road, CommandName(c), k, n, afterMs,
                    killed ? "" : " (ended before the kill)", converged ? "converged" : "FAILED");
        std::fflush(stdout);
    }
};

TEST_F(Interrupted, KilledRunsLeaveNothingDanglingAndTheSameCommandFinishes)
{
    ASSERT_TRUE(FileExists(setup)) << Narrow(setup);
    const std::vector<std::wstring> clean = MachineState(product);
    ASSERT_EQ("", Lines(clean)) << "the product is on the machine before the test";

    // Uninterrupted runs, twice: the states they leave, and their shorter
    // durations (the first run in a fresh prefix is the slower one).
    int installMs = 0, repairMs = 0, uninstallMs = 0;
    std::vector<std::wstring> installed;
    for (int round = 0; round < 2; ++round) {
        int ms[3] = {};
        ASSERT_EQ(0, RunWhole(Command::Install, &ms[0]));
        if (round == 0) installed = MachineState(product);
        EXPECT_EQ("", StateDifference(installed, MachineState(product))) << "two installs differ";
        EXPECT_EQ("", DanglingRegistrations(product));
        ASSERT_EQ(0, RunWhole(Command::Repair, &ms[1]));
        EXPECT_EQ("", StateDifference(installed, MachineState(product))) << "a repair changed the installation";
        ASSERT_EQ(0, RunWhole(Command::Uninstall, &ms[2]));
        ASSERT_EQ("", StateDifference(clean, MachineState(product)));
        installMs = round == 0 ? ms[0] : std::min(installMs, ms[0]);
        repairMs = round == 0 ? ms[1] : std::min(repairMs, ms[1]);
        uninstallMs = round == 0 ? ms[2] : std::min(uninstallMs, ms[2]);
    }
    ASSERT_NE(std::string::npos, Lines(installed).find("[entry]\\UninstallString="));
    ASSERT_NE(std::string::npos, Lines(installed).find("[system]\\" + Narrow(Lower(imeName)) + ".ime"));
    EXPECT_EQ(std::string::npos, Lines(installed).find(".zerda-part")) << Lines(installed);
    // Registered once: one keyboard layout on the older road.
    const auto layouts = std::count_if(installed.begin(), installed.end(),
                                       [](const std::wstring& line) { return line.rfind(L"[layout]", 0) == 0; });
    if (std::string(road) == "win7") EXPECT_EQ(1, layouts);
    else EXPECT_NE(std::string::npos, Lines(installed).find("[tip]"));
    std::printf("uninterrupted: install %d ms, repair copy %d ms, uninstall copy %d ms\n", installMs, repairMs,
                uninstallMs);

    const int n = KillPoints();
    for (int k = 1; k <= n; ++k) KillAndConverge(Command::Install, k, n, installMs, installed);
    for (int k = 1; k <= n; ++k) KillAndConverge(Command::Repair, k, n, repairMs, installed);
    for (int k = 1; k <= n; ++k) {
        if (!RegKeyExists(HKEY_LOCAL_MACHINE, product.UninstallKey())) {
            ASSERT_EQ(0, RunWhole(Command::Install, nullptr));
        }
        KillAndConverge(Command::Uninstall, k, n, uninstallMs, clean);
    }
}

// The uninstall entry outlives the product's keys: an entry left alone is
// finished off by its own command, a product never installed still fails.
TEST_F(Interrupted, AnEntryLeftWithoutTheProductKeysIsFinishedByRunningItAgain)
{
    EXPECT_EQ(1603, RunAndWait(Quote(setup) + L" /n " + guid + L" /u /quiet", 120000)) << "never installed";
    ASSERT_EQ(0, RunWhole(Command::Install, nullptr));
    const std::vector<std::wstring> clean = {};
    for (const std::wstring& key : {L"Software\\ZerdaIME3\\" + guid, L"Software\\Wow6432Node\\ZerdaIME3\\" + guid})
        ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str()));
    // Before its keys, the uninstall removed every file of the install folder
    // but the setup (the companion tool, which the install started, has ended).
    for (int i = 0; i < 100 && Bytes(callsLog).find("/do=install") == std::string::npos; ++i) Sleep(100);
    for (const std::wstring& name : Listing(product.installFolder))
        if (name != L"installer.exe") DeleteTree(product.installFolder + name);
    // The state of an uninstall ended right after the keys went, as far as
    // the entry is concerned: its command finishes the job.
    EXPECT_EQ(0, RunWhole(Command::Uninstall, nullptr));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, product.UninstallKey()));
    EXPECT_FALSE(DirExists(product.installFolder));
    // The registrations and drivers were not the entry's to remove: the next
    // install and its uninstall clear them as usual.
    ASSERT_EQ(0, RunWhole(Command::Install, nullptr));
    ASSERT_EQ(0, RunWhole(Command::Uninstall, nullptr));
    EXPECT_EQ("", StateDifference(clean, MachineState(product)));
}

}  // namespace
