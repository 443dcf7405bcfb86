// The switches of unattended deployment: how much of the program a person
// sees, where it installs and where it logs. They are taken out of the
// command line before the ordinary switch search sees it.
#pragma once
#include <windows.h>

enum RunUi : int {
    kRunInteractive = 0,
    kRunPassive = 1,  // progress only, no question, closes itself
    kRunQuiet = 2,    // no window and no message box at all
};

constexpr size_t kCommandLineChars = 1024;
constexpr size_t kRunReasonChars = 300;

struct RunOptions {
    int ui;
    bool help;            // "/?"
    bool unknownSwitch;   // a switch that none of the parses knows
    bool badFolder;       // "/dir=" relative or unusable
    bool badLog;          // "/log=" relative or empty
    bool strayWords;      // words after a "/dir=" or "/log=" value: a path with blanks, unquoted
    bool noRestart;       // "/norestart"
    bool nobodySees;      // no window can reach anyone: the run went quiet by itself
    wchar_t reason[kRunReasonChars];          // why the command line is bad
    wchar_t installFolder[MAX_PATH];          // "/dir=", with a trailing backslash
    wchar_t logPath[MAX_PATH];                // "/log=", made absolute
    wchar_t remaining[kCommandLineChars];     // the text the ordinary parse reads
};

extern RunOptions g_run;

// Fills options from the text after the program's path. Always succeeds;
// a bad command line is recorded in the flags. A text without any of the
// new switches is left as it is in `remaining`. Switches are matched
// without regard to case.
void ParseRunOptions(const wchar_t* commandLine, RunOptions& options);

inline bool IsQuietRun() { return g_run.ui == kRunQuiet; }
inline bool IsPassiveRun() { return g_run.ui == kRunPassive; }
inline bool IsUnattendedRun() { return g_run.ui != kRunInteractive; }
// Any of the reasons for exit code 87.
inline bool IsBadCommandLine(const RunOptions& o) { return o.badFolder || o.badLog || o.strayWords || o.unknownSwitch; }

// The switch list that "/?" shows.
extern const wchar_t kRunSwitchHelp[];
