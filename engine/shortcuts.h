// Step 5: the Start-menu group and the companion tool's install command.
#pragma once

bool CreateShortcuts();
