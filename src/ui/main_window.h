// The applicator's backdrop window and the wizard flow that runs from its command handler.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "apply/driver.h"
#include "ui/app_state.h"

// The window procedure of class "Ambrel32": paints the backdrop, runs the flow once on
// WM_COMMAND and then ends the program.
AMBREL_EXPORT LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Paints the backdrop: the gradient from the screen's height, the banner and the side
// notices.
void PaintBackdrop(HDC dc, const PAINTSTRUCT& paint);
// A new font: kind 1 for the rotated side notices, any other kind for the banner.
HFONT CreateBannerFont(int kind);
// Runs the pages from "CONFIRM1" on. 1 when the user went past the last page, 0 when
// the user cancelled (or a page could not be shown).
int RunPageSequence(HWND owner);
// Nonzero when the package's header opens and is valid.
int ValidatePackage(const char* package_path);
// What the engine reported beyond its result: the files the commit phase could not put in
// place, and why an apply stopped before changing anything when no file or answer did.
struct ApplyReport {
    std::vector<CommitFailure> commit_failures;
    std::string failure;
};
// Applies the package to the target folder with the progress dialog owned by `owner`; fills
// `report` when given.
ApplyResult ApplyUpgrade(const char* package_path, const char* target_folder, HWND owner,
                         ApplyReport* report = nullptr);
