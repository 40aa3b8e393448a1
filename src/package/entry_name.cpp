// Plain form and refusal rules of entry names, shared by the package reader and the
// package builder.
#include "package/entry_name.h"

#include <cstdio>
#include <cstring>

#include "io/codepage.h"
#include "io/os.h"
#include "package/format.h"

namespace {

// CON, PRN, AUX, NUL, COM1-9, LPT1-9 and the console names open devices whatever
// extension follows them, also with blanks before the dot.
bool IsReservedDeviceName(const std::string& component) {
    std::string base = os::FoldedName(component.substr(0, component.find('.')));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    static const char* const kNames[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* n : kNames)
        if (base == n) return true;
    return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
           base[3] >= '1' && base[3] <= '9';
}

std::string Shown(unsigned char c) {
    char text[16];
    std::snprintf(text, sizeof text, c < 32 || c == 127 ? "0x%02x" : "'%c'", c);
    return text;
}

}  // namespace

void NormalizeEntryName(char* name) {
    char* out = name;
    const char* p = name;
    if (os::IsSeparator(*p)) {
        *out++ = '\\';
        while (os::IsSeparator(*p)) ++p;
    }
    while (*p != '\0') {
        const char* end = p;
        while (*end != '\0' && !os::IsSeparator(*end)) ++end;
        const size_t n = static_cast<size_t>(end - p);
        const bool keep = n > 0 && !(n == 1 && *p == '.');
        if (keep) {
            if (out != name && out[-1] != '\\') *out++ = '\\';
            std::memmove(out, p, n);
            out += n;
        }
        p = end;
        while (os::IsSeparator(*p)) ++p;
    }
    *out = '\0';
}

std::string EntryNameProblem(const char* name) {
    if (name == nullptr || name[0] == '\0') return "an empty name";
    if (os::IsSeparator(name[0])) return "an absolute name";
    if (std::strchr(name, ':') != nullptr) return "a drive letter or a colon";
    const char* p = name;
    bool first = true;
    for (;;) {
        const char* end = p;
        while (*end != '\0' && !os::IsSeparator(*end)) ++end;
        const std::string component(p, static_cast<size_t>(end - p));
        for (unsigned char c : component) {
            if (c < 32 || c == 127 || std::strchr("<>\"|?*", c) != nullptr)
                return "the character " + Shown(c) + ", which Windows does not allow in names";
        }
        if (component.empty()) return "an empty folder name";
        if (component.back() == '.' || component.back() == ' ')
            return "\"" + component + "\" ends with a dot or a space, which Windows drops from names";
        if (IsReservedDeviceName(component)) return "\"" + component + "\" is a reserved device name on Windows";
        if (first && os::FoldedName(component) == kTempFolderName)
            return std::string("a name inside the temporary folder ") + kTempFolderName;
        first = false;
        if (*end == '\0') return "";
        p = end + 1;
    }
}

bool IsSafeEntryName(const char* name) {
    if (name == nullptr) return false;
    std::string plain(name);
    NormalizeEntryName(&plain[0]);
    return EntryNameProblem(plain.c_str()).empty();
}

std::string EntryNameKey(const char* name) { return os::FoldedName(name); }
