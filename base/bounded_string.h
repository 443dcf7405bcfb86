// Copies, appends and formatted prints into fixed buffers: at most capacity - 1
// characters are kept, the text is always terminated and the rest is cut.
#pragma once
#include <cstdarg>
#include <cstddef>

// Each returns the length of the text now in the buffer.
size_t BoundedCopy(wchar_t* dst, size_t capacity, const wchar_t* src);
size_t BoundedCopyN(wchar_t* dst, size_t capacity, const wchar_t* src, size_t maxChars);
size_t BoundedAppend(wchar_t* dst, size_t capacity, const wchar_t* src);
size_t BoundedFormat(wchar_t* dst, size_t capacity, const wchar_t* format, ...);
size_t BoundedFormatV(wchar_t* dst, size_t capacity, const wchar_t* format, va_list args);

size_t BoundedCopy(char* dst, size_t capacity, const char* src);
size_t BoundedAppend(char* dst, size_t capacity, const char* src);
size_t BoundedFormat(char* dst, size_t capacity, const char* format, ...);

// Appends a backslash when the text is not empty and does not end with one.
size_t AppendBackslashIfMissing(wchar_t* dst, size_t capacity);
bool EndsWithBackslash(const wchar_t* text);

// Lower-cases the letters A to Z in place; no other character changes.
void LowerAsciiInPlace(wchar_t* text);
// Compares ignoring the case of A to Z only.
bool EqualsIgnoreAsciiCase(const wchar_t* a, const wchar_t* b);
