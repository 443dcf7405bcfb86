#include "product_checks.h"

#include <cstdio>
#include <cstring>

#include "formats/config_layout.h"
#include "formats/entry_rules.h"

namespace packtool {
namespace {

namespace pf = formats::product_field;
namespace imef = formats::ime_field;

// Bits the setup reads (see its registration and shortcuts).
constexpr uint32_t kTextServiceCapability = 0x1000;
constexpr uint32_t kSettingsShortcuts = 0x80 | 0x100;  // both start config.exe
constexpr uint32_t kHelpShortcut = 0x40;              // opens main.chm

struct Record {
    const unsigned char* data = nullptr;
    uint32_t size = 0;

    std::u16string Text(size_t offset, size_t chars) const
    {
        std::u16string text;
        for (size_t i = 0; i + 1 < chars && offset + 2 * i + 2 <= size; ++i) {
            char16_t c = GetLe16(data + offset + 2 * i);
            if (!c) break;
            text += c;
        }
        return text;
    }
    uint32_t Word(size_t offset) const { return offset + 4 <= size ? GetLe32(data + offset) : 0; }
    uint8_t Byte(size_t offset) const { return offset < size ? data[offset] : 0; }
};

Record Find(const Bytes& config, const char16_t* name)
{
    formats::config::Record r = formats::config::FindRecord(Span(config), name);
    Record out;
    if (r.found) out = {config.data() + r.offset, r.size};
    return out;
}

std::string Quoted(const std::u16string& text) { return "\"" + Utf16ToUtf8(text) + "\""; }

bool RefusedInName(char16_t c) { return c < 0x20 || (c < 0x80 && std::strchr("<>:\"|?*", static_cast<char>(c))); }

bool HoldsRefusedCharacter(const std::u16string& text)
{
    for (char16_t c : text)
        if (RefusedInName(c)) return true;
    return false;
}

bool SameAscii(const std::u16string& a, const char* b)
{
    if (a.size() != std::strlen(b)) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i], y = static_cast<unsigned char>(b[i]);
        if (x >= u'A' && x <= u'Z') x += 32;
        if (y >= u'A' && y <= u'Z') y += 32;
        if (x != y) return false;
    }
    return true;
}

// Why the wizard's proposal, Program Files\<name>\, is no folder the setup
// installs into; null when it is one.
const char kRefusedFolder[] =
    "; the setup refuses it as the install folder: the wizard tells the person it cannot be created, a quiet "
    "install ends 1603";
std::string DefaultFolderProblem(const std::u16string& name)
{
    if (name.empty()) return "is empty: the proposed install folder is Program Files itself" + std::string(kRefusedFolder);
    if (HoldsRefusedCharacter(name))
        return "holds a character Windows does not allow in a folder name (< > : \" | ? * or a control "
               "character): the proposed install folder cannot be made" + std::string(kRefusedFolder);
    std::u16string part, first;
    int parts = 0;
    for (size_t i = 0; i <= name.size(); ++i) {
        if (i < name.size() && name[i] != u'\\' && name[i] != u'/') {
            part += name[i];
            continue;
        }
        if (part == u"." || part == u"..")
            return "holds a \".\" or \"..\" part: the proposed install folder would be Program Files itself, "
                   "which the setup refuses (a quiet install ends 1603), or a folder outside it, no folder of "
                   "the product's own";
        if (!part.empty() && parts++ == 0) first = part;
        part.clear();
    }
    if (parts == 0) return "names no folder: the proposed install folder is Program Files itself" + std::string(kRefusedFolder);
    if (parts == 1 && SameAscii(first, "Common Files")) return "is Program Files\\Common Files, a system folder" + std::string(kRefusedFolder);
    return "";
}

bool HasEntry(const std::vector<std::string>& entries, const std::string& name)
{
    for (const std::string& e : entries)
        if (formats::entries::SameFileName(e.c_str(), name.c_str())) return true;
    return false;
}

// The program part of a companion-tool command, as the setup splits it.
std::string ToolProgram(const std::u16string& command, bool appPathPrefix)
{
    std::u16string text = command;
    const std::u16string prefix = u"{appPath}\\";
    if (appPathPrefix && text.compare(0, prefix.size(), prefix) == 0) text.erase(0, prefix.size());
    size_t split = text.find(u" /");
    if (split != std::u16string::npos && split > 0) text.resize(split);
    return Utf16ToUtf8(text);
}

}  // namespace

Findings CheckProduct(const Bytes& config)
{
    Findings out;
    const Record soft = Find(config, formats::config::kProductRecordName);
    const Record ime = Find(config, formats::config::kImeRecordName);
    auto refuse = [&](const std::string& text) { out.push_back({true, text}); };
    auto warn = [&](const std::string& text) { out.push_back({false, text}); };

    const std::u16string folder = soft.Text(pf::kDefaultFolderName, pf::kDefaultFolderNameChars);
    const std::string problem = DefaultFolderProblem(folder);
    if (!problem.empty()) refuse("default_folder " + Quoted(folder) + " " + problem);

    static const unsigned char kNullGuid[16] = {};
    if (soft.size >= pf::kTextServiceGuid + 16 && std::memcmp(soft.data + pf::kTextServiceGuid, kNullGuid, 16) == 0)
        refuse("text_service_guid is the null GUID: COM takes it for no class at all, so no text service "
               "can be made of it, and every product left without a GUID of its own would share its product "
               "key and uninstall entry; use the one \"packtool new\" wrote, or a fresh one (uuidgen)");

    char word[16];
    std::snprintf(word, sizeof word, "0x%08X", static_cast<unsigned>(ime.Word(imef::kCapabilityWord)));
    if (!(ime.Word(imef::kCapabilityWord) & kTextServiceCapability))
        warn("ime_capability_word " + std::string(word) +
             " lacks bit 0x1000 (text service): the product installs on Windows 7 only; on Windows 8 and "
             "later every install stops at step 2 and ends 1603");

    const std::u16string display = soft.Text(pf::kDisplayName, pf::kDisplayNameChars);
    if (HoldsRefusedCharacter(display))
        warn("display_name " + Quoted(display) +
             " cannot name a folder: the Start-menu group named after it is not made, so there are no "
             "shortcuts (no repair or uninstall shortcut; the list of installed programs still uninstalls)");

    if (soft.Text(pf::kLanguageName, pf::kLanguageNameChars).empty())
        warn("language_name is empty: the keyboard shows without a name in the language list");
    return out;
}

std::string ImeNameOf(const Bytes& config)
{
    return Utf16ToUtf8(Find(config, formats::config::kProductRecordName).Text(pf::kImeName, pf::kImeNameChars));
}

Findings CheckPayloadUse(const Bytes& config, const std::vector<std::string>& entries)
{
    Findings out;
    const Record soft = Find(config, formats::config::kProductRecordName);
    auto warn = [&](const std::string& text) { out.push_back({false, text}); };
    const uint32_t flags = soft.Word(pf::kEngineFlags);
    char bits[16];
    std::snprintf(bits, sizeof bits, "0x%08X", static_cast<unsigned>(flags));
    if ((flags & kSettingsShortcuts) && !HasEntry(entries, "config.exe"))
        warn("engine_flags " + std::string(bits) +
             " make shortcuts to config.exe (bits 0x80, 0x100), which the payload does not hold");
    if ((flags & kHelpShortcut) && !HasEntry(entries, "main.chm"))
        warn("engine_flags " + std::string(bits) +
             " make a shortcut to main.chm (bit 0x40), which the payload does not hold");
    if (soft.Byte(pf::kAgreementFlag) && !HasEntry(entries, "License.html") && !HasEntry(entries, "main.chm"))
        warn("agreement is on, but the payload holds neither License.html nor main.chm: the agreement page "
             "stays empty");

    struct Command {
        const char* key;
        size_t offset;
        bool appPathPrefix;
    } const commands[] = {{"tool_install_command", pf::kToolInstallCommand, false},
                          {"tool_uninstall_command", pf::kToolUninstallCommand, true}};
    for (const Command& c : commands) {
        std::string program = ToolProgram(soft.Text(c.offset, pf::kToolCommandChars), c.appPathPrefix);
        if (!program.empty() && !HasEntry(entries, program))
            warn(std::string(c.key) + " names " + program +
                 ", which the payload does not hold: the setup will not start it");
    }
    // The finish page's second box, checked unless the person clears it,
    // adds this fixed program to everyone's start-up ("VarekNews").
    if (!HasEntry(entries, "tools\\varekinputtool.exe"))
        warn("the payload holds no tools\\varekinputtool.exe: the finish page's news box (checked unless the "
             "person clears it) adds a start-up entry \"VarekNews\" that names that program");
    return out;
}

void ReportFindings(const Findings& findings, const std::string& where, bool allowIncomplete)
{
    // Refused: one line with every reason, and no warnings before it.
    std::string refused;
    for (const Finding& f : findings)
        if (f.refusal) refused += (refused.empty() ? "" : "; ") + f.text;
    if (!refused.empty() && !allowIncomplete)
        throw Failure(where + ": refused: " + refused);
    for (const Finding& f : findings)
        std::fprintf(stderr, "packtool: warning: %s: %s%s\n", where.c_str(), f.text.c_str(),
                     f.refusal ? " (kept anyway: --allow-incomplete)" : "");
}

}  // namespace packtool
