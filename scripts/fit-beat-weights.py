#!/usr/bin/python3
"""Fits the weights of beat detection's score, and shows what they give.

Usage: scripts/fit-beat-weights.py BENCH_DETECT --fit CORPUS... [--check CORPUS...] [--l2 X] [--l2-bass X]

A development tool. Each CORPUS is a folder made by
tests/tools/make-detect-corpus.py or scripts/make-realkit-corpus.py (its
labels.csv names each loop's beats). BENCH_DETECT --terms prints every
candidate count of every loop with its terms; the weights are those of a
conditional logit (the belief in each candidate is the softmax of prior +
weights · terms) that make the labelled counts most likely, with a little L2
shrinkage. Two sets, each fitted on the loops it weighs: kBeatWeights over
the loops whose notes don't hold steady, the tonic terms (the last two) left
out; kBassLineWeights over those whose notes do (kSteadyNotes), every term
in. Prints both in their order, then for the
fitted and the checked corpora the share of loops written and the share right
of those, at several confidence thresholds (a grid that finds onsets on fewer
than a quarter of its beats, or on fewer than two, is never written, as in
the program).
"""
import argparse, collections, csv, os, subprocess, sys

import numpy as np


def load(bench, folder):
    labels = {r["file"]: r for r in csv.DictReader(open(os.path.join(folder, "labels.csv")))}
    loops = [f for f, r in labels.items() if r["kind"] != "shot"]
    out = subprocess.run([bench, "--terms", *loops], cwd=folder, capture_output=True, text=True, check=True).stdout
    rows = collections.OrderedDict()
    for line in out.splitlines():
        f = line.split(",")
        if line.startswith("#") or f[1] == "unreadable":
            continue
        rows.setdefault(f[0], []).append([float(v) for v in f[1:]])
    width = max(len(r) for r in rows.values())
    # beats, bpm, coverage, steady, prior, score, terms...
    a = np.zeros((len(rows), width, len(next(iter(rows.values()))[0])))
    valid = np.zeros((len(rows), width), bool)
    truth = np.full(len(rows), -1)
    for i, (path, r) in enumerate(rows.items()):
        a[i, : len(r)] = r
        valid[i, : len(r)] = True
        hit = np.where(a[i, : len(r), 0] == int(labels[path]["beats"]))[0]
        truth[i] = hit[0] if len(hit) else -1
    return dict(name=folder, a=a, valid=valid, truth=truth)


TONIC_TERMS = 2
STEADY = 0.9  # kSteadyNotes


def beliefs(d, w):
    s = np.where(d["valid"], d["a"][:, :, 4] + d["a"][:, :, 6:] @ w, -1e9)
    p = np.exp(s - s.max(1, keepdims=True))
    return p / p.sum(1, keepdims=True)


def steady(d):
    return d["a"][:, 0, 3] >= STEADY


def fit(sets, l2, used, steps=4000, rate=0.3):
    """Weights for the loops of `sets` that used[0](d) picks; the terms from
    used[1] on stay at zero."""
    w = np.zeros(sets[0]["a"].shape[2] - 6)
    for _ in range(steps):
        grad, count = 2 * l2 * w, 0
        for d in sets:
            ok = (d["truth"] >= 0) & used[0](d)
            p, x = beliefs(d, w)[ok], d["a"][ok][:, :, 6:]
            grad -= (x[np.arange(ok.sum()), d["truth"][ok]] - np.einsum("nk,nkd->nd", p, x)).sum(0)
            count += ok.sum()
        grad[used[1]:] = 0
        w -= rate * grad / count
    return w


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("bench")
    ap.add_argument("--fit", nargs="+", required=True)
    ap.add_argument("--check", nargs="*", default=[])
    ap.add_argument("--l2", type=float, default=0.3)
    ap.add_argument("--l2-bass", type=float, default=0.1)
    a = ap.parse_args()
    a.bench = os.path.abspath(a.bench)
    fitted = [load(a.bench, f) for f in a.fit]
    terms = fitted[0]["a"].shape[2] - 6
    w = fit(fitted, a.l2, (lambda d: ~steady(d), terms - TONIC_TERMS))
    wb = fit(fitted, a.l2_bass, (steady, terms))
    print("weights: {" + ", ".join("%.3f" % v for v in w) + "}")
    print("bass-line weights: {" + ", ".join("%.3f" % v for v in wb) + "}")
    for d in fitted + [load(a.bench, f) for f in a.check]:
        p = np.where(steady(d)[:, None], beliefs(d, wb), beliefs(d, w))
        best, sure_of, coverage, beats = p.argmax(1), p.max(1), d["a"][:, 0, 2], d["a"][:, 0, 0]
        cells = []
        for threshold in (0.5, 0.6, 0.65, 0.7, 0.8, 0.9):
            written = (sure_of >= threshold) & (coverage >= 0.25) & (coverage * beats + 0.5 >= 2)
            right = written & (best == d["truth"])
            cells.append("%.2f: %.0f %% written, %.1f %% right" %
                         (threshold, 100 * written.mean(), 100 * right.sum() / max(1, written.sum())))
        print("%s%s: %s" % (d["name"], " (fitted)" if d in fitted else "", "; ".join(cells)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
