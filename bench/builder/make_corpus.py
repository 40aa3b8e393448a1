#!/usr/bin/env python3
"""Makes the corpus of the package-builder benchmark: an old and a new version of a game's
folder, about 130 MB, deterministic for a given seed.

  Maps/      binary level files: a name table, a record offset table and typed records;
             new versions insert, delete and move records and move some actors.
  Data/      one archive over 50 MB with a directory at its end; some assets replaced,
             inserted and removed.
  Scripts/   script sources; project-wide symbol renames and edited functions.
  Textures/  raw mip-mapped textures; some repainted in part, some replaced.
  Sounds/    compressed sound data (incompressible); a few replaced.
  System/    small text configuration files with edited lines.
Some files are added, some removed, and a few change only their time stamp.

Usage: make_corpus.py OUT_DIR [SEED]   (writes OUT_DIR/old and OUT_DIR/new)
"""
import os
import random
import re
import struct
import sys

OLD_TIME = 1709294400  # 2024-03-01 12:00 UTC
NEW_TIME = 1717243200  # 2024-06-01 12:00 UTC

# ---- helpers -----------------------------------------------------------------------------

CLAMP = bytes(min(v, 239) for v in range(256))
SMALL = bytes(v & 15 for v in range(256))
REP4 = [bytes([v]) * 4 for v in range(256)]


def add_bytes(a: bytes, b: bytes) -> bytes:
    """Bytewise a + b where no byte sum exceeds 255 (a is clamped to 239, b below 16)."""
    n = len(a)
    return (int.from_bytes(a, "little") + int.from_bytes(b, "little")).to_bytes(n, "little")


def smooth_image(rng: random.Random, width: int, height: int) -> bytes:
    """Grey-scale-like pixel bytes: blocks of 4x4 upscaled from a coarse image, plus noise."""
    rows = []
    cw = max(1, width // 4)
    level = rng.randrange(256)
    for _ in range(max(1, height // 4)):
        coarse = bytearray(rng.randbytes(cw))
        # Bias towards a slowly varying base level so neighbouring pixels correlate.
        level = (level + rng.randrange(-8, 9)) & 0xFF
        coarse = bytes(((c >> 3) + level) & 0xFF for c in coarse)
        row = b"".join(REP4[v] for v in coarse)[:width]
        rows.append(row * 4)
    base = b"".join(rows)[: width * height].translate(CLAMP)
    noise = rng.randbytes(len(base)).translate(SMALL)
    return add_bytes(base, noise)


def texture(rng: random.Random, side: int) -> bytes:
    """A texture file: header, then the RGBA mip chain."""
    header = b"TEX1" + struct.pack("<IIII", side, side, 4, 0)
    mips = []
    s = side
    while s >= 4:
        mips.append(smooth_image(rng, s * 4, s))
        s //= 2
    return header + b"".join(mips)


def repaint(rng: random.Random, data: bytes) -> bytes:
    """Changes a rectangle of the top mip level of a texture."""
    side = struct.unpack_from("<I", data, 4)[0]
    stride = side * 4
    out = bytearray(data)
    w = rng.randint(side // 8, side // 2) * 4
    h = rng.randint(side // 8, side // 2)
    x0 = rng.randrange(0, stride - w + 1)
    y0 = rng.randrange(0, side - h + 1)
    patch = smooth_image(rng, w, h)
    for y in range(h):
        at = 20 + (y0 + y) * stride + x0
        out[at:at + w] = patch[y * w:(y + 1) * w]
    return bytes(out)


# ---- level files --------------------------------------------------------------------------

KINDS = ["StaticMesh", "Light", "PlayerStart", "Trigger", "Mover", "Emitter", "Pickup",
         "Brush", "Volume", "Sound", "Decoration", "Path"]


def make_record(rng: random.Random, names: int) -> bytes:
    kind = rng.randrange(len(KINDS))
    rid = rng.randrange(1 << 24)
    pos = [rng.uniform(-8192, 8192) for _ in range(3)]
    rot = [rng.choice((0, 16384, 32768, 49152, rng.randrange(65536))) for _ in range(3)]
    head = struct.pack("<HIH3f3HI", kind, rid, rng.randrange(names), *pos, *rot,
                       rng.choice((0, 1, 0x40, 0x41, 0x200)))
    props = []
    for _ in range(rng.randint(1, 6)):
        pname = rng.choice(("DrawScale", "bHidden", "LightRadius", "Tag", "Event", "Skin",
                            "CollisionRadius", "CollisionHeight", "AmbientGlow"))
        props.append(pname.encode() + b"\0" + struct.pack("<f", rng.choice((1.0, 0.5, 2.0, rng.uniform(0, 512)))))
    body = b"".join(props)
    if kind in (0, 7) and rng.random() < 0.6:  # meshes and brushes carry geometry / lightmaps
        n = rng.randint(64, 1536)
        verts = struct.pack("<%df" % (n // 4 * 3), *[round(rng.uniform(-256, 256)) / 4 for _ in range(n // 4 * 3)])
        light = smooth_image(rng, rng.choice((16, 32, 64)), 16)
        body += verts + light
    return struct.pack("<I", len(head) + len(body)) + head + body


def level_file(names, records) -> bytes:
    name_blob = b"".join(n.encode() + b"\0" for n in names)
    count = len(records)
    table_at = 16 + len(name_blob)
    data_at = table_at + 4 * count
    offsets = []
    at = data_at
    for r in records:
        offsets.append(at)
        at += len(r)
    header = b"LVL3" + struct.pack("<III", len(names), count, table_at)
    return header + name_blob + struct.pack("<%dI" % count, *offsets) + b"".join(records)


def make_level(rng: random.Random, vocab):
    names = [rng.choice(vocab) + "_" + str(rng.randrange(1000)) for _ in range(rng.randint(150, 600))]
    records = [make_record(rng, len(names)) for _ in range(rng.randint(800, 4000))]
    return names, records


def edit_level(rng: random.Random, names, records, vocab):
    names = list(names)
    records = list(records)
    for _ in range(rng.randint(0, 12)):
        names.insert(rng.randrange(len(names) + 1), rng.choice(vocab) + "_" + str(rng.randrange(1000)))
    for _ in range(rng.randint(1, 25)):  # delete
        del records[rng.randrange(len(records))]
    for _ in range(rng.randint(1, 25)):  # insert
        records.insert(rng.randrange(len(records) + 1), make_record(rng, len(names)))
    for _ in range(rng.randint(0, 3)):  # move a block
        a = rng.randrange(len(records))
        n = rng.randint(3, 60)
        block = records[a:a + n]
        del records[a:a + n]
        at = rng.randrange(len(records) + 1)
        records[at:at] = block
    for _ in range(len(records) * rng.randint(1, 5) // 100):  # moved actors
        i = rng.randrange(len(records))
        r = bytearray(records[i])
        struct.pack_into("<3f", r, 4 + 8, *[rng.uniform(-8192, 8192) for _ in range(3)])
        records[i] = bytes(r)
    return names, records


# ---- scripts ------------------------------------------------------------------------------

SYLLABLES = ["Player", "Pawn", "Weapon", "Ammo", "Health", "Armor", "Team", "Score", "Game",
             "Info", "Bot", "Path", "Node", "Spawn", "Target", "Damage", "Fire", "Alt",
             "Reload", "Switch", "Inventory", "Pickup", "Effect", "Sound", "Anim", "Mesh",
             "Trace", "Hit", "Zone", "Mover", "Trigger", "Event", "Timer", "State", "Rate",
             "Count", "Max", "Min", "Current", "Last", "Next", "Owner", "Instigator", "View"]
VERBS = ["Update", "Get", "Set", "Check", "Handle", "Process", "Find", "Reset", "Start",
         "Stop", "Notify", "Calc", "Play", "Toggle", "Spawn", "Destroy", "Init", "Give"]


def identifier(rng: random.Random, verb: bool) -> str:
    parts = [rng.choice(VERBS)] if verb else []
    parts += [rng.choice(SYLLABLES) for _ in range(rng.randint(1, 3))]
    return "".join(parts)


def zipf_pick(rng: random.Random, items):
    # Earlier items are much more common, as in real code.
    return items[min(len(items) - 1, int(rng.paretovariate(1.1)) - 1)]


def script_function(rng: random.Random, funcs, vars_) -> str:
    name = rng.choice(funcs)
    args = ", ".join("%s %s" % (rng.choice(("int", "float", "bool", "Actor", "name")), zipf_pick(rng, vars_))
                     for _ in range(rng.randint(0, 3)))
    lines = ["function %s(%s)" % (name, args), "{"]
    locals_ = [zipf_pick(rng, vars_) for _ in range(rng.randint(0, 3))]
    for v in locals_:
        lines.append("    local %s %s;" % (rng.choice(("int", "float", "Pawn", "vector")), v))
    depth = 1
    for _ in range(rng.randint(3, 25)):
        ind = "    " * depth
        k = rng.random()
        if k < 0.3:
            lines.append("%s%s = %s %s %s;" % (ind, zipf_pick(rng, vars_), zipf_pick(rng, vars_),
                                               rng.choice("+-*/"), rng.choice((zipf_pick(rng, vars_), str(rng.randrange(100))))))
        elif k < 0.55:
            lines.append("%s%s(%s);" % (ind, zipf_pick(rng, funcs), ", ".join(zipf_pick(rng, vars_) for _ in range(rng.randint(0, 3)))))
        elif k < 0.7 and depth < 4:
            lines.append("%sif ( %s %s %s )" % (ind, zipf_pick(rng, vars_), rng.choice(("==", "!=", "<", ">")), zipf_pick(rng, vars_)))
            lines.append(ind + "{")
            depth += 1
        elif k < 0.85 and depth > 1:
            depth -= 1
            lines.append("    " * depth + "}")
        else:
            lines.append("%s// %s %s the %s." % (ind, rng.choice(("Make sure", "Note:", "TODO", "Here")),
                                                 rng.choice(("we", "this", "it")), zipf_pick(rng, vars_)))
    while depth > 1:
        depth -= 1
        lines.append("    " * depth + "}")
    lines.append("}")
    return "\n".join(lines) + "\n"


def make_script(rng: random.Random, cls: str, funcs, vars_) -> list:
    parts = ["//" + "=" * 70 + "\n// %s.\n//" % cls + "=" * 70 + "\nclass %s extends %s;\n\n" % (cls, rng.choice(funcs)[:8])]
    for _ in range(rng.randint(5, 30)):
        parts.append("var() %s %s;\n" % (rng.choice(("int", "float", "bool", "name", "sound")), zipf_pick(rng, vars_)))
    parts.append("\n")
    target = rng.randint(20, 300) * 1024
    size = sum(len(p) for p in parts)
    while size < target:
        f = script_function(rng, funcs, vars_) + "\n"
        parts.append(f)
        size += len(f)
    return parts


# ---- main ---------------------------------------------------------------------------------

def write(path: str, data: bytes, mtime: int) -> None:
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    os.utime(path, (mtime, mtime))


def main() -> None:
    out = sys.argv[1]
    seed = int(sys.argv[2]) if len(sys.argv) > 2 else 1999
    rng = random.Random(seed)
    old_dir = os.path.join(out, "old")
    new_dir = os.path.join(out, "new")

    def both(rel, old, new, changed_time=None):
        """Writes the old and new version of a file (None: absent in that version)."""
        if old is not None:
            write(os.path.join(old_dir, rel), old, OLD_TIME)
        if new is not None:
            same = old is not None and new == old
            t = changed_time if changed_time is not None else (OLD_TIME if same else NEW_TIME)
            write(os.path.join(new_dir, rel), new, t)

    vocab = [identifier(rng, False) for _ in range(300)]

    # Level files: most are edited, one is removed, two are added.
    for i in range(30):
        names, records = make_level(rng, vocab)
        old = level_file(names, records)
        roll = rng.random()
        if i == 7:
            new = None
        elif roll < 0.85:
            new = level_file(*edit_level(rng, names, records, vocab))
        else:
            new = old
        both("Maps/Level%02d.lvl" % i, old, new)
    for i in range(2):
        both("Maps/Bonus%d.lvl" % i, None, level_file(*make_level(rng, vocab)))

    # The archive: assets with a directory at the end.
    assets = []
    while sum(len(a[1]) for a in assets) < 58 * 1024 * 1024:
        k = rng.random()
        if k < 0.45:
            assets.append(("tex%04d" % len(assets), texture(rng, rng.choice((64, 128, 256)))))
        elif k < 0.7:
            assets.append(("snd%04d" % len(assets), rng.randbytes(rng.randint(20, 400) * 1024)))
        else:
            n = rng.randint(1000, 30000)
            assets.append(("msh%04d" % len(assets), struct.pack("<%df" % n, *[round(rng.uniform(-512, 512), 1) for _ in range(n)])))

    def archive(items):
        body = b"".join(d for _, d in items)
        dir_ = []
        at = 16
        for name, d in items:
            dir_.append(name.encode().ljust(16, b"\0") + struct.pack("<II", at, len(d)))
            at += len(d)
        return b"PAK1" + struct.pack("<III", len(items), 16 + len(body), 0) + body + b"".join(dir_)

    new_assets = list(assets)
    for _ in range(len(new_assets) * 3 // 100):  # replaced
        i = rng.randrange(len(new_assets))
        name, d = new_assets[i]
        d2 = repaint(rng, d) if name.startswith("tex") else rng.randbytes(len(d) + rng.randint(-999, 999))
        new_assets[i] = (name, d2)
    for _ in range(len(new_assets) // 100):  # removed
        del new_assets[rng.randrange(len(new_assets))]
    for _ in range(len(new_assets) // 100):  # inserted
        new_assets.insert(rng.randrange(len(new_assets)), ("new%04d" % rng.randrange(10000), texture(rng, 128)))
    both("Data/World.pak", archive(assets), archive(new_assets))

    # Scripts: project-wide renames of frequently used symbols plus edited functions.
    funcs = [identifier(rng, True) for _ in range(400)]
    vars_ = [identifier(rng, False) for _ in range(500)]
    renames = {}
    for sym in funcs[:8] + vars_[:8]:
        renames[sym] = identifier(rng, sym in funcs[:8])
    pattern = re.compile(r"\b(" + "|".join(re.escape(s) for s in renames) + r")\b")
    for i in range(45):
        cls = "Script%02d" % i
        parts = make_script(rng, cls, funcs, vars_)
        old = "".join(parts).encode()
        if i == 30:
            both("Scripts/%s.uc" % cls, old, None)
            continue
        if rng.random() < 0.8:
            for _ in range(rng.randint(0, 4)):
                parts.insert(rng.randrange(2, len(parts) + 1), script_function(rng, funcs, vars_) + "\n")
            for _ in range(rng.randint(0, 2)):
                if len(parts) > 4:
                    del parts[rng.randrange(2, len(parts))]
            text = pattern.sub(lambda m: renames[m.group(1)], "".join(parts))
            new = text.encode()
        else:
            new = old
        both("Scripts/%s.uc" % cls, old, new)
    both("Scripts/NewModes.uc", None, "".join(make_script(rng, "NewModes", funcs, vars_)).encode())

    # Textures: most unchanged, some repainted in part, some replaced, a few added/removed.
    for i in range(70):
        side = rng.choice((64, 128, 256, 256, 512))
        old = texture(rng, side)
        k = rng.random()
        if i in (11, 40):
            new = None
        elif k < 0.2:
            new = repaint(rng, old)
        elif k < 0.27:
            new = texture(rng, side)
        else:
            new = old
        both("Textures/T%03d.tex" % i, old, new)
    for i in range(3):
        both("Textures/Added%d.tex" % i, None, texture(rng, rng.choice((128, 256))))

    # Sounds: compressed data, a few replaced, one added, one removed.
    for i in range(25):
        old = rng.randbytes(rng.randint(100, 1000) * 1024)
        k = rng.random()
        new = None if i == 3 else (rng.randbytes(len(old)) if k < 0.1 else old)
        both("Sounds/S%02d.snd" % i, old, new)
    both("Sounds/Announcer.snd", None, rng.randbytes(300 * 1024))

    # System: configuration text with edited lines; two files change only their stamp.
    for i, name in enumerate(("Game.ini", "User.ini", "Engine.int", "Menu.int", "Botpack.int")):
        lines = ["[%s]" % rng.choice(vocab)]
        for _ in range(rng.randint(50, 400)):
            if rng.random() < 0.08:
                lines.append("")
                lines.append("[%s.%s]" % (rng.choice(vocab), rng.choice(vocab)))
            lines.append("%s=%s" % (rng.choice(vars_), rng.choice((str(rng.randrange(1000)), "True", "False", rng.choice(vocab)))))
        old = ("\r\n".join(lines) + "\r\n").encode()
        if i < 3:
            for _ in range(rng.randint(1, 10)):
                j = rng.randrange(len(lines))
                lines[j] = "%s=%s" % (rng.choice(vars_), rng.randrange(1000))
            both("System/" + name, old, ("\r\n".join(lines) + "\r\n").encode())
        else:
            both("System/" + name, old, old, changed_time=NEW_TIME)


if __name__ == "__main__":
    main()
