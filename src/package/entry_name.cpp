// Plain form and refusal rules of entry names, shared by the package reader and the
// package builder.
#include "package/entry_name.h"

#include <cstdio>
#include <cstring>

#include "io/codepage.h"
#include "io/os.h"
#include "package/format.h"

namespace {

// CON, PRN, AUX, NUL, COM0-9, LPT0-9, COM and LPT with a superscript 1, 2 or 3, and the
// console names open devices whatever extension follows them, also with blanks before the
// dot. The superscripts are looked at as characters, in whatever code page the name is.
bool IsReservedDeviceName(const std::string& component) {
    std::string base = os::FoldedName(component.substr(0, component.find('.')));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    static const char* const kNames[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* n : kNames)
        if (base == n) return true;
    if (base.size() < 4 || (base.compare(0, 3, "COM") != 0 && base.compare(0, 3, "LPT") != 0)) return false;
    if (base.size() == 4 && base[3] >= '0' && base[3] <= '9') return true;
    std::string digit;
    if (!os::ToUtf8(base.substr(3), &digit)) return false;
    return digit == "\xC2\xB9" || digit == "\xC2\xB2" || digit == "\xC2\xB3";  // superscript 1, 2, 3
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
    // A name that ends in a separator or a "." component names a folder; it keeps one
    // final separator, so that it is refused and not taken for a file.
    bool names_folder = false;
    while (*p != '\0') {
        const char* end = p;
        while (*end != '\0' && !os::IsSeparator(*end)) ++end;
        const size_t n = static_cast<size_t>(end - p);
        const bool dot = n == 1 && *p == '.';
        if (!dot) {
            if (out != name && out[-1] != '\\') *out++ = '\\';
            std::memmove(out, p, n);
            out += n;
        }
        names_folder = dot || *end != '\0';
        p = end;
        while (os::IsSeparator(*p)) ++p;
    }
    if (names_folder && out != name && out[-1] != '\\') *out++ = '\\';
    *out = '\0';
}

std::string EntryNameProblem(const char* name) {
    if (name == nullptr || name[0] == '\0') return "an empty name";
    if (os::IsSeparator(name[0])) return "an absolute name";
    if (os::IsSeparator(name[std::strlen(name) - 1])) return "a name ending in a separator, which names a folder";
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
