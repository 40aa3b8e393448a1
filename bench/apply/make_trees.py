#!/usr/bin/env python3
"""Makes an old and a new folder tree for the apply benchmark: many small files, a few large
ones, and between the two versions inserted, deleted and changed bytes, added and removed
files. Deterministic for a given seed. Usage: make_trees.py OUT_DIR [TOTAL_MB]"""
import os
import random
import sys


def edit(data: bytes, rng: random.Random) -> bytes:
    """A new version of data: a few inserts, deletes and overwrites at random places."""
    out = bytearray(data)
    for _ in range(rng.randint(1, 6)):
        pos = rng.randrange(0, len(out) + 1)
        kind = rng.choice(("insert", "delete", "change"))
        n = rng.randint(1, max(1, min(4096, len(out) // 20 + 1)))
        if kind == "insert":
            out[pos:pos] = rng.randbytes(n)
        elif kind == "delete":
            del out[pos:pos + n]
        else:
            out[pos:pos + n] = rng.randbytes(len(out[pos:pos + n]))
    return bytes(out)


def write(path: str, data: bytes, mtime: int) -> None:
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    os.utime(path, (mtime, mtime))


def main() -> None:
    out = sys.argv[1]
    total = int(sys.argv[2]) if len(sys.argv) > 2 else 220
    rng = random.Random(20261207)
    old_time, new_time = 1767268800, 1772366400  # 2026-01-01, 2026-03-01 (UTC noon)
    large = [60, 40, 30]  # MB
    small_total = max(0, total - sum(large)) * 1024 * 1024
    files = []
    for i, mb in enumerate(large):
        files.append((f"Data\\Big{i}.pak", mb * 1024 * 1024))
    size = 0
    i = 0
    while size < small_total:
        n = rng.randint(1, 128) * 1024
        files.append((f"Maps\\Area{i // 100:02d}\\Map{i:04d}.dat", n))
        size += n
        i += 1
    for name, n in files:
        # Compressible-ish content: repeated records with random fields.
        block = rng.randbytes(64) * 16 + rng.randbytes(1024)
        data = (block * (n // len(block) + 1))[:n]
        data = bytes(b ^ (j & 7) for j, b in enumerate(data[:4096])) + data[4096:]
        rel = name.replace("\\", "/")
        write(os.path.join(out, "old", rel), data, old_time)
        roll = rng.random()
        if roll < 0.05:
            continue  # removed in the new version
        if roll < 0.55:
            data = edit(data, rng)
        write(os.path.join(out, "new", rel), data, new_time if roll < 0.55 else old_time)
    for i in range(40):  # added files
        write(os.path.join(out, "new", f"Added/File{i:03d}.bin"), rng.randbytes(rng.randint(1, 256) * 1024), new_time)


if __name__ == "__main__":
    main()
