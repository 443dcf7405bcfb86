#include "files/version_info.h"

#include <cstring>
#include <cwchar>
#include <new>

#include "base/bounded_string.h"
#include "files/brief_hold.h"

namespace {

struct Translation {
    WORD language;
    WORD codePage;
};

// Zero-filled version block of a file, released on scope exit.
class VersionBlock {
public:
    ~VersionBlock() { delete[] data_; }
    // Reads the block; size and handle as GetFileVersionInfoSizeW gave them,
    // or asked here when size is 0.
    bool Read(const wchar_t* file, DWORD size = 0, DWORD handle = 0)
    {
        if (size == 0) size = GetFileVersionInfoSizeW(file, &handle);
        if (size == 0) return false;
        data_ = new (std::nothrow) BYTE[size]();
        if (!data_) return false;
        size_ = size;
        return GetFileVersionInfoW(file, handle, size, data_) != FALSE;
    }
    BYTE* Data() const { return data_; }
    DWORD Size() const { return size_; }
    // The translation array; count 0 when there is none.
    Translation* Translations(UINT* count) const
    {
        void* p = nullptr;
        UINT bytes = 0;
        *count = 0;
        if (!data_ || !VerQueryValueW(data_, L"\\VarFileInfo\\Translation", &p, &bytes) || !p) return nullptr;
        *count = bytes / sizeof(Translation);
        return *count ? static_cast<Translation*>(p) : nullptr;
    }

private:
    BYTE* data_ = nullptr;
    DWORD size_ = 0;
};

// Decimal number at the start of the text, as the C runtime's atoi reads it,
// reduced to 16 bits.
uint64_t LeadingNumber(const wchar_t* text)
{
    while (*text == L' ' || (*text >= L'\t' && *text <= L'\r')) ++text;
    bool negative = false;
    if (*text == L'+' || *text == L'-') negative = *text++ == L'-';
    uint32_t value = 0;
    for (; *text >= L'0' && *text <= L'9'; ++text) value = value * 10u + static_cast<uint32_t>(*text - L'0');
    if (negative) value = 0u - value;
    return value & 0xFFFFu;
}

BOOL CALLBACK NoteLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR user)
{
    auto* found = reinterpret_cast<WORD*>(user);
    found[0] = language;
    ++found[1];
    return TRUE;
}

// The language of the file's version resource 1, when it has exactly one.
bool StoredVersionLanguage(const wchar_t* file, WORD* language)
{
    HMODULE module = LoadLibraryExW(file, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) return false;
    WORD found[2] = {0, 0};  // language, count
    EnumResourceLanguagesW(module, RT_VERSION, MAKEINTRESOURCEW(1), &NoteLanguage, reinterpret_cast<LONG_PTR>(found));
    FreeLibrary(module);
    if (found[1] != 1) return false;
    *language = found[0];
    return true;
}

}  // namespace

void QueryVersionString(const wchar_t* file, const wchar_t* key, wchar_t* out, size_t outChars)
{
    if (!out || outChars == 0) return;
    out[0] = L'\0';
    VersionBlock block;
    if (!file || !key || !block.Read(file)) return;
    UINT count = 0;
    Translation* pairs = block.Translations(&count);
    for (UINT i = 0; i < count; ++i) {
        wchar_t query[128];
        BoundedFormat(query, 128, L"\\StringFileInfo\\%04x%04x\\%s", pairs[i].language, pairs[i].codePage, key);
        void* value = nullptr;
        UINT chars = 0;
        if (VerQueryValueW(block.Data(), query, &value, &chars) && value) {
            BoundedCopyN(out, outChars, static_cast<const wchar_t*>(value), chars);
            return;
        }
    }
}

uint64_t ParseFileVersionText(const wchar_t* text)
{
    if (!text) return 0;
    uint64_t parts[4] = {LeadingNumber(text), 0, 0, 0};
    const wchar_t* dot = text;
    for (int i = 1; i < 4; ++i) {
        dot = std::wcschr(dot, L'.');
        if (!dot) break;
        ++dot;
        parts[i] = LeadingNumber(dot);
    }
    return parts[0] << 48 | parts[1] << 32 | parts[2] << 16 | parts[3];
}

uint64_t GetFileVersionNumber(const wchar_t* file)
{
    wchar_t text[128];
    QueryVersionString(file, L"FileVersion", text, 128);
    return ParseFileVersionText(text);
}

int SetVersionLanguage(const wchar_t* file, WORD language, DWORD infoSize, DWORD infoHandle)
{
    if (infoSize == 0) return 0;
    VersionBlock block;
    if (!block.Read(file, infoSize, infoHandle)) return 0;
    UINT count = 0;
    Translation* pairs = block.Translations(&count);
    if (!pairs) return 0;
    if (pairs[0].language == language) return 1;

    // The string table is named after language and code page as eight
    // lower-case hexadecimal digits; rename the first one found.
    wchar_t oldName[9], newName[9];
    BoundedFormat(oldName, 9, L"%04x%04x", pairs[0].language, pairs[0].codePage);
    BoundedFormat(newName, 9, L"%04x%04x", language, pairs[0].codePage);
    const size_t nameBytes = 8 * sizeof(wchar_t);
    BYTE* data = block.Data();
    for (DWORD at = 0; at + nameBytes <= block.Size(); ++at) {
        if (std::memcmp(data + at, oldName, nameBytes) == 0) {
            std::memcpy(data + at, newName, nameBytes);
            pairs[0].language = language;
            break;
        }
    }
    return WriteVersionResource(file, 0xFFFF, block.Data(), block.Size());
}

bool HasVersionTranslation(const wchar_t* file)
{
    VersionBlock block;
    UINT count = 0;
    return file && block.Read(file) && block.Translations(&count) != nullptr;
}

bool StampVersionLanguage(const wchar_t* file, WORD language)
{
    DWORD handle = 0, size = 0;
    if (!RetryWhileBrieflyHeld([&] { return (size = GetFileVersionInfoSizeW(file, &handle)) != 0; }))
        return !IsBriefHoldError(GetLastError());  // no version information: nothing to rewrite
    auto attempt = [&] {
        SetLastError(ERROR_SUCCESS);
        if (SetVersionLanguage(file, language, size, handle)) return true;
        // A resource update may fail without a reason (Wine's does on a
        // file held open); whether the file can be written tells it.
        if (GetLastError() == ERROR_SUCCESS) {
            HANDLE probe = CreateFileW(file, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            if (probe != INVALID_HANDLE_VALUE) {
                CloseHandle(probe);
                SetLastError(ERROR_SUCCESS);
            }
        }
        return false;
    };
    if (RetryWhileBrieflyHeld(attempt)) return true;
    DWORD error = GetLastError();
    if (!HasVersionTranslation(file)) return true;
    SetLastError(error);
    return false;
}

int WriteVersionResource(const wchar_t* file, WORD language, const void* data, DWORD size)
{
    if (language == 0xFFFF) {
        // Replace the resource under the language it is stored with now.
        VersionBlock present;
        if (!present.Read(file)) return 0;
        UINT count = 0;
        Translation* pairs = present.Translations(&count);
        if (!pairs) return 0;
        language = pairs[0].language;
        // Update under the language the resource is stored with; the first
        // translation usually names it, but not always, and a different one
        // would add a second version resource instead of replacing it.
        WORD stored = 0;
        if (StoredVersionLanguage(file, &stored)) language = stored;
    }
    HANDLE update = BeginUpdateResourceW(file, FALSE);
    if (!update) return 0;
    if (!UpdateResourceW(update, RT_VERSION, MAKEINTRESOURCEW(1), language, const_cast<void*>(data), size)) {
        EndUpdateResourceW(update, TRUE);
        return 0;
    }
    return EndUpdateResourceW(update, FALSE) ? 1 : 0;
}
