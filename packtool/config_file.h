// config.dsc: four named records behind a count and an offset table. Written
// from a readable key = value description, and decoded back for inspection.
#pragma once
#include <map>
#include <string>
#include <vector>

#include "common.h"

namespace packtool {

// key -> value (UTF-8), in the order the keys are documented.
using Description = std::vector<std::pair<std::string, std::string>>;

// Parses "key = value" lines; '#' starts a comment line. Unknown keys,
// duplicate keys and lines without '=' are errors naming the line.
Description ParseDescription(const std::string& text, const std::string& sourceName);
// Applies "key=value" overrides given on the command line.
void ApplyOverride(Description& description, const std::string& assignment);

Bytes BuildConfigFile(const Description& description);

// Human-readable dump of a config.dsc image; throws Failure when malformed.
std::string DescribeConfigFile(const Bytes& image);

// The documented keys, for the usage text.
std::string DescriptionKeysHelp();

}  // namespace packtool
