// Platform facts of the command-line program: terminals and default search roots; one
// implementation per platform.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// True when the stream is attached to an interactive terminal.
bool IsTerminal(std::FILE* stream);
// Width of the terminal behind stderr in columns; 80 when it cannot be told.
int TerminalWidth();
// Where `apply` looks for the installed copy when no folder is named: the current folder
// on POSIX systems, the fixed drives on Windows.
std::vector<std::string> DefaultSearchRoots();

// Text of the code page in the terminal's encoding: UTF-8 on POSIX systems; the code page
// itself on Windows, where the program's terminal text is ANSI. False when the bytes are
// no text of the code page.
bool ToTerminal(const std::string& text, std::string* out);
// A command-line argument (in the terminal's encoding) as text of the code page. False when
// the code page cannot hold it.
bool FromTerminal(const std::string& text, std::string* out);
