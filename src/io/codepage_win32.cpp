// Text in the ANSI code page on Windows: the system's code page and its case mapping.
#include "io/codepage.h"

#include <windows.h>

#include <cstdio>

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

namespace {

// Converts between a code page and UTF-16; false when a character has no counterpart.
bool ToWide(UINT code_page, const std::string& in, std::wstring* out) {
    out->clear();
    if (in.empty()) return true;
    const int n = MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, in.data(), static_cast<int>(in.size()), nullptr, 0);
    if (n <= 0) return false;
    out->resize(static_cast<size_t>(n));
    return MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, in.data(), static_cast<int>(in.size()), &(*out)[0], n) == n;
}

bool FromWide(UINT code_page, const std::wstring& in, std::string* out) {
    out->clear();
    if (in.empty()) return true;
    // UTF-8 takes no default character; any other code page must not put one in.
    BOOL used_default = FALSE;
    const bool utf8 = code_page == CP_UTF8;
    const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    const int n = WideCharToMultiByte(code_page, flags, in.data(), static_cast<int>(in.size()), nullptr, 0, nullptr,
                                      utf8 ? nullptr : &used_default);
    if (n <= 0 || used_default) return false;
    out->resize(static_cast<size_t>(n));
    return WideCharToMultiByte(code_page, flags, in.data(), static_cast<int>(in.size()), &(*out)[0], n, nullptr,
                               utf8 ? nullptr : &used_default) == n &&
           !used_default;
}

}  // namespace

bool ToUtf8(const std::string& text, std::string* utf8) {
    std::wstring wide;
    if (ToWide(CP_ACP, text, &wide) && FromWide(CP_UTF8, wide, utf8)) return true;
    utf8->clear();
    return false;
}

bool TextFileToCodePage(const std::string& contents, std::string* text, std::string* why) {
    std::wstring wide;
    std::string utf8;
    if (ToWide(CP_UTF8, contents, &wide)) {
        if (FromUtf8(contents, text)) return true;
        *why = "it holds characters that code page " + std::to_string(CodePage()) + " cannot hold";
        return false;
    }
    if (ToUtf8(contents, &utf8)) {
        *text = contents;
        return true;
    }
    *why = "it is neither UTF-8 nor text of code page " + std::to_string(CodePage());
    return false;
}

std::string DescribeUtf8(const std::string& utf8) {
    std::wstring wide;
    std::string out, one;
    char escape[16];
    if (!ToWide(CP_UTF8, utf8, &wide)) {
        for (unsigned char c : utf8) {
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            out += c < 0x80 ? std::string(1, static_cast<char>(c)) : std::string(escape);
        }
        return out;
    }
    for (wchar_t c : wide) {
        if (FromWide(CP_ACP, std::wstring(1, c), &one)) {
            out += one;
        } else {
            std::snprintf(escape, sizeof escape, "\\u{%04X}", static_cast<unsigned>(c));
            out += escape;
        }
    }
    return out;
}

bool FromUtf8(const std::string& utf8, std::string* text) {
    std::wstring wide;
    if (ToWide(CP_UTF8, utf8, &wide) && FromWide(CP_ACP, wide, text)) return true;
    text->clear();
    return false;
}

}  // namespace os
