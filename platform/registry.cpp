#include "platform/registry.h"

#include <cwchar>

LONG RegReadString(HKEY key, const wchar_t* valueName, wchar_t* buffer, size_t capacity)
{
    if (!buffer || capacity == 0) return ERROR_INVALID_PARAMETER;
    buffer[0] = L'\0';
    DWORD type = 0;
    DWORD bytes = static_cast<DWORD>(capacity * sizeof(wchar_t));
    LONG rc = RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
    if (rc != ERROR_SUCCESS) {
        buffer[0] = L'\0';
        return rc;
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
        buffer[0] = L'\0';
        return ERROR_INVALID_DATATYPE;
    }
    // The stored data need not end with a null: terminate within the capacity.
    size_t chars = bytes / sizeof(wchar_t);
    if (chars >= capacity) chars = capacity - 1;
    buffer[chars] = L'\0';
    return ERROR_SUCCESS;
}

LONG RegReadStringAt(HKEY root, const wchar_t* subKey, const wchar_t* valueName,
                     wchar_t* buffer, size_t capacity, REGSAM extraAccess)
{
    if (buffer && capacity) buffer[0] = L'\0';
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExW(root, subKey, 0, KEY_READ | extraAccess, &key);
    if (rc != ERROR_SUCCESS) return rc;
    rc = RegReadString(key, valueName, buffer, capacity);
    RegCloseKey(key);
    return rc;
}

LONG RegReadDword(HKEY key, const wchar_t* valueName, DWORD* value)
{
    if (!value) return ERROR_INVALID_PARAMETER;
    *value = 0;
    DWORD bytes = sizeof(DWORD);
    DWORD type = 0;
    LONG rc = RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(value), &bytes);
    if (rc != ERROR_SUCCESS) *value = 0;
    return rc;
}

LONG RegWriteString(HKEY key, const wchar_t* valueName, const wchar_t* text)
{
    if (!text) text = L"";
    DWORD bytes = static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t));
    return RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes);
}

LONG RegWriteDword(HKEY key, const wchar_t* valueName, DWORD value)
{
    return RegSetValueExW(key, valueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}
