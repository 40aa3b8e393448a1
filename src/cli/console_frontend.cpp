// Console implementation of the apply engine's user interface.
#include "cli/console_frontend.h"

#include <csignal>
#include <cstdio>
#include <iostream>

#include "apply/progress.h"
#include "cli/cli_common.h"
#include "cli/platform.h"

namespace {

// Ctrl-C acts as the progress display's cancel button: it only raises the request, which
// the engine's next cancel poll turns into a question.
extern "C" void OnInterrupt(int) {
    CancelRequested = 1;
    std::signal(SIGINT, OnInterrupt);  // some platforms reset the handler on delivery
}

}  // namespace

ConsoleFrontEnd::ConsoleFrontEnd(Answer answer)
    : answer_(answer), interactive_(IsTerminal(stdin)), show_progress_(IsTerminal(stderr)) {}

ConsoleFrontEnd::~ConsoleFrontEnd() {
    if (open_) CloseProgress();
}

void ConsoleFrontEnd::OpenProgress() {
    ResetProgressState();
    percent_ = 0;
    open_ = true;
    std::signal(SIGINT, OnInterrupt);
}

void ConsoleFrontEnd::CloseProgress() {
    ClearLine();
    std::signal(SIGINT, SIG_DFL);
    open_ = false;
}

void ConsoleFrontEnd::SetProgressCaption(const char*) {}

void ConsoleFrontEnd::SetProgressItem(int item, const char* text) {
    if (item == kItemFileName) file_name_ = text;
    if (item == kItemOperation) operation_ = text;
}

void ConsoleFrontEnd::RefreshProgress() { DrawLine(); }

void ConsoleFrontEnd::PaintPercentBar(int percent) {
    percent_ = percent;
    DrawLine();
}

// Draws "[ 42%] Update   folder\file.dat", cut to the terminal's width.
void ConsoleFrontEnd::DrawLine() {
    if (!show_progress_ || !open_) return;
    char head[64];
    std::snprintf(head, sizeof head, "[%3d%%] %-10.32s ", percent_, operation_.c_str());
    std::string line = head + Printable(file_name_);
    size_t width = static_cast<size_t>(TerminalWidth());
    if (width > 1 && line.size() > width - 1) line.resize(width - 1);
    std::fprintf(stderr, "\r%s\033[K", line.c_str());
    std::fflush(stderr);
    line_drawn_ = true;
}

void ConsoleFrontEnd::ClearLine() {
    if (!line_drawn_) return;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
    line_drawn_ = false;
}

bool ConsoleFrontEnd::Reply(const std::string& text) {
    ClearLine();
    std::printf("%s\n", Printable(text, true).c_str());
    if (answer_ == Answer::kYes) {
        std::printf("[y/n] y (--yes)\n");
        return true;
    }
    if (answer_ == Answer::kNo || !interactive_) {
        std::printf("[y/n] n (%s)\n", answer_ == Answer::kNo ? "--no" : "no terminal to ask on");
        return false;
    }
    for (;;) {
        std::printf("[y/n] ");
        std::fflush(stdout);
        std::string reply;
        if (!std::getline(std::cin, reply)) {
            std::printf("\n");
            return false;
        }
        if (reply == "y" || reply == "Y" || reply == "yes") return true;
        if (reply == "n" || reply == "N" || reply == "no") return false;
    }
}

bool ConsoleFrontEnd::AskYesNo(const char* caption, const char* text) {
    bool yes = Reply(std::string(caption) + ":\n" + text);
    DrawLine();
    return yes;
}

void ConsoleFrontEnd::Inform(const char* caption, const char* text) {
    ClearLine();
    std::printf("%s:\n%s\n", caption, Printable(text, true).c_str());
    DrawLine();
}

bool ConsoleFrontEnd::Confirm(const std::string& question) { return Reply(question); }
