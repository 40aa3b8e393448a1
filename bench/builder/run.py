#!/usr/bin/env python3
"""Package-builder benchmark: builds a package of the generated game update with
`ambrel build --compress` and, in the same run, deltas of the same file pairs with xdelta3
(-9 -S djw), bsdiff and zstd --patch-from (-19 --long). Prints per tool the total output
size (and its ratio to ours), the build time, the peak memory and the time to apply.

Usage: run.py AMBREL [WORK_DIR] [--skip TOOL]...
Needs xdelta3, bsdiff and zstd (Debian packages xdelta3, bsdiff, zstd) and /usr/bin/time.
"""
import filecmp
import os
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def timed(cmd, **kw):
    """Runs cmd under /usr/bin/time; returns (seconds, peak resident KiB)."""
    t0 = time.monotonic()
    res = subprocess.run(["/usr/bin/time", "-f", "%M"] + cmd, stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, **kw)
    dt = time.monotonic() - t0
    if res.returncode != 0:
        sys.exit("FAILED: %s\n%s" % (" ".join(cmd), res.stderr.decode(errors="replace")[-2000:]))
    rss = int(res.stderr.decode().strip().splitlines()[-1])
    return dt, rss


def walk(root):
    out = {}
    for d, _, files in os.walk(root):
        for f in files:
            p = os.path.join(d, f)
            out[os.path.relpath(p, root)] = p
    return out


def pairs(old_dir, new_dir):
    """(relative name, old path or None, new path) for every file whose content changed."""
    old = walk(old_dir)
    new = walk(new_dir)
    result = []
    for rel in sorted(new):
        o = old.get(rel)
        if o is not None and filecmp.cmp(o, new[rel], shallow=False):
            continue
        result.append((rel, o, new[rel]))
    return result


# Each tool: how to make a delta of (old or None, new) and how to apply it.
def xdelta_make(old, new, out):
    src = ["-s", old] if old else []
    return ["xdelta3", "-9", "-S", "djw", "-e", "-f"] + src + [new, out]


def xdelta_apply(old, patch, out):
    src = ["-s", old] if old else []
    return ["xdelta3", "-d", "-f"] + src + [patch, out]


def bsdiff_make(old, new, out):
    # bsdiff cannot map an empty file: added files are diffed against one zero byte.
    return ["bsdiff", old or ONE_BYTE, new, out]


def bsdiff_apply(old, patch, out):
    return ["bspatch", old or ONE_BYTE, out, patch]


def zstd_make(old, new, out):
    src = ["--patch-from=" + old] if old else []
    return ["zstd", "-q", "-f", "-19", "--long=27"] + src + [new, "-o", out]


def zstd_apply(old, patch, out):
    src = ["--patch-from=" + old] if old else []
    return ["zstd", "-q", "-f", "-d", "--long=27"] + src + [patch, "-o", out]


TOOLS = [("xdelta3 -9 -S djw", xdelta_make, xdelta_apply),
         ("bsdiff", bsdiff_make, bsdiff_apply),
         ("zstd -19 --long --patch-from", zstd_make, zstd_apply)]
ONE_BYTE = ""


def main():
    global ONE_BYTE
    args = [a for a in sys.argv[1:]]
    skip = set()
    while "--skip" in args:
        i = args.index("--skip")
        skip.add(args[i + 1])
        del args[i:i + 2]
    ambrel = os.path.abspath(args[0])
    work = os.path.abspath(args[1] if len(args) > 1 else os.path.join(HERE, "../../out/bench-builder"))
    old_dir, new_dir = os.path.join(work, "old"), os.path.join(work, "new")
    if not os.path.isdir(new_dir):
        print("Generating the corpus in", work)
        subprocess.run([sys.executable, os.path.join(HERE, "make_corpus.py"), work], check=True)
    ONE_BYTE = os.path.join(work, "one-byte")
    with open(ONE_BYTE, "wb") as f:
        f.write(b"\0")
    tmp = os.path.join(work, "tmp")
    shutil.rmtree(tmp, ignore_errors=True)
    os.makedirs(tmp)

    todo = pairs(old_dir, new_dir)
    old_total = sum(os.path.getsize(p) for p in walk(old_dir).values())
    largest = max(os.path.getsize(p) for p in walk(old_dir).values())
    print("corpus: old %.1f MB in %d files, new %.1f MB; %d changed or added files; largest old file %.1f MB"
          % (old_total / 1e6, len(walk(old_dir)), sum(os.path.getsize(p) for p in walk(new_dir).values()) / 1e6,
             len(todo), largest / 1e6))

    rows = []
    # ambrel: one package for the whole tree.
    pkg = os.path.join(tmp, "package.upg")
    build_t, build_m = timed([ambrel, "build", old_dir, new_dir, "-o", pkg, "--compress"])
    target = os.path.join(tmp, "target")
    shutil.copytree(old_dir, target, copy_function=shutil.copy2)
    apply_t, _ = timed([ambrel, "apply", pkg, target, "--yes"])
    cmp = subprocess.run(["diff", "-r", target, new_dir], stdout=subprocess.DEVNULL)
    if cmp.returncode != 0:
        sys.exit("FAILED: the applied tree differs from the new tree")
    shutil.rmtree(target)
    ours = os.path.getsize(pkg)
    rows.append(("ambrel build --compress", ours, build_t, build_m, apply_t))
    nocheck = os.path.join(tmp, "nocheck.upg")
    nocheck_t, nocheck_m = timed([ambrel, "build", old_dir, new_dir, "-o", nocheck, "--compress", "--no-check"])

    for name, make, apply in TOOLS:
        if name.split()[0] in skip:
            continue
        size = 0
        bt = at = 0.0
        peak = 0
        for i, (rel, old, new) in enumerate(todo):
            patch = os.path.join(tmp, "p%d" % i)
            out = os.path.join(tmp, "o%d" % i)
            t, m = timed(make(old, new, patch))
            bt += t
            peak = max(peak, m)
            size += os.path.getsize(patch)
            t, _ = timed(apply(old, patch, out))
            at += t
            if not filecmp.cmp(out, new, shallow=False):
                sys.exit("FAILED: %s does not rebuild %s" % (name, rel))
            os.remove(patch)
            os.remove(out)
        rows.append((name, size, bt, peak, at))

    print()
    print("| tool | total size | size / ambrel | build time | peak memory | apply time |")
    print("|---|---:|---:|---:|---:|---:|")
    for name, size, bt, peak, at in rows:
        print("| %s | %.2f MB | %.2fx | %.1f s | %.0f MB | %.1f s |"
              % (name, size / 1e6, size / ours, bt, peak / 1024, at))
    print()
    print("ambrel build --compress --no-check: %.1f s, %.0f MB peak" % (nocheck_t, nocheck_m / 1024))
    by = {r[0].split()[0]: r for r in rows}
    print("targets: size <= 1.0x xdelta3, <= 1.25x zstd, <= 1.5x bsdiff; build time <= 2x xdelta3;"
          " peak memory <= min(8 x %.1f MB, 1 GiB) = %.0f MB" % (largest / 1e6, min(8 * largest, 1 << 30) / 1e6))
    for tool, limit in (("xdelta3", 1.0), ("zstd", 1.25), ("bsdiff", 1.5)):
        if tool in by:
            r = ours / by[tool][1]
            print("  size vs %-8s %.3fx (limit %.2fx): %s" % (tool, r, limit, "met" if r <= limit else "MISSED"))
    if "xdelta3" in by:
        r = build_t / by["xdelta3"][2]
        print("  build time vs xdelta3: %.2fx (limit 2x): %s" % (r, "met" if r <= 2 else "MISSED"))
    mem_limit = min(8 * largest, 1 << 30)
    print("  peak memory: %.0f MB (limit %.0f MB): %s" % (build_m / 1024, mem_limit / 1e6,
                                                        "met" if build_m * 1024 <= mem_limit else "MISSED"))
    shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    main()
