// The package and folder choosers over the system's file dialogs, and the Win32 side of
// the search for the installed copy and of the folder test: notice, hourglass and the
// fixed drives.
#include "ui/choosers.h"

#include <commdlg.h>

#include <cstring>

#include "apply/search.h"
#include "io/os.h"
#include "ui/app_state.h"
#include "ui/front_end_rules.h"
#include "ui/pages.h"

WaitCursor::WaitCursor(bool on) {
    if (!on) return;
    previous_ = SetCursor(LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_WAIT)));
    changed_ = true;
}

WaitCursor::~WaitCursor() {
    if (changed_) SetCursor(previous_);
}

namespace {

// Hook of both file dialogs: centres the dialog once it is ready. The classic dialog is
// the hook's own window; the explorer-style dialog sends CDN_INITDONE to a child page of
// itself and names itself in the notification.
UINT_PTR CALLBACK CentreChooser(HWND dialog, UINT message, WPARAM, LPARAM lparam) {
    if (message == WM_INITDIALOG && !(GetWindowLongA(dialog, GWL_STYLE) & WS_CHILD)) {
        CenterOnScreen(dialog);
        return TRUE;
    }
    if (message == WM_NOTIFY) {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lparam);
        if (header != nullptr && header->code == CDN_INITDONE) {
            CenterOnScreen(header->hwndFrom);
            return TRUE;
        }
    }
    return FALSE;
}

bool IsWindows4OrLater() { return LOBYTE(LOWORD(GetVersion())) >= 4; }

// A request for one of the file dialogs: owner, title, the 260-byte name buffer, the
// options and the centring hook; the rest cleared.
OPENFILENAMEA FileRequest(HWND owner, const char* title, char* file, DWORD options) {
    OPENFILENAMEA request;
    std::memset(&request, 0, sizeof request);
    request.lStructSize = sizeof request;
    request.hwndOwner = owner;
    request.hInstance = ModuleInstance;
    request.lpstrFile = file;
    request.nMaxFile = os::kMaxPath;
    request.lpstrTitle = title;
    request.Flags = options | OFN_ENABLEHOOK;
    request.lpfnHook = CentreChooser;
    return request;
}

}  // namespace

int ChoosePackageFile(HWND owner) {
    char file[os::kMaxPath] = "";
    OPENFILENAMEA request = FileRequest(owner, "Ambrel", file,
                                        OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST);
    request.lpstrFilter = "Upgrades (*.UPG)\0*.UPG\0";
    request.lpstrDefExt = "UPG";
    if (IsWindows4OrLater()) request.Flags |= OFN_EXPLORER;
    if (!GetOpenFileNameA(&request)) return 0;
    UpdateWindow(owner);
    std::strncpy(PackagePath, file, sizeof PackagePath - 1);
    PackagePath[sizeof PackagePath - 1] = '\0';
    return 1;
}

// The classic save-file dialog serves as a folder picker: its file name part is hidden by
// the template and keeps "Target", which comes back behind the chosen folder.
int ChooseTargetFolder(HWND owner) {
    char file[os::kMaxPath] = "Target";
    OPENFILENAMEA request = FileRequest(owner, "Change Target Folder", file,
                                        OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_ENABLETEMPLATE | OFN_PATHMUSTEXIST);
    request.lpTemplateName = "BROWSE";
    request.lpstrInitialDir = TargetFolder;
    if (IsWindows4OrLater()) request.Flags |= OFN_LONGNAMES;
    if (!GetSaveFileNameA(&request)) return 0;
    UpdateWindow(owner);
    char folder[os::kMaxPath];
    if (!FolderFromChooserAnswer(file, folder, sizeof folder)) return 0;
    std::memcpy(TargetFolder, folder, sizeof folder);
    return 1;
}

// The notice is painted once before the search begins: the search pumps no messages.
int LocateInstalledTarget(const char* package_path, char* target, HWND owner) {
    HWND notice = CreateDialogParamA(ModuleInstance, "UPGSEARCH", owner, UpgSearchDlg, 0);
    if (notice != nullptr) {
        ShowWindow(notice, SW_SHOW);
        UpdateWindow(notice);
    }
    int found;
    {
        WaitCursor busy;
        found = LocateInstalledTarget(package_path, target, os::FixedDriveRoots());
    }
    if (notice != nullptr) DestroyWindow(notice);
    return found;
}

int CheckTargetFolder(const char* package_path, const char* folder, HWND) {
    WaitCursor busy;
    return CheckTargetFolder(package_path, folder);
}
