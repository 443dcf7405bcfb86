// Reading the command line into the setup context.
#pragma once
#include "base/setup_context.h"

// The text after the program's own path. An empty or missing text gives mode
// "i"; otherwise the switches are found by substring search, in any case.
void ParseCommandLine(const wchar_t* text, SetupContext& ctx);

// The name after "/n " or "-n " (at most 39 characters, cut at its first
// blank); false, and name untouched, without the switch.
bool CopyNameSwitch(const wchar_t* text, wchar_t* name /* 40 */);

// The mode the switches ask for ('g' over 'r' over 'u'); 0 for none: an installation.
uint8_t AskedModeCode(const wchar_t* text);

// "/f" or "/F" anywhere: the run is the relaunched temporary copy.
bool HasRelaunchSwitch(const wchar_t* text);

// "/GUID=" present: the service behaviours.
bool IsServiceCommandLine(const wchar_t* text);
// One of "/EMMODE=1", "/EMMODE=2", "/EMMODE=3".
bool HasReregistrationSwitch(const wchar_t* text);
// Copies the (at most 39) characters after "/GUID=" into name.
void CopyServiceName(const wchar_t* text, wchar_t* name /* 40 */);
