#include "formats/entry_rules.h"

#include <cstring>
#include <initializer_list>

namespace formats {
namespace entries {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

// CON, PRN, AUX, NUL, COM1-9, LPT1-9, with or without an extension.
bool IsDeviceName(const char* part, const char* end)
{
    const char* dot = part;
    while (dot < end && *dot != '.') ++dot;
    size_t length = static_cast<size_t>(dot - part);
    char base[5] = {};
    if (length < 3 || length > 4) return false;
    for (size_t i = 0; i < length; ++i) base[i] = Lower(part[i]);
    for (const char* device : {"con", "prn", "aux", "nul"})
        if (std::strcmp(base, device) == 0) return true;
    return length == 4 && (std::strncmp(base, "com", 3) == 0 || std::strncmp(base, "lpt", 3) == 0) &&
           base[3] >= '1' && base[3] <= '9';
}

}  // namespace

bool IsContainedEntryName(const char* name)
{
    if (!name) return false;
    if (IsSeparator(name[0]) && IsSeparator(name[1])) return false;
    if (std::strchr(name, ':')) return false;
    // Windows drops trailing dots and blanks of a part, so "..." and ".. "
    // climb like "..".
    const char* part = name;
    while (true) {
        const char* end = part;
        while (*end && !IsSeparator(*end)) ++end;
        int dots = 0;
        bool onlyDotsAndBlanks = end > part;
        for (const char* c = part; c < end; ++c) {
            if (*c == '.') ++dots;
            else if (*c != ' ') onlyDotsAndBlanks = false;
        }
        if (onlyDotsAndBlanks && dots >= 2) return false;
        if (!*end) break;
        part = end + 1;
    }
    return true;
}

const char* EntryNameProblem(const char* name)
{
    if (!name || !name[0]) return "empty name";
    size_t length = std::strlen(name);
    if (length >= kNameBytes) return "names must be shorter than 64 bytes";
    for (const char* c = name; *c; ++c) {
        unsigned char u = static_cast<unsigned char>(*c);
        if (u < 0x20 || u >= 0x7F)
            return "only printable ASCII names are packed (the setup reads names in the system code page)";
        if (std::strchr("<>\"|?*/", *c)) return "a character Windows does not allow in a file name";
    }
    if (!IsContainedEntryName(name)) return "the name leaves the setup's folder (\"..\", a colon or a leading \\\\)";
    const char* part = name;
    while (true) {
        const char* end = part;
        while (*end && *end != '\\') ++end;
        if (end == part && *end) return "an empty folder name";
        if (end > part && (end[-1] == '.' || end[-1] == ' '))
            return "a name part ends in a dot or blank, which Windows drops";
        if (IsDeviceName(part, end)) return "a Windows device name";
        if (!*end) break;
        part = end + 1;
    }
    if (name[length - 1] == '\\') return "a folder name, not a file";
    return nullptr;
}

bool SameFileName(const char* a, const char* b)
{
    for (; *a && *b; ++a, ++b)
        if (Lower(*a) != Lower(*b)) return false;
    return *a == *b;
}

}  // namespace entries
}  // namespace formats
