// Version resources: reading a file's version number, rewriting the language
// of its version resource.
#pragma once
#include <windows.h>
#include <cstdint>

// Copies the string value `key` of the file's version information (first
// translation that has it) into out, at most outChars - 1 characters; empty
// when there is none.
void QueryVersionString(const wchar_t* file, const wchar_t* key, wchar_t* out, size_t outChars);
// major<<48 | minor<<32 | build<<16 | revision from a FileVersion text.
uint64_t ParseFileVersionText(const wchar_t* text);
uint64_t GetFileVersionNumber(const wchar_t* file);
int SetVersionLanguage(const wchar_t* file, WORD language, DWORD infoSize, DWORD infoHandle);
// True when the file's version information has a translation array, so that
// SetVersionLanguage has a language to rewrite.
bool HasVersionTranslation(const wchar_t* file);
// SetVersionLanguage on a file the setup has just written, waiting out a
// scanner's brief hold. True when the file now carries the language, or has
// no version information or translation to rewrite; false when the rewrite
// failed (GetLastError says why).
bool StampVersionLanguage(const wchar_t* file, WORD language);
// language 0xFFFF: the language of the file's present version resource.
int WriteVersionResource(const wchar_t* file, WORD language, const void* data, DWORD size);
