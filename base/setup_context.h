// The one process-wide record of a setup run: what the command line said, the
// product's configuration as the payload delivers it (two records copied
// verbatim, fields read at their record offsets) and the paths of the run.
#pragma once
#include <windows.h>
#include <cstdint>
#include <cstring>

#include "formats/config_layout.h"

constexpr size_t kPathChars = MAX_PATH;  // 260
constexpr size_t kNameChars = 40;
// The two records' sizes and field offsets are the payload format's.
constexpr size_t kProductRecordSize = formats::config::kProductRecordSize;
constexpr size_t kImeRecordSize = formats::config::kImeRecordSize;
namespace product_field = formats::product_field;
namespace ime_field = formats::ime_field;

constexpr uint32_t kEngineFlagTextService = 0x20000000;
constexpr uint32_t kEngineFlagLoaderBits = 0x30000000;
constexpr uint32_t kImeCapabilityTextService = 0x1000;
constexpr uint32_t kImeOptionProfileBits = 0x7000;

struct SetupContext {
    uint8_t modeCode;    // 'i', 'u', 'r', 'g' or 0
    uint8_t relaunched;  // 'y' with "/f"
    uint8_t reserved[2];
    uint8_t productRecord[kProductRecordSize];
    uint8_t imeRecord[kImeRecordSize];
    wchar_t payloadFolder[kPathChars];
    wchar_t name[kNameChars];  // product key name
    wchar_t workFolder[kPathChars];
    wchar_t ownFilePath[kPathChars];
    wchar_t archivePath[kPathChars];
    wchar_t plainInstallerPath[kPathChars];
    wchar_t installFolder[kPathChars];
    wchar_t dataFolder[kPathChars];
    HWND progressBar;
    HWND logBox;
    int32_t lastProgress;
};

extern SetupContext g_setup;

inline wchar_t* ProductText(SetupContext& c, size_t offset)
{ return reinterpret_cast<wchar_t*>(c.productRecord + offset); }

inline wchar_t* DisplayName(SetupContext& c) { return ProductText(c, product_field::kDisplayName); }
inline wchar_t* LanguageName(SetupContext& c) { return ProductText(c, product_field::kLanguageName); }
inline wchar_t* ImeName(SetupContext& c) { return ProductText(c, product_field::kImeName); }
inline wchar_t* DefaultFolderName(SetupContext& c) { return ProductText(c, product_field::kDefaultFolderName); }
inline wchar_t* Comments(SetupContext& c) { return ProductText(c, product_field::kComments); }
inline wchar_t* Publisher(SetupContext& c) { return ProductText(c, product_field::kPublisher); }
inline wchar_t* DisplayVersion(SetupContext& c) { return ProductText(c, product_field::kDisplayVersion); }
inline wchar_t* HelpLink(SetupContext& c) { return ProductText(c, product_field::kHelpLink); }
inline wchar_t* AboutAddress(SetupContext& c) { return ProductText(c, product_field::kAboutAddress); }
inline wchar_t* UpdateAddress(SetupContext& c) { return ProductText(c, product_field::kUpdateAddress); }
inline wchar_t* Contact(SetupContext& c) { return ProductText(c, product_field::kContact); }
inline wchar_t* HelpTelephone(SetupContext& c) { return ProductText(c, product_field::kHelpTelephone); }
inline wchar_t* ToolInstallCommand(SetupContext& c) { return ProductText(c, product_field::kToolInstallCommand); }
inline wchar_t* ToolUninstallCommand(SetupContext& c) { return ProductText(c, product_field::kToolUninstallCommand); }

// Capacities in characters, terminator included.
using formats::product_field::kDisplayNameChars, formats::product_field::kLanguageNameChars,
    formats::product_field::kImeNameChars, formats::product_field::kDefaultFolderNameChars,
    formats::product_field::kCommentsChars, formats::product_field::kPublisherChars,
    formats::product_field::kDisplayVersionChars, formats::product_field::kHelpLinkChars,
    formats::product_field::kAboutAddressChars, formats::product_field::kUpdateAddressChars,
    formats::product_field::kContactChars, formats::product_field::kHelpTelephoneChars,
    formats::product_field::kToolCommandChars;

inline GUID TextServiceGuid(const SetupContext& c)
{ GUID g; std::memcpy(&g, c.productRecord + product_field::kTextServiceGuid, sizeof g); return g; }
inline void SetTextServiceGuid(SetupContext& c, const GUID& g)
{ std::memcpy(c.productRecord + product_field::kTextServiceGuid, &g, sizeof g); }

inline uint16_t LangId(const SetupContext& c)
{ uint16_t v; std::memcpy(&v, c.productRecord + product_field::kLangId, sizeof v); return v; }
inline void SetLangId(SetupContext& c, uint16_t v)
{ std::memcpy(c.productRecord + product_field::kLangId, &v, sizeof v); }

inline uint32_t EngineFlags(const SetupContext& c)
{ uint32_t v; std::memcpy(&v, c.productRecord + product_field::kEngineFlags, sizeof v); return v; }
inline void SetEngineFlags(SetupContext& c, uint32_t v)
{ std::memcpy(c.productRecord + product_field::kEngineFlags, &v, sizeof v); }

inline uint8_t AgreementFlag(const SetupContext& c) { return c.productRecord[product_field::kAgreementFlag]; }

inline uint32_t ImeOptionWord(const SetupContext& c)
{ uint32_t v; std::memcpy(&v, c.imeRecord + ime_field::kOptionWord, sizeof v); return v; }
inline void SetImeOptionWord(SetupContext& c, uint32_t v)
{ std::memcpy(c.imeRecord + ime_field::kOptionWord, &v, sizeof v); }

// Clears the product-record copy (the start routine does so after the parse).
inline void ClearProductRecord(SetupContext& c) { std::memset(c.productRecord, 0, sizeof c.productRecord); }
