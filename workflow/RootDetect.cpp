#include "RootDetect.h"

#include "AubioPtr.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>

namespace velorizer {

namespace {

// The pitch is tracked at 5 to 10 kHz, enough for the notes and their first
// partials, in 1024-sample windows (100 to 200 ms: two periods of a 25 Hz
// bass or more) every 512 samples.
constexpr double kPitchRate = 5000;
constexpr uint_t kWindow = 1024, kHop = 512;
constexpr double kLowestHz = 25, kHighestHz = 2500;
// Frames the tracker is less sure of than this are not pitched.
constexpr float kPitchedConfidence = 0.5f;
// Of the frames that sound, this share at least must be pitched.
constexpr double kPitchedShare = 0.25;

using Classes = std::array<double, 12>;

// Krumhansl and Kessler's key profiles: how well each pitch class, counted
// from the tonic, fits a major and a minor key.
constexpr Classes kMajor = {6.35, 2.23, 3.48, 2.33, 4.38, 4.09, 2.52, 5.19, 2.39, 3.66, 2.29, 2.88};
constexpr Classes kMinor = {6.33, 2.68, 3.52, 5.38, 2.60, 3.53, 2.54, 4.75, 3.98, 2.69, 3.34, 3.17};

double Correlation(const Classes& weights, const Classes& profile, int tonic) {
    const double mw = std::accumulate(weights.begin(), weights.end(), 0.0) / 12;
    const double mp = std::accumulate(profile.begin(), profile.end(), 0.0) / 12;
    double sxy = 0, sxx = 0, syy = 0;
    for (int i = 0; i < 12; ++i) {
        const double x = weights[static_cast<size_t>((i + tonic) % 12)] - mw, y = profile[static_cast<size_t>(i)] - mp;
        sxy += x * y, sxx += x * x, syy += y * y;
    }
    return sxx > 0 && syy > 0 ? sxy / std::sqrt(sxx * syy) : 0;
}

// Half the rate, through a short low-pass (1 3 3 1) against aliasing.
std::vector<float> Halve(const std::vector<float>& x) {
    std::vector<float> y(x.size() / 2);
    const auto at = [&](size_t i) { return i < x.size() ? x[i] : 0.0f; };
    for (size_t i = 0; i < y.size(); ++i)
        y[i] = (at(i > 0 ? 2 * i - 1 : 0) + 3 * at(2 * i) + 3 * at(2 * i + 1) + at(2 * i + 2)) / 8;
    return y;
}

}  // namespace

RootEstimate DetectRoot(const std::vector<float>& input, double rate, bool isLoop) {
    RootEstimate e;
    std::vector<float> lowered;
    while (rate >= 2 * kPitchRate) {
        lowered = Halve(lowered.empty() ? input : lowered);
        rate /= 2;
    }
    const std::vector<float>& samples = lowered.empty() ? input : lowered;
    const auto aubioRate = static_cast<uint_t>(std::lround(rate));
    if (samples.size() < kWindow / 2 || aubioRate < 4000) return e;
    // YIN rather than aubio's YIN-FFT, whose confidence reads 0 in aubio 0.4.9.
    aubio::Ptr<aubio_pitch_t> pitch(new_aubio_pitch("yinfast", kWindow, kHop, aubioRate));
    aubio::Ptr<fvec_t> in(new_fvec(kHop)), out(new_fvec(1));
    if (!pitch || !in || !out) return e;
    aubio_pitch_set_unit(pitch.get(), "Hz");
    aubio_pitch_set_silence(pitch.get(), -70);

    Classes weight{};
    double sounding = 0, pitched = 0;
    // The track lags the window by half of it; a short sample is followed by
    // silence so that its end is heard too.
    const size_t total = samples.size() + kWindow / 2;
    for (size_t t = 0; t < total; t += kHop) {
        double energy = 0;
        for (uint_t j = 0; j < kHop; ++j) {
            const float v = t + j < samples.size() ? samples[t + j] : 0.0f;
            in->data[j] = v;
            energy += static_cast<double>(v) * v;
        }
        aubio_pitch_do(pitch.get(), in.get(), out.get());
        const double level = std::sqrt(energy / kHop);
        if (level < 1e-4) continue;  // -80 dB: silence between notes
        sounding += level;
        const float confidence = aubio_pitch_get_confidence(pitch.get());
        const double hz = out->data[0] * rate / aubioRate;
        if (confidence < kPitchedConfidence || !(hz >= kLowestHz && hz <= kHighestHz)) continue;
        const double midi = 69 + 12 * std::log2(hz / 440.0);
        const auto note = static_cast<int>(std::lround(midi));
        const double w = confidence * level;
        weight[static_cast<size_t>(((note % 12) + 12) % 12)] += w;
        pitched += w;
    }
    if (pitched <= 0 || pitched < kPitchedShare * sounding) return e;

    int best = static_cast<int>(std::max_element(weight.begin(), weight.end()) - weight.begin());
    if (isLoop) {
        // A loop's tonic is the key's, and the note a bass line dwells on:
        // the pitch class whose share of the weight and whose major or minor
        // key's fit to all the classes add up best. The fit alone mistakes a
        // key for its relative (A minor for C major); the share alone, a
        // line that dwells on the fifth.
        double fit = -1e9;
        for (int tonic = 0; tonic < 12; ++tonic)
            for (const Classes* profile : {&kMajor, &kMinor})
                if (const double r =
                        weight[static_cast<size_t>(tonic)] / pitched + Correlation(weight, *profile, tonic);
                    r > fit)
                    fit = r, best = tonic;
    }
    e.rootIndex = best + 1;
    e.confidence = weight[static_cast<size_t>(best)] / pitched;
    e.sure = e.confidence >= kRootSureConfidence;
    return e;
}

}  // namespace velorizer
