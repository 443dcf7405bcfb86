// What a product's configuration does on the user's machine, told before the
// setup is shipped: what the setup cannot install is refused, what installs
// only in part is warned about. Each finding begins with the key it is about.
#pragma once
#include <string>
#include <vector>

#include "common.h"

namespace packtool {

struct Finding {
    bool refusal;  // the setup cannot install it; otherwise a warning
    std::string text;
};
using Findings = std::vector<Finding>;

// From config.dsc alone. The image must be one the setup loads.
Findings CheckProduct(const Bytes& config);

// What the configuration asks of the payload: the programs and pages it
// names. `entries` are the payload's names, backslash-separated.
Findings CheckPayloadUse(const Bytes& config, const std::vector<std::string>& entries);

// The IME name the configuration gives, UTF-8.
std::string ImeNameOf(const Bytes& config);

// Prints the warnings to stderr ("packtool: warning: <where>: ..."); throws
// one Failure naming every refusal, unless `allowIncomplete`, which prints
// them as warnings too.
void ReportFindings(const Findings& findings, const std::string& where, bool allowIncomplete);

}  // namespace packtool
