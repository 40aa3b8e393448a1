// Terminal facts and default search roots on Windows consoles.
#include "cli/platform.h"

#include "io/os.h"

#include <io.h>
#include <windows.h>

// _isatty is also true for the NUL device; only a handle with a console mode is a console.
bool IsTerminal(std::FILE* stream) {
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

int TerminalWidth() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) {
        int width = info.srWindow.Right - info.srWindow.Left + 1;
        if (width > 0) return width;
    }
    return 80;
}

std::vector<std::string> DefaultSearchRoots() { return os::FixedDriveRoots(); }

// The program writes and reads ANSI text: the code page is the terminal's own encoding.
bool ToTerminal(const std::string& text, std::string* out) {
    *out = text;
    return true;
}

bool FromTerminal(const std::string& text, std::string* out) {
    *out = text;
    return true;
}
