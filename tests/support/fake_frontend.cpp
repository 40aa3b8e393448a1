// The scripted front end of the apply engine's tests.
#include "support/fake_frontend.h"

#include "apply/progress.h"

void FakeFrontEnd::OpenProgress() {
    ++opened;
    ResetProgressState();
}

void FakeFrontEnd::CloseProgress() { ++closed; }

void FakeFrontEnd::SetProgressCaption(const char* text) { captions.emplace_back(text); }

void FakeFrontEnd::SetProgressItem(int item, const char* text) {
    items.emplace_back(item, text);
    if (cancel_item_ != 0 && item == cancel_item_ && cancel_text_ == text) {
        CancelRequested = 1;
        cancel_item_ = 0;
    }
    if (on_item) on_item(item, text);
}

void FakeFrontEnd::PumpMessages() {
    ++pumps;
    if (cancel_at_pump != 0 && pumps == cancel_at_pump) CancelRequested = 1;
    if (on_pump) on_pump();
}

bool FakeFrontEnd::AskYesNo(const char* caption, const char* text) {
    questions.push_back(Dialog{caption, text});
    if (answers.empty()) {
        ++unexpected_questions;
        return false;
    }
    bool answer = answers.front();
    answers.pop_front();
    return answer;
}

void FakeFrontEnd::Inform(const char* caption, const char* text) { notices.push_back(Dialog{caption, text}); }

std::vector<std::string> FakeFrontEnd::ItemTexts(int item) const {
    std::vector<std::string> out;
    for (const auto& entry : items) {
        if (entry.first == item) out.push_back(entry.second);
    }
    return out;
}

void FakeFrontEnd::CancelWhenItem(int item, const std::string& text) {
    cancel_item_ = item;
    cancel_text_ = text;
}
