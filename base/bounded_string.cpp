#include "base/bounded_string.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

size_t BoundedCopyN(wchar_t* dst, size_t capacity, const wchar_t* src, size_t maxChars)
{
    if (!dst || capacity == 0) return 0;
    size_t n = 0;
    if (src) {
        while (n + 1 < capacity && n < maxChars && src[n]) {
            dst[n] = src[n];
            ++n;
        }
    }
    dst[n] = L'\0';
    return n;
}

size_t BoundedCopy(wchar_t* dst, size_t capacity, const wchar_t* src)
{
    return BoundedCopyN(dst, capacity, src, static_cast<size_t>(-1));
}

size_t BoundedAppend(wchar_t* dst, size_t capacity, const wchar_t* src)
{
    if (!dst || capacity == 0) return 0;
    size_t len = 0;
    while (len < capacity && dst[len]) ++len;
    if (len >= capacity) {  // not terminated: cut
        dst[capacity - 1] = L'\0';
        return capacity - 1;
    }
    return len + BoundedCopy(dst + len, capacity - len, src);
}

size_t BoundedFormatV(wchar_t* dst, size_t capacity, const wchar_t* format, va_list args)
{
    if (!dst || capacity == 0) return 0;
    // _vsnwprintf (msvcrt) takes %s as a wide string and does not terminate on truncation.
    int n = _vsnwprintf(dst, capacity, format, args);
    if (n < 0 || static_cast<size_t>(n) >= capacity) {
        dst[capacity - 1] = L'\0';
        return wcslen(dst);
    }
    dst[n] = L'\0';
    return static_cast<size_t>(n);
}

size_t BoundedFormat(wchar_t* dst, size_t capacity, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    size_t n = BoundedFormatV(dst, capacity, format, args);
    va_end(args);
    return n;
}

size_t BoundedCopy(char* dst, size_t capacity, const char* src)
{
    if (!dst || capacity == 0) return 0;
    size_t n = 0;
    if (src) {
        while (n + 1 < capacity && src[n]) {
            dst[n] = src[n];
            ++n;
        }
    }
    dst[n] = '\0';
    return n;
}

size_t BoundedAppend(char* dst, size_t capacity, const char* src)
{
    if (!dst || capacity == 0) return 0;
    size_t len = 0;
    while (len < capacity && dst[len]) ++len;
    if (len >= capacity) {
        dst[capacity - 1] = '\0';
        return capacity - 1;
    }
    return len + BoundedCopy(dst + len, capacity - len, src);
}

size_t BoundedFormat(char* dst, size_t capacity, const char* format, ...)
{
    if (!dst || capacity == 0) return 0;
    va_list args;
    va_start(args, format);
    int n = _vsnprintf(dst, capacity, format, args);
    va_end(args);
    if (n < 0 || static_cast<size_t>(n) >= capacity) {
        dst[capacity - 1] = '\0';
        return strlen(dst);
    }
    dst[n] = '\0';
    return static_cast<size_t>(n);
}

bool EndsWithBackslash(const wchar_t* text)
{
    if (!text || !text[0]) return false;
    return text[wcslen(text) - 1] == L'\\';
}

size_t AppendBackslashIfMissing(wchar_t* dst, size_t capacity)
{
    if (!dst || capacity == 0) return 0;
    if (dst[0] && !EndsWithBackslash(dst)) return BoundedAppend(dst, capacity, L"\\");
    return wcsnlen(dst, capacity);
}

void LowerAsciiInPlace(wchar_t* text)
{
    for (; text && *text; ++text)
        if (*text >= L'A' && *text <= L'Z') *text = static_cast<wchar_t>(*text - L'A' + L'a');
}

bool EqualsIgnoreAsciiCase(const wchar_t* a, const wchar_t* b)
{
    if (!a || !b) return a == b;
    for (;; ++a, ++b) {
        wchar_t ca = *a, cb = *b;
        if (ca >= L'A' && ca <= L'Z') ca = static_cast<wchar_t>(ca - L'A' + L'a');
        if (cb >= L'A' && cb <= L'Z') cb = static_cast<wchar_t>(cb - L'A' + L'a');
        if (ca != cb) return false;
        if (!ca) return true;
    }
}
