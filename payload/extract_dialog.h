// The extraction dialog (142): splits, unpacks and loads the payload on a
// worker thread started at its first visible timer tick, with a progress line
// and bar; no buttons, and it cannot be closed while the work runs.
#pragma once
#include "base/setup_context.h"
#include "payload/archive.h"
#include "platform/dialog_worker.h"
#include "platform/window.h"

// Split, unpack, load the configuration and install the fonts; the dialog
// runs this, and an unattended run calls it without any window.
bool ExtractPayload(SetupContext& ctx, ExtractProgress progress, void (*status)(const wchar_t* text));

class CZD_Extract : public CDialog {
public:
    CZD_Extract() : CDialog(142, static_cast<HWND>(nullptr)) {}

    CStatic m_text;           // control 1002
    CProgressCtrl m_progress; // control 1008

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    bool OnTimer(UINT_PTR timerId) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
    void OnOK() override;
    void OnCancel() override;

private:
    // Split, unpack, load the configuration and install the fonts.
    static bool Run(void* dialog);
    // Ends the dialog with OK or Cancel once the work is over.
    void Finish(bool extracted);
    bool m_working = false;
    DialogWorker m_worker;
};
