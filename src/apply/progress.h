// Values shared between the progress display and the engine, and the cancel poll through
// which the engine reads them.
#pragma once

#include <csignal>

class UpgradePackage;

extern int ProgressPercent;                        // 0..100, the percentage last painted
extern volatile std::sig_atomic_t CancelRequested; // 1 after the user pressed cancel
extern int Aborted;                                // 1 once the run must stop

// Sets all three values to 0, as a newly created progress display does.
void ResetProgressState();
// Pumps the front end's messages; when a cancel was requested asks message line 8.
// True when the run must stop (Aborted is set). Without a front end only Aborted counts.
bool PollCancel(UpgradePackage& package);
void SetAbort(UpgradePackage& package);
