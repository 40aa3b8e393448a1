// The values shared by the progress display and the engine, and the cancel poll that the
// driver and the reconstruction call between their steps.
#include "apply/progress.h"

#include "apply/frontend.h"
#include "package/message_table.h"
#include "package/package.h"

int ProgressPercent = 0;
volatile std::sig_atomic_t CancelRequested = 0;
int Aborted = 0;

void ResetProgressState() {
    ProgressPercent = 0;
    CancelRequested = 0;
    Aborted = 0;
}

// Once Aborted is set every poll reports it without asking again. A pending cancel
// request is confirmed with message line 8: No withdraws it, Yes aborts the run.
bool PollCancel(UpgradePackage& package) {
    if (Aborted) return true;
    ApplyFrontEnd* frontend = package.frontend;
    if (frontend == nullptr) return false;
    frontend->PumpMessages();
    if (!CancelRequested) return false;
    if (!frontend->AskYesNo(package.Message(kMsgCaption), package.Message(kMsgConfirmCancel))) {
        CancelRequested = 0;
        return false;
    }
    SetAbort(package);
    return true;
}

void SetAbort(UpgradePackage& package) {
    (void)package;
    Aborted = 1;
}
