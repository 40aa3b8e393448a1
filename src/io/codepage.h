// Text in the ANSI code page: the one rule by which letter case is folded in names, and
// the conversion between the code page and UTF-8. Package names and texts are 8-bit strings
// in one Windows ANSI code page; Windows programs use the system's, the POSIX build a chosen
// one (1252, Western, unless set), converted with the C library's iconv.
#pragma once

#include <string>

namespace os {

constexpr int kDefaultCodePage = 1252;

// The code page of package texts: the system's ANSI code page on Windows; on POSIX the one
// set last, else kDefaultCodePage.
int CodePage();
// Chooses the code page. False, with *error set, when it cannot be used: one the C library
// cannot convert (POSIX), or on Windows any other than the system's (the ANSI functions
// read names in that one only).
bool SetCodePage(int code_page, std::string* error);

// The key under which the file system finds a name: its letters in upper case as the code
// page has them (on Windows the system's own mapping; on POSIX each character's Unicode
// upper case where the code page holds that letter, else the character unchanged). Two
// names address the same file exactly when their keys are equal; the key is itself text
// in the code page, so keys sort the same way on every system. Every comparison of names
// that ignores letter case goes through this.
std::string FoldedName(const std::string& name);
// FoldedName(a) == FoldedName(b).
bool SameFoldedName(const std::string& a, const std::string& b);

// Text of the code page as UTF-8. False, with *utf8 empty, when the bytes are not text of
// the code page (an unassigned byte, a broken double-byte sequence).
bool ToUtf8(const std::string& text, std::string* utf8);
// UTF-8 as text of the code page. False, with *text empty, when a character has no
// counterpart in the code page (it is refused, never replaced by a look-alike).
bool FromUtf8(const std::string& utf8, std::string* text);
// The contents of a text file (a description, a policy file) as text of the code page: a
// file that is UTF-8 is converted (false, *why saying so, when the code page cannot hold a
// character of it), and one that is not is taken as text of the code page already (false
// when it is not that either).
bool TextFileToCodePage(const std::string& contents, std::string* text, std::string* why);
// UTF-8 as code-page text for messages: every character the code page lacks is written as
// \u{XXXX} (its code point in hex), and bytes that are no UTF-8 as \xHH.
std::string DescribeUtf8(const std::string& utf8);

}  // namespace os
