// bench_detect [--terms] FILE...: finds the beats (as a loop) and the root
// note of each file, as `velorize --loop-at detect --root detect` does, and
// prints one CSV line a file: path, beats, confidence, runner-up, sure, root
// (1..12 for C..B, 0 for none), its confidence, sure. The last line gives the
// seconds of audio analysed per second of this process's processor time: the
// detector's speed on one core, decoding included, start-up left out.
// With --terms it prints instead every candidate count with the terms it is
// scored by (for fitting the score's weights).

#include "AudioFacts.h"
#include "Inspect.h"
#include "WaveSamples.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <sys/resource.h>

namespace {

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace velorizer;
    const bool terms = argc > 1 && std::strcmp(argv[1], "--terms") == 0;
    double audioSeconds = 0;
    const double began = CpuSeconds();
    for (int i = terms ? 2 : 1; i < argc; ++i) {
        const std::string path = argv[i];
        const Inspection in = Inspect(path);
        if (in.refusal.Refuses()) {
            std::printf("%s,unreadable\n", path.c_str());
            continue;
        }
        audioSeconds += in.Duration();
        if (terms) {
            AnalysisAudio audio;
            if (!ReadAnalysisAudio(path, in.frames, audio, nullptr)) continue;
            double coverage = 0, steady = 0;
            const double loop = static_cast<double>(in.frames) / audio.factor;
            for (const BeatTerms& t : ScoreBeatCounts(audio.samples, audio.sampleRate, loop, &coverage, &steady)) {
                std::printf("%s,%d,%.3f,%.4f,%.4f,%.4f,%.4f", path.c_str(), t.beats, t.bpm, coverage, steady, t.prior,
                            t.score);
                for (const double x : t.x) std::printf(",%.5f", x);
                std::printf("\n");
            }
            continue;
        }
        const AudioFacts f = ListenTo(path, in, true, true, true);
        if (!f.unreadable.empty()) {
            std::printf("%s,unreadable\n", path.c_str());
            continue;
        }
        std::printf("%s,%d,%.3f,%d,%d,%d,%.3f,%d\n", path.c_str(), f.beats->beats, f.beats->confidence,
                    f.beats->runnerUp, f.beats->sure ? 1 : 0, f.root->rootIndex, f.root->confidence,
                    f.root->sure ? 1 : 0);
    }
    const double spent = CpuSeconds() - began;
    std::printf("# %.1f s of audio in %.3f s of processor time: %.0f s of audio a second, per core\n", audioSeconds,
                spent, spent > 0 ? audioSeconds / spent : 0.0);
    return 0;
}
