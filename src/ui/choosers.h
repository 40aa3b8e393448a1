// Choosing what to upgrade: the package chooser, the folder chooser on the template
// "BROWSE", the search of the fixed drives for the installed copy (with its notice) and
// the test of a chosen folder.
#pragma once

#include <windows.h>

// Shows the system's hourglass for the life of the object, then the cursor it replaced.
class WaitCursor {
public:
    explicit WaitCursor(bool on = true);
    ~WaitCursor();
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    HCURSOR previous_ = nullptr;
    bool changed_ = false;
};

// Asks for a package file. 1 when the user chose one (PackagePath then holds it); 0 on
// Cancel or any failure of the dialog.
int ChoosePackageFile(HWND owner);
// Asks for a target folder, starting at TargetFolder. 1 when the user chose one
// (TargetFolder then holds it); 0 on Cancel (TargetFolder unchanged).
int ChooseTargetFolder(HWND owner);
// Shows the search notice and searches the fixed drives breadth-first for the first
// folder that holds an installation the package upgrades. 1 when one was found (target,
// 260 bytes, then holds it), 0 otherwise (target unchanged).
int LocateInstalledTarget(const char* package_path, char* target, HWND owner);
// Nonzero when `folder` holds an installation the package upgrades; an invalid package
// fails every folder.
int CheckTargetFolder(const char* package_path, const char* folder, HWND owner);
