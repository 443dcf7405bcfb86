// Installs the payload's fonts for the whole machine.
#pragma once
#include "base/setup_context.h"

bool InstallPayloadFonts(SetupContext& ctx);
void InstallFontsFromFolder(const wchar_t* sourceFolder, const wchar_t* fontsFolder);
