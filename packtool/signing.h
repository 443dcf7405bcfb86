// Authenticode signing through osslsigncode, for `packtool pack --cert/--pkcs12`.
#pragma once
#include <string>

#include "common.h"

namespace packtool {

struct SigningOptions {
    std::string cert, key;          // PEM certificate chain and private key
    std::string pkcs12, password;   // or a PKCS#12 file and its password
    std::string timestamp;          // RFC 3161 server, optional
    bool Enabled() const { return !cert.empty() || !key.empty() || !pkcs12.empty(); }
};

// Throws Failure when the options are incomplete, a file is unreadable or
// osslsigncode cannot be started.
void CheckSigningSetup(const SigningOptions& options);

// Signs `in` into `out` with SHA-256 and returns the signed image. Throws
// Failure naming `what` (or the certificate or key) when signing fails or
// the signing certificate is outside its validity period.
Bytes SignFile(const SigningOptions& options, const std::string& in, const std::string& out, const std::string& what);

// .exe, .dll and .ime names: the payload files that are signed.
bool IsPeName(const std::string& name);

}  // namespace packtool
