#include "engine/keyboard_list_entries.h"

#include <cstdint>
#include <cwchar>

#include "base/bounded_string.h"
#include "base/run_log.h"
#include "base/setup_context.h"
#include "base/shared_routines.h"
#include "engine/registration_common.h"
#include "platform/input_list_api.h"
#include "platform/registry.h"

namespace {

const wchar_t kSwitch[] = L"/inputlist=";
const wchar_t kHiveSwitch[] = L" /userhive=";
constexpr size_t kHiveChars = 128;
const wchar_t kLayoutValue[] = L"ImeLayout";

wchar_t g_replacedLayout[kLayoutTextChars];

bool AreHexDigits(const wchar_t* p, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        if (!iswxdigit(p[i]) || p[i] > 0x7F) return false;
    return true;
}

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}"
bool IsGuidText(const wchar_t* p)
{
    if (p[0] != L'{' || p[37] != L'}') return false;
    for (size_t i = 1; i < 37; ++i) {
        bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash ? p[i] != L'-' : !AreHexDigits(p + i, 1)) return false;
    }
    return true;
}

bool IsEntry(const wchar_t* p, size_t length)
{
    if (length < 5 || !AreHexDigits(p, 4) || p[4] != L':') return false;
    if (length == 13) return AreHexDigits(p + 5, 8);
    return length == 5 + 76 && IsGuidText(p + 5) && IsGuidText(p + 43);
}

// A name below HKEY_USERS: a SID, ".DEFAULT" or a mount name of this setup.
bool IsHiveName(const wchar_t* p, size_t length)
{
    if (length == 0 || length >= kHiveChars) return false;
    for (size_t i = 0; i < length; ++i)
        if (!(iswalnum(p[i]) && p[i] < 0x80) && p[i] != L'-' && p[i] != L'_' && p[i] != L'.') return false;
    return true;
}

// The text up to the next blank or quote, copied into out when it fits.
size_t TakeWord(const wchar_t* text, wchar_t* out, size_t capacity)
{
    size_t length = wcscspn(text, L" \t\"");
    if (length < capacity) BoundedCopyN(out, capacity, text, length);
    return length;
}

void WriteLayoutValue(const wchar_t* softwarePath, const wchar_t* layoutText)
{
    wchar_t path[128];
    BoundedFormat(path, 128, L"%s\\ZerdaIME3\\%s", softwarePath, g_setup.name);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    if (RegWriteString(key, kLayoutValue, layoutText) == ERROR_SUCCESS)
        RunLog(L"Registry value written: HKEY_LOCAL_MACHINE\\%s\\%s = %s", path, kLayoutValue, layoutText);
    RegCloseKey(key);
}

}  // namespace

bool IsEntryList(const wchar_t* list)
{
    if (!list || !list[0] || wcslen(list) >= kEntryListChars) return false;
    for (const wchar_t* entry = list;;) {
        const wchar_t* end = wcschr(entry, L';');
        size_t length = end ? static_cast<size_t>(end - entry) : wcslen(entry);
        if (!IsEntry(entry, length)) return false;
        if (!end) return true;
        entry = end + 1;
    }
}

bool TextServiceEntry(WORD langId, const wchar_t* name, wchar_t* out)
{
    out[0] = L'\0';
    if (!ParseProductKeyName(name, nullptr) || wcslen(name) != 38) return false;
    BoundedFormat(out, kEntryListChars, L"%04X:%s%s", langId, name, name);
    return IsEntryList(out);
}

bool LayoutEntry(const wchar_t* layoutText, wchar_t* out)
{
    out[0] = L'\0';
    if (!layoutText || wcslen(layoutText) != 8 || !AreHexDigits(layoutText, 8)) return false;
    BoundedFormat(out, kEntryListChars, L"%s:%s", layoutText + 4, layoutText);
    return true;
}

void RecordImeLayout(HKL layout)
{
    wchar_t text[kLayoutTextChars];
    BoundedFormat(text, kLayoutTextChars, L"%08X", static_cast<unsigned>(reinterpret_cast<uintptr_t>(layout) & 0xFFFFFFFFu));
    wchar_t before[kLayoutTextChars] = L"";
    if (ReadRecordedImeLayout(g_setup.name, before) && _wcsicmp(before, text) != 0)
        BoundedCopy(g_replacedLayout, kLayoutTextChars, before);
    WriteLayoutValue(L"Software", text);
    WriteLayoutValue(L"Software\\Wow6432Node", text);
}

bool ReadRecordedImeLayout(const wchar_t* name, wchar_t* layoutText)
{
    wchar_t entry[kEntryListChars];
    return ReadProductValue(name, kLayoutValue, layoutText, kLayoutTextChars) && LayoutEntry(layoutText, entry);
}

const wchar_t* ReplacedImeLayout() { return g_replacedLayout; }

void ForgetReplacedImeLayout() { g_replacedLayout[0] = L'\0'; }

bool IsUserListCommandLine(const wchar_t* commandLine)
{
    return commandLine && wcsstr(commandLine, kSwitch) != nullptr;
}

bool ComposeUserListCommand(const wchar_t* installer, bool remove, const wchar_t* list, const wchar_t* hive,
                            wchar_t* out, size_t capacity)
{
    size_t length = BoundedFormat(out, capacity, L"\"%s\" %s%s:%s%s%s", installer, kSwitch, remove ? L"remove" : L"add",
                                  list, hive ? kHiveSwitch : L"", hive ? hive : L"");
    return IsEntryList(list) && (!hive || IsHiveName(hive, wcslen(hive))) && length + 1 < capacity;
}

DWORD RunUserListStep(const wchar_t* commandLine)
{
    const wchar_t* text = wcsstr(commandLine, kSwitch);
    if (!text) return kExitBadCommandLine;
    text += wcslen(kSwitch);
    bool remove = wcsncmp(text, L"remove:", 7) == 0;
    if (!remove && wcsncmp(text, L"add:", 4) != 0) return kExitBadCommandLine;
    text += remove ? 7 : 4;
    wchar_t list[kEntryListChars] = L"";
    size_t length = TakeWord(text, list, kEntryListChars);
    if (length >= kEntryListChars || !IsEntryList(list)) return kExitBadCommandLine;
    wchar_t hive[kHiveChars] = L"";
    if (const wchar_t* named = wcsstr(text + length, kHiveSwitch)) {
        named += wcslen(kHiveSwitch);
        if (!IsHiveName(named, TakeWord(named, hive, kHiveChars))) return kExitBadCommandLine;
    }
    InputListApi api;
    if (!LoadInputListApi(&api)) return kExitFailure;
    wchar_t path[16 + kHiveChars];
    BoundedFormat(path, 16 + kHiveChars, L"HKEY_USERS\\%s", hive);
    DWORD result = kExitSuccess;
    // One entry per call: one that input.dll refuses (a layout already gone)
    // takes none of the others with it.
    for (wchar_t* entry = list; entry;) {
        wchar_t* end = wcschr(entry, L';');
        if (end) *end = L'\0';
        SetLastError(ERROR_SUCCESS);
        // Never ILOT_DEFPROFILE: the user's default keyboard stays theirs.
        BOOL done = hive[0] ? api.installUserReg(path, nullptr, nullptr, entry,
                                                 kIlotNoApplyToCurrentSession | (remove ? kIlotUninstall : 0))
                            : api.install(entry, remove ? kIlotUninstall : 0);
        if (!done) result = GetLastError() != ERROR_SUCCESS ? GetLastError() : kExitFailure;
        entry = end ? end + 1 : nullptr;
    }
    return result;
}
