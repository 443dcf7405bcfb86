// Installs the payload's fonts for the whole machine.
#pragma once
#include "base/setup_context.h"

bool InstallPayloadFonts(SetupContext& ctx);
// moveSources: the caller lets the source files go, so they are moved into
// place where that gives the same file as a copy.
void InstallFontsFromFolder(const wchar_t* sourceFolder, const wchar_t* fontsFolder, bool moveSources = false);
