// Rules of the applicator's front end that need no window system: which package a command
// line names, what the folder chooser's answer means, and where the parts of the
// percentage bar lie. Kept portable so that they are tested on every build.
#pragma once

#include <cstddef>

// The package path from the command-line tail: the whole tail verbatim, except that one
// pair of double quotes enclosing all of it is removed (Explorer quotes a path with
// blanks). False, with `out` empty, when the path does not fit `size` bytes with its NUL:
// a cut path could name another file, so it is refused.
bool PackagePathFromCommandLine(const char* tail, char* out, size_t size);

// The program's own path with its extension (from the last ".") replaced by ".upg".
// False, with `out` empty, when that does not fit.
bool PackageNamedLikeProgram(const char* program_path, char* out, size_t size);
// "default.upg" in the program's folder (the path cut at its last "\"). False, with `out`
// empty, when that does not fit.
bool DefaultPackageBesideProgram(const char* program_path, char* out, size_t size);

// The folder the folder chooser chose: its answer cut at the last "\", which drops the
// file name the chooser hands back; a bare drive such as "C:" becomes its root "C:\".
// False (out unchanged) when the answer holds no "\" or the folder does not fit.
bool FolderFromChooserAnswer(const char* answer, char* out, size_t size);

// MulDiv of the Win32 API: a * b / c rounded to the nearest integer, halves away from
// zero; -1 when c is 0.
int MulDivRounded(int a, int b, int c);

struct BarRect {
    int left, top, right, bottom;  // right and bottom excluded
};

// Where PaintPercentBar draws, inside the bar control's client rectangle `client`: the
// frame's one pixel on every side is left alone; the blue part runs from the left to the
// fill column (excluded), the white part from the column after it to the right edge, and
// the percentage text (aligned centre-top at text_x, text_y) is drawn into both.
struct PercentBarLayout {
    BarRect filled;
    BarRect empty;
    int text_x;
    int text_y;
};
PercentBarLayout LayoutPercentBar(const BarRect& client, int percent, int text_height);
