// The password prompt in Windows consoles: CONIN$ with echo off for the one line; Ctrl-C
// still ends the program, after the console's mode is put back.
#include "cli/password.h"

#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

// What the Ctrl-C handler puts back; set while a prompt runs.
HANDLE g_quiet_input = INVALID_HANDLE_VALUE;
DWORD g_saved_mode = 0;

// Runs on its own thread at Ctrl-C or Ctrl-Break: echo on again, then the default ending.
BOOL WINAPI RestoreOnBreak(DWORD) {
    if (g_quiet_input != INVALID_HANDLE_VALUE) SetConsoleMode(g_quiet_input, g_saved_mode);
    return FALSE;
}

// Owns the console's input handle and puts its mode back when it goes.
class QuietConsole {
public:
    QuietConsole()
        : input_(CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr)) {
        if (input_ == INVALID_HANDLE_VALUE || !GetConsoleMode(input_, &saved_)) return;
        const DWORD quiet = (saved_ | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT) & ~static_cast<DWORD>(ENABLE_ECHO_INPUT);
        g_quiet_input = input_;
        g_saved_mode = saved_;
        SetConsoleCtrlHandler(RestoreOnBreak, TRUE);
        quiet_ = SetConsoleMode(input_, quiet) != 0;
    }
    ~QuietConsole() {
        if (quiet_) SetConsoleMode(input_, saved_);
        if (g_quiet_input == input_) {
            SetConsoleCtrlHandler(RestoreOnBreak, FALSE);
            g_quiet_input = INVALID_HANDLE_VALUE;
        }
        if (input_ != INVALID_HANDLE_VALUE) CloseHandle(input_);
    }
    QuietConsole(const QuietConsole&) = delete;
    QuietConsole& operator=(const QuietConsole&) = delete;
    bool Ok() const { return quiet_; }
    HANDLE Input() const { return input_; }

private:
    HANDLE input_;
    DWORD saved_ = 0;
    bool quiet_ = false;
};

}  // namespace

bool CanAskPassword() {
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdin)));
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

bool AskPassword(const char* prompt, SecretBytes* password, std::string* error) {
    QuietConsole console;
    *password = SecretBytes(kMaxPassword + 2);
    if (!console.Ok() || !password->Ok()) {
        *error = "there is no console to ask for the password on";
        return false;
    }
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    size_t n = 0;
    bool ended = false;
    for (;;) {
        char c = 0;
        DWORD got = 0;
        if (!ReadConsoleA(console.Input(), &c, 1, &got, nullptr) || got != 1) {
            ended = true;
            break;
        }
        if (c == '\n') break;
        if (n < password->Capacity()) password->Data()[n] = static_cast<uint8_t>(c);
        ++n;
        WipeMemory(&c, 1);
    }
    std::fputs("\n", stderr);
    if (n > 0 && n <= password->Capacity() && password->Data()[n - 1] == '\r') --n;
    password->Resize(n > kMaxPassword ? 0 : n);
    if (ended || n > kMaxPassword) {
        *error = ended ? "the console closed before the password was given"
                       : "the password is longer than " + std::to_string(kMaxPassword) + " bytes";
        return false;
    }
    return true;
}
