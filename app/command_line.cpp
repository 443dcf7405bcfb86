#include "app/command_line.h"

#include <cwchar>

#include "base/bounded_string.h"

namespace {

wchar_t LowerAscii(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + 32) : c; }

// The first place of what in text, whatever the case of its letters.
const wchar_t* FindNoCase(const wchar_t* text, const wchar_t* what)
{
    for (; *text; ++text) {
        size_t i = 0;
        while (what[i] && LowerAscii(text[i]) == LowerAscii(what[i])) ++i;
        if (!what[i]) return text;
    }
    return nullptr;
}

bool Contains(const wchar_t* text, const wchar_t* what) { return FindNoCase(text, what) != nullptr; }

}  // namespace

bool HasRelaunchSwitch(const wchar_t* text) { return text && Contains(text, L"/f"); }

bool IsServiceCommandLine(const wchar_t* text) { return text && Contains(text, L"/GUID="); }

bool HasReregistrationSwitch(const wchar_t* text)
{
    return text && (Contains(text, L"/EMMODE=1") || Contains(text, L"/EMMODE=2") || Contains(text, L"/EMMODE=3"));
}

void CopyServiceName(const wchar_t* text, wchar_t* name)
{
    const wchar_t* at = text ? FindNoCase(text, L"/GUID=") : nullptr;
    BoundedCopyN(name, kNameChars, at ? at + 6 : L"", kNameChars - 1);
}

bool CopyNameSwitch(const wchar_t* text, wchar_t* name)
{
    const wchar_t* at = text ? FindNoCase(text, L"/n ") : nullptr;
    if (!at && text) at = FindNoCase(text, L"-n ");
    if (!at) return false;
    BoundedCopyN(name, kNameChars, at + 3, kNameChars - 1);
    if (wchar_t* blank = wcschr(name, L' ')) *blank = L'\0';
    return true;
}

void ParseCommandLine(const wchar_t* text, SetupContext& ctx)
{
    if (!text || !text[0]) {
        ctx.modeCode = 'i';
        return;
    }
    CopyNameSwitch(text, ctx.name);
    ctx.relaunched = HasRelaunchSwitch(text) ? 'y' : 0;
    if (uint8_t asked = AskedModeCode(text)) ctx.modeCode = asked;
}

uint8_t AskedModeCode(const wchar_t* text)
{
    if (!text) return 0;
    if (Contains(text, L"/g") || Contains(text, L"-g")) return 'g';
    if (Contains(text, L"/r") || Contains(text, L"-r")) return 'r';
    if (Contains(text, L"/u") || Contains(text, L"-u")) return 'u';
    return 0;
}
