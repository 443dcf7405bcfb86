#include "app/unattended_prompts.h"

#include "base/run_log.h"
#include "platform/prompt.h"

namespace {

// No to a question (a newer file on the machine is kept), Cancel to a retry
// (nobody is there to close a program), OK to a notice.
int AnswerUnattended(const PromptRequest& request, void*)
{
    int answer = IDOK;
    switch (request.type & MB_TYPEMASK) {
    case MB_YESNO:
    case MB_YESNOCANCEL: answer = IDNO; break;
    case MB_RETRYCANCEL:
    case MB_OKCANCEL:
    case MB_ABORTRETRYIGNORE:
    case MB_CANCELTRYCONTINUE: answer = IDCANCEL; break;
    default: break;
    }
    RunLog(L"Message not shown (%s): %s: %s", answer == IDOK ? L"OK" : answer == IDNO ? L"answered No" : L"answered Cancel",
           request.caption, request.text);
    return answer;
}

}  // namespace

void AnswerPromptsUnattended() { SetPromptResponder(&AnswerUnattended, nullptr); }
