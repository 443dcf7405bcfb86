#include "engine/failed_install.h"

#include <windows.h>

#include <vector>

#include "base/bounded_string.h"
#include "base/placed_record.h"
#include "base/run_log.h"
#include "base/setup_context.h"
#include "engine/placed_removal.h"
#include "engine/registration_removal.h"
#include "engine/uninstall_sequence.h"
#include "engine/user_keyboard_lists.h"
#include "payload/fonts.h"

void TakeBackFailedInstall(bool freshInstall, int failedStep)
{
    // The fonts' thread notes no more.
    FinishPayloadFonts();
    const std::vector<PlacedItem>& placed = PlacedThisRun();
    for (const PlacedItem& item : placed)
        if (item.wasThere && item.kind == kPlacedFile)
            RunLog(L"Left as placed (it replaced what was there): %s", item.path);
    if (!freshInstall) {
        RunLog(L"The product was installed before this run: nothing is taken back; its uninstall removes it");
        ClosePlacedRecord();
        return;
    }
    RunLog(L"Taking back what this run placed where nothing was before");
    if (failedStep > 2) RemoveKeyboardFromUserLists();
    wchar_t imeName[kImeNameChars];
    BoundedCopyN(imeName, kImeNameChars, ImeName(g_setup), kImeNameChars - 1);
    if (failedStep >= 2) RemoveInputMethodRegistration(imeName);
    // Newest first: a folder's files before the folder.
    for (auto item = placed.rbegin(); item != placed.rend(); ++item) {
        if (item->wasThere) continue;
        if (item->kind == kPlacedFile) RemovePlacedFile(item->path, 0);
        else if (item->kind == kPlacedFolder) RemoveFolderWhenEmpty(item->path, placed);
        else RunLog(L"Kept (a font is the machine's once it is registered): %s", item->path);
    }
    ClosePlacedRecord();
    RemoveProductKeys(g_setup.name);
    // The family's keys only when no other product is in them.
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\ZerdaIME3");
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\Wow6432Node\\ZerdaIME3");
}
