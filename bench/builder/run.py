#!/usr/bin/env python3
"""Package-builder benchmark over several corpora: the generated game update and real
consecutive releases fetched with `npm pack` (a Go and a Rust executable, two JavaScript
packages). For each it builds one package with `ambrel build --compress` and, in the same
run, deltas of the same file pairs with xdelta3 (-9 -S djw), bsdiff and zstd --patch-from
(-19 --long), checks that every result rebuilds the new files, and prints the sizes, build
times, peak memory and apply times, then a summary against the builder's targets.

Usage: run.py AMBREL [WORK_DIR] [--skip TOOL]... [--only NAME]...
The npm releases are cached in $AMBREL_BENCH_CACHE (default ~/.cache/ambrel-bench), outside
the source tree. Needs xdelta3, bsdiff, zstd, npm and /usr/bin/time.
"""
import filecmp
import glob
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


# Real release pairs: (short name, what it is, npm package, old version, new version).
RELEASES = [
    ("esbuild", "Go executable", "@esbuild/linux-x64", "0.28.1", "0.28.2"),
    ("lightningcss", "Rust library", "lightningcss-linux-x64-gnu", "1.32.0", "1.33.0"),
    ("typescript", "JavaScript bundles", "typescript", "5.8.3", "5.9.2"),
    ("prettier", "JavaScript bundles", "prettier", "3.10.1", "3.10.2"),
]
SIZE_LIMIT = 1.0   # ambrel / xdelta3
TIME_LIMIT = 2.0   # ambrel / xdelta3, build time
MEMORY_FACTOR = 8  # peak memory / largest old file, or 1 GiB, whichever is more


def fetch(cache, package, version):
    """The unpacked npm release (its package/ folder), fetched once into the cache."""
    folder = os.path.join(cache, "%s@%s" % (package.replace("/", "+"), version))
    tree = os.path.join(folder, "package")
    if os.path.isdir(tree):
        return tree
    os.makedirs(folder, exist_ok=True)
    res = subprocess.run(["npm", "pack", "--silent", "--pack-destination", folder, "%s@%s" % (package, version)],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    tarballs = glob.glob(os.path.join(folder, "*.tgz"))
    if res.returncode != 0 or not tarballs:
        sys.exit("FAILED: npm pack %s@%s: %s" % (package, version, res.stderr.decode(errors="replace")[-500:]))
    subprocess.run(["tar", "-xzf", tarballs[0], "-C", folder], check=True)
    os.remove(tarballs[0])
    return tree


def measure(ambrel, name, old_dir, new_dir, tmp, skip):
    """Builds, applies and compares one corpus; returns its rows and facts."""
    shutil.rmtree(tmp, ignore_errors=True)
    os.makedirs(tmp)
    todo = pairs(old_dir, new_dir)
    old_files = walk(old_dir)
    largest = max(os.path.getsize(p) for p in old_files.values())
    print("\n## %s\nold %.1f MB in %d files, new %.1f MB; %d changed or added files; largest old file %.1f MB"
          % (name, sum(os.path.getsize(p) for p in old_files.values()) / 1e6, len(old_files),
             sum(os.path.getsize(p) for p in walk(new_dir).values()) / 1e6, len(todo), largest / 1e6))

    rows = []
    pkg = os.path.join(tmp, "package.upg")
    build_t, build_m = timed([ambrel, "build", old_dir, new_dir, "-o", pkg, "--compress"])
    target = os.path.join(tmp, "target")
    shutil.copytree(old_dir, target, copy_function=shutil.copy2)
    apply_t, _ = timed([ambrel, "apply", pkg, target, "--yes"])
    if subprocess.run(["diff", "-r", target, new_dir], stdout=subprocess.DEVNULL).returncode != 0:
        sys.exit("FAILED: the applied tree differs from the new tree")
    shutil.rmtree(target)
    ours = os.path.getsize(pkg)
    rows.append(("ambrel build --compress", ours, build_t, build_m, apply_t))

    for tool, make, apply in TOOLS:
        if tool.split()[0] in skip:
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
                sys.exit("FAILED: %s does not rebuild %s" % (tool, rel))
            os.remove(patch)
            os.remove(out)
        rows.append((tool, size, bt, peak, at))

    print()
    print("| tool | total size | size / ambrel | build time | peak memory | apply time |")
    print("|---|---:|---:|---:|---:|---:|")
    for tool, size, bt, peak, at in rows:
        print("| %s | %.3f MB | %.3fx | %.1f s | %.0f MB | %.1f s |"
              % (tool, size / 1e6, size / ours, bt, peak / 1024, at))
    shutil.rmtree(tmp, ignore_errors=True)
    return {"name": name, "rows": {r[0].split()[0]: r for r in rows}, "largest": largest}


def main():
    global ONE_BYTE
    args = [a for a in sys.argv[1:]]
    skip, only = set(), set()
    for flag, into in (("--skip", skip), ("--only", only)):
        while flag in args:
            i = args.index(flag)
            into.add(args[i + 1])
            del args[i:i + 2]
    ambrel = os.path.abspath(args[0])
    work = os.path.abspath(args[1] if len(args) > 1 else os.path.join(HERE, "../../out/bench-builder"))
    cache = os.environ.get("AMBREL_BENCH_CACHE", os.path.expanduser("~/.cache/ambrel-bench"))
    os.makedirs(work, exist_ok=True)
    ONE_BYTE = os.path.join(work, "one-byte")
    with open(ONE_BYTE, "wb") as f:
        f.write(b"\0")
    tmp = os.path.join(work, "tmp")

    corpora = []
    if not only or "generated" in only:
        generated = os.path.join(work, "generated")
        if not os.path.isdir(os.path.join(generated, "new")):
            print("Generating the corpus in", generated)
            subprocess.run([sys.executable, os.path.join(HERE, "make_corpus.py"), generated], check=True)
        corpora.append(("generated game update", os.path.join(generated, "old"), os.path.join(generated, "new")))
    for short, kind, package, old, new in RELEASES:
        if only and short not in only:
            continue
        corpora.append(("%s %s -> %s (%s)" % (short, old, new, kind), fetch(cache, package, old),
                        fetch(cache, package, new)))

    results = [measure(ambrel, name, old_dir, new_dir, tmp, skip) for name, old_dir, new_dir in corpora]

    print("\n## Summary (targets: size <= %.1fx xdelta3, build time <= %.0fx xdelta3, peak memory <= %dx the "
          "largest old file or 1 GiB)\n" % (SIZE_LIMIT, TIME_LIMIT, MEMORY_FACTOR))
    print("| corpus | ambrel | xdelta3 | bsdiff | zstd | size / xdelta3 | time / xdelta3 | peak memory |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|")
    missed = []
    for r in results:
        rows, ours = r["rows"], r["rows"]["ambrel"]

        def size(tool):
            return "%.3f MB" % (rows[tool][1] / 1e6) if tool in rows else "-"
        size_ratio = ours[1] / rows["xdelta3"][1] if "xdelta3" in rows else None
        time_ratio = ours[2] / rows["xdelta3"][2] if "xdelta3" in rows else None
        memory_limit = max(MEMORY_FACTOR * r["largest"], 1 << 30)
        print("| %s | %s | %s | %s | %s | %s | %s | %.0f MB (%.1fx the largest old file) |"
              % (r["name"], size("ambrel"), size("xdelta3"), size("bsdiff"), size("zstd"),
                 "%.3fx" % size_ratio if size_ratio else "-", "%.2fx" % time_ratio if time_ratio else "-",
                 ours[3] / 1024, ours[3] * 1024 / r["largest"]))
        if size_ratio and size_ratio > SIZE_LIMIT:
            missed.append("%s: size %.3fx xdelta3" % (r["name"], size_ratio))
        if time_ratio and time_ratio > TIME_LIMIT:
            missed.append("%s: build time %.2fx xdelta3" % (r["name"], time_ratio))
        if ours[3] * 1024 > memory_limit:
            missed.append("%s: peak memory %.0f MB" % (r["name"], ours[3] / 1024))
    print()
    if missed:
        print("targets MISSED on %d of %d corpora:" % (len({m.split(":")[0] for m in missed}), len(results)))
        for m in missed:
            print("  " + m)
    else:
        print("targets met on all %d corpora" % len(results))


if __name__ == "__main__":
    main()
