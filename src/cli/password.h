// Asking for a password on the terminal without echoing it; one implementation per
// platform (password_posix.cpp, password_win32.cpp).
#pragma once

#include <string>

#include "sign/secret_bytes.h"

// Longest password taken, as minisign takes.
constexpr size_t kMaxPassword = 1024;

// True when a password can be asked for: standard input is an interactive terminal.
bool CanAskPassword();
// Prints the prompt on the terminal, reads one line with echo off and restores the
// terminal. The password (without its line break) goes to *password. False, with *error
// set, when there is no terminal, the line is longer than kMaxPassword, or input ends.
bool AskPassword(const char* prompt, SecretBytes* password, std::string* error);
