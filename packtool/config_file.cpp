#include "config_file.h"

#include <cstdio>
#include <cstring>
#include <set>
#include <sstream>

#include "formats/config_layout.h"

namespace packtool {
namespace {

using namespace formats::config;
namespace pf = formats::product_field;
namespace imef = formats::ime_field;

enum class FieldType { Text, Guid, U16, U32, U8 };

struct Field {
    const char* key;
    int record;       // index into kRecords
    size_t offset;    // record offset
    FieldType type;
    size_t chars;     // text capacity, terminator included
    bool required;
    const char* help;
};

constexpr int kSoftRecord = kProductRecord;
const Field kFields[] = {
    {"display_name", kSoftRecord, pf::kDisplayName, FieldType::Text, pf::kDisplayNameChars, true, "product name in captions and the uninstall entry"},
    {"language_name", kSoftRecord, pf::kLanguageName, FieldType::Text, pf::kLanguageNameChars, false, "keyboard layout / profile description"},
    {"ime_name", kSoftRecord, pf::kImeName, FieldType::Text, pf::kImeNameChars, true, "driver file name in the system folders (without .ime)"},
    {"default_folder", kSoftRecord, pf::kDefaultFolderName, FieldType::Text, pf::kDefaultFolderNameChars, false, "the install folder the wizard proposes: Program Files\\<default_folder> (empty: refused)"},
    {"text_service_guid", kSoftRecord, pf::kTextServiceGuid, FieldType::Guid, 0, true, "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"},
    {"language_id", kSoftRecord, pf::kLangId, FieldType::U16, 0, false, "LANGID, e.g. 0x0804"},
    {"comments", kSoftRecord, pf::kComments, FieldType::Text, pf::kCommentsChars, false, "uninstall entry Comments"},
    {"publisher", kSoftRecord, pf::kPublisher, FieldType::Text, pf::kPublisherChars, false, "uninstall entry Publisher"},
    {"display_version", kSoftRecord, pf::kDisplayVersion, FieldType::Text, pf::kDisplayVersionChars, false, "DisplayVersion"},
    {"help_link", kSoftRecord, pf::kHelpLink, FieldType::Text, pf::kHelpLinkChars, false, "HelpLink (empty: main.chm of the install folder)"},
    {"about_address", kSoftRecord, pf::kAboutAddress, FieldType::Text, pf::kAboutAddressChars, false, "URLInfoAbout"},
    {"update_address", kSoftRecord, pf::kUpdateAddress, FieldType::Text, pf::kUpdateAddressChars, false, "URLUpdateInfo"},
    {"contact", kSoftRecord, pf::kContact, FieldType::Text, pf::kContactChars, false, "Contact"},
    {"help_telephone", kSoftRecord, pf::kHelpTelephone, FieldType::Text, pf::kHelpTelephoneChars, false, "HelpTelephone"},
    {"tool_install_command", kSoftRecord, pf::kToolInstallCommand, FieldType::Text, pf::kToolCommandChars, false, "companion tool's install command"},
    {"tool_uninstall_command", kSoftRecord, pf::kToolUninstallCommand, FieldType::Text, pf::kToolCommandChars, false, "companion tool's uninstall command"},
    {"engine_flags", kSoftRecord, pf::kEngineFlags, FieldType::U32, 0, false, "shortcut bits 0x20 0x40 0x80 0x100 0x800 0x1000"},
    {"agreement", kSoftRecord, pf::kAgreementFlag, FieldType::U8, 0, false, "non-zero: agreement page before the wizard"},
    {"ime_option_word", kImeRecord, imef::kOptionWord, FieldType::U32, 0, false, "bits 0x7000: text-service profile enabled (0: the setup sets 0x4000)"},
    {"ime_capability_word", kImeRecord, imef::kCapabilityWord, FieldType::U32, 0, false, "bit 0x1000: text service may be registered"},
};

const Field* FindField(const std::string& key)
{
    for (const Field& f : kFields)
        if (key == f.key) return &f;
    return nullptr;
}

std::string Trim(const std::string& s)
{
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

unsigned long long ParseNumber(const std::string& key, const std::string& value, unsigned long long max)
{
    if (value.empty()) throw Failure(key + ": a number is needed");
    size_t pos = 0;
    int base = 10;
    if (value.size() > 2 && value[0] == '0' && (value[1] == 'x' || value[1] == 'X')) {
        base = 16;
        pos = 2;
    }
    unsigned long long v = 0;
    for (; pos < value.size(); ++pos) {
        char c = value[pos];
        int digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else throw Failure(key + ": not a number: " + value);
        v = v * base + digit;
        if (v > max) throw Failure(key + ": value too large: " + value);
    }
    return v;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "{7A3C4E1D-5B2F-4C8A-9E61-2D0F3B8A4C57}" into the 16-byte GUID layout.
void ParseGuid(const std::string& text, unsigned char* out)
{
    static const char kPattern[] = "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}";
    if (text.size() != 38) throw Failure("text_service_guid: expected " + std::string(kPattern) + ", got " + text);
    std::string hex;
    for (size_t i = 0; i < 38; ++i) {
        if (kPattern[i] == 'X') {
            if (HexDigit(text[i]) < 0) throw Failure("text_service_guid: bad hex digit in " + text);
            hex += text[i];
        } else if (text[i] != kPattern[i]) {
            throw Failure("text_service_guid: expected " + std::string(kPattern) + ", got " + text);
        }
    }
    auto byteAt = [&](size_t i) { return static_cast<unsigned char>(HexDigit(hex[2 * i]) * 16 + HexDigit(hex[2 * i + 1])); };
    // Data1 (32-bit), Data2, Data3 (16-bit) little-endian; Data4 as written.
    out[0] = byteAt(3); out[1] = byteAt(2); out[2] = byteAt(1); out[3] = byteAt(0);
    out[4] = byteAt(5); out[5] = byteAt(4);
    out[6] = byteAt(7); out[7] = byteAt(6);
    for (int i = 8; i < 16; ++i) out[i] = byteAt(i);
}

std::string FormatGuid(const unsigned char* g)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", GetLe32(g), GetLe16(g + 4),
                  GetLe16(g + 6), g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]);
    return buf;
}

void PutField(const Field& f, const std::string& value, unsigned char* record)
{
    unsigned char* p = record + f.offset;
    switch (f.type) {
    case FieldType::Text: {
        std::u16string text = Utf8ToUtf16(value);
        // The setup reads a text up to its first zero: an IME name "\0B" is an empty one.
        if (text.find(u'\0') != std::u16string::npos) throw Failure(std::string(f.key) + ": text holds a zero character");
        if (f.required && text.empty()) throw Failure(std::string(f.key) + ": must not be empty");
        if (text.size() + 1 > f.chars)
            throw Failure(std::string(f.key) + ": text too long (" + std::to_string(text.size()) +
                          " UTF-16 units, at most " + std::to_string(f.chars - 1) + ")");
        for (size_t i = 0; i < text.size(); ++i) PutLe16(p + 2 * i, text[i]);
        PutLe16(p + 2 * text.size(), 0);
        // The setup refuses an IME name that is no plain file name.
        if (f.record == kSoftRecord && f.offset == pf::kImeName)
            if (const char* problem = formats::config::ImeNameProblem(p, f.chars))
                throw Failure(std::string(f.key) + ": " + problem);
        break;
    }
    case FieldType::Guid: ParseGuid(value, p); break;
    case FieldType::U16: PutLe16(p, static_cast<uint16_t>(ParseNumber(f.key, value, 0xFFFF))); break;
    case FieldType::U32: PutLe32(p, static_cast<uint32_t>(ParseNumber(f.key, value, 0xFFFFFFFFull))); break;
    case FieldType::U8: *p = static_cast<unsigned char>(ParseNumber(f.key, value, 0xFF)); break;
    }
}

// The record's name read in place (at most 65 characters); empty when not terminated.
std::u16string RecordName(const unsigned char* record)
{
    std::u16string name;
    for (size_t i = 0; i < kNameChars; ++i) {
        char16_t c = GetLe16(record + kNameOffset + 2 * i);
        if (c == 0) return name;
        name += c;
    }
    return u"";
}

std::string FieldText(const Field& f, const unsigned char* record, uint32_t recordSize)
{
    size_t width = f.type == FieldType::Text ? f.chars * 2 : f.type == FieldType::Guid ? 16
                 : f.type == FieldType::U32 ? 4 : f.type == FieldType::U16 ? 2 : 1;
    if (f.offset + width > recordSize) return "(outside the record)";
    const unsigned char* p = record + f.offset;
    char buf[32];
    switch (f.type) {
    case FieldType::Text: {
        std::u16string text;
        for (size_t i = 0; i + 1 < f.chars; ++i) {
            char16_t c = GetLe16(p + 2 * i);
            if (!c) break;
            text += c;
        }
        return "\"" + Utf16ToUtf8(text) + "\"";
    }
    case FieldType::Guid: return FormatGuid(p);
    case FieldType::U16: std::snprintf(buf, sizeof buf, "0x%04X", GetLe16(p)); return buf;
    case FieldType::U32: std::snprintf(buf, sizeof buf, "0x%08X", GetLe32(p)); return buf;
    case FieldType::U8: std::snprintf(buf, sizeof buf, "%u", p[0]); return buf;
    }
    return "";
}

}  // namespace

Description ParseDescription(const std::string& text, const std::string& sourceName)
{
    Description out;
    std::set<std::string> seen;
    std::istringstream in(text);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (number == 1 && line.size() >= 3 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
        std::string t = Trim(line);
        if (t.empty() || t[0] == '#') continue;
        size_t eq = t.find('=');
        std::string where = sourceName + ":" + std::to_string(number) + ": ";
        if (eq == std::string::npos) throw Failure(where + "expected key = value");
        std::string key = Trim(t.substr(0, eq));
        std::string value = Trim(t.substr(eq + 1));
        if (!FindField(key)) throw Failure(where + "unknown key \"" + key + "\"");
        if (!seen.insert(key).second) throw Failure(where + "key \"" + key + "\" given twice");
        out.emplace_back(key, value);
    }
    return out;
}

void ApplyOverride(Description& description, const std::string& assignment)
{
    size_t eq = assignment.find('=');
    if (eq == std::string::npos) throw Failure("override \"" + assignment + "\": expected key=value");
    std::string key = Trim(assignment.substr(0, eq));
    std::string value = Trim(assignment.substr(eq + 1));
    if (!FindField(key)) throw Failure("override: unknown key \"" + key + "\"");
    for (auto& kv : description) {
        if (kv.first == key) {
            kv.second = value;
            return;
        }
    }
    description.emplace_back(key, value);
}

Bytes BuildConfigFile(const Description& description)
{
    size_t total = kFirstRecordOffset;
    for (const RecordKind& r : kRecords) total += r.size;
    Bytes image(total, 0);
    PutLe32(image.data(), kRecordKinds);
    size_t offset = kFirstRecordOffset;
    size_t recordOffsets[kRecordKinds];
    for (int i = 0; i < kRecordKinds; ++i) {
        recordOffsets[i] = offset;
        PutLe32(image.data() + kTableOffset + 4 * i, static_cast<uint32_t>(offset));
        unsigned char* record = image.data() + offset;
        PutLe32(record, kRecords[i].size);
        PutLe16(record + kKindOffset, kRecords[i].kind);
        const char16_t* name = kRecords[i].name;
        for (size_t k = 0; name[k]; ++k) PutLe16(record + kNameOffset + 2 * k, name[k]);
        offset += kRecords[i].size;
    }
    // The product's language defaults to Chinese (PRC), as the engine expects.
    PutLe16(image.data() + recordOffsets[kSoftRecord] + pf::kLangId, 0x0804);

    std::set<std::string> given;
    for (const auto& kv : description) {
        const Field* f = FindField(kv.first);
        if (!f) throw Failure("unknown key \"" + kv.first + "\"");
        PutField(*f, kv.second, image.data() + recordOffsets[f->record]);
        given.insert(kv.first);
    }
    for (const Field& f : kFields)
        if (f.required && !given.count(f.key)) throw Failure(std::string("missing key \"") + f.key + "\"");
    return image;
}

std::string DescribeConfigFile(const Bytes& image)
{
    if (image.size() < kTableOffset) throw Failure("config file too short for its record count");
    uint32_t rawCount = GetLe32(image.data());
    uint32_t count = rawCount & kCountMask;
    if (!TableFits(Span(image))) throw Failure("config file too short for its offset table");
    std::ostringstream out;
    out << "records: " << count;
    if (rawCount != count) out << " (count field " << rawCount << ", low 8 bits used)";
    out << "\n";
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t off = GetLe32(image.data() + kTableOffset + 4 * i);
        out << "  [" << i << "] offset " << off;
        if (!formats::Fits(image.size(), off, kRecordHeaderSize)) {
            out << ": outside the file\n";
            continue;
        }
        const unsigned char* record = image.data() + off;
        int32_t size = static_cast<int32_t>(GetLe32(record));
        out << " size " << size << " kind " << GetLe16(record + kKindOffset) << " name \""
            << Utf16ToUtf8(RecordName(record)) << "\"";
        if (size < static_cast<int32_t>(kRecordHeaderSize) || static_cast<size_t>(size) > image.size() - off) {
            out << ": size outside the file\n";
            continue;
        }
        out << "\n";
    }
    // The records as the setup finds them.
    for (int r : {kSoftRecord, kImeRecord}) {
        Record found = FindRecord(Span(image), kRecords[r].name);
        out << Utf16ToUtf8(kRecords[r].name) << ":";
        if (!found.found) {
            out << " missing\n";
            continue;
        }
        out << "\n";
        for (const Field& f : kFields) {
            if (f.record != r) continue;
            out << "  " << f.key << " = " << FieldText(f, image.data() + found.offset, found.size) << "\n";
        }
    }
    // What deployment tools detect and uninstall the product by.
    Record product = FindRecord(Span(image), kRecords[kSoftRecord].name);
    if (product.found && product.size >= pf::kTextServiceGuid + 16)
        out << "product code: " << FormatGuid(image.data() + product.offset + pf::kTextServiceGuid)
            << " (HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\<product code>; keep it for every version)\n";
    const char* problem = LoadProblem(Span(image));
    out << "setup: " << (problem ? std::string("would fail: ") + problem : std::string("loads it")) << "\n";
    return out.str();
}

std::string DescriptionKeysHelp()
{
    std::ostringstream out;
    for (const Field& f : kFields) {
        out << "  " << f.key;
        if (f.type == FieldType::Text) out << " (text, at most " << (f.chars - 1) << " UTF-16 units)";
        if (f.required) out << " [required]";
        out << ": " << f.help << "\n";
    }
    return out.str();
}

}  // namespace packtool
