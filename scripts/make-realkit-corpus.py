#!/usr/bin/python3
"""Makes loops from real recorded drum kits, for measuring beat detection by hand.

Usage: scripts/make-realkit-corpus.py FOLDER [--kits tune|held-out|all] [--seed N] [--drums N] [--bass N]

A development tool, not a test: it needs Debian's hydrogen-drumkits package
(multi-sampled recordings of real kits), which the test suite does not
install. The kits are split in two: `tune` ones to fit the detector on and
`held-out` ones never looked at while fitting, whose figures are the honest
ones. Drum loops are arranged in common patterns (rock, house, hip-hop,
drum and bass, half-time, funk with ghost notes, shuffles, fills, a crash at
the start, open hats); bass lines are synthesized as in the test corpus and
some are laid over the kit. Writes FOLDER/labels.csv as make-detect-corpus.py
does, so tests/tools/detect-accuracy.py measures it.
"""
import argparse, importlib.util, os, re, subprocess, sys, xml.etree.ElementTree as ET

import numpy as np

KITS = "/usr/share/hydrogen/data/drumkits"
TUNE = ["ElectricEmpireKit", "ForzeeStereo", "VariBreaks", "rumpf_kit_z01_h2", "HardElectro1",
        "ColomboAcousticDrumkit"]
HELD_OUT = ["Audiophob", "BJA_Pacific", "Millo-Drums_v.1", "Millo_MultiLayered2", "Millo_MultiLayered3",
            "The Black Pearl 1.0"]

here = os.path.dirname(os.path.abspath(__file__))
found = importlib.util.spec_from_file_location("corpus", os.path.join(here, "..", "tests", "tools",
                                                                     "make-detect-corpus.py"))
corpus = importlib.util.module_from_spec(found)
found.loader.exec_module(corpus)

# Instrument names to roles; the first match wins.
ROLES = [("open", r"open|op\b|hat op|semi-open|ohh"), ("hat", r"closed|hh|hi.?hat|hat"),
         ("kick", r"kick|bass ?drum|bassdrum|\bbd\b"), ("clap", r"clap"), ("rim", r"stick|rim"),
         ("snare", r"snare"), ("crash", r"crash|splash"), ("ride", r"ride"), ("tom", r"tom")]


def load(path, rate):
    raw = subprocess.run(["sox", "-q", path, "-t", "f32", "-c", "1", "-r", str(rate), "-"], capture_output=True,
                         check=True).stdout
    x = np.frombuffer(raw, dtype="<f4").astype(float)
    return x / (np.max(np.abs(x)) + 1e-9)


class RealKit:
    def __init__(self, folder, rng, rate):
        self.rng, self.rate, self.cache = rng, rate, {}
        root = ET.parse(os.path.join(folder, "drumkit.xml")).getroot()
        for e in root.iter():  # newer kits carry a namespace
            e.tag = e.tag.rsplit("}", 1)[-1]
        self.layers = {}
        for inst in root.iter("instrument"):
            name = (inst.findtext("name") or "").lower()
            files = [(l.findtext("filename"), float(l.findtext("min") or 0), float(l.findtext("max") or 1))
                     for l in inst.iter("layer")]
            if not files and inst.findtext("filename"):
                files = [(inst.findtext("filename"), 0.0, 1.0)]
            files = [f for f in files if f[0] and os.path.exists(os.path.join(folder, f[0]))]
            if not files or "roll" in name:
                continue
            for role, pattern in ROLES:
                if re.search(pattern, name):
                    if role == "hat" and "pedal" in name and "hat" in self.layers:
                        break
                    self.layers.setdefault(role, (folder, files))
                    break
        self.layers.setdefault("clap", self.layers.get("snare"))
        self.layers.setdefault("open", self.layers.get("hat"))
        self.layers.setdefault("rim", self.layers.get("snare"))
        self.layers.setdefault("tom", self.layers.get("snare"))
        self.layers.setdefault("crash", self.layers.get("open"))
        self.layers.setdefault("ride", self.layers.get("hat"))

    def usable(self):
        return all(self.layers.get(r) for r in ("kick", "snare", "hat"))

    def hit(self, name, velocity=1.0):
        folder, files = self.layers[name]
        pick = [f for f in files if f[1] <= velocity <= f[2]] or files
        f = pick[int(self.rng.integers(0, len(pick)))][0]
        key = (folder, f)
        if key not in self.cache:
            self.cache[key] = load(os.path.join(folder, f), self.rate)
        return self.cache[key]


STYLES = ["rock", "rock", "house", "hiphop", "hiphop", "breakbeat", "funk", "halftime", "shuffle", "dnb", "ride"]


def pattern(rng, style, bars):
    if style == "dnb":
        ev = []
        for bar in range(bars):
            o = bar * 16
            for s in [0, 10] + ([6] if rng.random() < 0.5 else []):
                ev.append((o + s, "kick", rng.uniform(0.8, 1.0)))
            for s in (4, 12):
                ev.append((o + s, "snare", rng.uniform(0.85, 1.0)))
            for s in range(0, 16, 2):
                ev.append((o + s, "hat", rng.uniform(0.4, 0.8)))
            for s in (7, 9, 15):
                if rng.random() < 0.3:
                    ev.append((o + s, "snare", rng.uniform(0.15, 0.35)))
        return ev
    if style == "ride":  # a jazz-ish ride with kick and snare on the beats
        ev = []
        for bar in range(bars):
            o = bar * 16
            for s in (0, 4, 6, 8, 12, 14):
                ev.append((o + s, "ride", rng.uniform(0.5, 0.9)))
            for s in (0, 8):
                ev.append((o + s, "kick", rng.uniform(0.7, 1.0)))
            for s in (4, 12):
                ev.append((o + s, "snare", rng.uniform(0.7, 1.0)))
        return ev
    return corpus.drum_pattern(rng, "rock" if style == "shuffle" else style, bars)


def drum_loop(rng, kits, path, with_bass):
    bars, bpm = corpus.bars_and_tempo(rng)
    style = str(rng.choice(STYLES))
    if style == "dnb":
        bpm = float(rng.uniform(160, 180))
    beats = bars * 4
    seconds = beats * 60 / bpm
    channels = 1 if rng.random() < 0.4 else 2
    rate, coding = corpus.choose_format(rng, seconds, channels)
    loop = int(round(seconds * rate))
    kit = RealKit(os.path.join(KITS, kits[int(rng.integers(0, len(kits)))]), rng, rate)
    buf = np.zeros(loop)
    six = 60 / bpm / 4
    swing = rng.choice([0, 0, 0, rng.uniform(0.1, 0.33)]) if style != "shuffle" else rng.uniform(0.25, 0.33)
    jitter = rng.uniform(0, 0.01)
    events = pattern(rng, style, bars)
    if rng.random() < 0.3:
        events.append((0, "crash", rng.uniform(0.7, 1.0)))
    for step, inst, vel in events:
        t = step * six + (swing * 2 * six if step % 2 == 1 else 0) + rng.normal(0, jitter)
        corpus.place(buf, kit.hit(inst, vel) * vel, int(round(max(t, 0) * rate)), 1.0, loop)
    root = ""
    if with_bass:
        tonic = int(rng.integers(0, 12))
        root = corpus.NOTES[tonic]
        bass = bass_line(rng, tonic, beats, bpm, rate, loop)
        buf = buf / (np.max(np.abs(buf)) + 1e-9) + bass * rng.uniform(0.4, 1.0) / (np.max(np.abs(bass)) + 1e-9)
    corpus.save(rng, buf, path, rate, channels, coding)
    return dict(kind="drums", beats=beats, bpm=round(bpm, 2), root="")


def bass_line(rng, tonic, beats, bpm, rate, loop):
    scale = corpus.MINOR if rng.random() < 0.6 else corpus.MAJOR
    base = 28 + (tonic - 28) % 12 + int(rng.choice([0, 12]))
    voice = str(rng.choice(["saw", "square", "sine", "fm", "pluck"]))
    six = 60 / bpm / 4
    buf = np.zeros(loop)
    style = str(rng.choice(["beats", "eighths", "syncopated", "held"]))
    step = 0
    while step < beats * 4:
        if style == "beats":
            length = 4
        elif style == "eighths":
            length = 2
        elif style == "held":
            length = int(rng.choice([4, 8, 8, 16]))
        else:
            length = int(rng.choice([1, 2, 3, 3, 4, 6]))
        length = min(length, beats * 4 - step)
        deg = 0 if step % 16 == 0 or rng.random() < 0.4 else int(rng.choice([0, 4, 4, 3, 6, 2, 5]))
        if rng.random() < 0.12 and step % 16:
            step += length
            continue
        midi = base + scale[deg] + (12 if rng.random() < 0.1 else 0)
        x = corpus.synth_note(rng, voice, midi, length * six * rng.uniform(0.5, 0.97), rate)
        corpus.place(buf, x, int(round(step * six * rate)), rng.uniform(0.7, 1.0), loop)
        step += length
    return corpus.soft_lowpass(buf, rng.uniform(250, 3000), rate)


def bass_loop(rng, path):
    bpm, beats, seconds, channels, rate, coding = corpus.bass_shape(rng)
    loop = int(round(seconds * rate))
    tonic = int(rng.integers(0, 12))
    corpus.save(rng, bass_line(rng, tonic, beats, bpm, rate, loop), path, rate, channels, coding)
    return dict(kind="bass", beats=beats, bpm=bpm, root=corpus.NOTES[tonic])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("folder")
    ap.add_argument("--kits", choices=["tune", "held-out", "all"], default="held-out")
    ap.add_argument("--seed", type=int, default=7)
    ap.add_argument("--drums", type=int, default=100)
    ap.add_argument("--bass", type=int, default=40)
    a = ap.parse_args()
    names = {"tune": TUNE, "held-out": HELD_OUT, "all": TUNE + HELD_OUT}[a.kits]
    kits = [k for k in names if RealKit(os.path.join(KITS, k), np.random.default_rng(0), 44100).usable()]
    if not kits:
        sys.exit("no usable kit in " + KITS + " (apt-get install hydrogen-drumkits)")
    rng = np.random.default_rng(a.seed)
    rows = []
    for kind, count in (("drums", a.drums), ("bass", a.bass)):
        os.makedirs(os.path.join(a.folder, kind), exist_ok=True)
        for i in range(count):
            name = os.path.join(kind, "%s%03d.wav" % (kind, i))
            path = os.path.join(a.folder, name)
            label = drum_loop(rng, kits, path, rng.random() < 0.2) if kind == "drums" else bass_loop(rng, path)
            rows.append(dict(file=name, **label))
    corpus.write_labels(a.folder, rows)


if __name__ == "__main__":
    sys.exit(main())
