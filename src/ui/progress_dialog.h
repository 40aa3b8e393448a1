// The progress dialog "UPGPROGRESS" of the apply: its procedure, the percentage bar, and
// the apply engine's front end over the dialog.
#pragma once

#include <windows.h>

#include "apply/frontend.h"
#include "ui/app_state.h"

// Starts every apply at 0 % with no cancel pending; any command (the button, Esc, the
// close box) only raises CancelRequested; paints the bar at ProgressPercent.
AMBREL_EXPORT INT_PTR CALLBACK UpgProgressDlg(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// Draws the bar into control `id` of the dialog: blue up to the percentage, white after
// it, the percentage centred on it in white over blue and black over white.
void PaintPercentBar(HWND dialog, int id, int percent);

// The engine's front end: a modeless "UPGPROGRESS" owned by the main window, which is
// disabled while the dialog exists. Questions and notices are task-modal message boxes
// owned by the dialog; pending messages pass through IsDialogMessageA.
class ProgressDialogFrontEnd : public ApplyFrontEnd {
public:
    explicit ProgressDialogFrontEnd(HWND owner) : owner_(owner) {}
    ~ProgressDialogFrontEnd() override { CloseProgress(); }
    ProgressDialogFrontEnd(const ProgressDialogFrontEnd&) = delete;
    ProgressDialogFrontEnd& operator=(const ProgressDialogFrontEnd&) = delete;

    void OpenProgress() override;
    void CloseProgress() override;
    void SetProgressCaption(const char* text) override;
    void SetProgressItem(int item, const char* text) override;
    void RefreshProgress() override;
    void PaintPercentBar(int percent) override;
    void PumpMessages() override;
    bool AskYesNo(const char* caption, const char* text) override;
    void Inform(const char* caption, const char* text) override;

private:
    HWND owner_;
    HWND dialog_ = nullptr;
};
