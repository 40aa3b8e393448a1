#!/usr/bin/env python3
"""Scale benchmark: `ambrel apply`, `verify` and `build` at the format's limits, each against
a floor measured in the same run, and a summary against the targets.

  folder N      one folder of N updated files (5,000 and 10,000): apply against the floor
                (read every old file once, write every new file once, then sync), and the
                growth from 5,000 to 10,000
  large         a 2 GiB file with scattered edits beside 9,900 small files in 100 folders:
                apply against the floor; build time and peak memory against xdelta3 on the
                large file alone
  threads       the builder on a tree of many changed files with 1, 2 and all cores
  releases      the real release pairs of the builder benchmark (fetched with npm into
                $AMBREL_BENCH_CACHE): apply against the floor without sync, as the per-file
                tools are measured

Usage: run.py AMBREL [WORK_DIR] [--only NAME]...   (names: folder, large, threads, releases)
"""
import os
import random
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
OLD_TIME = 1709294400  # 2024-03-01 12:00 UTC
NEW_TIME = 1717243200  # 2024-06-01 12:00 UTC
RELEASES = [("esbuild", "@esbuild/linux-x64", "0.28.1", "0.28.2"),
            ("typescript", "typescript", "5.8.3", "5.9.2"),
            ("prettier", "prettier", "3.10.1", "3.10.2")]


def run(cmd, **kw):
    """Runs cmd under /usr/bin/time; returns (seconds, peak resident MiB)."""
    t0 = time.monotonic()
    res = subprocess.run(["/usr/bin/time", "-f", "%M"] + cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kw)
    dt = time.monotonic() - t0
    if res.returncode != 0:
        sys.exit("FAILED: %s\n%s%s" % (" ".join(cmd), res.stdout.decode(errors="replace")[-1500:],
                                       res.stderr.decode(errors="replace")[-1500:]))
    return dt, int(res.stderr.decode().strip().splitlines()[-1]) / 1024


def shell_seconds(script):
    t0 = time.monotonic()
    subprocess.run(["sh", "-c", script], check=True)
    return time.monotonic() - t0


def write(path, data, mtime):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    os.utime(path, (mtime, mtime))


def edited(data, rng, edits=3):
    out = bytearray(data)
    for _ in range(edits):
        at = rng.randrange(0, max(1, len(out) - 64))
        out[at:at + 16] = rng.randbytes(16)
    return bytes(out)


def floor(old, new, scratch, sync=True):
    """Seconds to read every old file once and write every new file once (then sync)."""
    shutil.rmtree(scratch, ignore_errors=True)
    subprocess.run(["sync"])
    return shell_seconds("find '%s' -type f -exec cat {} + >/dev/null && cp -r '%s' '%s'%s"
                         % (old, new, scratch, " && sync" if sync else ""))


def timed_apply(ambrel, package, old, new, target, sync=True):
    """Copies old to target, applies, checks the result; returns (seconds, MiB)."""
    shutil.rmtree(target, ignore_errors=True)
    subprocess.run(["cp", "-a", old, target], check=True)
    subprocess.run(["sync"])
    t0 = time.monotonic()
    _, rss = run([ambrel, "apply", package, target, "--yes"])
    if sync:
        subprocess.run(["sync"])
    seconds = time.monotonic() - t0
    if subprocess.run(["diff", "-r", target, new], stdout=subprocess.DEVNULL).returncode != 0:
        sys.exit("FAILED: the applied tree differs from the new tree")
    return seconds, rss


def best(n, measure):
    """The fastest of n runs of measure() -> (seconds, ...)."""
    results = [measure() for _ in range(n)]
    return min(results, key=lambda r: r[0] if isinstance(r, tuple) else r)


def one_folder(ambrel, work, count):
    base = os.path.join(work, "folder%d" % count)
    old, new = os.path.join(base, "old"), os.path.join(base, "new")
    package = os.path.join(base, "p.upg")
    if not os.path.exists(package):
        rng = random.Random(count)
        for i in range(count):
            data = rng.randbytes(4096 + rng.randrange(4096))
            write(os.path.join(old, "data", "f%05d.bin" % i), data, OLD_TIME)
            write(os.path.join(new, "data", "f%05d.bin" % i), edited(data, rng), NEW_TIME)
        run([ambrel, "build", old, new, "-o", package, "--no-check"])
    floor_s = best(2, lambda: floor(old, new, os.path.join(base, "floor")))
    apply_s, rss = best(2, lambda: timed_apply(ambrel, package, old, new, os.path.join(base, "target")))
    verify_s, _ = run([ambrel, "verify", package, old])
    shutil.rmtree(os.path.join(base, "target"), ignore_errors=True)
    shutil.rmtree(os.path.join(base, "floor"), ignore_errors=True)
    return {"floor": floor_s, "apply": apply_s, "rss": rss, "verify": verify_s}


def large_tree(ambrel, work):
    base = os.path.join(work, "large")
    old, new = os.path.join(base, "old"), os.path.join(base, "new")
    package = os.path.join(base, "p.upg")
    big = os.path.join("Data", "archive.pak")
    if not os.path.exists(os.path.join(new, big)):
        rng = random.Random(7)
        os.makedirs(os.path.join(old, "Data"), exist_ok=True)
        os.makedirs(os.path.join(new, "Data"), exist_ok=True)
        with open(os.path.join(old, big), "wb") as f:
            for _ in range(2048):
                f.write(os.urandom(1 << 20))
        shutil.copyfile(os.path.join(old, big), os.path.join(new, big))
        with open(os.path.join(new, big), "r+b") as f:  # 400 scattered edits of 64 bytes
            for _ in range(400):
                f.seek(rng.randrange(0, (2 << 30) - 64))
                f.write(rng.randbytes(64))
        os.utime(os.path.join(old, big), (OLD_TIME, OLD_TIME))
        os.utime(os.path.join(new, big), (NEW_TIME, NEW_TIME))
        for folder in range(100):
            for i in range(99):
                data = rng.randbytes(1024 + rng.randrange(3072))
                name = os.path.join("Maps%02d" % folder, "m%02d.dat" % i)
                write(os.path.join(old, name), data, OLD_TIME)
                changed = i % 3 == 0
                write(os.path.join(new, name), edited(data, rng) if changed else data, NEW_TIME if changed else OLD_TIME)
    build_s, build_rss = run([ambrel, "build", old, new, "-o", package])
    xdelta_s, xdelta_rss = run(["xdelta3", "-9", "-S", "djw", "-e", "-f", "-s", os.path.join(old, big),
                                os.path.join(new, big), os.path.join(base, "x.vcdiff")])
    floor_s = floor(old, new, os.path.join(base, "floor"))
    shutil.rmtree(os.path.join(base, "floor"), ignore_errors=True)
    apply_s, rss = timed_apply(ambrel, package, old, new, os.path.join(base, "target"))
    shutil.rmtree(os.path.join(base, "target"), ignore_errors=True)
    return {"floor": floor_s, "apply": apply_s, "rss": rss, "build": build_s, "build_rss": build_rss,
            "xdelta": xdelta_s, "xdelta_rss": xdelta_rss}


def threads(ambrel, work):
    base = os.path.join(work, "threads")
    old, new = os.path.join(base, "old"), os.path.join(base, "new")
    if not os.path.exists(new):
        rng = random.Random(3)
        for i in range(48):
            data = rng.randbytes(1 << 20)
            write(os.path.join(old, "f%02d.bin" % i), data, OLD_TIME)
            write(os.path.join(new, "f%02d.bin" % i), edited(data, rng, 40), NEW_TIME)
    cores = os.cpu_count() or 1
    out = {}
    for n in sorted({1, 2, cores}):
        out[n] = best(2, lambda: run([ambrel, "build", old, new, "-o", os.path.join(base, "p%d.upg" % n),
                                      "--no-check", "--threads", str(n)]))[0]
    packages = {open(os.path.join(base, "p%d.upg" % n), "rb").read() for n in out}
    if len(packages) != 1:
        sys.exit("FAILED: the packages differ between thread counts")
    return out


def release(ambrel, work, cache, name, package, old_v, new_v):
    def tree(version):
        folder = os.path.join(cache, "%s@%s" % (package.replace("/", "+"), version), "package")
        if not os.path.isdir(folder):
            sys.exit("FAILED: %s is not in the cache; run bench/builder/run.sh once" % folder)
        return folder
    old, new = tree(old_v), tree(new_v)
    base = os.path.join(work, "release-" + name)
    os.makedirs(base, exist_ok=True)
    upg = os.path.join(base, "p.upg")
    run([ambrel, "build", old, new, "-o", upg, "--compress", "--no-check"])
    floor_s = best(3, lambda: floor(old, new, os.path.join(base, "floor"), sync=False))
    apply_s, rss = best(3, lambda: timed_apply(ambrel, upg, old, new, os.path.join(base, "target"), sync=False))
    shutil.rmtree(os.path.join(base, "floor"), ignore_errors=True)
    return {"floor": floor_s, "apply": apply_s, "rss": rss}


def main():
    args = sys.argv[1:]
    only = set()
    while "--only" in args:
        i = args.index("--only")
        only.add(args[i + 1])
        del args[i:i + 2]
    ambrel = os.path.abspath(args[0])
    work = os.path.abspath(args[1] if len(args) > 1 else os.path.join(HERE, "../../out/bench-scale"))
    cache = os.environ.get("AMBREL_BENCH_CACHE", os.path.expanduser("~/.cache/ambrel-bench"))
    os.makedirs(work, exist_ok=True)
    want = lambda name: not only or name in only
    rows, missed = [], []

    def target(ok, text):
        if not ok:
            missed.append(text)

    peak = 0
    if want("folder"):
        f5, f10 = one_folder(ambrel, work, 5000), one_folder(ambrel, work, 10000)
        for n, f in ((5000, f5), (10000, f10)):
            rows.append(("one folder of %d updated files: apply" % n, f["apply"], f["floor"], "%.0f MB" % f["rss"]))
            rows.append(("one folder of %d updated files: verify" % n, f["verify"], None, ""))
            peak = max(peak, f["rss"])
        growth = f10["apply"] / f5["apply"]
        rows.append(("growth of the apply from 5,000 to 10,000 files", growth, None, ""))
        target(f10["apply"] / f10["floor"] <= 3, "10,000 files: apply %.2fx the floor (target 3x)" % (f10["apply"] / f10["floor"]))
        target(growth <= 2.2, "growth from 5,000 to 10,000 files %.2fx (target 2.2x)" % growth)
    if want("large"):
        g = large_tree(ambrel, work)
        rows.append(("2 GiB file and 9,900 small files: apply", g["apply"], g["floor"], "%.0f MB" % g["rss"]))
        rows.append(("  build (check included) against xdelta3 on the large file", g["build"], g["xdelta"],
                     "%.0f MB (xdelta3 %.0f MB)" % (g["build_rss"], g["xdelta_rss"])))
        peak = max(peak, g["rss"])
        target(g["apply"] / g["floor"] <= 2, "2 GiB tree: apply %.2fx the floor (target 2x)" % (g["apply"] / g["floor"]))
    if want("threads"):
        t = threads(ambrel, work)
        for n, s in t.items():
            rows.append(("builder, 48 changed files of 1 MiB, %d thread%s" % (n, "" if n == 1 else "s"), s, t[1], ""))
        target(t[1] / t[2] >= 1.6, "builder: 2 threads %.2fx faster than 1 (target 1.6x)" % (t[1] / t[2]))
    if want("releases"):
        for name, package, old_v, new_v in RELEASES:
            r = release(ambrel, work, cache, name, package, old_v, new_v)
            rows.append(("%s %s -> %s: apply (floor without sync)" % (name, old_v, new_v), r["apply"], r["floor"],
                         "%.0f MB" % r["rss"]))
            peak = max(peak, r["rss"])
            target(r["apply"] / r["floor"] <= 3, "%s: apply %.2fx the floor (target 3x)" % (name, r["apply"] / r["floor"]))
    target(peak < 64, "peak memory of an apply %.0f MB (target under 64 MB)" % peak)

    print("\n| case | seconds | against | ratio | peak memory |")
    print("|---|---:|---:|---:|---:|")
    for text, value, base, memory in rows:
        if base is None:
            print("| %s | %.2f%s | | | %s |" % (text, value, "x" if text.startswith("growth") else " s", memory))
        else:
            print("| %s | %.2f s | %.2f s | %.2fx | %s |" % (text, value, base, value / base, memory))
    print()
    if missed:
        print("targets MISSED:")
        for m in missed:
            print("  " + m)
    else:
        print("targets met")


if __name__ == "__main__":
    main()
