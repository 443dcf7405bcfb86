// Whether a PE file carries an Authenticode signature: a non-empty
// certificate-table entry in its header. Such a file must not be rewritten.
#pragma once
#include <windows.h>

bool CarriesSignature(const wchar_t* file);
