// config.dsc: a record count, a table of record offsets and the records, each
// with a size, a kind and a UTF-16 name in its header. The setup reads two of
// the records; the packaging tool writes all four.
#pragma once
#include <cstddef>
#include <cstdint>

#include "formats/bytes.h"

namespace formats {
namespace config {

constexpr uint32_t kCountMask = 0xFF;  // readers honour the low 8 bits
constexpr size_t kTableOffset = 4;
constexpr size_t kFirstRecordOffset = 140;  // zeros between the table and it
constexpr size_t kRecordHeaderSize = 136;
constexpr size_t kKindOffset = 4;
constexpr size_t kNameOffset = 6;
constexpr size_t kNameChars = 65;  // 130 bytes, terminator included

constexpr uint32_t kImeRecordSize = 11236;
constexpr uint32_t kProductRecordSize = 4296;
constexpr char16_t kImeRecordName[] = u"zd_ime_config_data_default";
constexpr char16_t kProductRecordName[] = u"zd_soft_config_data_default";

struct RecordKind {
    uint16_t kind;
    const char16_t* name;
    uint32_t size;
};
// The records of a payload file, in file order.
constexpr int kRecordKinds = 4;
constexpr int kImeRecord = 0;
constexpr int kProductRecord = 3;
constexpr RecordKind kRecords[kRecordKinds] = {
    {1, kImeRecordName, kImeRecordSize},
    {2, u"zd_dme_config_data_default", 13216},
    {3, u"zd_skin_config_data_default", 588},
    {4, kProductRecordName, kProductRecordSize},
};

// The payload's own file, below the payload folder.
constexpr char kPayloadEntry[] = "$dataFiles$\\config.dsc";

}  // namespace config

// Record offsets of the product record and the capacities of its texts in
// UTF-16 units, terminator included.
namespace product_field {
constexpr size_t kDisplayName = 136, kDisplayNameChars = 40;
constexpr size_t kLanguageName = 216, kLanguageNameChars = 40;
constexpr size_t kImeName = 296, kImeNameChars = 40;
constexpr size_t kDefaultFolderName = 376, kDefaultFolderNameChars = 40;
constexpr size_t kTextServiceGuid = 456;  // 16 bytes
constexpr size_t kLangId = 552;           // 16-bit
constexpr size_t kComments = 554, kCommentsChars = 32;
constexpr size_t kPublisher = 618, kPublisherChars = 40;
constexpr size_t kDisplayVersion = 698, kDisplayVersionChars = 40;
constexpr size_t kHelpLink = 778, kHelpLinkChars = 256;
constexpr size_t kAboutAddress = 1290, kAboutAddressChars = 256;
constexpr size_t kUpdateAddress = 1802, kUpdateAddressChars = 256;
constexpr size_t kContact = 2314, kContactChars = 40;
constexpr size_t kHelpTelephone = 2394, kHelpTelephoneChars = 40;
constexpr size_t kToolInstallCommand = 2474, kToolUninstallCommand = 2994, kToolCommandChars = 260;
constexpr size_t kEngineFlags = 3584;    // 32-bit
constexpr size_t kAgreementFlag = 3588;  // 8-bit
}  // namespace product_field

// Record offsets of the IME record.
namespace ime_field {
constexpr size_t kOptionWord = 136;      // 32-bit
constexpr size_t kCapabilityWord = 148;  // 32-bit
}  // namespace ime_field

namespace config {

// False when the file is too short for its count or its offset table: the
// setup does not load such a file.
bool TableFits(ByteSpan image);

struct Record {
    size_t offset = 0;  // from the start of the file
    uint32_t size = 0;  // header included
    bool found = false;
};

// The first record of the table whose name equals `name` (A-Z case ignored).
// Records whose offset, size or name lie outside the image are passed over;
// a stored name without its terminator in the header never matches.
Record FindRecord(ByteSpan image, const char16_t* name);

// Why the setup would fail with this file as its configuration, or null: it
// would not load it, would run without the product or the IME record, or
// would refuse its IME name.
const char* LoadProblem(ByteSpan image);

// Why an IME name (UTF-16LE, a slot of `chars` units) cannot name the driver
// file and the data folder, or null. It must be a plain file name: not
// empty, terminated within its slot, no separator, colon or other character
// Windows refuses in a file name, no "..", no dot or blank at either end, no
// device name.
const char* ImeNameProblem(const uint8_t* slot, size_t chars);

}  // namespace config
}  // namespace formats
