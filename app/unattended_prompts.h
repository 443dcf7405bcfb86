// Unattended runs show no message box: each one is logged and gets the
// answer that changes least.
#pragma once

void AnswerPromptsUnattended();
