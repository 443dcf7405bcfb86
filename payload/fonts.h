// Installs the payload's fonts for the whole machine.
#pragma once
#include "base/setup_context.h"

bool InstallPayloadFonts(SetupContext& ctx);
// The same on a thread of its own, for a run whose extraction nobody watches:
// the fonts go in while the run goes on. FinishPayloadFonts waits for them;
// the payload folder must not be placed or removed before.
void StartPayloadFonts(SetupContext& ctx);
void FinishPayloadFonts();
// moveSources: the caller lets the source files go, so they are moved into
// place where that gives the same file as a copy.
void InstallFontsFromFolder(const wchar_t* sourceFolder, const wchar_t* fontsFolder, bool moveSources = false);
