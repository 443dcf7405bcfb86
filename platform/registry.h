// Thin registry helpers: bounded, always-terminated string reads and the
// product's convention of REG_SZ values stored with their terminating null.
#pragma once
#include <windows.h>
#include <cstddef>

// Reads a string value of an open key into buffer (capacity in characters).
// The buffer is emptied first and is always terminated. Only REG_SZ and
// REG_EXPAND_SZ count; a value that does not fit the capacity is not read.
// Returns ERROR_SUCCESS or the registry error (ERROR_INVALID_DATATYPE for
// another type, ERROR_MORE_DATA for a value too long).
LONG RegReadString(HKEY key, const wchar_t* valueName, wchar_t* buffer, size_t capacity);
// Same, opening subKey below root for reading first.
LONG RegReadStringAt(HKEY root, const wchar_t* subKey, const wchar_t* valueName,
                     wchar_t* buffer, size_t capacity, REGSAM extraAccess = 0);
// Reads up to 4 bytes of a value (any type); value stays 0 when missing.
LONG RegReadDword(HKEY key, const wchar_t* valueName, DWORD* value);

// REG_SZ including the terminating null.
LONG RegWriteString(HKEY key, const wchar_t* valueName, const wchar_t* text);
LONG RegWriteDword(HKEY key, const wchar_t* valueName, DWORD value);
