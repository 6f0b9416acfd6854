#!/usr/bin/python3
"""Makes a labelled corpus of loops and one-shots for measuring beat and root detection.

Usage: make-detect-corpus.py FOLDER [--seed N] [--drums N] [--bass N] [--shots N]

Drum loops from synthesized kits (kick, snare, clap, hats, toms, rim) in
several styles, with swing, ghost notes, fills, timing and level jitter,
noise, fade-ins and silence at the ends; bass lines in a key, from several
synth voices; pitched one-shots of several timbres. 1 to 32 bars, 60 to 200
bpm, 8- to 32-bit PCM and float (some extensible), mono and stereo, 22.05 to
96 kHz. Writes FOLDER/labels.csv: file,kind,beats,bpm,root (root as C..B,
empty for drums).
"""
import argparse, csv, os, struct, sys

import numpy as np

NOTES = ["C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"]
RATES = [22050, 32000, 44100, 44100, 48000, 48000, 88200, 96000]
CODINGS = ["u8", "s16", "s16", "s16", "s24", "s24", "s32", "f32", "f32x", "s24x"]
MAX_BYTES = 3 << 20  # a file at most; long loops go down in rate, width and channels


def write_wave(path, audio, rate, coding):
    """audio: (frames, channels) floats in [-1, 1]."""
    frames, channels = audio.shape
    x = np.clip(audio, -1.0, 1.0 - 1.0 / 32768)
    ext = coding.endswith("x")
    base = coding.rstrip("x")
    if base == "u8":
        data, bits, tag = (np.round(x * 127) + 128).astype(np.uint8).tobytes(), 8, 1
    elif base == "s16":
        data, bits, tag = np.round(x * 32767).astype("<i2").tobytes(), 16, 1
    elif base == "s24":
        v = np.round(x * 8388607).astype("<i4").reshape(-1)
        b = v.view(np.uint8).reshape(-1, 4)[:, :3]
        data, bits, tag = b.tobytes(), 24, 1
    elif base == "s32":
        data, bits, tag = np.round(x * 2147483000).astype("<i4").tobytes(), 32, 1
    else:
        data, bits, tag = x.astype("<f4").tobytes(), 32, 3
    align = channels * bits // 8
    if ext:
        guid = struct.pack("<I", tag) + bytes([0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71])
        mask = 4 if channels == 1 else 3
        fmt = struct.pack("<HHIIHHHHI", 0xFFFE, channels, rate, rate * align, align, bits, 22, bits, mask) + guid
    else:
        fmt = struct.pack("<HHIIHH", tag, channels, rate, rate * align, align, bits)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", len(data)) + data
    if len(data) % 2:
        body += b"\0"
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", len(body)) + body)


def lowpass(x, cutoff, rate):
    a = np.exp(-2 * np.pi * min(cutoff, rate * 0.45) / rate)
    y = np.empty_like(x)
    acc = 0.0
    for i in range(len(x)):  # short hits only
        acc = (1 - a) * x[i] + a * acc
        y[i] = acc
    return y


def soft_lowpass(x, cutoff, rate):
    """A one-pole low-pass for a whole loop, applied round its circle."""
    f = np.fft.rfftfreq(len(x), 1 / rate)
    return np.fft.irfft(np.fft.rfft(x) / (1 + 1j * f / cutoff), len(x))


class Kit:
    def __init__(self, rng, rate):
        self.rng, self.rate = rng, rate
        r = rng.uniform
        self.kick = dict(f0=r(90, 200), f1=r(38, 65), sweep=r(0.015, 0.06), decay=r(0.12, 0.45), click=r(0, 0.5))
        self.snare = dict(tone=r(150, 260), decay=r(0.08, 0.25), noise=r(0.5, 1.0), bright=r(2500, 8000))
        self.hat = dict(decay=r(0.025, 0.07), bright=r(5000, 11000))
        self.open = dict(decay=r(0.15, 0.4))
        self.tom = dict(f=r(80, 220), decay=r(0.15, 0.35))
        self.room = r(0, 0.4)
        self.cache = {}

    def t(self, seconds):
        return np.arange(int(seconds * self.rate)) / self.rate

    def noise(self, n):
        return self.rng.standard_normal(n)

    def hit(self, name):
        if name in self.cache:
            return self.cache[name]
        rate = self.rate
        if name == "kick":
            k = self.kick
            t = self.t(k["decay"] * 4)
            f = k["f1"] + (k["f0"] - k["f1"]) * np.exp(-t / k["sweep"])
            x = np.sin(2 * np.pi * np.cumsum(f) / rate) * np.exp(-t / k["decay"])
            n = min(len(t), int(0.004 * rate))
            x[:n] += k["click"] * self.noise(n) * np.linspace(1, 0, n)
        elif name == "snare":
            s = self.snare
            t = self.t(s["decay"] * 4)
            body = np.sin(2 * np.pi * s["tone"] * t) * np.exp(-t / (s["decay"] * 0.5))
            nz = self.noise(len(t))
            nz = nz - lowpass(nz, 800, rate) if len(t) < 30000 else nz
            nz = lowpass(nz, s["bright"], rate) if len(t) < 30000 else nz
            x = 0.5 * body + s["noise"] * nz * np.exp(-t / s["decay"])
        elif name == "clap":
            t = self.t(0.3)
            env = np.zeros(len(t))
            for d in (0.0, 0.011, 0.022):
                i = int(d * rate)
                env[i:] += np.exp(-(t[: len(t) - i]) / (0.01 if d < 0.02 else 0.09))
            nz = self.noise(len(t))
            x = (nz - lowpass(nz, 1000, rate)) * env * 0.6
        elif name in ("hat", "open"):
            dec = self.hat["decay"] if name == "hat" else self.open["decay"]
            t = self.t(dec * 5)
            nz = self.noise(len(t))
            nz = nz - lowpass(nz, min(self.hat["bright"], rate * 0.4), rate)
            x = nz * np.exp(-t / dec) * 0.6
        elif name == "tom":
            k = self.tom
            t = self.t(k["decay"] * 4)
            f = k["f"] * (1 + 0.5 * np.exp(-t / 0.03))
            x = np.sin(2 * np.pi * np.cumsum(f) / rate) * np.exp(-t / k["decay"])
        else:  # rim
            t = self.t(0.05)
            x = np.sin(2 * np.pi * 1700 * t) * np.exp(-t / 0.008) + 0.3 * self.noise(len(t)) * np.exp(-t / 0.004)
        if self.room > 0:
            tail = np.zeros(len(x) + int(0.25 * rate))
            tail[: len(x)] = x
            for d, g in ((0.023, 0.5), (0.041, 0.35), (0.067, 0.25), (0.11, 0.15)):
                i = int(d * rate)
                tail[i : i + len(x)] += self.room * g * x
            x = tail
        x = x / (np.max(np.abs(x)) + 1e-9)
        self.cache[name] = x
        return x


STYLES = ["rock", "rock", "house", "hiphop", "hiphop", "breakbeat", "funk", "halftime", "shuffle"]


def drum_pattern(rng, style, bars):
    """Events: (step in sixteenths from the start, instrument, velocity)."""
    ev = []
    sixteenth_hats = rng.random() < 0.4
    for bar in range(bars):
        o = bar * 16
        fill = bar == bars - 1 and bars > 1 and rng.random() < 0.35
        if style == "house":
            kicks, snares = [0, 4, 8, 12], [4, 12]
            snare_inst = "clap"
        elif style == "hiphop":
            kicks = [0, 10] + ([7] if rng.random() < 0.5 else []) + ([14] if rng.random() < 0.3 else [])
            snares, snare_inst = [4, 12], "snare"
        elif style == "breakbeat":
            kicks, snares, snare_inst = [0, 10], [4, 12], "snare"
        elif style == "funk":
            kicks = [0, 3, 8] + ([11] if rng.random() < 0.5 else [])
            snares, snare_inst = [4, 12], "snare"
        elif style == "halftime":
            kicks, snares, snare_inst = [0, 6, 11], [8], "snare"
        else:  # rock and shuffle
            kicks = [0, 8] + ([6] if rng.random() < 0.4 else [])
            snares, snare_inst = [4, 12], "snare"
        for s in kicks:
            ev.append((o + s, "kick", rng.uniform(0.8, 1.0)))
        end = 12 if fill else 16
        for s in snares:
            if s < end:
                ev.append((o + s, snare_inst, rng.uniform(0.8, 1.0)))
        if style == "house":
            for s in (2, 6, 10, 14):
                ev.append((o + s, "open", rng.uniform(0.5, 0.9)))
            if sixteenth_hats:
                for s in range(0, 16):
                    ev.append((o + s, "hat", rng.uniform(0.2, 0.45)))
        else:
            step = 1 if sixteenth_hats else 2
            for s in range(0, end, step):
                accent = 1.0 if s % 4 == 0 else 0.7 if s % 2 == 0 else 0.5
                ev.append((o + s, "hat", accent * rng.uniform(0.5, 0.9)))
        for s in range(16):  # ghost notes
            if s % 4 and rng.random() < 0.08:
                ev.append((o + s, "snare", rng.uniform(0.1, 0.25)))
        if fill:
            for s in range(12, 16):
                ev.append((o + s, "tom" if rng.random() < 0.5 else "snare", rng.uniform(0.6, 1.0)))
        if rng.random() < 0.15:
            ev.append((o + rng.integers(0, 16), "rim", rng.uniform(0.3, 0.7)))
    return ev


def place(buf, x, at, gain, loop):
    """Adds x at sample `at`, wrapping round the loop's end."""
    n = len(x)
    at %= loop
    first = min(n, loop - at)
    buf[at : at + first] += gain * x[:first]
    rest = x[first:]
    while len(rest):
        m = min(len(rest), loop)
        buf[:m] += gain * rest[:m]
        rest = rest[m:]


def finish(rng, mono, rate, allow_fade=True):
    """Noise, level, fade-in, stereo."""
    x = mono / (np.max(np.abs(mono)) + 1e-9)
    if rng.random() < 0.4:
        x = x + rng.standard_normal(len(x)) * 10 ** (rng.uniform(-55, -28) / 20)
    if allow_fade and rng.random() < 0.2:
        n = min(len(x), int(rng.uniform(0.05, 0.5) * rate))
        x[:n] *= np.linspace(0, 1, n)
    x *= 10 ** (rng.uniform(-30, -1) / 20)
    if rng.random() < 0.5:
        return x[:, None]
    pan = rng.uniform(0.7, 1.0)
    return np.stack([x * pan, x * (2 - pan) / 2 + x * 0.0], axis=1)


def choose_format(rng, seconds, channels):
    rate = int(rng.choice(RATES))
    coding = str(rng.choice(CODINGS))
    width = {"u8": 1, "s16": 2, "s24": 3, "s32": 4, "f32": 4}[coding.rstrip("x")]
    while seconds * rate * width * channels > MAX_BYTES and rate > 22050:
        rate = {96000: 48000, 88200: 44100, 48000: 32000, 44100: 22050, 32000: 22050}[rate]
    if seconds * rate * width * channels > MAX_BYTES:
        coding, width = "s16", 2
    return rate, coding


def bars_and_tempo(rng):
    bars = int(rng.choice([1, 1, 2, 2, 2, 4, 4, 4, 8, 8, 3, 6, 16, 32]))
    bpm = float(np.round(rng.uniform(60, 200), 1))
    if rng.random() < 0.5:
        bpm = float(rng.choice([70, 80, 85, 90, 95, 100, 110, 120, 124, 125, 128, 130, 140, 150, 160, 170, 174]))
    while bars * 4 * 60 / bpm > 70:  # keep the corpus small
        bars //= 2
    return max(bars, 1), bpm



def save(rng, buf, path, rate, channels, coding):
    """Finishes a loop (finish()), fits it to its channels and writes it."""
    audio = finish(rng, buf, rate)
    if channels == 1:
        audio = audio[:, :1]
    elif audio.shape[1] == 1:
        audio = np.repeat(audio, 2, axis=1)
    write_wave(path, audio, rate, coding)


def write_labels(folder, rows):
    with open(os.path.join(folder, "labels.csv"), "w", newline="") as f:
        w = csv.DictWriter(f, fieldnames=["file", "kind", "beats", "bpm", "root"])
        w.writeheader()
        w.writerows(rows)

def drum_loop(rng, path):
    bars, bpm = bars_and_tempo(rng)
    style = str(rng.choice(STYLES))
    beats = bars * 4
    seconds = beats * 60 / bpm
    channels = 1 if rng.random() < 0.5 else 2
    rate, coding = choose_format(rng, seconds, channels)
    loop = int(round(seconds * rate))
    kit = Kit(rng, rate)
    buf = np.zeros(loop)
    six = 60 / bpm / 4
    swing = rng.choice([0, 0, 0, rng.uniform(0.1, 0.33)]) if style != "shuffle" else rng.uniform(0.25, 0.33)
    jitter = rng.uniform(0, 0.008)
    offset = rng.uniform(0, 0.015) if rng.random() < 0.3 else 0
    for step, inst, vel in drum_pattern(rng, style, bars):
        t = step * six
        if step % 2 == 1:
            t += swing * 2 * six
        t += offset + rng.normal(0, jitter) if jitter else offset
        place(buf, kit.hit(inst), int(round(max(t, 0) * rate)), vel, loop)
    if rng.random() < 0.15:  # a break that stops: silence over its last beat
        buf[int(loop * (1 - 1 / beats)) :] *= 0.0
    save(rng, buf, path, rate, channels, coding)
    return dict(kind="drums", beats=beats, bpm=bpm, root="")


MAJOR = [0, 2, 4, 5, 7, 9, 11]
MINOR = [0, 2, 3, 5, 7, 8, 10]


def synth_note(rng, voice, midi, seconds, rate):
    f = 440 * 2 ** ((midi - 69) / 12)
    t = np.arange(int(seconds * rate)) / rate
    ph = 2 * np.pi * f * t
    if voice == "saw":
        x = sum(np.sin(k * ph) / k for k in range(1, int(min(30, rate / 2 / f))))
    elif voice == "square":
        x = sum(np.sin(k * ph) / k for k in range(1, int(min(30, rate / 2 / f)), 2))
    elif voice == "sine":
        x = np.sin(ph) + 0.15 * np.sin(2 * ph)
    elif voice == "fm":
        x = np.sin(ph + rng.uniform(0.5, 2.5) * np.exp(-t / 0.1) * np.sin(ph))
    else:  # pluck
        x = sum(np.sin(k * ph) * np.exp(-t * k * 3) / k for k in range(1, int(min(20, rate / 2 / f))))
    env = np.minimum(1, t / 0.005) * np.exp(-t / rng.uniform(0.2, 2.0))
    rel = min(len(t), int(0.01 * rate))
    env[len(t) - rel :] *= np.linspace(1, 0, rel)
    return x * env



def bass_shape(rng):
    """A bass line's tempo, beats (whole bars, at most 35 s), length and format."""
    bars, bpm = bars_and_tempo(rng)
    while bars * 4 * 60 / bpm > 35:
        bars //= 2
    bars = max(bars, 1)
    beats = bars * 4
    seconds = beats * 60 / bpm
    channels = 1 if rng.random() < 0.6 else 2
    rate, coding = choose_format(rng, seconds, channels)
    return bpm, beats, seconds, channels, rate, coding

def bass_loop(rng, path):
    bpm, beats, seconds, channels, rate, coding = bass_shape(rng)
    loop = int(round(seconds * rate))
    tonic = int(rng.integers(0, 12))
    scale = MINOR if rng.random() < 0.6 else MAJOR
    base = 28 + (tonic - 28) % 12 + int(rng.choice([0, 12]))
    voice = str(rng.choice(["saw", "square", "sine", "fm", "pluck"]))
    eighth = 60 / bpm / 2
    buf = np.zeros(loop)
    grid = int(rng.choice([1, 2]))  # notes on sixteenths or eighths
    six = eighth / 2
    degrees = [0, 0, 0, 4, 4, 3, 6, 2, 5, 1]
    step = 0
    while step < beats * 4:
        if step % 16 == 0:
            deg = 0
        else:
            deg = int(rng.choice(degrees))
        length = int(rng.choice([1, 2, 2, 4, 4, 6, 8])) * grid
        length = min(length, beats * 4 - step)
        if rng.random() < 0.15 and step % 16:
            step += length
            continue  # a rest
        midi = base + scale[deg] + (12 if rng.random() < 0.1 else 0)
        x = synth_note(rng, voice, midi, length * six * 0.95, rate)
        place(buf, x, int(round(step * six * rate)), rng.uniform(0.7, 1.0), loop)
        step += length
    buf = soft_lowpass(buf, rng.uniform(300, 3000), rate)
    save(rng, buf, path, rate, channels, coding)
    return dict(kind="bass", beats=beats, bpm=bpm, root=NOTES[tonic])


def one_shot(rng, path):
    midi = int(rng.integers(28, 85))
    voice = str(rng.choice(["saw", "square", "sine", "fm", "pluck", "808"]))
    seconds = rng.uniform(0.3, 3.0)
    channels = 1 if rng.random() < 0.5 else 2
    rate, coding = choose_format(rng, seconds, channels)
    if voice == "808":
        t = np.arange(int(seconds * rate)) / rate
        f = 440 * 2 ** ((midi - 69) / 12) * (1 + 0.6 * np.exp(-t / 0.02))
        x = np.tanh(1.5 * np.sin(2 * np.pi * np.cumsum(f) / rate)) * np.exp(-t / (seconds / 3))
    else:
        x = synth_note(rng, voice, midi, seconds, rate)
    if rng.random() < 0.3:  # silence before and after
        x = np.concatenate([np.zeros(int(rng.uniform(0, 0.1) * rate)), x, np.zeros(int(rng.uniform(0, 0.5) * rate))])
    audio = finish(rng, x, rate, allow_fade=False)
    if channels == 1:
        audio = audio[:, :1]
    elif audio.shape[1] == 1:
        audio = np.repeat(audio, 2, axis=1)
    write_wave(path, audio, rate, coding)
    return dict(kind="shot", beats="", bpm="", root=NOTES[midi % 12])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("folder")
    ap.add_argument("--seed", type=int, default=22)
    ap.add_argument("--drums", type=int, default=60)
    ap.add_argument("--bass", type=int, default=30)
    ap.add_argument("--shots", type=int, default=30)
    a = ap.parse_args()
    rng = np.random.default_rng(a.seed)
    os.makedirs(a.folder, exist_ok=True)
    rows = []
    for kind, count, make in (("drums", a.drums, drum_loop), ("bass", a.bass, bass_loop), ("shot", a.shots, one_shot)):
        os.makedirs(os.path.join(a.folder, kind), exist_ok=True)
        for i in range(count):
            name = os.path.join(kind, "%s%03d.wav" % (kind, i))
            label = make(rng, os.path.join(a.folder, name))
            rows.append(dict(file=name, **label))
    write_labels(a.folder, rows)


if __name__ == "__main__":
    sys.exit(main())
