// The wizard pages and the search notice: their dialog procedures and the helpers that
// place, paint and fill them.
#include "ui/pages.h"

#include <cstring>
#include <string>

#include "io/file_ops.h"
#include "package/package.h"
#include "ui/choosers.h"
#include "ui/resource.h"
#include "ui/win32_handles.h"

void CenterOnScreen(HWND window, bool repaint) {
    RECT rect;
    if (!GetWindowRect(window, &rect)) return;
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    MoveWindow(window, x, y, width, height, repaint ? TRUE : FALSE);
}

// The control paints its own border first; then the whole picture is stretched onto its
// client area.
void DrawWizardPicture(HWND control) {
    if (control == nullptr || WizardPicture == nullptr) return;
    InvalidateRect(control, nullptr, FALSE);
    UpdateWindow(control);
    RECT client;
    GetClientRect(control, &client);
    BITMAP info;
    if (!GetObjectA(WizardPicture, sizeof info, &info)) return;
    WindowDC dc(control);
    MemoryDC memory(dc.get());
    if (dc.get() == nullptr || memory.get() == nullptr) return;
    SelectedObject picture(memory.get(), WizardPicture);
    // Whole pixels rather than blended ones: the picture is drawn in a 16-colour palette.
    SetStretchBltMode(dc.get(), COLORONCOLOR);
    StretchBlt(dc.get(), 0, 0, client.right, client.bottom, memory.get(), 0, 0, info.bmWidth, info.bmHeight,
               SRCCOPY);
}

// A multi-line edit control breaks lines only at CR LF; a description written with bare
// LF line ends is shown with its lines all the same.
static std::string WithWindowsLineEnds(const char* text) {
    std::string result;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p == '\n' && (p == text || p[-1] != '\r')) result += '\r';
        result += *p;
    }
    return result;
}

int ShowPackageTexts(const char* package_path, HWND title, HWND description) {
    std::unique_ptr<UpgradePackage> package = UpgradePackage::OpenHeader(package_path);
    if (!package || !package->IsValid()) return 0;
    if (title != nullptr) SetWindowTextA(title, package->Title);
    if (description != nullptr) SetWindowTextA(description, WithWindowsLineEnds(package->Description.get()).c_str());
    return 1;
}

void ShowFolderLabel(HWND page, int id, const char* folder) {
    CurrentFolderGuard keep_current_folder;
    char path[os::kMaxPath];
    std::strncpy(path, folder, sizeof path - 1);
    path[sizeof path - 1] = '\0';
    // The service makes the folder current and writes the current drive and folder into
    // the label. A folder that does not exist is shown as it is spelled.
    if (!DlgDirListA(page, path, 0, id, 0)) SetDlgItemTextA(page, id, folder);
}

AMBREL_EXPORT INT_PTR CALLBACK Confirm(HWND page, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        CenterOnScreen(page);
        return TRUE;
    case WM_PAINT:
        { PaintScope validate(page); }
        DrawWizardPicture(GetDlgItem(page, IDC_PICTURE));
        return FALSE;
    case WM_COMMAND:
        // Compared on the whole wParam: a click, the Esc key and the close box all send the
        // bare identifier.
        if (wparam == IDCANCEL) {
            if (MessageBoxA(page, "Are you sure you want to cancel?", "Upgrade Cancel Confirmation",
                            MB_YESNO | MB_ICONQUESTION) == IDYES) {
                EndDialog(page, IDCANCEL);
            }
            return TRUE;
        }
        if (wparam == IDC_BACK || wparam == IDC_NEXT) {
            EndDialog(page, static_cast<INT_PTR>(wparam));
            return TRUE;
        }
        return FALSE;
    default: return FALSE;
    }
}

AMBREL_EXPORT INT_PTR CALLBACK Confirm1(HWND page, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message != WM_INITDIALOG) return Confirm(page, message, wparam, lparam);
    CenterOnScreen(page);
    ShowPackageTexts(PackagePath, GetDlgItem(page, IDC_TITLE), GetDlgItem(page, IDC_DESCRIPTION));
    return TRUE;
}

AMBREL_EXPORT INT_PTR CALLBACK Confirm2(HWND page, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        CenterOnScreen(page);
        ShowFolderLabel(page, IDC_FOLDER, TargetFolder);
        return TRUE;
    }
    if (message == WM_COMMAND && wparam == IDC_BROWSE) {
        if (ChooseTargetFolder(page)) ShowFolderLabel(page, IDC_FOLDER, TargetFolder);
        return TRUE;
    }
    return Confirm(page, message, wparam, lparam);
}

AMBREL_EXPORT INT_PTR CALLBACK Confirm3(HWND page, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message != WM_INITDIALOG) return Confirm(page, message, wparam, lparam);
    CenterOnScreen(page);
    ShowFolderLabel(page, IDC_FOLDER, TargetFolder);
    return TRUE;
}

AMBREL_EXPORT INT_PTR CALLBACK UpgSearchDlg(HWND notice, UINT message, WPARAM, LPARAM) {
    if (message != WM_INITDIALOG) return FALSE;
    CenterOnScreen(notice);
    return TRUE;
}
