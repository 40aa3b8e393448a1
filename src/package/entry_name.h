// The relative file names of package entries: the one plain form the engine works with,
// and the rules that refuse names which could leave the target folder, reach the
// temporary folder, alias another entry, or cannot be held by Windows.
#pragma once

#include <string>

// Rewrites `name` in place into its plain form: "/" becomes "\", and "." components and
// repeated separators are dropped (a leading separator stays, so an absolute name stays
// absolute, and a name of a folder keeps one final separator). The plain form addresses
// the same file as the original.
void NormalizeEntryName(char* name);

// Why the plain-form `name` cannot be used; "" when it can. Refused: an empty name; an
// absolute name, a drive letter or any colon; control characters and < > " | ? *; a
// component that ends in a dot or a space (so also ".." and "..."), which Windows would
// strip; a name ending in a separator (a folder); a reserved device name such as CON,
// NUL, COM0, COM1 or LPT1.dat; and any name inside the engine's temporary folder, in any
// letter case.
std::string EntryNameProblem(const char* name);

// True when `name`, once in its plain form, has no problem.
bool IsSafeEntryName(const char* name);

// The key under which two plain-form names address the same file: letter case folded
// the way the file system folds it.
std::string EntryNameKey(const char* name);
