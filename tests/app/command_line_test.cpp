#include <gtest/gtest.h>

#include <cstring>

#include "app/command_line.h"

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

TEST(CommandLine, NameSwitchIsLowerCaseAndCutAtBlank)
{
    Parsed p = Parse(L"/n {ABC} /u");
    EXPECT_EQ(L"{ABC}", p.name);
    EXPECT_EQ(L"ABC", Parse(L"/n ABC DEF /r").name);
    EXPECT_EQ(L"", Parse(L"/N {X} /u").name);
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
    EXPECT_FALSE(IsServiceCommandLine(L"/guid={G}"));
    EXPECT_TRUE(HasReregistrationSwitch(L"/EMMODE=3 /GUID={G}"));
    EXPECT_FALSE(HasReregistrationSwitch(L"/EMMODE=4 /GUID={G}"));
    wchar_t name[40];
    CopyServiceName(L"/EMMODE=1 /GUID={7A3C4E1D-5B2F-4C8A-9E61-2D0F3B8A4C57}", name);
    EXPECT_STREQ(L"{7A3C4E1D-5B2F-4C8A-9E61-2D0F3B8A4C57}", name);
    CopyServiceName(L"/GUID=0123456789012345678901234567890123456789XYZ", name);
    EXPECT_EQ(39u, wcslen(name));
}
