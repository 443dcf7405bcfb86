// Progress of the running sequence: the bar and one appended log line.
#pragma once

void ReportProgress(int percentage, const wchar_t* text);
void ClearVirtualizedCopies();
