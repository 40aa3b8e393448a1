// Terminal facts and default search roots on POSIX systems.
#include "cli/platform.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include "io/codepage.h"

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

int TerminalWidth() {
    winsize ws{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
    return 80;
}

std::vector<std::string> DefaultSearchRoots() { return {"."}; }

bool ToTerminal(const std::string& text, std::string* out) { return os::ToUtf8(text, out); }

bool FromTerminal(const std::string& text, std::string* out) { return os::FromUtf8(text, out); }
