// The apply engine's user interface in a terminal: a one-line progress display on stderr,
// questions answered on the terminal or by a fixed answer, and Ctrl-C as the cancel button.
#pragma once

#include <string>

#include "apply/frontend.h"

class ConsoleFrontEnd : public ApplyFrontEnd {
public:
    enum class Answer { kAsk, kYes, kNo };

    // `answer`: kAsk asks on the terminal; without a terminal every question is answered
    // No and printed. kYes / kNo answer every question so (and say so).
    explicit ConsoleFrontEnd(Answer answer);
    ~ConsoleFrontEnd() override;

    void OpenProgress() override;
    void CloseProgress() override;
    void SetProgressCaption(const char* text) override;
    void SetProgressItem(int item, const char* text) override;
    void RefreshProgress() override;
    void PaintPercentBar(int percent) override;
    void PumpMessages() override {}
    bool AskYesNo(const char* caption, const char* text) override;
    void Inform(const char* caption, const char* text) override;
    bool WantsPacing() const override { return false; }
    uint32_t RebuildChunk() const override { return 64 * 1024; }

    // Asks a question of the program itself (not of the engine), with the same rules.
    bool Confirm(const std::string& question);

private:
    void DrawLine();
    void ClearLine();
    bool Reply(const std::string& text);

    Answer answer_;
    bool interactive_;   // stdin is a terminal: questions can be asked
    bool show_progress_; // stderr is a terminal: the progress line is drawn
    bool line_drawn_ = false;
    bool open_ = false;
    int percent_ = 0;
    std::string file_name_;
    std::string operation_;
};
