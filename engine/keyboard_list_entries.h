// The texts that name the product's keyboard in a user's list of keyboards,
// the IMM layout the registration created, and the step that a user's own
// process runs on its own list.
#pragma once
#include <windows.h>

#include <cstddef>

constexpr size_t kEntryListChars = 256;
constexpr size_t kLayoutTextChars = 9;  // "%08X"

// Entries joined by ';', each "<4 hex digits>:<8 hex digits>" or
// "<4 hex digits>:{GUID}{GUID}"; nothing else.
bool IsEntryList(const wchar_t* list);
// "<langid>:<name><name>": the text service and its one profile share the
// product's GUID. False (out empty) for a name that is no GUID text.
bool TextServiceEntry(WORD langId, const wchar_t* name, wchar_t* out /* kEntryListChars */);
// "<langid>:<layout id>"; the language is the layout identifier's low word.
bool LayoutEntry(const wchar_t* layoutText, wchar_t* out /* kEntryListChars */);

// The registration records the IMM layout it installed as value "ImeLayout"
// of the product key (both views): no layout list of the calling account
// needs to show it for an uninstall to name it. A different layout recorded
// before is kept as the one this run replaced.
void RecordImeLayout(HKL layout);
bool ReadRecordedImeLayout(const wchar_t* name, wchar_t* layoutText /* kLayoutTextChars */);
const wchar_t* ReplacedImeLayout();  // empty when none
void ForgetReplacedImeLayout();

// The user's step: "<installer>" /inputlist=add:<entries> (or remove:). With
// " /userhive=<name>" it changes the hive mounted as HKEY_USERS\<name>, in
// effect from that user's next logon, instead of the calling user's list.
bool IsUserListCommandLine(const wchar_t* commandLine);
bool ComposeUserListCommand(const wchar_t* installer, bool remove, const wchar_t* list, const wchar_t* hive,
                            wchar_t* out, size_t capacity);
// One call of input.dll per entry, applied at once for the calling user: 0
// when every call succeeded, else the error of the last that failed (1603
// when it gave none, or without input.dll); 87 a command that names no entry
// list or no valid hive.
DWORD RunUserListStep(const wchar_t* commandLine);
