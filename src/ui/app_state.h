// The applicator's program-wide state: the package and target folder path buffers and the
// resources loaded at start-up, shared by the main window, the pages and the choosers.
#pragma once

#include <windows.h>

#include "io/os.h"

// Full path of the package; empty while no package is known.
extern char PackagePath[os::kMaxPath];
// The folder to upgrade: no final "\" except for a drive root such as "C:\".
extern char TargetFolder[os::kMaxPath];
// The program's own module: source of every dialog, picture and text.
extern HINSTANCE ModuleInstance;
// "WIZARDBMP", painted on every wizard page; owned by WinMain.
extern HBITMAP WizardPicture;

// Exported window and dialog procedures are reached under their plain names.
#define AMBREL_EXPORT extern "C" __declspec(dllexport)
