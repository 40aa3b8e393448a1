# Reads the --help texts of a built ambrel and writes the man page's command sections (a
# help2man include file) and the bash completion, so that neither can drift from the program.
# Usage: help_docs.py AMBREL MAN_INCLUDE COMPLETION
import re
import subprocess
import sys


def help_text(program, *args):
    return subprocess.run([program, *args, "--help"], check=True, capture_output=True,
                          text=True).stdout


def commands(top_help):
    """The (name, summary) pairs of the Subcommands block of the top-level help."""
    found, inside = [], False
    for line in top_help.splitlines():
        if re.match(r"^\S.*:$", line):
            inside = line.lower().startswith("subcommands")
            continue
        match = re.match(r"^  (\S+)\s+(.*)$", line)
        if inside and match:
            found.append((match.group(1), match.group(2).strip()))
    return found


def parse_command(text):
    """Splits one command's help into summary, usage, blocks of (term, description) and the
    free text after the blocks."""
    lines = text.splitlines()
    summary = "" if not lines or lines[0].startswith("Usage:") else lines.pop(0)
    usage, blocks, footer, block = "", [], [], None
    for line in lines:
        if line.startswith("Usage:"):
            usage = line[len("Usage:"):].strip()
        elif not footer and re.match(r"^[A-Z][A-Za-z ]*:$", line):
            block = (line[:-1], [])
            blocks.append(block)
        elif block is not None and re.match(r"^ {2}\S", line):
            term, _, desc = re.split(r"(\s{2,}|$)", line.strip(), maxsplit=1)
            block[1].append([term, desc.strip()])
        elif block is not None and re.match(r"^ {3,}\S", line) and block[1]:
            block[1][-1][1] = (block[1][-1][1] + " " + line.strip()).strip()
        elif not line.strip():
            block = None
            if footer:
                footer.append("")
        elif usage:
            block = None
            footer.append(line)
    return summary, usage, blocks, footer


def roff(text):
    """Plain text as roff: backslashes and hyphens escaped, no line starting a request."""
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return "\\&" + text if text[:1] in (".", "'") else text


def roff_term(term):
    """An option's names in bold, what follows them (its value, exclusions) plain."""
    names, _, rest = term.partition(" ")
    if not names.startswith("-"):
        return "\\fI" + roff(names) + "\\fR" + (" " + roff(rest) if rest else "")
    bold = ", ".join("\\fB" + roff(name) + "\\fR" for name in names.split(","))
    return bold + (" " + roff(rest) if rest else "")


def man_section(program, names):
    out = ["[>OPTIONS]"]
    for name, _ in names:
        summary, usage, blocks, footer = parse_command(help_text(program, name))
        out += ['.SS "%s"' % ("ambrel " + name), roff(summary), ".PP", "\\fBUsage:\\fR " + roff(usage)]
        for title, entries in blocks:
            out += [".PP", "\\fI%s:\\fR" % roff(title)]
            for term, desc in entries:
                out += [".TP", roff_term(term), roff(desc)]
        paragraph = []
        for line in footer + [""]:
            if line.strip():
                paragraph.append(roff(line.strip()))
            elif paragraph:
                out += [".PP"] + paragraph
                paragraph = []
    return "\n".join(out) + "\n"


def option_names(text):
    _, _, blocks, _ = parse_command(text)
    names = []
    for title, entries in blocks:
        for term, _ in entries:
            first = term.split(" ", 1)[0]
            names += [n for n in first.split(",") if n.startswith("-")]
    return [re.sub(r"\{.*$", "", n) for n in names]


COMPLETION = """# bash completion of ambrel: the commands, and the options of each command (generated
# from the program's --help texts).
_ambrel() {
    local cur=${COMP_WORDS[COMP_CWORD]} command="" i
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in -*) ;; *) command=${COMP_WORDS[i]}; break ;; esac
    done
    local options
    case $command in
%(cases)s
    esac
    if [[ -z $command && $cur != -* ]]; then
        COMPREPLY=($(compgen -W "%(commands)s" -- "$cur"))
    elif [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
    else
        COMPREPLY=($(compgen -f -- "$cur"))
    fi
}
complete -o filenames -F _ambrel ambrel
"""


def completion(program, top_help, names):
    cases = ['        "") options="%s" ;;' % " ".join(option_names(top_help))]
    for name, _ in names:
        cases.append('        %s) options="%s" ;;' % (name, " ".join(option_names(help_text(program, name)))))
    return COMPLETION % {"cases": "\n".join(cases), "commands": " ".join(n for n, _ in names)}


def main():
    program, man_include, completion_file = sys.argv[1:4]
    top_help = help_text(program)
    names = commands(top_help)
    if not names:
        sys.exit("no commands in the help of " + program)
    with open(man_include, "w") as out:
        out.write(man_section(program, names))
    with open(completion_file, "w") as out:
        out.write(completion(program, top_help, names))


if __name__ == "__main__":
    main()
