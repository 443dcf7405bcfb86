// The configuration loader on the demo payload's config.dsc and on
// hand-built containers, well-formed and damaged.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/setup_context.h"
#include "common/test_support.h"
#include "payload/config_data.h"

namespace {

const wchar_t kSoft[] = L"zd_soft_config_data_default";
const wchar_t kIme[] = L"zd_ime_config_data_default";

void Put32(std::vector<BYTE>& b, size_t at, uint32_t v) { std::memcpy(&b[at], &v, 4); }
uint32_t Get32(const BYTE* p) { uint32_t v; std::memcpy(&v, p, 4); return v; }

std::vector<BYTE> Record(const wchar_t* name, uint32_t size, uint32_t declaredSize = 0)
{
    std::vector<BYTE> r(size, 0);
    Put32(r, 0, declaredSize ? declaredSize : size);
    r[4] = 1;
    for (size_t i = 0; name[i]; ++i) {
        r[6 + 2 * i] = static_cast<BYTE>(name[i] & 0xFF);
        r[7 + 2 * i] = static_cast<BYTE>(name[i] >> 8);
    }
    return r;
}

std::vector<BYTE> ProductRecord(const wchar_t* display, uint32_t engineFlags, const wchar_t* name = kSoft)
{
    std::vector<BYTE> r = Record(name, kProductRecordSize);
    std::memcpy(&r[product_field::kDisplayName], display, (wcslen(display) + 1) * 2);
    const BYTE guid[16] = {0x1D, 0x4E, 0x3C, 0x7A, 0x2F, 0x5B, 0x8A, 0x4C,
                           0x9E, 0x61, 0x2D, 0x0F, 0x3B, 0x8A, 0x4C, 0x57};
    std::memcpy(&r[product_field::kTextServiceGuid], guid, 16);
    Put32(r, product_field::kEngineFlags, engineFlags);
    return r;
}

std::vector<BYTE> ImeRecord(uint32_t capability, uint32_t option = 0, const wchar_t* name = kIme)
{
    std::vector<BYTE> r = Record(name, kImeRecordSize);
    Put32(r, ime_field::kOptionWord, option);
    Put32(r, ime_field::kCapabilityWord, capability);
    return r;
}

// count field, then the table, then the records at the given offsets (0:
// placed after the previous one). Offsets may point anywhere on purpose.
std::vector<BYTE> Container(uint32_t countField, const std::vector<std::vector<BYTE>>& records,
                            std::vector<uint32_t> offsets = {})
{
    size_t tableEntries = records.size();
    size_t pos = 140;
    std::vector<BYTE> image(140, 0);
    Put32(image, 0, countField);
    for (size_t i = 0; i < tableEntries; ++i) {
        uint32_t at = (i < offsets.size() && offsets[i]) ? offsets[i] : static_cast<uint32_t>(pos);
        if (at + records[i].size() > image.size()) image.resize(at + records[i].size(), 0);
        std::memcpy(&image[at], records[i].data(), records[i].size());
        Put32(image, 4 + 4 * i, at);
        pos = at + records[i].size();
    }
    return image;
}

class ConfigLoad : public ::testing::Test {
protected:
    void SetUp() override
    {
        ctx_ = std::make_unique<SetupContext>();
        std::memset(ctx_.get(), 0, sizeof(SetupContext));
        wcscpy(ctx_->payloadFolder, folder_.Path().c_str());
        CreateDirectoryW((folder_ / L"$dataFiles$").c_str(), nullptr);
    }
    bool Load(const std::vector<BYTE>& image)
    {
        EXPECT_TRUE(WriteFileBytes(ConfigPath(), image.data(), image.size()));
        return LoadPayloadConfig(*ctx_);
    }
    std::wstring ConfigPath() const { return folder_ / L"$dataFiles$\\config.dsc"; }

    ScratchFolder folder_{L"cfg"};
    std::unique_ptr<SetupContext> ctx_;
};

}  // namespace

TEST(ConfigDemo, DemoPayloadLoadsWithItsProductValues)
{
    auto ctx = std::make_unique<SetupContext>();
    std::memset(ctx.get(), 0, sizeof(SetupContext));
    std::wstring payload = BuildDir() + L"\\demo\\payload";
    wcscpy(ctx->payloadFolder, payload.c_str());
    ASSERT_TRUE(LoadPayloadConfig(*ctx));

    // One product text serves as display name, language name and folder name.
    EXPECT_STREQ(DisplayName(*ctx), LanguageName(*ctx));
    EXPECT_STREQ(DisplayName(*ctx), DefaultFolderName(*ctx));
    EXPECT_GT(wcslen(DisplayName(*ctx)), 0u);
    EXPECT_STREQ(L"VarekIME", ImeName(*ctx));
    EXPECT_STREQ(L"{7A3C4E1D-5B2F-4C8A-9E61-2D0F3B8A4C57}", ctx->name);
    EXPECT_EQ(0x0804, LangId(*ctx));
    EXPECT_STREQ(L"2.0", DisplayVersion(*ctx));
    EXPECT_STREQ(L"tools\\varekinputtool.exe /do=install", ToolInstallCommand(*ctx));
    EXPECT_STREQ(L"tools\\varekinputtool.exe /do=unstall", ToolUninstallCommand(*ctx));
    EXPECT_STREQ(L"https://www.example.com/zerda", AboutAddress(*ctx));
    // Capability word 0x5129 has bit 0x1000: the text-service bit is added.
    EXPECT_EQ(0x200019E0u, EngineFlags(*ctx));
    EXPECT_EQ(0, AgreementFlag(*ctx));
    EXPECT_EQ(0u, ImeOptionWord(*ctx));
    EXPECT_EQ(0x5129u, Get32(ctx->imeRecord + ime_field::kCapabilityWord));
    EXPECT_EQ(kImeRecordSize, Get32(ctx->imeRecord));
    EXPECT_EQ(kProductRecordSize, Get32(ctx->productRecord));
}

TEST_F(ConfigLoad, LookupRules)
{
    // Only the low 8 bits of the count are honoured: 0x104 searches 4 entries,
    // so a product record in the fifth place is not found.
    {
        std::vector<std::vector<BYTE>> recs = {Record(L"a", 200), Record(L"b", 200), Record(L"c", 200),
                                              ImeRecord(0x1000), ProductRecord(L"Fifth", 0)};
        ASSERT_TRUE(Load(Container(0x104, recs)));
        EXPECT_STREQ(L"", DisplayName(*ctx_));
        EXPECT_EQ(0x20000000u, EngineFlags(*ctx_));
    }
    // Names differing only in the case of A to Z match; the first of two wins.
    {
        std::vector<std::vector<BYTE>> recs = {ProductRecord(L"First", 0x40, L"ZD_Soft_Config_Data_DEFAULT"),
                                              ProductRecord(L"Second", 0x80)};
        ASSERT_TRUE(Load(Container(2, recs)));
        EXPECT_STREQ(L"First", DisplayName(*ctx_));
        EXPECT_EQ(0x40u, EngineFlags(*ctx_));
    }
}

TEST_F(ConfigLoad, EngineFlagsFollowTheImeCapability)
{
    // Product without IME record: loader bits cleared, IME copy untouched.
    std::memset(ctx_->imeRecord, 0xAB, sizeof ctx_->imeRecord);
    ASSERT_TRUE(Load(Container(1, {ProductRecord(L"P", 0x300018C0)})));
    EXPECT_EQ(0x000018C0u, EngineFlags(*ctx_));
    EXPECT_EQ(0xABu, ctx_->imeRecord[0]);
    EXPECT_EQ(0xABu, ctx_->imeRecord[kImeRecordSize - 1]);
    EXPECT_STREQ(L"{7A3C4E1D-5B2F-4C8A-9E61-2D0F3B8A4C57}", ctx_->name);

    // Capability without bit 0x1000: 0x20000000 is not set, 0x10000000 goes.
    ASSERT_TRUE(Load(Container(2, {ProductRecord(L"P", 0x100018C0), ImeRecord(0x0129, 0x7000)})));
    EXPECT_EQ(0x000018C0u, EngineFlags(*ctx_));
    EXPECT_EQ(0x7000u, ImeOptionWord(*ctx_));
    EXPECT_EQ(kImeRecordSize, Get32(ctx_->imeRecord));
}

TEST_F(ConfigLoad, MissingRecordsStillLoadWithTheZeroGuid)
{
    std::memset(ctx_->imeRecord, 0x11, sizeof ctx_->imeRecord);
    ASSERT_TRUE(Load(Container(1, {Record(L"zd_skin_config_data_default", 588)})));
    EXPECT_STREQ(L"{00000000-0000-0000-0000-000000000000}", ctx_->name);
    EXPECT_EQ(0u, EngineFlags(*ctx_));
    EXPECT_EQ(0x11u, ctx_->imeRecord[200]);
}

TEST_F(ConfigLoad, UnreadableFilesDoNotLoad)
{
    EXPECT_FALSE(LoadPayloadConfig(*ctx_));  // no file

    std::vector<BYTE> empty;
    EXPECT_FALSE(Load(empty));

    // Too short for its own count, or for the table the count announces.
    std::vector<BYTE> three = {4, 0, 0};
    EXPECT_FALSE(Load(three));
    std::vector<BYTE> shortTable(12, 0);
    shortTable[0] = 4;  // needs 20 bytes
    EXPECT_FALSE(Load(shortTable));
}

// Damaged records are passed over as if missing, and nothing outside the file
// or the context fields is read or written.
TEST_F(ConfigLoad, DamagedRecordsCountAsMissing)
{
    // Offsets beyond the end, and a record whose size runs past the end: the
    // good record behind them in the table is found.
    {
        std::vector<BYTE> image = Container(3, {ProductRecord(L"Bad", 0), ProductRecord(L"Good", 0x80),
                                                ImeRecord(0x1000)});
        std::vector<BYTE> bogus = image;
        Put32(bogus, 4, 0x7FFFFFF0);
        ASSERT_TRUE(Load(bogus));
        EXPECT_STREQ(L"Good", DisplayName(*ctx_));
        EXPECT_EQ(0x20000080u, EngineFlags(*ctx_));

        std::memset(ctx_->productRecord, 0, kProductRecordSize);
        std::vector<BYTE> longRecord = image;
        Put32(longRecord, 140, 0x00100000);  // first record claims 1 MiB
        ASSERT_TRUE(Load(longRecord));
        EXPECT_STREQ(L"Good", DisplayName(*ctx_));
    }
    // A file cut inside the only product record: the record is missing.
    {
        std::memset(ctx_->productRecord, 0, kProductRecordSize);
        std::vector<BYTE> image = Container(1, {ProductRecord(L"Cut", 0x80)});
        image.resize(140 + 1000);
        ASSERT_TRUE(Load(image));
        EXPECT_STREQ(L"", DisplayName(*ctx_));
        EXPECT_EQ(0u, EngineFlags(*ctx_));
    }
    // Negative and header-less sizes.
    {
        std::vector<BYTE> image = Container(1, {ProductRecord(L"Neg", 0x80)});
        Put32(image, 140, 0xFFFFFF00);
        ASSERT_TRUE(Load(image));
        EXPECT_STREQ(L"", DisplayName(*ctx_));
        Put32(image, 140, 100);
        ASSERT_TRUE(Load(image));
        EXPECT_STREQ(L"", DisplayName(*ctx_));
    }
    // Records larger than their space in the context are not copied.
    {
        std::memset(ctx_->imeRecord, 0x22, sizeof ctx_->imeRecord);
        std::vector<BYTE> product = ProductRecord(L"Huge", 0x80);
        product.resize(kProductRecordSize + 500, 0x5A);
        Put32(product, 0, static_cast<uint32_t>(product.size()));
        std::vector<BYTE> ime = ImeRecord(0x1000);
        ime.resize(kImeRecordSize + 4, 0x5A);
        Put32(ime, 0, static_cast<uint32_t>(ime.size()));
        ASSERT_TRUE(Load(Container(2, {product, ime})));
        EXPECT_STREQ(L"", DisplayName(*ctx_));
        EXPECT_EQ(0u, EngineFlags(*ctx_));
        EXPECT_EQ(0x22u, ctx_->imeRecord[0]);
        // The field after the IME copy is unharmed.
        EXPECT_STREQ(folder_.Path().c_str(), ctx_->payloadFolder);
    }
    // A name with no terminator in its 130 bytes never matches.
    {
        std::vector<BYTE> product = ProductRecord(L"NoEnd", 0x80);
        for (size_t i = 6; i < 136; i += 2) product[i] = 'z';
        ASSERT_TRUE(Load(Container(1, {product})));
        EXPECT_STREQ(L"", DisplayName(*ctx_));
    }
}

TEST(ConfigFind, WorksOnAWritableImageAndStaysInside)
{
    std::vector<BYTE> image = Container(2, {ProductRecord(L"P", 0), ImeRecord(0x1000, 0x1000)});
    uint32_t size = 0;
    BYTE* ime = FindConfigRecord(image.data(), image.size(), L"ZD_IME_CONFIG_DATA_DEFAULT", &size);
    ASSERT_NE(nullptr, ime);
    EXPECT_EQ(kImeRecordSize, size);
    Put32(image, static_cast<size_t>(ime - image.data()) + ime_field::kOptionWord, 0x5000);
    BYTE* again = FindConfigRecord(image.data(), image.size(), kIme, &size);
    EXPECT_EQ(0x5000u, Get32(again + ime_field::kOptionWord));

    // The same image seen shorter than its IME record: not found.
    EXPECT_EQ(nullptr, FindConfigRecord(image.data(), image.size() - 1, kIme, &size));
    EXPECT_EQ(0u, size);
    EXPECT_NE(nullptr, FindConfigRecord(image.data(), image.size() - 1, kSoft, &size));
    // Shorter than the table.
    EXPECT_EQ(nullptr, FindConfigRecord(image.data(), 8, kSoft, &size));
    EXPECT_EQ(nullptr, FindConfigRecord(image.data(), image.size(), L"zd_dme_config_data_default", &size));
}

TEST(ConfigDemo, AgreementVariantAsksForTheAgreementPage)
{
    auto ctx = std::make_unique<SetupContext>();
    std::memset(ctx.get(), 0, sizeof(SetupContext));
    std::wstring payload = BuildDir() + L"\\demo\\variants\\agreement\\payload";
    wcscpy(ctx->payloadFolder, payload.c_str());
    ASSERT_TRUE(LoadPayloadConfig(*ctx));
    EXPECT_EQ(1, AgreementFlag(*ctx));
    EXPECT_STREQ(L"Variant with the agreement page", Comments(*ctx));
    EXPECT_STREQ(L"VarekIME", ImeName(*ctx));
}
