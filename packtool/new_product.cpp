#include "new_product.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <sstream>

#include "config_file.h"
#include "formats/config_layout.h"
#include "formats/entry_rules.h"
#include "product_checks.h"
#include "signing.h"

namespace fs = std::filesystem;

namespace packtool {
namespace {

struct TemplateKey {
    const char* key;
    const char* value;  // null: the fresh GUID
    const char* comment;
};

// Every key of a description, in the order a vendor fills them in. The
// values install as they are; the names are the vendor's to replace.
const TemplateKey kTemplate[] = {
    {"display_name", "My Input Method",
     "\n# --- Your product's names: replace them ---\n"
     "# In the captions of the setup's windows, as the Start-menu group and in the\n"
     "# list of installed programs. At most 39 UTF-16 units, as the names below.\n"},
    {"language_name", "My Input Method",
     "# The keyboard's name in the language list (the layout text on Windows 7,\n"
     "# the profile's description from Windows 8 on).\n"},
    {"ime_name", "MyIME",
     "# Names the driver placed in the system folders (System32\\<ime_name>.ime,\n"
     "# SysWOW64\\<ime_name>.ime) and the data folder ProgramData\\ZerdaIME3\\<ime_name>\\.\n"
     "# The payload's own drivers keep their fixed names, zerdaIME.ime and\n"
     "# x86\\zerdaIME.ime. A plain file name of your product's own.\n"},
    {"default_folder", "My Input Method",
     "# The install folder the wizard proposes: Program Files\\<default_folder>\\.\n"},
    {"text_service_guid", nullptr,
     "# The product's identity: the text service's class and profile, the product\n"
     "# key HKLM\\Software\\ZerdaIME3\\{GUID}, the uninstall entry and every\n"
     "# maintenance command (installer.exe /n {GUID} /r, /u). Made fresh for this\n"
     "# product: keep it for all its versions, never give it to another product.\n"},
    {"language_id", "0x0804",
     "# The keyboard's language (LANGID): 0x0804 Chinese (PRC), 0x0480 Uyghur,\n"
     "# 0x043F Kazakh, 0x0440 Kyrgyz, 0x0443 Uzbek, 0x0409 English (US).\n"},
    {"comments", "",
     "\n# --- The entry in the list of installed programs ---\n"
     "# Comments: at most 31 UTF-16 units.\n"},
    {"publisher", "My Company", ""},
    {"display_version", "1.0", ""},
    {"help_link", "", "# Empty: main.chm in the install folder.\n"},
    {"about_address", "",
     "# Also the browser start page that the finish page offers (its first box,\n"
     "# checked unless the person clears it); empty: no start page is set.\n"},
    {"update_address", "", ""},
    {"contact", "", ""},
    {"help_telephone", "", ""},
    {"tool_install_command", "",
     "\n# --- The companion tool ---\n"
     "# A program of the install folder, relative to it, then switches after \" /\".\n"
     "# The install command starts at the end of an install and of a repair, in the\n"
     "# install folder, and is not waited for. The uninstall command (\"{appPath}\\\"\n"
     "# stands for the install folder) runs first in an uninstall and is waited for\n"
     "# up to 60 seconds; its exit code is only logged. Empty: nothing runs.\n"
     "# Example: tools\\MyTool.exe /do=install\n"},
    {"tool_uninstall_command", "", ""},
    {"engine_flags", "0x000019C0",
     "\n# --- Shortcuts and pages ---\n"
     "# Shortcuts in the Start-menu group, one bit each: 0x80 settings (config.exe),\n"
     "# 0x40 help (main.chm), 0x20 version update (shows only \"not available\"),\n"
     "# 0x100 key functions (config.exe), 0x1000 repair, 0x800 uninstall.\n"},
    {"agreement", "1",
     "# 1: the agreement page (payload\\License.html) comes before the wizard;\n"
     "# 0: only the wizard's agreement link shows it.\n"},
    {"ime_option_word", "0",
     "\n# --- The engine's words (other bits are your engine's own) ---\n"
     "# Bits 0x7000: the text-service profile is enabled (Windows 8 and later).\n"
     "# 0 is taken as 0x4000: the setup sets it there and in the installed copy.\n"},
    {"ime_capability_word", "0x1000",
     "# Bit 0x1000: may register as a text service. Without it Windows 8 and later\n"
     "# refuse the product (Windows 7 takes it as an IMM keyboard layout).\n"},
};

std::string FreshGuid()
{
    std::random_device device;
    uint64_t tick = static_cast<uint64_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count());
    unsigned char b[16];
    for (int i = 0; i < 16; ++i) b[i] = static_cast<unsigned char>(device() ^ (tick >> (8 * (i % 8))));
    b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);  // version 4: random
    b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);  // the standard variant
    char text[40];
    std::snprintf(text, sizeof text, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[0],
                  b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    return text;
}

std::string DescriptionText(const Description& values)
{
    std::ostringstream out;
    out << "# The product's description (UTF-8, \"key = value\", '#' starts a comment line).\n"
           "# After each change: packtool config product.txt 'payload/$dataFiles$/config.dsc'\n"
           "# Then: packtool pack installer.exe payload Setup.exe (it refuses what the\n"
           "# setup cannot install and warns about what installs only in part).\n";
    for (const auto& [key, value] : values) {
        for (const TemplateKey& t : kTemplate)
            if (key == t.key) out << t.comment;
        out << key << (value.empty() ? " =" : " = ") << value << "\n";
    }
    return out.str();
}

std::string Value(const Description& d, const char* key)
{
    for (const auto& kv : d)
        if (kv.first == key) return kv.second;
    return "";
}

std::string HtmlText(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '&') out += "&amp;";
        else if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else if (c == '"') out += "&quot;";
        else out += c;
    }
    return out;
}

std::string LicenceText(const std::string& displayName)
{
    std::string name = HtmlText(displayName);
    return "<!DOCTYPE html>\n"
           "<html lang=\"en\" dir=\"ltr\">\n"
           "<head>\n"
           "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">\n"
           "<title>" + name + " - licence agreement</title>\n"
           "<style>body { font-family: sans-serif; font-size: 11pt; margin: 12px; }</style>\n"
           "</head>\n"
           "<body>\n"
           "<!-- The setup's agreement page shows this file in Windows' web-browser control\n"
           "     (the Internet Explorer engine): plain HTML, no script. For Arabic script\n"
           "     set dir=\"rtl\" and the language above. -->\n"
           "<h3>" + name + ": licence agreement</h3>\n"
           "<p>The terms of your product.</p>\n"
           "<p>The button \"قوشۇلىمەن\" agrees to them, \"قوشۇلمايمەن\" declines.</p>\n"
           "</body>\n"
           "</html>\n";
}

std::string HelpProject(const std::string& displayName, const std::string& languageId)
{
    return "[OPTIONS]\n"
           "Compatibility=1.1 or later\n"
           "Compiled file=main.chm\n"
           "Default topic=index.html\n"
           "Display compile progress=No\n"
           "Language=" + languageId + "\n"
           "Title=" + displayName + "\n"
           "\n"
           "[FILES]\n"
           "index.html\n";
}

std::string HelpPage(const std::string& displayName)
{
    std::string name = HtmlText(displayName);
    return "<!DOCTYPE html>\n<html>\n<head>\n"
           "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">\n"
           "<title>" + name + "</title>\n</head>\n<body>\n<h3>" + name +
           "</h3>\n<p>How to use your input method.</p>\n</body>\n</html>\n";
}

void WriteText(const fs::path& path, const std::string& text)
{
    WriteFileAtomically(path.u8string(), Bytes(text.begin(), text.end()));
}

bool IsOwnFile(const std::string& name)
{
    return formats::entries::SameFileName(name.c_str(), formats::config::kPayloadEntry) ||
           formats::entries::SameFileName(name.c_str(), "License.html");
}

// Copies `from` into the payload but for its configuration and agreement
// page; returns the programs, drivers and help file that came with it.
std::string CopyPayload(const fs::path& from, const fs::path& payload)
{
    std::error_code ec;
    if (!fs::is_directory(from, ec)) throw Failure("--from: " + from.u8string() + " is no folder");
    std::vector<std::string> programs;
    for (auto it = fs::recursive_directory_iterator(from, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        fs::path rel = fs::relative(it->path(), from, ec);
        std::string name = rel.generic_u8string();
        std::replace(name.begin(), name.end(), '/', '\\');
        if (IsOwnFile(name)) continue;
        fs::create_directories((payload / rel).parent_path(), ec);
        if (!fs::copy_file(it->path(), payload / rel, fs::copy_options::overwrite_existing, ec))
            throw Failure("cannot copy " + it->path().u8string() + ": " + ec.message());
        if (IsPeName(name) || formats::entries::SameFileName(name.c_str(), "main.chm"))
            programs.push_back(name);
    }
    if (ec) throw Failure("cannot read " + from.u8string() + ": " + ec.message());
    std::sort(programs.begin(), programs.end());
    std::string list;
    for (const std::string& p : programs) list += (list.empty() ? "" : ", ") + p;
    return list;
}

}  // namespace

std::string WriteNewProduct(const std::string& folder, const std::string& from,
                            const std::vector<std::string>& overrides)
{
    const fs::path root = fs::u8path(folder);
    std::error_code ec;
    if (fs::exists(root, ec) && !fs::is_empty(root, ec))
        throw Failure(folder + " exists and is not empty: packtool new writes only into a new folder");

    Description values;
    for (const TemplateKey& t : kTemplate) values.emplace_back(t.key, t.value ? t.value : FreshGuid());
    for (const std::string& o : overrides) ApplyOverride(values, o);
    const std::string description = DescriptionText(values);
    // What the description gives must install: checked before anything is written.
    Bytes config = BuildConfigFile(ParseDescription(description, "product.txt"));
    ReportFindings(CheckProduct(config), (root / "product.txt").u8string(), false);

    const fs::path payload = root / "payload";
    for (const char* sub : {"x86", "tools", "$fonts$", "$dataFiles$"}) fs::create_directories(payload / sub, ec);
    fs::create_directories(root / "help", ec);
    if (ec) throw Failure("cannot create " + payload.u8string() + ": " + ec.message());
    std::string copied = from.empty() ? "" : CopyPayload(fs::u8path(from), payload);

    const std::string name = Value(values, "display_name");
    WriteText(root / "product.txt", description);
    WriteFileAtomically((payload / "$dataFiles$" / "config.dsc").u8string(), config);
    WriteText(payload / "License.html", LicenceText(name));
    WriteText(root / "help" / "main.hhp", HelpProject(name, Value(values, "language_id")));
    WriteText(root / "help" / "index.html", HelpPage(name));

    std::ostringstream out;
    const std::string f = root.u8string();
    out << f << "/product.txt: the description, text_service_guid " << Value(values, "text_service_guid")
        << " (keep it for every version)\n"
        << f << "/payload/: the payload, with $dataFiles$/config.dsc (from product.txt) and License.html\n"
        << f << "/help/: main.chm's source (chmcmd main.hhp)\n";
    if (!copied.empty())
        out << "from " << from << ", to be replaced by your own: " << copied << "\n";
    else
        out << "still to add: your drivers zerdaIME.ime and x86\\zerdaIME.ime (fixed names), config.exe, main.chm\n";
    out << "after each change of product.txt: packtool config " << f << "/product.txt '" << f
        << "/payload/$dataFiles$/config.dsc'\n"
        << "then: packtool pack installer.exe " << f << "/payload " << f << "/Setup.exe\n";
    return out.str();
}

}  // namespace packtool
