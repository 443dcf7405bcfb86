// The payload configuration config.dsc: a container of named records.
#pragma once
#include <windows.h>
#include <cstdint>

#include "base/setup_context.h"
#include "formats/config_layout.h"

// Finds the first record whose name equals `name` (A-Z case ignored) in a
// container image of `size` bytes. Records whose offset, size or name lie
// outside the image are passed over. Returns the record's first byte and its
// size, or null.
BYTE* FindConfigRecord(BYTE* image, size_t size, const wchar_t* name, uint32_t* recordSize);
BYTE* FindConfigRecord(BYTE* image, size_t size, const char16_t* name, uint32_t* recordSize);

bool LoadPayloadConfig(SetupContext& ctx);
