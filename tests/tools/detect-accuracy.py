#!/usr/bin/python3
"""Measures velorize's --loop-at detect and --root detect on a labelled corpus.

Usage: detect-accuracy.py VELORIZE CORPUS [--generate] [--min-beats-right P] [--min-written P]
                          [--min-root-right P] [--min-root-written P] [--verbose]

CORPUS is a folder made by make-detect-corpus.py. Loops (drums and bass lines)
go through `velorize --loop-at detect --dry-run --format json` for their
beats; bass lines through `velorize --loop 4 --root detect` for their root
note, which doesn't hang on their beats; one-shots through `velorize
--disk-based --tempo 120 --root detect`. Prints the figures; exits 1 when one
falls below its floor (percentages).
"""
import argparse, csv, json, os, subprocess, sys


def run(velorize, corpus, args, files):
    if not files:
        return {}
    out = subprocess.run([velorize, *args, "--dry-run", "--format", "json", *files], cwd=corpus,
                         capture_output=True, text=True, check=False)
    if out.returncode not in (0, 1):
        sys.exit("velorize failed: " + out.stderr)
    return {r["path"]: r for r in map(json.loads, out.stdout.splitlines())}


def share(part, whole):
    return 100.0 * part / whole if whole else 100.0


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("velorize")
    ap.add_argument("corpus")
    ap.add_argument("--min-beats-right", type=float, default=0)
    ap.add_argument("--min-written", type=float, default=0)
    ap.add_argument("--min-root-right", type=float, default=0)
    ap.add_argument("--min-root-written", type=float, default=0)
    ap.add_argument("--verbose", action="store_true")
    ap.add_argument("--generate", action="store_true", help="make the corpus first (make-detect-corpus.py)")
    a = ap.parse_args()
    if a.generate:
        import shutil
        shutil.rmtree(a.corpus, ignore_errors=True)
        maker = os.path.join(os.path.dirname(os.path.abspath(__file__)), "make-detect-corpus.py")
        subprocess.run([sys.executable, maker, a.corpus], check=True)
    with open(os.path.join(a.corpus, "labels.csv")) as f:
        labels = list(csv.DictReader(f))
    loops = [l for l in labels if l["kind"] != "shot"]
    shots = [l for l in labels if l["kind"] == "shot"]
    got = run(a.velorize, a.corpus, ["--loop-at", "detect"], [l["file"] for l in loops])
    rooted_as = run(a.velorize, a.corpus, ["--loop", "4", "--root", "detect"], [l["file"] for l in loops if l["root"]])
    rooted_as.update(run(a.velorize, a.corpus, ["--disk-based", "--tempo", "120", "--root", "detect"],
                         [l["file"] for l in shots]))

    figures, failed = [], False
    def floor(name, value, minimum):
        nonlocal failed
        figures.append("%s: %.1f %%" % (name, value))
        if value < minimum:
            failed = True
            figures[-1] += " (below %.1f %%)" % minimum

    for kind in ("drums", "bass"):
        rows = [l for l in loops if l["kind"] == kind]
        written = [l for l in rows if got[l["file"]]["accepted"]]
        right = [l for l in written if got[l["file"]]["beats"] == int(l["beats"])]
        figures.append("%s loops: %d, beats written for %d, right %d" % (kind, len(rows), len(written), len(right)))
        if a.verbose:
            for l in rows:
                r = got[l["file"]]
                print(l["file"], l["beats"], l["bpm"], "->", r["beats"], r["beats_confidence"], r["beats_runner_up"],
                      r["reason"] or "")
    written = [l for l in loops if got[l["file"]]["accepted"]]
    right = [l for l in written if got[l["file"]]["beats"] == int(l["beats"])]
    floor("loops written", share(len(written), len(loops)), a.min_written)
    floor("beats right of those written", share(len(right), len(written)), a.min_beats_right)

    pitched = [l for l in labels if l["root"]]
    rooted = [l for l in pitched if rooted_as[l["file"]]["root_source"] == "audio"]
    root_right = [l for l in rooted if rooted_as[l["file"]]["root_note"] == l["root"]]
    for kind in ("bass", "shot"):
        rows = [l for l in pitched if l["kind"] == kind]
        r = [l for l in rows if l in rooted]
        ok = [l for l in r if l in root_right]
        figures.append("%s: %d, root note given for %d, right %d" % (kind, len(rows), len(r), len(ok)))
        if a.verbose:
            for l in rows:
                g = rooted_as[l["file"]]
                print(l["file"], l["root"], "->", g["root_note"], g["root_confidence"])
    floor("pitched files given a root note", share(len(rooted), len(pitched)), a.min_root_written)
    floor("root notes right of those given", share(len(root_right), len(rooted)), a.min_root_right)
    print("\n".join(figures))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
