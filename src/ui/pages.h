// The wizard's pages "CONFIRM1" to "CONFIRM3" with their shared behaviour, the search
// notice "UPGSEARCH", and the helpers that fill and paint them.
#pragma once

#include <windows.h>

#include "ui/app_state.h"

// Shared behaviour of every page: centring, the picture, Cancel (confirmed by a question),
// Back and Next. The page procedures pass what they do not handle to it.
AMBREL_EXPORT INT_PTR CALLBACK Confirm(HWND page, UINT message, WPARAM wparam, LPARAM lparam);
// Page 1: the package's title and description.
AMBREL_EXPORT INT_PTR CALLBACK Confirm1(HWND page, UINT message, WPARAM wparam, LPARAM lparam);
// Page 2: the target folder, which Browse may change.
AMBREL_EXPORT INT_PTR CALLBACK Confirm2(HWND page, UINT message, WPARAM wparam, LPARAM lparam);
// Page 3: the target folder failed the installation test.
AMBREL_EXPORT INT_PTR CALLBACK Confirm3(HWND page, UINT message, WPARAM wparam, LPARAM lparam);
// The notice shown while the fixed drives are searched.
AMBREL_EXPORT INT_PTR CALLBACK UpgSearchDlg(HWND notice, UINT message, WPARAM wparam, LPARAM lparam);

// Moves the window, size unchanged, to the middle of the screen; repaints it when asked.
void CenterOnScreen(HWND window, bool repaint = true);
// Paints the wizard picture, stretched, into the picture control.
void DrawWizardPicture(HWND control);
// Sets the title and description controls (either may be null) from the package's
// header. 0, leaving both as they were, when the package is not valid.
int ShowPackageTexts(const char* package_path, HWND title, HWND description);
// Shows the folder's full path in the label `id` of the page, as the directory-list
// service writes it; a folder it cannot list is shown as given.
void ShowFolderLabel(HWND page, int id, const char* folder);
