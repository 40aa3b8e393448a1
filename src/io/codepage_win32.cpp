// Text in the ANSI code page on Windows: the system's code page and its case mapping.
#include "io/codepage.h"

#include <windows.h>

namespace os {

int CodePage() { return static_cast<int>(GetACP()); }

bool SetCodePage(int code_page, std::string* error) {
    if (code_page == CodePage()) return true;
    *error = "this Windows system reads names in code page " + std::to_string(CodePage()) + ", not " +
             std::to_string(code_page);
    return false;
}

std::string FoldedName(const std::string& name) {
    std::string s = name;
    if (!s.empty()) CharUpperBuffA(&s[0], static_cast<DWORD>(s.size()));
    return s;
}

bool SameFoldedName(const std::string& a, const std::string& b) { return FoldedName(a) == FoldedName(b); }

}  // namespace os
