#include "app/command_line.h"

#include <cwchar>

#include "base/bounded_string.h"

namespace {

bool Contains(const wchar_t* text, const wchar_t* what) { return wcsstr(text, what) != nullptr; }

bool ContainsAny(const wchar_t* text, const wchar_t* a, const wchar_t* b, const wchar_t* c, const wchar_t* d)
{
    return Contains(text, a) || Contains(text, b) || Contains(text, c) || Contains(text, d);
}

}  // namespace

bool HasRelaunchSwitch(const wchar_t* text) { return text && (Contains(text, L"/f") || Contains(text, L"/F")); }

bool IsServiceCommandLine(const wchar_t* text) { return text && Contains(text, L"/GUID="); }

bool HasReregistrationSwitch(const wchar_t* text)
{
    return text && (Contains(text, L"/EMMODE=1") || Contains(text, L"/EMMODE=2") || Contains(text, L"/EMMODE=3"));
}

void CopyServiceName(const wchar_t* text, wchar_t* name)
{
    const wchar_t* at = text ? wcsstr(text, L"/GUID=") : nullptr;
    BoundedCopyN(name, kNameChars, at ? at + 6 : L"", kNameChars - 1);
}

void ParseCommandLine(const wchar_t* text, SetupContext& ctx)
{
    if (!text || !text[0]) {
        ctx.modeCode = 'i';
        return;
    }
    const wchar_t* at = wcsstr(text, L"/n ");
    if (!at) at = wcsstr(text, L"-n ");
    if (at) {
        BoundedCopyN(ctx.name, kNameChars, at + 3, kNameChars - 1);
        if (wchar_t* blank = wcschr(ctx.name, L' ')) *blank = L'\0';
    }
    ctx.relaunched = HasRelaunchSwitch(text) ? 'y' : 0;
    if (uint8_t asked = AskedModeCode(text)) ctx.modeCode = asked;
}

uint8_t AskedModeCode(const wchar_t* text)
{
    if (!text) return 0;
    if (ContainsAny(text, L"/g", L"/G", L"-g", L"-G")) return 'g';
    if (ContainsAny(text, L"/r", L"/R", L"-r", L"-R")) return 'r';
    if (ContainsAny(text, L"/u", L"/U", L"-u", L"-U")) return 'u';
    return 0;
}
