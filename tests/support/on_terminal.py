#!/usr/bin/env python3
"""Runs a program on a pseudo-terminal and plays a script against it, for the tests that
need a terminal: password prompts (minisign's and ambrel's, which read the terminal
itself) and a question at which a test changes files before it answers.

Usage: on_terminal.py [--expect TEXT | --send LINE | --shell COMMAND]... -- PROGRAM [ARG]...

The steps run in order: --expect waits until TEXT has appeared in the output since the
last step (60 s at most; exit 124 and the output so far if not), --send types LINE and
Enter, --shell runs COMMAND with sh and stops on its failure (exit 125). Everything the
program writes goes to standard output; the exit code is the program's.
"""
import os
import pty
import select
import subprocess
import sys
import time


def main(argv):
    if "--" not in argv:
        sys.exit(__doc__)
    split = argv.index("--")
    steps, program = argv[:split], argv[split + 1:]
    pid, fd = pty.fork()
    if pid == 0:
        os.execvp(program[0], program)
    seen = b""

    def read(timeout):
        nonlocal seen
        ready, _, _ = select.select([fd], [], [], timeout)
        if not ready:
            return True
        try:
            data = os.read(fd, 4096)
        except OSError:
            return False
        if not data:
            return False
        sys.stdout.buffer.write(data)
        sys.stdout.flush()
        seen += data
        return True

    for kind, value in zip(steps[0::2], steps[1::2]):
        if kind == "--expect":
            deadline = time.time() + 60
            while value.encode() not in seen:
                if time.time() > deadline or not read(0.2):
                    print("\non_terminal.py: no %r in the output" % value)
                    os.kill(pid, 9)
                    os.waitpid(pid, 0)
                    return 124
            seen = seen[seen.index(value.encode()) + len(value):]
        elif kind == "--send":
            os.write(fd, value.encode() + b"\n")
        elif kind == "--shell":
            if subprocess.call(value, shell=True) != 0:
                print("\non_terminal.py: the step %r failed" % value)
                os.kill(pid, 9)
                os.waitpid(pid, 0)
                return 125
        else:
            sys.exit(__doc__)
    deadline = time.time() + 300  # the program's end after the script
    while read(1):
        if time.time() > deadline:
            print("\non_terminal.py: the program did not end")
            os.kill(pid, 9)
            break
    _, status = os.waitpid(pid, 0)
    return os.waitstatus_to_exitcode(status)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
