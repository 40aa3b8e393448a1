// The small interface through which the apply engine talks to its user: a progress
// display with a few text items and a percentage bar, yes/no questions, information
// boxes and the message pump. The Win32 dialogs, the console and the tests implement it.
#pragma once

#include <cstdint>

// Items of the progress display, numbered as the controls of the progress dialog.
enum ProgressItem : int {
    kItemButton = 2,        // cancel button text
    kItemFileName = 101,    // relative name of the current entry
    kItemDescription = 102, // description of the current entry
    kItemOperation = 103,   // operation word or phase text
    kItemBar = 105,         // the percentage bar (" " clears it)
};

class ApplyFrontEnd {
public:
    virtual ~ApplyFrontEnd() = default;

    // Creates and shows the progress display. Resets ProgressPercent, CancelRequested and
    // Aborted to 0 (ResetProgressState), as the dialog does when it is created.
    virtual void OpenProgress() = 0;
    // Destroys the progress display (when the package is closed).
    virtual void CloseProgress() = 0;
    virtual void SetProgressCaption(const char* text) = 0;
    virtual void SetProgressItem(int item, const char* text) = 0;
    virtual void RefreshProgress() = 0;          // repaint now
    virtual void PaintPercentBar(int percent) = 0;
    // Delivers pending window messages (the cancel button sets CancelRequested).
    virtual void PumpMessages() = 0;
    // Task-modal questions and notices owned by the progress display.
    virtual bool AskYesNo(const char* caption, const char* text) = 0;
    virtual void Inform(const char* caption, const char* text) = 0;
    // Whether each change of the percentage is followed by a short responsive pause.
    virtual bool WantsPacing() const { return true; }
    // How many bytes the rebuild moves between two steps of the progress and two cancel
    // polls: 256 for a window that must stay responsive while it pumps its messages;
    // front ends without a message queue move larger blocks for speed.
    virtual uint32_t RebuildChunk() const { return 256; }
};
