// Text in the ANSI code page on POSIX: the chosen code page, converted through the C
// library's iconv (no tables of our own), and letter case folded through the C library's
// Unicode case mapping (the C.UTF-8 locale), as Windows folds names in its code page.
#include "io/codepage.h"

#include <iconv.h>
#include <locale.h>
#include <wctype.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace os {

namespace {

std::atomic<int> g_code_page{kDefaultCodePage};

std::string IconvName(int code_page) { return "CP" + std::to_string(code_page); }

// One iconv conversion, opened once per thread and direction: iconv descriptors keep
// state and must not be shared between threads.
class Converter {
public:
    Converter(const std::string& to, const std::string& from) : cd_(iconv_open(to.c_str(), from.c_str())) {}
    ~Converter() {
        if (ok()) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts all of `in`; false when a character has no counterpart or the input ends
    // inside a character.
    bool Run(const void* in, size_t n, std::string* out) {
        out->clear();
        if (!ok()) return false;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char* src = const_cast<char*>(static_cast<const char*>(in));
        char buffer[256];
        while (n > 0) {
            char* dst = buffer;
            size_t room = sizeof buffer;
            const size_t r = iconv(cd_, &src, &n, &dst, &room);
            out->append(buffer, static_cast<size_t>(dst - buffer));
            if (r == static_cast<size_t>(-1) && errno != E2BIG) return false;
        }
        char* dst = buffer;
        size_t room = sizeof buffer;
        if (iconv(cd_, nullptr, nullptr, &dst, &room) == static_cast<size_t>(-1)) return false;
        out->append(buffer, static_cast<size_t>(dst - buffer));
        return true;
    }

private:
    iconv_t cd_;
};

// This thread's converter from `from` to `to` (code page names as iconv spells them).
Converter& ConverterFor(const std::string& to, const std::string& from) {
    thread_local std::map<std::pair<std::string, std::string>, std::unique_ptr<Converter>> converters;
    std::unique_ptr<Converter>& c = converters[{to, from}];
    if (!c) c.reset(new Converter(to, from));
    return *c;
}

// The characters of code-page text as wide characters (UCS-4 in the C library); false when
// the bytes are not text of the code page.
bool Decode(const std::string& text, int code_page, std::vector<wchar_t>* chars) {
    std::string wide;
    if (!ConverterFor("WCHAR_T", IconvName(code_page)).Run(text.data(), text.size(), &wide)) return false;
    chars->resize(wide.size() / sizeof(wchar_t));
    std::memcpy(chars->data(), wide.data(), chars->size() * sizeof(wchar_t));
    return true;
}

// One wide character in the code page; false when the code page lacks it.
bool Encode(wchar_t c, int code_page, std::string* out) {
    return ConverterFor(IconvName(code_page), "WCHAR_T").Run(&c, sizeof c, out);
}

locale_t UnicodeLocale() {
    static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    return locale;
}

bool IsAscii(const std::string& s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

std::string UpperAscii(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

}  // namespace

int CodePage() { return g_code_page.load(); }

// A code page serves package names when iconv converts it both ways and it keeps the ASCII
// characters as they are (the separators, the dot, the letters of device names).
bool SetCodePage(int code_page, std::string* error) {
    const std::string name = IconvName(code_page);
    std::string ascii, back;
    for (int c = 0x20; c < 0x7F; ++c) ascii.push_back(static_cast<char>(c));
    if (code_page <= 0 || !ConverterFor("UTF-8", name).ok() || !ConverterFor(name, "UTF-8").ok()) {
        *error = "code page " + std::to_string(code_page) + " is not known to this system's iconv";
        return false;
    }
    if (!ConverterFor("UTF-8", name).Run(ascii.data(), ascii.size(), &back) || back != ascii) {
        *error = "code page " + std::to_string(code_page) + " is not an ANSI code page (it changes ASCII characters)";
        return false;
    }
    g_code_page.store(code_page);
    return true;
}

std::string FoldedName(const std::string& name) {
    if (IsAscii(name)) return UpperAscii(name);
    const int code_page = CodePage();
    std::vector<wchar_t> chars;
    locale_t unicode = UnicodeLocale();
    // Bytes that are no text of the code page cannot name a file the package may touch;
    // they keep their letters' ASCII rule only.
    if (unicode == static_cast<locale_t>(0) || !Decode(name, code_page, &chars)) return UpperAscii(name);
    std::string key, one;
    for (wchar_t c : chars) {
        const wchar_t upper = static_cast<wchar_t>(towupper_l(static_cast<wint_t>(c), unicode));
        if ((upper != c && Encode(upper, code_page, &one)) || Encode(c, code_page, &one))
            key += one;
        else
            return UpperAscii(name);
    }
    return key;
}

bool SameFoldedName(const std::string& a, const std::string& b) { return FoldedName(a) == FoldedName(b); }

bool ToUtf8(const std::string& text, std::string* utf8) {
    if (IsAscii(text)) {
        *utf8 = text;
        return true;
    }
    if (ConverterFor("UTF-8", IconvName(CodePage())).Run(text.data(), text.size(), utf8)) return true;
    utf8->clear();
    return false;
}

bool TextFileToCodePage(const std::string& contents, std::string* text, std::string* why) {
    std::string wide, utf8;
    if (ConverterFor("WCHAR_T", "UTF-8").Run(contents.data(), contents.size(), &wide)) {
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
    std::string wide, out, one;
    char escape[16];
    if (!ConverterFor("WCHAR_T", "UTF-8").Run(utf8.data(), utf8.size(), &wide)) {
        for (unsigned char c : utf8) {
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            out += c < 0x80 ? std::string(1, static_cast<char>(c)) : std::string(escape);
        }
        return out;
    }
    for (size_t i = 0; i + sizeof(wchar_t) <= wide.size(); i += sizeof(wchar_t)) {
        wchar_t c;
        std::memcpy(&c, wide.data() + i, sizeof c);
        if (Encode(c, CodePage(), &one)) {
            out += one;
        } else {
            std::snprintf(escape, sizeof escape, "\\u{%04X}", static_cast<unsigned>(c));
            out += escape;
        }
    }
    return out;
}

bool FromUtf8(const std::string& utf8, std::string* text) {
    if (IsAscii(utf8)) {
        *text = utf8;
        return true;
    }
    if (ConverterFor(IconvName(CodePage()), "UTF-8").Run(utf8.data(), utf8.size(), text)) return true;
    text->clear();
    return false;
}

}  // namespace os
