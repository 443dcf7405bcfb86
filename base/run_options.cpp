#include "base/run_options.h"

#include <cwchar>
#include <cwctype>

#include "base/bounded_string.h"

RunOptions g_run;

const wchar_t kRunSwitchHelp[] =
    L"installer.exe [/quiet | /passive] [/norestart] [/dir=FOLDER] [/log=FILE]\r\n"
    L"installer.exe /n {PRODUCT} /u | /r [/quiet | /passive] [/norestart] [/log=FILE]\r\n"
    L"installer.exe [/EMMODE=1|2|3] /GUID={PRODUCT}\r\n\r\n"
    L"/quiet\tno window and no message; the licence agreement counts as accepted\r\n"
    L"/passive\tprogress only, no question; closes itself at the end\r\n"
    L"/norestart\tnever restart, never ask to (the setup never restarts by itself)\r\n"
    L"/dir=FOLDER\tthe install folder (a full path; in quotes when it holds blanks)\r\n"
    L"/log=FILE\tthe log of the run (a full path; default %ProgramData%\\ZerdaIME3\\Logs)\r\n"
    L"/n {PRODUCT} /u\tuninstall; /r repair\r\n"
    L"/?\tthis list\r\n\r\n"
    L"Switches are not case-sensitive. Exit codes: 0 done, 3010 done after a restart,\r\n"
    L"1602 cancelled, 1603 failed, 1618 another setup is running, 87 bad command line.";

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// Case-insensitive prefix test (ASCII letters only).
bool StartsWithNoCase(const wchar_t* text, const wchar_t* prefix)
{
    for (; *prefix; ++text, ++prefix)
        if (std::towlower(*text) != std::towlower(*prefix)) return false;
    return true;
}

bool TokenIs(const wchar_t* token, size_t length, const wchar_t* word)
{
    return std::wcslen(word) == length && StartsWithNoCase(token, word);
}

// The end of a token; a quoted part runs to its closing quote.
const wchar_t* TokenEnd(const wchar_t* p)
{
    bool quoted = false;
    for (; *p; ++p) {
        if (*p == L'"') quoted = !quoted;
        else if (!quoted && IsBlank(*p)) break;
    }
    return p;
}

// The value after "name=", without its quotes, bounded.
void CopyValue(const wchar_t* from, const wchar_t* end, wchar_t* out, size_t capacity)
{
    size_t n = 0;
    for (const wchar_t* p = from; p < end && n + 1 < capacity; ++p)
        if (*p != L'"') out[n++] = *p;
    out[n] = L'\0';
}

// The switches of the ordinary parse, in any case.
bool IsKnownOrdinarySwitch(const wchar_t* token, size_t length)
{
    static const wchar_t* const kSwitches[] = {L"/f", L"/u", L"-u", L"/r", L"-r", L"/g", L"-g"};
    for (const wchar_t* s : kSwitches)
        if (TokenIs(token, length, s)) return true;
    if (length >= 6 && StartsWithNoCase(token, L"/GUID=")) return true;
    if (length == 9 && StartsWithNoCase(token, L"/EMMODE=") && token[8] >= L'1' && token[8] <= L'3') return true;
    return false;
}

bool IsDriveAbsolute(const wchar_t* path)
{
    return std::iswalpha(path[0]) && path[1] == L':' && path[2] == L'\\';
}

bool IsUncPath(const wchar_t* path)
{
    return path[0] == L'\\' && path[1] == L'\\' && path[2] && path[2] != L'\\' && path[2] != L'?' &&
           path[2] != L'.';
}

// value with its slashes turned into path (MAX_PATH); false with a reason
// when it is no full path: a relative one would name a place in whatever
// folder the starter runs in.
bool FullPathOf(const wchar_t* value, const wchar_t* which, wchar_t* path, wchar_t* reason)
{
    BoundedCopy(path, MAX_PATH, value);
    for (wchar_t* p = path; *p; ++p)
        if (*p == L'/') *p = L'\\';
    if (IsDriveAbsolute(path) || IsUncPath(path)) return true;
    BoundedFormat(reason, kRunReasonChars, L"%s: not a full path: %s", which, value);
    return false;
}

// A full path with room for the files below it, made canonical and ending
// with a backslash; false with a reason otherwise.
bool NormaliseInstallFolder(const wchar_t* value, wchar_t* out, wchar_t* reason)
{
    wchar_t path[MAX_PATH];
    if (std::wcslen(value) >= MAX_PATH) {
        BoundedCopy(reason, kRunReasonChars, L"/dir=: the folder name is too long");
        return false;
    }
    if (!FullPathOf(value, L"/dir=", path, reason)) return false;
    if (std::wcspbrk(path + 2, L"<>|?*:\"")) {
        BoundedFormat(reason, kRunReasonChars, L"/dir=: not a usable folder name: %s", value);
        return false;
    }
    wchar_t full[MAX_PATH];
    DWORD n = GetFullPathNameW(path, MAX_PATH, full, nullptr);
    // The installation adds file names of up to 40 characters below it.
    if (n == 0 || n >= MAX_PATH - 48) {
        BoundedFormat(reason, kRunReasonChars, L"/dir=: the folder name is too long: %s", value);
        return false;
    }
    AppendBackslashIfMissing(full, MAX_PATH);
    BoundedCopy(out, MAX_PATH, full);
    return true;
}

// A log file named by a full path; false with a reason otherwise.
bool TakeLogPath(const wchar_t* value, wchar_t* out, wchar_t* reason)
{
    wchar_t path[MAX_PATH];
    if (!FullPathOf(value, L"/log=", path, reason)) return false;
    DWORD n = GetFullPathNameW(path, MAX_PATH, out, nullptr);
    if (n == 0 || n >= MAX_PATH || EndsWithBackslash(out)) {
        out[0] = L'\0';
        BoundedFormat(reason, kRunReasonChars, L"/log=: not a usable file name: %s", value);
        return false;
    }
    return true;
}

}  // namespace

void ParseRunOptions(const wchar_t* commandLine, RunOptions& o)
{
    o = RunOptions{};
    const wchar_t* text = commandLine ? commandLine : L"";
    bool anyNewSwitch = false;
    wchar_t kept[kCommandLineChars] = L"";

    const wchar_t* p = text;
    bool nameFollows = false;
    // The switch whose value the next bare word would continue.
    const wchar_t* valueSwitch = nullptr;
    while (*p) {
        while (IsBlank(*p)) ++p;
        if (!*p) break;
        const wchar_t* start = p;
        const wchar_t* end = TokenEnd(p);
        size_t length = static_cast<size_t>(end - start);
        p = end;

        // A switch may stand in quotes as a whole: "/log=C:\a b\setup.log".
        const wchar_t* body = start;
        size_t bodyLength = length;
        if (length >= 2 && start[0] == L'"' && start[length - 1] == L'"') {
            ++body;
            bodyLength -= 2;
        }

        const bool isSwitch = body[0] == L'/' || body[0] == L'-';
        // "/dir=C:\Program Files\Zerda\" unquoted: the folder would be cut at its first blank.
        if (valueSwitch && !isSwitch) {
            if (!o.strayWords) {
                wchar_t word[64];
                BoundedCopyN(word, 64, start, length);
                BoundedFormat(o.reason, kRunReasonChars,
                              L"%s is followed by \"%s\": a path with blanks must stand in quotes", valueSwitch, word);
            }
            o.strayWords = true;
            anyNewSwitch = true;
            continue;
        }
        valueSwitch = nullptr;

        bool taken = true;
        if (TokenIs(body, bodyLength, L"/quiet")) {
            o.ui = kRunQuiet;
        } else if (TokenIs(body, bodyLength, L"/passive")) {
            if (o.ui != kRunQuiet) o.ui = kRunPassive;
        } else if (TokenIs(body, bodyLength, L"/norestart")) {
            o.noRestart = true;
        } else if (TokenIs(body, bodyLength, L"/?")) {
            o.help = true;
        } else if (bodyLength >= 5 && StartsWithNoCase(body, L"/dir=")) {
            wchar_t value[MAX_PATH + 8];
            CopyValue(body + 5, end, value, MAX_PATH + 8);
            if (!NormaliseInstallFolder(value, o.installFolder, o.reason)) o.badFolder = true;
            valueSwitch = L"/dir=";
        } else if (bodyLength >= 5 && StartsWithNoCase(body, L"/log=")) {
            wchar_t value[MAX_PATH];
            CopyValue(body + 5, end, value, MAX_PATH);
            if (!TakeLogPath(value, o.logPath, o.reason)) o.badLog = true;
            valueSwitch = L"/log=";
        } else {
            taken = false;
        }
        if (taken) {
            anyNewSwitch = true;
            nameFollows = false;
            continue;
        }

        // Everything else stays for the ordinary parse.
        if (kept[0]) BoundedAppend(kept, kCommandLineChars, L" ");
        size_t used = std::wcslen(kept);
        BoundedCopyN(kept + used, kCommandLineChars - used, start, length);

        if (nameFollows) {
            nameFollows = false;
            continue;
        }
        if (TokenIs(start, length, L"/n") || TokenIs(start, length, L"-n")) {
            nameFollows = true;
            continue;
        }
        if (isSwitch && length > 1 && !IsKnownOrdinarySwitch(start, length) && !o.unknownSwitch) {
            o.unknownSwitch = true;
            wchar_t token[64];
            BoundedCopyN(token, 64, start, length);
            BoundedFormat(o.reason, kRunReasonChars, L"unknown switch: %s", token);
        }
    }
    // Without new switches the ordinary parse reads the text exactly as given.
    BoundedCopy(o.remaining, kCommandLineChars, anyNewSwitch ? kept : text);
}
