// The progress dialog of the apply and the engine's front end over it.
#include "ui/progress_dialog.h"

#include <cstdio>
#include <cstring>

#include "apply/progress.h"
#include "ui/front_end_rules.h"
#include "ui/pages.h"
#include "ui/resource.h"
#include "ui/win32_handles.h"

AMBREL_EXPORT INT_PTR CALLBACK UpgProgressDlg(HWND dialog, UINT message, WPARAM, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        ResetProgressState();
        CenterOnScreen(dialog, false);
        return TRUE;
    case WM_PAINT:
        // The dialog's own painting (background, labels) goes first, so that it cannot
        // cover the bar, which is drawn over the frame control last.
        { PaintScope validate(dialog); }
        UpdateWindow(GetDlgItem(dialog, IDC_PROGRESS_BAR));
        PaintPercentBar(dialog, IDC_PROGRESS_BAR, ProgressPercent);
        return TRUE;
    case WM_COMMAND:
        CancelRequested = 1;
        return TRUE;
    default: return FALSE;
    }
}

void PaintPercentBar(HWND dialog, int id, int percent) {
    HWND control = GetDlgItem(dialog, id);
    if (control == nullptr) return;
    char text[16];
    std::snprintf(text, sizeof text, "%d%%", percent);
    const int length = static_cast<int>(std::strlen(text));
    RECT client;
    GetClientRect(control, &client);
    WindowDC dc(control);
    if (dc.get() == nullptr) return;
    SelectedObject font(dc.get(), reinterpret_cast<HGDIOBJ>(SendMessageA(dialog, WM_GETFONT, 0, 0)));
    SetTextAlign(dc.get(), TA_CENTER | TA_TOP);
    SIZE extent = {0, 0};
    GetTextExtentPoint32A(dc.get(), text, length, &extent);
    const PercentBarLayout layout =
        LayoutPercentBar(BarRect{client.left, client.top, client.right, client.bottom}, percent, extent.cy);
    const RECT filled = {layout.filled.left, layout.filled.top, layout.filled.right, layout.filled.bottom};
    const RECT empty = {layout.empty.left, layout.empty.top, layout.empty.right, layout.empty.bottom};
    SetBkColor(dc.get(), RGB(0, 0, 255));
    SetTextColor(dc.get(), RGB(255, 255, 255));
    ExtTextOutA(dc.get(), layout.text_x, layout.text_y, ETO_OPAQUE | ETO_CLIPPED, &filled, text, length, nullptr);
    SetBkColor(dc.get(), RGB(255, 255, 255));
    SetTextColor(dc.get(), RGB(0, 0, 0));
    ExtTextOutA(dc.get(), layout.text_x, layout.text_y, ETO_OPAQUE | ETO_CLIPPED, &empty, text, length, nullptr);
}

void ProgressDialogFrontEnd::OpenProgress() {
    CloseProgress();
    ResetProgressState();
    dialog_ = CreateDialogParamA(ModuleInstance, "UPGPROGRESS", owner_, UpgProgressDlg, 0);
    if (dialog_ == nullptr) return;
    ShowWindow(dialog_, SW_SHOW);
    UpdateWindow(dialog_);
    if (owner_ != nullptr) EnableWindow(owner_, FALSE);
}

// The owner is enabled before the dialog goes, so that it becomes the active window again.
void ProgressDialogFrontEnd::CloseProgress() {
    if (dialog_ == nullptr) return;
    if (owner_ != nullptr) EnableWindow(owner_, TRUE);
    DestroyWindow(dialog_);
    dialog_ = nullptr;
}

void ProgressDialogFrontEnd::SetProgressCaption(const char* text) {
    if (dialog_ != nullptr) SetWindowTextA(dialog_, text);
}

void ProgressDialogFrontEnd::SetProgressItem(int item, const char* text) {
    if (dialog_ != nullptr) SetDlgItemTextA(dialog_, item, text);
}

void ProgressDialogFrontEnd::RefreshProgress() {
    if (dialog_ != nullptr) UpdateWindow(dialog_);
}

void ProgressDialogFrontEnd::PaintPercentBar(int percent) {
    if (dialog_ != nullptr) ::PaintPercentBar(dialog_, IDC_PROGRESS_BAR, percent);
}

void ProgressDialogFrontEnd::PumpMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // Not ours to take: the main loop ends on it once the apply is over.
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        if (dialog_ != nullptr && IsDialogMessageA(dialog_, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

bool ProgressDialogFrontEnd::AskYesNo(const char* caption, const char* text) {
    return MessageBoxA(dialog_, text, caption, MB_TASKMODAL | MB_ICONQUESTION | MB_YESNO) == IDYES;
}

void ProgressDialogFrontEnd::Inform(const char* caption, const char* text) {
    MessageBoxA(dialog_, text, caption, MB_TASKMODAL | MB_ICONINFORMATION);
}
