#!/usr/bin/env python3
"""Lists the functions of C and C++ sources that are longer than a limit, counting the lines
from the one that opens a function's body to the one that closes it.

Usage: function_length.py LIMIT FILE...   (exit 1 when any function is longer)

A function body is a "{" that follows a parameter list ("...)", perhaps with const,
override, noexcept, a trailing return type or a constructor's initialisers) outside any
other function body. Comments, strings and character literals are skipped; a lambda or a
local class counts as part of the function around it.
"""
import re
import sys

TOKEN = re.compile(r'//[^\n]*|/\*.*?\*/|R"([^(]*)\((?:.|\n)*?\)\1"|"(?:\\.|[^"\\\n])*"|'
                   r"'(?:\\.|[^'\\\n])*'|[{}();]|\n|[^{}();\n\"'/]+|/", re.S)
# What may stand between a parameter list's ")" and its body's "{".
BETWEEN = re.compile(r'^\s*((const|override|final|noexcept|volatile|&|&&|->\s*[\w:<>,\s*&]+)\s*)*$')
# A constructor's initialiser list ends with ")" or "}" and begins with ":".
INITIALISERS = re.compile(r'^\s*:\s*\w')


def functions(text):
    """(name, first line, line count) of every function body in text."""
    found = []
    line = 1
    depth = 0          # brace depth
    body_depth = None  # depth at which the current function body opened
    body_line = 0
    name = ""
    recent = []        # tokens since the last ";", "{" or "}" at the current level
    for m in TOKEN.finditer(text):
        tok = m.group(0)
        if tok.startswith("//") or tok.startswith("/*"):
            line += tok.count("\n")
            continue
        if tok == "\n":
            line += 1
            continue
        line_of_token = line
        line += tok.count("\n")
        if tok == "{":
            if body_depth is None and is_body(recent):
                body_depth = depth
                body_line = line_of_token
                name = signature(recent)
            depth += 1
            recent = []
        elif tok == "}":
            depth -= 1
            if body_depth is not None and depth == body_depth:
                found.append((name, body_line, line_of_token - body_line + 1))
                body_depth = None
            recent = []
        elif tok == ";":
            recent = []
        else:
            recent.append(tok)
    return found


def is_body(tokens):
    text = "".join(tokens)
    if ")" not in text:
        return False
    # Control statements and initialisers at namespace scope are not function bodies.
    head = text.strip()
    if re.match(r'^(if|for|while|switch|catch|do|else)\b', head) or head.endswith("="):
        return False
    tail = text[text.rfind(")") + 1:]
    if BETWEEN.match(tail):
        return True
    # Constructor initialisers: "X::X(int a) : a_(a), b_{} {".
    return re.search(r'\)\s*:\s*\w', text) is not None and text.rstrip().endswith((")", "}"))


def signature(tokens):
    text = " ".join("".join(tokens).split())
    cut = text.find("(")
    return text[:cut].split()[-1] if cut > 0 and text[:cut].split() else text[:40]


def main():
    limit = int(sys.argv[1])
    long_ones = []
    for path in sys.argv[2:]:
        with open(path, encoding="utf-8", errors="replace") as f:
            for name, first, count in functions(f.read()):
                if count > limit:
                    long_ones.append((count, path, first, name))
    for count, path, first, name in sorted(long_ones, reverse=True):
        print("%s:%d: %s is %d lines long (at most %d)" % (path, first, name, count, limit))
    if long_ones:
        sys.exit(1)
    print("no function is longer than %d lines" % limit)


if __name__ == "__main__":
    main()
