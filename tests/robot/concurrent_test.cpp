// Runs of the packed demo setup started a fraction of a second apart: one
// does the work, the others end with 1618 without a window or a question
// (one that waited for a person would not end), and the result is whole.
#include "interrupt_support.h"

using namespace robot_test;

namespace {

class Concurrent : public SetupRuns {};

// Every other command, quiet and interactive, run with the setup (the
// installed program may be gone by the time it starts).
std::vector<std::wstring> OtherRuns(const SetupRuns& t)
{
    std::vector<std::wstring> runs;
    for (Command c : {Command::Install, Command::Repair, Command::Uninstall})
        for (bool quiet : {true, false}) runs.push_back(t.CommandLine(c, quiet, t.setup));
    return runs;
}

TEST_F(Concurrent, OneRunWorksAndTheOthersEndWith1618)
{
    ASSERT_TRUE(FileExists(setup)) << Narrow(setup);
    const std::vector<std::wstring> clean = MachineState(product);
    ASSERT_EQ(0, RunWhole(Command::Install, nullptr));
    const std::vector<std::wstring> installed = MachineState(product);
    ASSERT_EQ(0, RunWhole(Command::Uninstall, nullptr));
    ASSERT_EQ("", StateDifference(clean, MachineState(product)));

    // Two quiet installs at once, neither waiting for the other: exactly one works.
    {
        Started a(CommandLine(Command::Install)), b(CommandLine(Command::Install));
        int codeA = a.Wait(180000), codeB = b.Wait(180000);
        EXPECT_TRUE((codeA == 0 && codeB == 1618) || (codeA == 1618 && codeB == 0)) << codeA << " " << codeB;
        EXPECT_EQ("", StateDifference(installed, MachineState(product)));
    }

    // A quiet repair, uninstall and install each holding the guard while
    // install, repair and uninstall, quiet and interactive, start 50 ms apart
    // (the first run is paused meanwhile: its work may take less time than
    // the others need to start on a busy machine).
    for (Command first : {Command::Repair, Command::Uninstall, Command::Install}) {
        SCOPED_TRACE(std::string("while a quiet ") + CommandName(first) + " runs");
        Started worker(CommandLine(first));
        ASSERT_TRUE(worker.ok);
        ASSERT_TRUE(WaitForGuard(30000)) << "the first run never took the guard";
        PauseProcess(worker.pi.dwProcessId, true);
        std::vector<std::unique_ptr<Started>> others;
        for (const std::wstring& other : OtherRuns(*this)) {
            others.emplace_back(new Started(other));
            Sleep(50);
        }
        for (size_t i = 0; i < others.size(); ++i)
            EXPECT_EQ(1618, others[i]->Wait(60000)) << Narrow(OtherRuns(*this)[i]);
        PauseProcess(worker.pi.dwProcessId, false);
        EXPECT_EQ(0, worker.Wait(180000));
        if (first == Command::Uninstall) WaitForUninstallRemains();
        EXPECT_EQ("", StateDifference(first == Command::Uninstall ? clean : installed, MachineState(product)));
    }

    // An interactive wizard holds the guard for as long as it is open.
    ASSERT_EQ(0, RunWhole(Command::Uninstall, nullptr));
    Started wizard(Quote(setup));
    ASSERT_TRUE(wizard.ok);
    ASSERT_TRUE(WaitForGuard(30000));
    Sleep(500);
    std::vector<std::wstring> runs = OtherRuns(*this);
    for (const std::wstring& other : runs) EXPECT_EQ(1618, RunAndWait(other, 60000)) << Narrow(other);
    EXPECT_EQ(-1, wizard.Wait(0)) << "the wizard ended by itself";
    TerminateProcess(wizard.pi.hProcess, 1);
    wizard.Wait(30000);
    EXPECT_EQ("", StateDifference(clean, MachineState(product)));
}

}  // namespace
