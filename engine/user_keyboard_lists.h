// The product's keyboard in the list of keyboards of every user of the
// machine. The users signed in at a desktop get it at once, through a step
// that runs as each of them without elevation; every other profile, and
// the default profile that new accounts are made from, through its registry
// hive, in effect from its next logon. Nothing here fails a run: what cannot
// be done is logged and skipped.
#pragma once

// After the registration of an install or a repair succeeded: adds the text
// service's profile (from 6.2) or the IMM layout the registration created
// (and takes out a layout the registration replaced).
void AddKeyboardToUserLists();
// Before an uninstall removes the registration: takes out whatever the
// product's registration added.
void RemoveKeyboardFromUserLists();
