// A scripted front end for the apply engine's tests: records every progress text, question
// and notice, answers questions from a queue and can press the cancel button at a chosen
// point.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "apply/frontend.h"

class FakeFrontEnd : public ApplyFrontEnd {
public:
    struct Dialog {
        std::string caption;
        std::string text;
    };

    void OpenProgress() override;
    void CloseProgress() override;
    void SetProgressCaption(const char* text) override;
    void SetProgressItem(int item, const char* text) override;
    void RefreshProgress() override { ++refreshes; }
    void PaintPercentBar(int percent) override { percents.push_back(percent); }
    void PumpMessages() override;
    bool AskYesNo(const char* caption, const char* text) override;
    void Inform(const char* caption, const char* text) override;
    bool WantsPacing() const override { return pacing; }

    // Every text item `item` received, in order.
    std::vector<std::string> ItemTexts(int item) const;
    // Presses cancel (sets CancelRequested) the first time `item` is given `text`.
    void CancelWhenItem(int item, const std::string& text);

    // Answers, taken one per question; when the queue is empty the answer is No and the
    // question counts as unexpected.
    std::deque<bool> answers;
    int unexpected_questions = 0;

    std::vector<Dialog> questions;
    std::vector<Dialog> notices;
    std::vector<std::pair<int, std::string>> items;  // every SetProgressItem in order
    std::vector<std::string> captions;
    std::vector<int> percents;  // every painted percentage
    int opened = 0;
    int closed = 0;
    int refreshes = 0;
    int pumps = 0;
    bool pacing = false;

    // Pressing cancel at the n-th message pump (1-based; 0: never).
    int cancel_at_pump = 0;
    // Called after an item has been recorded (for example to change files on disk at the
    // start of the commit phase).
    std::function<void(int item, const std::string& text)> on_item;
    // Called at every message pump, after the cancel point has been checked.
    std::function<void()> on_pump;

private:
    int cancel_item_ = 0;
    std::string cancel_text_;
};
