// The password prompt on POSIX terminals: /dev/tty with echo and signals off for the one
// line, so that Ctrl-C cancels the prompt instead of ending the program with echo off.
#include "cli/password.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>

namespace {

// Owns the terminal's descriptor and puts its settings back when it goes.
class QuietTerminal {
public:
    QuietTerminal() : fd_(open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC)) {
        if (fd_ < 0 || tcgetattr(fd_, &saved_) != 0) return;
        termios quiet = saved_;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO | ISIG);
        quiet.c_lflag |= ICANON;
        quiet_ = tcsetattr(fd_, TCSAFLUSH, &quiet) == 0;
    }
    ~QuietTerminal() {
        if (quiet_) tcsetattr(fd_, TCSAFLUSH, &saved_);
        if (fd_ >= 0) close(fd_);
    }
    QuietTerminal(const QuietTerminal&) = delete;
    QuietTerminal& operator=(const QuietTerminal&) = delete;
    bool Ok() const { return quiet_; }
    int Fd() const { return fd_; }

private:
    int fd_;
    termios saved_{};
    bool quiet_ = false;
};

// Ctrl-C, which arrives as a character while signals are off.
constexpr char kCancel = 3;

}  // namespace

bool CanAskPassword() { return isatty(STDIN_FILENO) != 0; }

bool AskPassword(const char* prompt, SecretBytes* password, std::string* error) {
    QuietTerminal terminal;
    *password = SecretBytes(kMaxPassword + 1);
    if (!terminal.Ok() || !password->Ok()) {
        *error = "there is no terminal to ask for the password on";
        return false;
    }
    if (write(terminal.Fd(), prompt, std::strlen(prompt)) < 0) {}
    size_t n = 0;
    bool ended = false;
    for (;;) {
        char c = 0;
        if (read(terminal.Fd(), &c, 1) != 1 || c == kCancel) {
            ended = true;
            break;
        }
        if (c == '\n') break;
        if (n < password->Capacity()) password->Data()[n] = static_cast<uint8_t>(c);
        ++n;
        WipeMemory(&c, 1);
    }
    if (write(terminal.Fd(), "\n", 1) < 0) {}
    if (n > 0 && n <= password->Capacity() && password->Data()[n - 1] == '\r') --n;
    password->Resize(n > kMaxPassword ? 0 : n);
    if (ended || n > kMaxPassword) {
        *error = ended ? "no password was given (cancelled)"
                       : "the password is longer than " + std::to_string(kMaxPassword) + " bytes";
        return false;
    }
    return true;
}
