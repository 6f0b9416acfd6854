#!/usr/bin/python3
"""Writes the seed corpora of the fuzz targets: sox-made WAVE files and
hand-built odd layouts, each behind the two bytes that choose the mode and the
answers. Run it again after changing it; the outputs are committed."""
import os, struct, subprocess, tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "corpus")

def chunk(cid, body, pad=True):
    b = cid + struct.pack("<I", len(body)) + body
    return b + (b"\0" if pad and len(body) % 2 else b"")

def fmt(ch=2, rate=44100, bits=16, size=16, tag=1, align=None):
    align = ch * ((bits + 7) // 8) if align is None else align
    body = struct.pack("<HHIIHH", tag, ch, rate, rate * align, align, bits)
    return chunk(b"fmt ", body + b"\0" * (size - 16))

def riff(chunks, size=None):
    body = b"WAVE" + chunks
    return b"RIFF" + struct.pack("<I", len(body) if size is None else size) + body

ACID = struct.pack("<iHHiiHHf", 22, 60, 0, 0, 8, 4, 4, 120.0)

def sox(args):
    with tempfile.TemporaryDirectory() as d:
        p = os.path.join(d, "s.wav")
        subprocess.run(["sox", "-q", "-n"] + args + [p, "synth", "0.004", "sine", "440"], check=True)
        return open(p, "rb").read()

def write(target, name, data):
    os.makedirs(os.path.join(OUT, target), exist_ok=True)
    with open(os.path.join(OUT, target, name), "wb") as f:
        f.write(data)

waves = {
    "sox16": sox(["-r", "44100", "-c", "2", "-b", "16"]),
    "sox8": sox(["-r", "8000", "-c", "1", "-b", "8", "-e", "unsigned-integer"]),
    "sox24ext": sox(["-r", "48000", "-c", "2", "-b", "24"]),
    "soxfloat": sox(["-r", "44100", "-c", "1", "-b", "32", "-e", "floating-point"]),
    "sox6ch": sox(["-r", "8000", "-c", "6", "-b", "16"]),
}
data = chunk(b"data", bytes(range(40)))
waves.update({
    "tagged": riff(fmt() + data + chunk(b"acid", ACID)),
    "acidfirst": riff(chunk(b"acid", ACID) + fmt() + data),
    "twoacids": riff(chunk(b"acid", ACID) + fmt() + data + chunk(b"acid", ACID)),
    "acid20": riff(fmt() + data + chunk(b"acid", ACID[:20])),
    "oddnopad": riff(fmt(1, 8000, 8) + chunk(b"data", b"\1\2\3", pad=False)),
    "oddnopadcounted": riff(fmt(1, 8000, 8) + chunk(b"data", b"\1\2\3", pad=False), size=4 + 24 + 12),
    "trailing": riff(fmt() + data) + b"TAG" + b" " * 125,
    "size0": riff(fmt() + data, size=0),
    "sizemax": riff(fmt() + data, size=0xFFFFFFFF),
    "cut": riff(fmt() + data)[:-10],
    "fmt18": riff(fmt(size=18) + data),
    "fmt40": riff(fmt(size=40, tag=0xFFFE) + data),
    "bits12": riff(fmt(bits=12, align=4) + data),
    "align0": riff(fmt(align=0) + data),
    "list": riff(fmt() + chunk(b"LIST", b"INFOISFT" + struct.pack("<I", 3) + b"ab\0\0") + data),
    "empty": riff(b""),
    "notwave": b"RIFF" + struct.pack("<I", 4) + b"AVI ",
})
for i, (name, wave) in enumerate(sorted(waves.items())):
    for mode in range(6):
        write("velorize", "%s-m%d" % (name, mode), bytes([mode + 8 * (i % 4), (0x80 if mode == 5 else 0) | i % 64]) + wave)

# What an append stopped before its RIFF size leaves behind the form: the next
# run takes the chunk in, which the oracle accepts for this shape alone.
odd = fmt(1, 8000, 8) + chunk(b"data", b"\1\2\3", pad=False)
left = {
    "leftbehind": riff(fmt() + data) + chunk(b"acid", ACID),
    "leftbehindpad": riff(odd) + b"\0" + chunk(b"acid", ACID),
    "leftbehindtwice": riff(fmt() + data) + chunk(b"acid", ACID) * 2,
}
for i, (name, wave) in enumerate(sorted(left.items())):
    for mode in (0, 2, 5):
        write("velorize", "%s-m%d" % (name, mode), bytes([mode + 8 * i, (0x80 if mode == 5 else 0) | i]) + wave)

patterns = [("kick.WAV", "*.wav"), ("take7.wav", "take#.wav"), ("b", "[a-c]"), ("5", "[!a-z]"),
            ("a[b", "a[b"), ("abcabd", "*abd"), ("\u00e9t\u00e9.wav", "?t?.wav"), ("x-", "x[-]")]
for i, (n, p) in enumerate(patterns):
    write("wildcard", "seed%d" % i, (n + "\n" + p).encode())
