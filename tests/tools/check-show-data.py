#!/usr/bin/python3
"""Reads `velorize --show --format json` and `--format csv` back with Python's
own parsers and checks every record against the bytes of the file it names.
Prints one line a record: the file's name (bytes repr), path_escaped,
accepted and reason."""
import csv
import json
import os
import struct
import sys

NOTES = ["C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"]


def unescape(text):
    """The escaped form of a name back to its bytes."""
    out, i = bytearray(), 0
    while i < len(text):
        if text[i] != "\\":
            out += text[i].encode()
            i += 1
            continue
        kind = text[i + 1]
        if kind in "\\nrt":
            out += {"\\": b"\\", "n": b"\n", "r": b"\r", "t": b"\t"}[kind]
            i += 2
        elif kind == "x":
            out.append(int(text[i + 2:i + 4], 16))
            i += 4
        elif kind == "u":
            out += chr(int(text[i + 2:i + 6], 16)).encode()
            i += 6
        else:
            raise ValueError("unknown escape in " + text)
    return bytes(out)


def chunks(data):
    """The chunks of a RIFF WAVE form as (id, declared size, bytes), or None."""
    if data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        return None
    end, pos, found = min(len(data), 8 + struct.unpack("<I", data[4:8])[0]), 12, []
    while pos + 8 <= end:
        size = struct.unpack("<I", data[pos + 4:pos + 8])[0]
        found.append((data[pos:pos + 4], size, data[pos + 8:pos + 8 + size]))
        pos += 8 + size + (size & 1)
    return found


def check(record):
    path = unescape(record["path"]) if record["path_escaped"] else record["path"].encode()
    with open(path, "rb") as f:
        form = chunks(f.read())
    acids = [c for c in form or [] if c[0] == b"acid"]
    assert record["acid"] == bool(acids) and record["acid_chunks"] == len(acids), record
    if record["mode"] is not None:
        mode, midi, beats, den, num, tempo = struct.unpack("<ih6xihhf", acids[0][2])
        assert (record["mode"], record["midi_base"], record["beats"]) == (mode, midi, beats), record
        assert record["meter"] == "%d/%d" % (num, den), record
        assert struct.pack("<f", record["tempo"]) == struct.pack("<f", tempo), record
        assert record["root_note"] == (NOTES[midi % 12] if mode & 2 else None), record
        kind = "loop" if not mode & 9 else "one-shot" if mode & 9 == 1 else "disk-based"
        assert record["kind"].startswith(kind), record
    fmt = [c for c in form or [] if c[0] == b"fmt "]
    if fmt:
        channels, rate, _, align, bits = struct.unpack("<2xHIIHH", fmt[0][2][:16])
        assert (record["channels"], record["rate"], record["bits"]) == (channels, rate, bits), record
        size = [c for c in form if c[0] == b"data"][0][1]
        assert record["frames"] == size // align and record["duration"] == size // align / rate, record
    else:
        assert record["frames"] is None and record["channels"] is None, record
    return path


def same(text, value):
    """A CSV field says what the JSON value says."""
    if value is None:
        return text == ""
    if isinstance(value, bool):
        return text == ("true" if value else "false")
    if isinstance(value, (int, float)):
        return type(value)(text) == value
    return text == value


def main():
    with open(sys.argv[1], encoding="utf-8") as f:
        records = [json.loads(line) for line in f]
    with open(sys.argv[2], newline="", encoding="utf-8") as f:
        rows = list(csv.DictReader(f))
    assert len(rows) == len(records) > 0
    for record, row in zip(records, rows):
        assert list(row) == list(record), (list(row), list(record))
        assert all(same(row[k], v) for k, v in record.items()), (row, record)
        path = check(record)
        print(repr(os.path.basename(path)), record["path_escaped"], record["accepted"], record["reason"])


main()
