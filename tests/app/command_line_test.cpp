#include <gtest/gtest.h>

#include <cstring>

#include "app/command_line.h"
#include "base/run_options.h"

namespace {

struct Parsed {
    uint8_t mode;
    uint8_t relaunched;
    std::wstring name;
};

Parsed Parse(const wchar_t* text)
{
    static SetupContext ctx;
    std::memset(&ctx, 0, sizeof ctx);
    ParseCommandLine(text, ctx);
    return {ctx.modeCode, ctx.relaunched, ctx.name};
}

}  // namespace

TEST(CommandLine, ModesAndTheirPrecedence)
{
    EXPECT_EQ('i', Parse(L"").mode);
    EXPECT_EQ('i', Parse(nullptr).mode);
    EXPECT_EQ(0, Parse(L"whatever").mode);  // no mode switch: install, code stays 0
    EXPECT_EQ('u', Parse(L"/n {X} /u").mode);
    EXPECT_EQ('u', Parse(L"-U").mode);
    EXPECT_EQ('r', Parse(L"/n {X} /u /r").mode);  // repair wins over uninstall
    EXPECT_EQ('g', Parse(L"/u /g").mode);         // update wins over both
    EXPECT_EQ('g', Parse(L"/r -G").mode);
}

TEST(CommandLine, NameSwitchInAnyCaseCutAtBlank)
{
    Parsed p = Parse(L"/n {ABC} /u");
    EXPECT_EQ(L"{ABC}", p.name);
    EXPECT_EQ(L"ABC", Parse(L"/n ABC DEF /r").name);
    EXPECT_EQ(L"{X}", Parse(L"/N {X} /U").name);
    EXPECT_EQ(L"{Y}", Parse(L"-n {Y} -r").name);
    // At most 39 characters are kept.
    std::wstring longName(60, L'A');
    EXPECT_EQ(std::wstring(39, L'A'), Parse((L"/n " + longName + L" /u").c_str()).name);
}

TEST(CommandLine, RelaunchFlagAndQuotedProgramPathStyle)
{
    EXPECT_EQ('y', Parse(L"/n {X} /u /f").relaunched);
    EXPECT_EQ('y', Parse(L"/n {X} /u /F").relaunched);
    EXPECT_EQ(0, Parse(L"/n {X} /u").relaunched);
    // What the system hands over for a quoted program path: the switches only.
    Parsed p = Parse(L"/n {7A3C4E1D-5B2F-4C8A-9E61-2D0F3B8A4C57} /u");
    EXPECT_EQ('u', p.mode);
    EXPECT_EQ(L"{7A3C4E1D-5B2F-4C8A-9E61-2D0F3B8A4C57}", p.name);
}

TEST(CommandLine, ServiceSwitches)
{
    EXPECT_TRUE(IsServiceCommandLine(L"/EMMODE=2 /GUID={G}"));
    EXPECT_TRUE(IsServiceCommandLine(L"/guid={G}"));
    EXPECT_FALSE(IsServiceCommandLine(L"/n {G} /u"));
    EXPECT_TRUE(HasReregistrationSwitch(L"/EMMODE=3 /GUID={G}"));
    EXPECT_FALSE(HasReregistrationSwitch(L"/EMMODE=4 /GUID={G}"));
    wchar_t name[40];
    CopyServiceName(L"/EMMODE=1 /GUID={7A3C4E1D-5B2F-4C8A-9E61-2D0F3B8A4C57}", name);
    EXPECT_STREQ(L"{7A3C4E1D-5B2F-4C8A-9E61-2D0F3B8A4C57}", name);
    CopyServiceName(L"/GUID=0123456789012345678901234567890123456789XYZ", name);
    EXPECT_EQ(39u, wcslen(name));
}

// The deployment switches, in any case; what is left goes to the parse above.
TEST(RunOptions, SwitchTable)
{
    enum : unsigned { kNoRestart = 1, kUnknown = 2, kBadFolder = 4, kBadLog = 8, kStray = 16 };
    // The line, the ui, the flags, what is left, the folder or (without one) the log.
    const struct { const wchar_t *line; int ui; unsigned flags; const wchar_t *remaining, *path; } cases[] = {
        {L"/quiet /norestart", kRunQuiet, kNoRestart, L"", L""},
        {L"/N {G} /U /QUIET", kRunQuiet, 0, L"/N {G} /U", L""},
        {L"/S", kRunInteractive, kUnknown, L"/S", L""},
        {L"/qn /passive", kRunPassive, kUnknown, L"/qn", L""},
        {L"/dir=C:\\Program Files\\Zerda\\ /quiet", kRunQuiet, kStray, L"", L"C:\\Program\\"},
        {L"\"/dir=C:\\Program Files\\Zerda\" /quiet", kRunQuiet, 0, L"", L"C:\\Program Files\\Zerda\\"},
        {L"/dir=\"C:\\Program Files\\Zerda\\\" /PASSIVE", kRunPassive, 0, L"", L"C:\\Program Files\\Zerda\\"},
        {L"/dir=relative", kRunInteractive, kBadFolder, L"", L""},
        {L"/log=setup.log /quiet", kRunQuiet, kBadLog, L"", L""},
        {L"/LOG=C:\\Logs\\new\\a.log", kRunInteractive, 0, L"", L"C:\\Logs\\new\\a.log"},
        {L"/log=C:\\My Logs\\a.log /n {G} /r", kRunInteractive, kStray, L"/n {G} /r", L"C:\\My"},
        {L"/n {G} /u /f /log=\"C:\\a b\\c.log\"", kRunInteractive, 0, L"/n {G} /u /f", L"C:\\a b\\c.log"},
        {L"/EMMODE=2 /u -R /F", kRunInteractive, 0, L"/EMMODE=2 /u -R /F", L""},
    };
    for (const auto& c : cases) {
        static RunOptions o;
        ParseRunOptions(c.line, o);
        const unsigned flags = (o.noRestart ? kNoRestart : 0) | (o.unknownSwitch ? kUnknown : 0) |
                               (o.badFolder ? kBadFolder : 0) | (o.badLog ? kBadLog : 0) | (o.strayWords ? kStray : 0);
        EXPECT_EQ(c.ui, o.ui) << c.line;
        EXPECT_EQ(c.flags, flags) << c.line;
        EXPECT_EQ((c.flags & ~kNoRestart) != 0, IsBadCommandLine(o)) << c.line;
        EXPECT_STREQ(c.remaining, o.remaining) << c.line;
        EXPECT_STREQ(c.path, o.installFolder[0] ? o.installFolder : o.logPath) << c.line;
        if (c.flags & kStray) {
            EXPECT_NE(nullptr, wcsstr(o.reason, L"must stand in quotes")) << o.reason;
        }
    }
    // What the ordinary parse then makes of it.
    EXPECT_EQ('u', Parse(L"/N {G} /U").mode);
}
