#include "pe_version.h"

#include <cstdio>

namespace packtool {
namespace {

constexpr uint32_t kVftApp = 1, kVftDll = 2, kVftDrv = 3, kVft2DrvInputMethod = 0xB;
constexpr uint32_t kFixedInfoSignature = 0xFEEF04BD;
constexpr uint32_t kResourceDirectory = 2;
constexpr uint32_t kRtVersion = 16;
constexpr uint32_t kSubdirectoryBit = 0x80000000u;

// Bounds-checked little-endian reads of an image that may be anything.
struct Reader {
    const Bytes& image;
    bool ok = true;
    uint32_t U16(uint64_t at)
    {
        ok = ok && at + 2 <= image.size();
        return ok ? GetLe16(image.data() + at) : 0;
    }
    uint32_t U32(uint64_t at)
    {
        ok = ok && at + 4 <= image.size();
        return ok ? GetLe32(image.data() + at) : 0;
    }
};

struct Section {
    uint32_t virtualAddress, virtualSize, rawSize, rawAt;
};

// The file offset of an address inside the image, or 0 when no section holds it.
uint64_t FileOffsetOf(const std::vector<Section>& sections, uint32_t rva)
{
    for (const Section& s : sections) {
        uint32_t span = s.virtualSize ? s.virtualSize : s.rawSize;
        if (rva >= s.virtualAddress && rva - s.virtualAddress < span && rva - s.virtualAddress < s.rawSize)
            return uint64_t(s.rawAt) + (rva - s.virtualAddress);
    }
    return 0;
}

// The first entry of a resource directory with the given id (any id when
// wanted is 0): its offset field, or 0.
uint32_t FindEntry(Reader& r, uint64_t directoryAt, uint32_t wanted)
{
    uint32_t named = r.U16(directoryAt + 12), ids = r.U16(directoryAt + 14);
    for (uint32_t i = 0; r.ok && i < named + ids && i < 4096; ++i) {
        uint64_t entry = directoryAt + 16 + 8ull * i;
        uint32_t name = r.U32(entry), offset = r.U32(entry + 4);
        if (!r.ok) return 0;
        if (wanted == 0 || (!(name & kSubdirectoryBit) && name == wanted)) return offset;
    }
    return 0;
}

}  // namespace

VersionKind ReadVersionKind(const Bytes& image)
{
    VersionKind kind;
    Reader r{image};
    if (image.size() < 0x40 || image[0] != 'M' || image[1] != 'Z') return kind;
    uint64_t pe = r.U32(0x3C);
    if (!r.ok || r.U32(pe) != 0x00004550) return kind;
    uint32_t sectionCount = r.U16(pe + 6), optionalBytes = r.U16(pe + 20);
    uint64_t optional = pe + 24;
    uint32_t magic = r.U16(optional);
    uint64_t directories = optional + (magic == 0x20B ? 112 : 96);
    uint32_t directoryCount = r.U32(directories - 4);
    if (!r.ok || (magic != 0x10B && magic != 0x20B) || directoryCount <= kResourceDirectory) return kind;
    uint32_t resourceRva = r.U32(directories + 8 * kResourceDirectory);

    std::vector<Section> sections;
    uint64_t table = optional + optionalBytes;
    for (uint32_t i = 0; i < sectionCount && i < 96; ++i) {
        uint64_t at = table + 40ull * i;
        sections.push_back({r.U32(at + 12), r.U32(at + 8), r.U32(at + 16), r.U32(at + 20)});
    }
    uint64_t root = FileOffsetOf(sections, resourceRva);
    if (!r.ok || !resourceRva || !root) return kind;

    // Type RT_VERSION, then its first name, then its first language.
    uint32_t offset = FindEntry(r, root, kRtVersion);
    if (!(offset & kSubdirectoryBit)) return kind;
    offset = FindEntry(r, root + (offset & ~kSubdirectoryBit), 0);
    if (!(offset & kSubdirectoryBit)) return kind;
    offset = FindEntry(r, root + (offset & ~kSubdirectoryBit), 0);
    if (!r.ok || !offset || (offset & kSubdirectoryBit)) return kind;
    uint32_t dataRva = r.U32(root + offset), dataSize = r.U32(root + offset + 4);
    uint64_t data = FileOffsetOf(sections, dataRva);
    if (!r.ok || !data) return kind;

    // VS_VERSIONINFO: three words, the key "VS_VERSION_INFO" with its zero
    // (32 bytes), padding to 4 bytes, then VS_FIXEDFILEINFO.
    const uint64_t fixed = data + 40;
    if (dataSize < 40 + 52 || r.U16(data + 2) < 52 || r.U32(fixed) != kFixedInfoSignature) return kind;
    kind.type = r.U32(fixed + 36);
    kind.subtype = r.U32(fixed + 40);
    kind.found = r.ok;
    return kind;
}

bool IsInputMethodDriver(const VersionKind& kind)
{
    return kind.found && kind.type == kVftDrv && kind.subtype == kVft2DrvInputMethod;
}

std::string VersionKindText(const VersionKind& kind)
{
    if (!kind.found) return "no version resource";
    if (IsInputMethodDriver(kind)) return "input-method driver (VFT_DRV, VFT2_DRV_INPUTMETHOD)";
    char text[80];
    if (kind.type == kVftDrv) std::snprintf(text, sizeof text, "driver of subtype 0x%X (VFT_DRV)", unsigned(kind.subtype));
    else if (kind.type == kVftDll) std::snprintf(text, sizeof text, "library (VFT_DLL)");
    else if (kind.type == kVftApp) std::snprintf(text, sizeof text, "application (VFT_APP)");
    else std::snprintf(text, sizeof text, "file type 0x%X, subtype 0x%X", unsigned(kind.type), unsigned(kind.subtype));
    return text;
}

}  // namespace packtool
