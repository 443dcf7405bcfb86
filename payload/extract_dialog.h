// The extraction dialog (142): splits, unpacks and loads the payload inside
// one timer tick, with a progress line and bar; no buttons.
#pragma once
#include "base/setup_context.h"
#include "payload/archive.h"
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

private:
    // Split, unpack, load the configuration and install the fonts.
    bool Run(SetupContext& ctx);
};
