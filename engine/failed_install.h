// What an installation that failed leaves behind.
#pragma once

// After step failedStep failed: logs what the run placed over what was
// there (it stays as placed). A fresh install (nothing of the product was
// there before the run) also takes back its registration (from step 2 on;
// the users' lists once step 2 succeeded), what it placed where nothing was
// before, the product's keys and its uninstall entry. An install over an
// installation leaves the product as it is now, for its uninstall to remove:
// the earlier files and registration it replaced cannot be brought back.
// Fonts always stay.
void TakeBackFailedInstall(bool freshInstall, int failedStep);
