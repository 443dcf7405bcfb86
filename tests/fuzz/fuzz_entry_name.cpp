// The entry-name rules: what the setup writes and what the tool packs.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "formats/entry_rules.h"

using namespace formats::entries;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 256) return 0;
    std::string name(reinterpret_cast<const char*>(data), size);
    name = name.c_str();  // the setup's names end at their first zero
    bool contained = IsContainedEntryName(name.c_str());
    const char* problem = EntryNameProblem(name.c_str());
    // Anything the tool packs, the setup writes.
    if (!problem && (!contained || name.size() >= kNameBytes || std::strchr(name.c_str(), ':'))) std::abort();
    if (!SameFileName(name.c_str(), name.c_str())) std::abort();
    return 0;
}
