#include "BeatDetect.h"

#include "AubioPtr.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace velorizer {

namespace {

// The onset function: 512-sample windows (46 ms at the analysis rate) every
// 128 samples (12 ms), fine enough for sixteenths at 200 bpm.
constexpr uint_t kWindow = 512, kHop = 128;
// Tempos a loop is looked for at. Outside 60 to 200 bpm the prior falls
// steeply; beyond these bounds there is nothing to look for.
constexpr double kLowestBpm = 40, kHighestBpm = 250;
// Longer files are no loops a grid of beats could be found in at this cost.
constexpr double kLongestLoopSeconds = 300;
// Of the best grid's beats, this share at least must carry an onset, and two
// beats at least. A bass line of held notes sounds a new one every bar or
// two beats: a quarter of the beats is all it gives.
constexpr double kLeastCoverage = 0.25;
constexpr double kLeastBeatsHit = 2;

// Bands the onsets are measured in apart, each then weighed by its own mean:
// a kick's few low bins and a snare's many high ones count alike, whatever
// the kit. Upper edges in Hz: kicks and bass notes; snares and toms; hats.
constexpr double kBandEdges[] = {200, 2000, 1e9};
constexpr size_t kBands = std::size(kBandEdges);
enum Band { Low, Mid, High };

// Weights of the terms (BeatTerms::x), fitted by a conditional logit over the
// candidates of loops built from real recorded kits and synthesized ones
// (scripts/make-realkit-corpus.py, tests/tools/make-detect-corpus.py) and
// checked on kits never fitted on. In order: the grid's clarity (onsets on
// its beats against the loop's mean); how much more the kicks hit one half of
// the beats than the other; whether the snares hit that half too (the grid is
// twice too fine) or the other (a backbeat); kicks and snares on the half
// beats against the beats; hats on the half beats against the beats; the
// tempo's distance in octaves from 120 bpm, plain and squared (a log-normal
// tempo prior, centred where the clarity's lean to coarse grids is undone);
// the snares' half, the half beats and the kicks' halves of the grid at
// twice the tempo; the clarity of kicks, snares and hats alone; the snares'
// half and the half beats of the grid at half the tempo; the clarity of the
// grid at twice the tempo; the snares' share on the second and fourth beats
// of the grid's bars, and on the third; the kicks' share on the first; the
// snares' share on the second and fourth at twice the tempo; the tonic at bar
// starts against halfway through bars, and against every beat. The tonic
// terms are left out for drums, whose "notes" are noise.
constexpr double kBeatWeights[kBeatTerms] = {1.732, 0.894,  -0.727, 1.026,  1.315, 3.253,  -1.562, 0.203,
                                             0.162, -0.660, 1.879,  1.784,  1.883, -0.918, -0.141, 2.298,
                                             2.639, -0.818, 1.521,  -2.957, 0,     0};
// A loop whose notes hold steady from window to window this share of the
// time is a bass line (or another pitched loop) without drums: its terms
// weigh differently (there is no backbeat, and where its tonic falls
// counts), by weights fitted on those loops alone.
constexpr double kSteadyNotes = 0.9;
constexpr double kBassLineWeights[kBeatTerms] = {1.387, 0.185,  0.367, -0.068, -0.046, 2.576, -2.554, -1.084,
                                                 0.567, -1.477, 3.496, 1.484,  -0.580, 0.229, -0.066, 2.337,
                                                 1.325, 1.060,  0.592, -1.451, 1.237,  1.067};

// Spectral flux of log-compressed magnitudes in each band, one value a hop,
// over exactly one loop: the window before the first hop holds the loop's own
// end, as it sounds when the loop wraps round. Each band is divided by its
// mean, so that a loop's level and mix don't matter.
struct Onsets {
    std::array<std::vector<float>, kBands> band;
};

// Magnitude spectra of Hann-windowed stretches of a loop, each window read
// round the loop's end as it sounds when the loop wraps (samples beyond
// those given are silence).
class LoopSpectra {
public:
    LoopSpectra(uint_t window, const std::vector<float>& x, int64_t loop)
        : n_(window),
          x_(x),
          loop_(loop),
          fft_(new_aubio_fft(window)),
          in_(new_fvec(window)),
          spectrum_(new_fvec(window)),
          hann_(window),
          mag_(window / 2 + 1) {
        for (uint_t i = 0; i < n_; ++i)
            hann_[i] = static_cast<float>(0.5 - 0.5 * std::cos(2 * M_PI * i / static_cast<double>(n_)));
    }
    bool Ready() const { return fft_ && in_ && spectrum_ && loop_ >= 1; }
    // The magnitudes of bins 0 to window/2 of the window that starts at
    // `start` (any integer: taken round the loop).
    const std::vector<float>& At(int64_t start) {
        const auto size = static_cast<int64_t>(x_.size());
        int64_t i = start % loop_;
        if (i < 0) i += loop_;
        // Stepped round the loop, not a division a sample.
        for (uint_t j = 0; j < n_; ++j, i = i + 1 < loop_ ? i + 1 : 0)
            in_->data[j] = (i < size ? x_[static_cast<size_t>(i)] : 0.0f) * hann_[j];
        aubio_fft_do_complex(fft_.get(), in_.get(), spectrum_.get());
        // aubio's layout: the real parts of bins 0 to n/2, then the imaginary
        // parts from bin n/2 - 1 down to 1.
        mag_[0] = std::fabs(spectrum_->data[0]);
        mag_[n_ / 2] = std::fabs(spectrum_->data[n_ / 2]);
        for (uint_t k = 1; k < n_ / 2; ++k) {
            const float re = spectrum_->data[k], im = spectrum_->data[n_ - k];
            mag_[k] = std::sqrt(re * re + im * im);
        }
        return mag_;
    }

private:
    const uint_t n_;
    const std::vector<float>& x_;
    const int64_t loop_;
    aubio::Ptr<aubio_fft_t> fft_;
    aubio::Ptr<fvec_t> in_, spectrum_;
    std::vector<float> hann_, mag_;
};

// The notes of a bass line, in windows of kNoteWindow samples every
// kNoteHop (finely enough resolved to tell its notes apart): each window's
// note is the pitch whose first harmonics hold the most energy. For each
// window, 1 when its note is the loop's tonic (the pitch class most heard),
// else 0 (rests too): a bass line's notes at its bar starts are most often
// its tonic.
constexpr uint_t kNoteWindow = 2048, kNoteHop = 4 * kHop;
constexpr int kLowestNote = 24, kNotes = 40, kHarmonics = 5;

struct Notes {
    std::vector<float> onTonic;
    double steady = 0;  // the share of successive sounding windows that hold the same note
};

Notes OnTonic(const std::vector<float>& x, double rate, int64_t loop) {
    LoopSpectra spectra(kNoteWindow, x, loop);
    if (!spectra.Ready()) return {};
    // Each note's harmonics as bins (fractional), those below the top bin.
    std::vector<std::vector<double>> bins(kNotes);
    for (int m = 0; m < kNotes; ++m) {
        const double f0 = 440 * std::exp2((kLowestNote + m - 69) / 12.0);
        for (int h = 1; h <= kHarmonics; ++h) {
            const double k = h * f0 * kNoteWindow / rate;
            if (k < kNoteWindow / 2 - 1) bins[static_cast<size_t>(m)].push_back(k);
        }
    }
    const auto frames = static_cast<size_t>((loop + kNoteHop - 1) / kNoteHop);
    std::vector<int> note(frames);
    std::vector<float> level(frames);
    for (size_t f = 0; f < frames; ++f) {
        const std::vector<float>& mag = spectra.At(static_cast<int64_t>(f) * kNoteHop);
        double best = -1;
        for (int m = 0; m < kNotes; ++m) {
            double salience = 0, weight = 1;
            for (const double k : bins[static_cast<size_t>(m)]) {
                const auto k0 = static_cast<size_t>(k);
                const double fraction = k - static_cast<double>(k0);
                salience += weight * (mag[k0] * (1 - fraction) + mag[k0 + 1] * fraction);
                weight *= 0.8;
            }
            if (salience > best) best = salience, note[f] = (kLowestNote + m) % 12;
        }
        level[f] = static_cast<float>(best);
    }
    // Windows far below the loudest notes are rests.
    std::vector<float> sorted = level;
    const auto top = sorted.begin() + static_cast<std::ptrdiff_t>(frames * 9 / 10);
    std::nth_element(sorted.begin(), top, sorted.end());
    const float voiced = 0.1f * *top;
    std::array<double, 12> heard{};
    for (size_t f = 0; f < frames; ++f)
        if (level[f] > voiced) heard[static_cast<size_t>(note[f])] += level[f];
    const auto tonic = static_cast<int>(std::max_element(heard.begin(), heard.end()) - heard.begin());
    Notes n;
    n.onTonic.assign(frames, 0.0f);
    for (size_t f = 0; f < frames; ++f) n.onTonic[f] = level[f] > voiced && note[f] == tonic ? 1.0f : 0.0f;
    // A bass line holds each note over several windows; drums' "notes" jump about.
    int pairs = 0, same = 0;
    for (size_t f = 0; f + 1 < frames; ++f) {
        if (level[f] > voiced && level[f + 1] > voiced) ++pairs, same += note[f] == note[f + 1];
    }
    n.steady = pairs ? static_cast<double>(same) / pairs : 0;
    return n;
}

Onsets OnsetStrength(const std::vector<float>& x, double rate, int64_t loop) {
    Onsets odf;
    LoopSpectra spectra(kWindow, x, loop);
    if (!spectra.Ready()) return odf;
    // The band each bin belongs to.
    constexpr uint_t bins = kWindow / 2 + 1;
    std::array<uint_t, kBands + 1> first{};
    for (size_t b = 0; b < kBands; ++b)
        first[b + 1] = std::min<uint_t>(bins, static_cast<uint_t>(std::ceil(kBandEdges[b] * kWindow / rate)));

    const int64_t frames = (loop + kHop - 1) / kHop;
    for (auto& b : odf.band) b.assign(static_cast<size_t>(frames), 0.0f);
    std::vector<float> last(bins, 0.0f), mag(bins);
    // The first frame only primes `last`: it ends where the loop starts.
    for (int64_t f = -1; f < frames; ++f) {
        mag = spectra.At(f * kHop + kHop - kWindow);
        for (uint_t k = 0; k < bins; ++k) mag[k] = std::log1p(10.0f * mag[k]);
        if (f >= 0) {
            for (size_t b = 0; b < kBands; ++b) {
                float flux = 0;
                for (uint_t k = first[b]; k < first[b + 1]; ++k) flux += std::max(0.0f, mag[k] - last[k]);
                odf.band[b][static_cast<size_t>(f)] = flux;
            }
        }
        std::swap(last, mag);
    }
    double means[kBands], loudest = 0;
    for (size_t b = 0; b < kBands; ++b) {
        means[b] = std::accumulate(odf.band[b].begin(), odf.band[b].end(), 0.0) / static_cast<double>(frames);
        loudest = std::max(loudest, means[b]);
    }
    if (loudest <= 0) return {};
    for (size_t b = 0; b < kBands; ++b) {
        // A band that holds next to nothing is not raised to the others.
        const auto weight = static_cast<float>(1.0 / std::max(means[b], 0.2 * loudest));
        for (float& v : odf.band[b]) v *= weight;
    }
    return odf;
}

// The onset function at a point of the circle, smeared over ±1 hop so that a
// hit a few milliseconds off the grid still counts.
class Circle {
public:
    Circle() = default;
    explicit Circle(const std::vector<float>& odf) : peak_(odf.size()) {
        const size_t n = odf.size();
        for (size_t j = 0; j < n; ++j) peak_[j] = std::max({odf[(j + n - 1) % n], odf[j], odf[(j + 1) % n]});
        mean_ = std::accumulate(peak_.begin(), peak_.end(), 0.0) / static_cast<double>(n);
    }
    double At(double t) const {
        // Points lie within a turn or two of the start: subtracting is
        // cheaper than fmod, which the grid search would spend most time in.
        const auto n = static_cast<double>(peak_.size());
        if (t < 0 || t >= 2 * n) t = std::fmod(t, n) + (t < 0 ? n : 0);
        while (t >= n) t -= n;
        const auto j = static_cast<size_t>(t);
        const double f = t - static_cast<double>(j);
        const size_t next = j + 1 < peak_.size() ? j + 1 : 0;
        return peak_[j < peak_.size() ? j : 0] * (1 - f) + peak_[next] * f;
    }
    double Mean() const { return mean_; }
    bool Empty() const { return peak_.empty(); }

private:
    std::vector<double> peak_;
    double mean_ = 0;
};

struct Circles {
    std::array<Circle, kBands> band;
    Circle all;
    std::vector<float> tonic;  // Notes::onTonic, a value every kNoteHop
    double steady = 0;         // Notes::steady
};

// The share of the points k·gap + at, k = 0, step, 2·step, ... below count,
// whose note is the loop's tonic.
double TonicAt(const Circles& c, double hops, double at, double gap, int32_t count, int32_t step) {
    if (c.tonic.empty()) return 0;
    const auto windows = static_cast<double>(c.tonic.size());
    double sum = 0;
    int32_t points = 0;
    for (int32_t k = 0; k < count; k += step, ++points) {
        double w = std::round(std::fmod(at + k * gap, hops) * kHop / kNoteHop);
        if (w < 0) w += windows;
        if (w >= windows) w -= windows;
        sum += c.tonic[static_cast<size_t>(std::min(w, windows - 1))];
    }
    return points ? sum / points : 0;
}

// The fixed prior: tempos from 60 to 200 bpm, steeply less beyond; whole
// bars of four beats, most of all 1, 2, 4, 8, 16 or 32 of them, over other
// bar counts, over even beat counts, over odd ones.
double Prior(int32_t beats, double bpm) {
    double p = 0;
    if (bpm < 60) p -= 8 * std::log2(60 / bpm);
    if (bpm > 200) p -= 8 * std::log2(bpm / 200);
    if (beats % 4 == 0) {
        const int32_t bars = beats / 4;
        const bool powerOfTwo = (bars & (bars - 1)) == 0;
        if (!powerOfTwo) p -= bars % 3 == 0 ? 1.5 : 3.0;
    } else {
        p -= beats % 2 == 0 ? 4.5 : 6.0;
    }
    return p;
}

// Onsets at the points k·gap + at of the circle, k = 0 .. count-1: their sum
// over even and odd k apart.
std::array<double, 2> Gather(const Circle& c, double at, double gap, int32_t count) {
    std::array<double, 2> s{};
    for (int32_t k = 0; k < count; ++k) s[static_cast<size_t>(k % 2)] += c.At(at + k * gap);
    return s;
}

double Share(double a, double b) { return a + b > 0 ? (a - b) / (a + b) : 0; }

BeatTerms Terms(const Circles& c, double hops, int32_t beats, double seconds) {
    BeatTerms t;
    t.beats = beats;
    t.bpm = beats * 60.0 / seconds;
    t.prior = Prior(beats, t.bpm);
    const double gap = hops / beats;
    // The grid's phase: where its points gather the most onsets.
    double phase = 0, best = -1;
    for (double at = 0; at < gap; at += 1.0) {
        double sum = 0;
        for (int32_t k = 0; k < beats; ++k) sum += c.all.At(at + k * gap);
        if (sum > best) best = sum, phase = at;
    }
    const double n = beats;
    t.x[0] = std::log(std::max(best / n / c.all.Mean(), 1e-6));
    // Kicks and snares on alternate beats: which half the kicks favour, and
    // whether the snares favour it too (the grid is twice too fine) or the
    // other half (a backbeat: the grid is right).
    if (beats % 2 == 0) {
        const auto low = Gather(c.band[Low], phase, gap, beats), mid = Gather(c.band[Mid], phase, gap, beats);
        const size_t down = low[0] >= low[1] ? 0 : 1;
        t.x[1] = Share(low[down], low[1 - down]);
        t.x[2] = Share(mid[down], mid[1 - down]);
    }
    // Onsets on the half beats against those on the beats: strong halves
    // say the grid is twice too coarse.
    const auto ratio = [&](double on, double half) { return std::log((half / n + 0.05) / (on / n + 0.05)); };
    const auto sum = [&](Band b, double at) {
        const auto s = Gather(c.band[b], at, gap, beats);
        return s[0] + s[1];
    };
    const double lowMidOn = sum(Low, phase) + sum(Mid, phase);
    const double lowMidHalf = sum(Low, phase + gap / 2) + sum(Mid, phase + gap / 2);
    t.x[3] = ratio(lowMidOn, lowMidHalf);
    t.x[4] = ratio(sum(High, phase), sum(High, phase + gap / 2));
    const double octaves = std::log2(t.bpm / 120);
    t.x[5] = octaves;
    t.x[6] = octaves * octaves;
    if (beats % 4 == 0) {
        // Loops start on a bar's first beat: the grid's point nearest the
        // start is one. Where a bar's snares fall tells a grid from its
        // double: on its second and fourth beats (a backbeat), or on its
        // third alone (the grid twice too fine, or a loop in half time); and
        // how many of its kicks fall on its first.
        std::array<double, 4> low{}, mid{};
        const double one = phase > gap / 2 ? phase - gap : phase;
        for (int32_t k = 0; k < beats; ++k) {
            low[static_cast<size_t>(k % 4)] += c.band[Low].At(one + k * gap);
            mid[static_cast<size_t>(k % 4)] += c.band[Mid].At(one + k * gap);
        }
        const double kicks = low[0] + low[1] + low[2] + low[3], snares = mid[0] + mid[1] + mid[2] + mid[3];
        if (snares > 0) t.x[16] = (mid[1] + mid[3]) / snares, t.x[17] = mid[2] / snares;
        if (kicks > 0) t.x[18] = low[0] / kicks;
        // Bass lines land on their tonic at bar starts more than halfway
        // through a bar: at twice the tempo, half the "bar starts" are the
        // middles of bars; at half, the "middles" are bar starts too. The
        // grid's phase may sit on its half beats (a line in even eighths
        // fits either alike), so the bar starts are taken at the beat or
        // half beat nearest the loop's start.
        double downbeat = std::fmod(phase, gap / 2);
        if (downbeat > gap / 4) downbeat -= gap / 2;
        const double starts = TonicAt(c, hops, downbeat, gap, beats, 4);
        t.x[20] = starts - TonicAt(c, hops, downbeat + 2 * gap, gap, beats, 4);
        t.x[21] = starts - TonicAt(c, hops, downbeat, gap, beats, 1);
    }
    // Each band's own clarity: kicks alone, snares alone, hats alone. A
    // band without a single onset tells nothing either way.
    for (size_t b = 0; b < kBands; ++b) {
        const double mean = c.band[b].Mean();
        t.x[10 + b] = mean > 0 ? std::log(std::max(sum(Band(b), phase) / n / mean, 1e-3)) : 0;
    }
    return t;
}

// The share of a grid's beats (at its best phase) that carry an onset: a
// salience half as high again as the loop's mean.
double Coverage(const Circle& c, double hops, int32_t beats) {
    const double gap = hops / beats;
    double best = 0;
    for (double at = 0; at < gap; at += 1.0) {
        int hit = 0;
        for (int32_t k = 0; k < beats; ++k) hit += c.At(at + k * gap) > 1.5 * c.Mean();
        best = std::max(best, static_cast<double>(hit) / beats);
    }
    return best;
}

// Why no count can be told, or empty; fills `c` and `hops` otherwise.
std::string Prepare(const std::vector<float>& samples, double rate, double loopSamples, Circles& c, double& hops) {
    const double seconds = loopSamples / rate;
    if (!(seconds > 0)) return "its length can't be told from its format and audio chunks";
    if (seconds > kLongestLoopSeconds) return "it is longer than five minutes, too long to find its beats in";
    const auto loop = static_cast<int64_t>(std::llround(loopSamples));
    // Below -60 dB is silence, or dither.
    const bool quiet = std::none_of(samples.begin(), samples.end(), [](float v) { return std::fabs(v) > 1e-3f; });
    const Onsets odf = loop >= 1 && !quiet ? OnsetStrength(samples, rate, loop) : Onsets{};
    if (odf.band[0].empty()) return "its audio holds no onsets to count beats by";
    std::vector<float> all(odf.band[0].size(), 0.0f);
    for (size_t b = 0; b < kBands; ++b) {
        c.band[b] = Circle(odf.band[b]);
        for (size_t j = 0; j < all.size(); ++j) all[j] += odf.band[b][j];
    }
    c.all = Circle(all);
    Notes notes = OnTonic(samples, rate, loop);
    c.tonic = std::move(notes.onTonic);
    c.steady = notes.steady;
    // The loop's length in hops: the circle's last hop is partly the loop's start.
    hops = static_cast<double>(loop) / kHop;
    return {};
}

std::vector<BeatTerms> ScoreAll(const Circles& c, double hops, double seconds, double* coverage) {
    const auto lowest = std::max<int32_t>(1, static_cast<int32_t>(std::ceil(kLowestBpm * seconds / 60)));
    const auto highest = std::min(std::max<int32_t>(1, static_cast<int32_t>(std::floor(kHighestBpm * seconds / 60))),
                                  static_cast<int32_t>(hops / 3));
    if (highest < lowest) return {};
    // Each grid, and the grid at twice its tempo: whether that one's beats
    // are this one's subdivisions or beats of their own.
    const auto finest = std::min(2 * highest, static_cast<int32_t>(hops / 3));
    std::vector<BeatTerms> grids;
    for (int32_t n = lowest; n <= finest; ++n) grids.push_back(Terms(c, hops, n, seconds));
    const double* weights = c.steady >= kSteadyNotes ? kBassLineWeights : kBeatWeights;
    std::vector<BeatTerms> scored;
    for (int32_t n = lowest; n <= highest; ++n) {
        BeatTerms t = grids[static_cast<size_t>(n - lowest)];
        if (2 * n <= finest) {
            const BeatTerms& twice = grids[static_cast<size_t>(2 * n - lowest)];
            t.x[7] = twice.x[2];
            t.x[8] = twice.x[3];
            t.x[9] = twice.x[1];
            t.x[15] = twice.x[0];
            t.x[19] = twice.x[16];
        }
        if (n % 2 == 0 && n / 2 >= lowest) {
            const BeatTerms& half = grids[static_cast<size_t>(n / 2 - lowest)];
            t.x[13] = half.x[2];
            t.x[14] = half.x[3];
        }
        t.score = t.prior;
        for (size_t i = 0; i < kBeatTerms; ++i) t.score += weights[i] * t.x[i];
        scored.push_back(t);
    }
    std::sort(scored.begin(), scored.end(), [](const BeatTerms& a, const BeatTerms& b) { return a.score > b.score; });
    if (coverage && !scored.empty()) *coverage = Coverage(c.all, hops, scored.front().beats);
    return scored;
}

}  // namespace

std::vector<BeatTerms> ScoreBeatCounts(const std::vector<float>& samples, double rate, double loopSamples,
                                       double* coverage, double* steady) {
    Circles c;
    double hops = 0;
    if (!Prepare(samples, rate, loopSamples, c, hops).empty()) return {};
    if (steady) *steady = c.steady;
    return ScoreAll(c, hops, loopSamples / rate, coverage);
}

BeatEstimate DetectBeats(const std::vector<float>& samples, double rate, double loopSamples) {
    BeatEstimate e;
    Circles c;
    double hops = 0;
    e.why = Prepare(samples, rate, loopSamples, c, hops);
    if (!e.why.empty()) return e;
    double coverage = 0;
    const std::vector<BeatTerms> scored = ScoreAll(c, hops, loopSamples / rate, &coverage);
    if (scored.empty()) {
        e.why = "it is too short to hold a beat";
        return e;
    }
    double total = 0;
    for (const BeatTerms& t : scored) total += std::exp(t.score - scored.front().score);
    for (size_t i = 0; i < scored.size() && i < 5; ++i)
        e.candidates.push_back(
            {scored[i].beats, scored[i].bpm, std::exp(scored[i].score - scored.front().score) / total});
    e.beats = e.candidates[0].beats;
    e.confidence = e.candidates[0].confidence;
    if (e.candidates.size() > 1) {
        e.runnerUp = e.candidates[1].beats;
        e.runnerUpConfidence = e.candidates[1].confidence;
    }
    // A held note or a lone hit fits every grid alike: the best one must find
    // onsets on enough of its beats to be believed.
    e.sure = e.confidence >= kBeatsSureConfidence && coverage >= kLeastCoverage &&
             coverage * e.beats + 0.5 >= kLeastBeatsHit;
    return e;
}

}  // namespace velorizer
