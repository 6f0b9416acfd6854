// The velorize command line, run as a real process on real files.

#include "CliSupport.h"
#include "clsAcidSettings.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <numbers>
#include <sstream>
#include <sys/syscall.h>

using namespace testsupport;
using namespace clisupport;

namespace {

std::string Tone(const TempDir& dir, const std::string& name) {
    return MakeSoxWave(dir, name, 44100, 2, 16, "signed-integer", 2.0);
}

// A sox-made tone of exactly `frames` frames, mono 16-bit at 8 kHz.
std::string Frames(const TempDir& dir, const std::string& name, int frames) {
    Sox("-r 8000 -n -c 1 -b 16 " + Quote(dir / name) + " synth " + std::to_string(frames) + "s sine 440 vol 0.5");
    return dir / name;
}

}  // namespace

TEST(VelorizeCli, TagsFilesAndFoldersShowsWhatItWroteAndRetagsOnlyWhenTold) {
    TempDir dir;
    std::filesystem::create_directories(dir.path() / "lib" / "kicks");
    const std::string a = Tone(dir, "lib/b.wav");
    const std::string b = Tone(dir, "lib/kicks/A.WAV");
    const std::string c = Tone(dir, "single.wav");
    WriteBytes(dir / "lib/notes.txt", Bytes{'x'});

    CliRun r = Velorize({"--loop", "8", "--root", "C#", dir / "lib", c}, dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "Operation completed.\n");
    for (const auto& f : {a, b, c}) {
        const SndInfo info = ReadWithSndfile(f);
        EXPECT_EQ(info.numBeats, 8) << f;
        EXPECT_EQ(info.bpm, 240.0f) << f;
        EXPECT_EQ(info.rootKey, 61) << f;
    }
    const std::string loop = ": type loop (mode 22), root note C# (MIDI 61), 8 beats, meter 4/4, tempo 240 bpm\n";
    r = Velorize({"--show", dir / "lib"}, dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, a + loop + b + loop);

    const std::string d = Tone(dir, "disk.wav");
    EXPECT_EQ(Velorize({"--show", d}, dir).out, d + ": no acid chunk\n");
    EXPECT_EQ(Velorize({"--disk-based", "--tempo", "95.5", "--root", "C", d}, dir).status, 0);
    EXPECT_EQ(Velorize({"--show", d}, dir).out,
              d + ": type disk-based (mode 30), root note C (MIDI 48), 4 beats, meter 4/4, tempo 95.5 bpm\n");

    // Tagged already: without a terminal, asked of no one, so answered by the flags or no.
    const Bytes tagged = ReadBytes(d);
    r = Velorize({"--loop", "2", d}, dir);
    EXPECT_EQ(r.status, 1) << "a file no one could be asked about is no success";
    EXPECT_EQ(r.err, "velorize: skipped '" + d +
                         "': it is already tagged, and there is no terminal to ask "
                         "(answer with --yes-to-all or --no-to-all)\nOperation completed.\n");
    EXPECT_EQ(Velorize({"--loop", "2", "--no-to-all", d}, dir).status, 0) << "declined by the flag";
    EXPECT_EQ(ReadBytes(d), tagged);
    ::chmod(d.c_str(), 0444);
    r = Velorize({"--loop", "2", "--yes-to-all", d}, dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadWithSndfile(d).numBeats, 2);
    EXPECT_EQ(Mode(d), 0444u);

    // The tempo as the file holds it; a cut-short chunk told as tagging tells it.
    velorizer::clsAcidSettings odd;
    odd.Tempo(1e32f);
    const auto body = odd.Contents();
    Bytes cut = WaveBuilder().Fmt(1, 8000, 8).Data(2).Acid(Bytes(body.begin(), body.end())).Build();
    WriteBytes(dir / "exact.wav", cut);
    EXPECT_TRUE(Velorize({"--show", dir / "exact.wav"}, dir).out.ends_with(", tempo 1e+32 bpm\n"));
    cut.resize(cut.size() - 4);
    WriteBytes(dir / "cut.wav", cut);
    r = Velorize({"--show", dir / "cut.wav"}, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "velorize: can't read '" + (dir / "cut.wav") + "': it holds fewer bytes than its RIFF header declares\n");
}

TEST(VelorizeCli, FailuresAreReportedWithTheDesktopTextsAndExitOne) {
    TempDir dir;
    const std::string good = Tone(dir, "good.wav");
    // A name that would erase the line and move the cursor up, were it printed as it is.
    const std::string bad = dir / "bad\r\x1b[K\x1b[2A\xff.wav";
    const std::string shown = dir / "bad\\r\\x1b[K\\x1b[2A\\xff.wav";
    WriteBytes(bad, Bytes(64, 'x'));
    const CliRun r = Velorize({"--one-shot", bad, good}, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error: mmioDescend failed on " + shown + "\nOperation completed.\n");
    EXPECT_TRUE(ReadWithSndfile(good).hasLoop) << "the run goes on after a failed file";
    EXPECT_EQ(ReadBytes(bad), Bytes(64, 'x'));
    EXPECT_EQ(Velorize({"--show", bad}, dir).err, "velorize: can't read '" + shown + "': it is not a WAVE file\n");

    WriteBytes(dir / "notes.txt", Bytes{'x'});
    std::filesystem::create_directory(dir.path() / "empty");
    for (const auto& [name, message] : {std::pair<std::string, std::string>{"gone.wav", "': no such file or folder\n"},
                                        {"nothing-here", "': no such file or folder\n"},
                                        {"notes.txt", "': not a folder or a .wav file"}}) {
        const CliRun skipped = Velorize({"--one-shot", dir / name}, dir);
        EXPECT_EQ(skipped.status, 1) << name;
        EXPECT_TRUE(Contains(skipped.err, "velorize: skipped '" + (dir / name) + message)) << skipped.err;
    }
    const CliRun none = Velorize({"--one-shot", dir / "empty"}, dir);
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.err, "No files were found in the specified directory.\n");
}

TEST(VelorizeCli, UsageErrorsExitTwoAndWriteNothing) {
    TempDir dir;
    const std::string f = Tone(dir, "a.wav");
    const Bytes before = ReadBytes(f);
    // Cases split at ';', the first with no arguments at all; words at spaces.
    std::istringstream usage(
        ";--loop 4;--root C;--loop 0;--loop 10001;--loop x;--tempo 120;"
        "--disk-based --tempo 59.9;--disk-based --tempo 240.5;--disk-based --tempo inf;"
        "--disk-based --tempo nan;--disk-based --tempo -nan;--disk-based --tempo NAN;"
        "--disk-based --tempo nan(1);--loop 4 --root H;--one-shot --loop 4;--show --one-shot;"
        "--yes-to-all --no-to-all --one-shot;--bogus --one-shot;--show --dry-run;"
        "--loop-at 0;--loop-at inf;--loop-at Name;--loop 4 --loop-at 96;"
        "--format json;--show --format xml;--show --jobs;--runs --jobs 2;--undo --jobs 2;"
        "--one-shot --jobs 0;--one-shot --jobs -1;--one-shot --jobs x;"
        "--one-shot --jobs 257;--one-shot --jobs 4.5");
    for (std::string line; std::getline(usage, line, ';');) {
        std::vector<std::string> args;
        std::istringstream words(line);
        for (std::string w; words >> w;) args.push_back(w);
        if (line != "--loop 4" && !line.starts_with("--runs") && !line.starts_with("--undo")) args.push_back(f);
        const CliRun r = Velorize(args, dir);
        EXPECT_EQ(r.status, 2) << "args: " << line;
        EXPECT_TRUE(Contains(r.err, "Usage: velorize")) << line;
    }
    EXPECT_EQ(ReadBytes(f), before);
    const CliRun help = Velorize({"--help"}, dir);
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(Contains(help.out, "--disk-based"));
}

TEST(VelorizeCli, OnATerminalItAsksAndCancelStopsTheRun) {
    TempDir dir;
    std::vector<std::string> files;
    for (const char* n : {"1.wav", "2\x1b[2A.wav", "3.wav"}) {
        files.push_back(Tone(dir, n));
        ::chmod(files.back().c_str(), 0444);
    }
    const Bytes untouched = ReadBytes(files[2]);
    // Messages to a file: the questions must still reach the terminal.
    // Answer Yes to the first question and Cancel to the second.
    int master = -1;
    const pid_t pid = OnATerminal(dir, {"--loop", "4", dir.path()}, master);
    std::string all;
    ASSERT_TRUE(WaitForQuestion(master, all));
    ASSERT_EQ(::write(master, "y\n", 2), 2);
    ASSERT_TRUE(WaitForQuestion(master, all));
    ASSERT_EQ(::write(master, "c\n", 2), 2);
    EXPECT_EQ(Finish(pid, master, &all), 3);
    size_t prompts = 0;
    for (size_t at = 0; (at = all.find("[C]ancel: ", at)) != std::string::npos; at += 10) ++prompts;
    EXPECT_EQ(prompts, 2u);
    EXPECT_TRUE(Contains(all, "read-only file '" + (dir / "2\\x1b[2A.wav") + "'?")) << all;
    EXPECT_FALSE(Contains(all, "\x1b[2A"));
    EXPECT_EQ(Text(dir / "log"), "Operation cancelled.\n");
    EXPECT_TRUE(ReadWithSndfile(files[0]).hasLoop);
    EXPECT_FALSE(ReadWithSndfile(files[1]).hasLoop);
    EXPECT_EQ(ReadBytes(files[2]), untouched);
}

TEST(VelorizeCli, BeatsFromATempoAndTheRootFromTheNameAsTheDryRunForetold) {
    TempDir dir;
    std::filesystem::create_directory(dir.path() / "pack");
    // 4 beats at 100 bpm: 19,591 frames make 98.0042 bpm, 19,592 make 97.9992, more than 2 % off.
    const std::string inTime = Frames(dir, "pack/Break_100bpm_Am.wav", 19591);
    const std::string late = Frames(dir, "pack/Fill_100_bpm_C#m.wav", 19592);
    const std::string kick = Frames(dir, "pack/Kick_808.wav", 800);
    const std::string pad = Frames(dir, "pack/Pad_96bpm.wav", 20000);
    const auto before = Snapshot({inTime, late, kick, pad});
    std::vector<std::string> args = {"--dry-run", "--loop-at", "name", "--root", "name", dir / "pack"};

    const CliRun dry = Velorize(args, dir);
    EXPECT_EQ(dry.status, 1) << "files would be left alone";
    EXPECT_EQ(dry.out, inTime +
                           ": would write type loop (mode 22), root note A (MIDI 69), 4 beats, meter 4/4, "
                           "tempo 98.00419 bpm\n" +
                           late +
                           ": would be left alone: it is no loop at 100 bpm: 4 beats would make it "
                           "97.99918 bpm\n" +
                           kick + ": would be left alone: its name gives no tempo\n" + pad +
                           ": would write type loop (mode 20), no root note, 4 beats, meter 4/4, tempo 96 bpm; its "
                           "name gives no key, so it gets no root note\n");
    EXPECT_EQ(Snapshot({inTime, late, kick, pad}), before);

    args.erase(args.begin());
    const CliRun run = Velorize(args, dir);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(SortedLines(run.err),
              SortedLines("velorize: skipped '" + late +
                          "': it is no loop at 100 bpm: 4 beats would make it "
                          "97.99918 bpm\nvelorize: skipped '" +
                          kick + "': its name gives no tempo\nvelorize: '" + pad +
                          "': its name gives no key, so it gets no root note\nOperation completed.\n"));
    EXPECT_TRUE(run.err.ends_with("\nOperation completed.\n")) << run.err;
    const SndInfo tagged = ReadWithSndfile(inTime);
    EXPECT_EQ(tagged.numBeats, 4);
    EXPECT_EQ(tagged.rootKey, 69);
    EXPECT_EQ(ReadBytes(late), before.at(late));
    EXPECT_EQ(ReadBytes(kick), before.at(kick));
    // What was written is what the dry run said.
    std::vector<std::string> foretold;
    const std::string would = "would write ";
    for (std::string line : Lines(dry.out))
        if (const size_t at = line.find(would); at != std::string::npos)
            foretold.push_back(line.erase(at, would.size()).substr(0, line.find(';')));
    std::vector<std::string> shown = Lines(Velorize({"--show", dir / "pack"}, dir).out);
    std::erase_if(shown, [](const std::string& line) { return line.ends_with(": no acid chunk"); });
    EXPECT_EQ(shown, foretold);

    EXPECT_EQ(Velorize({"--loop-at", "120", "--yes-to-all", pad}, dir).status, 0);
    EXPECT_EQ(ReadWithSndfile(pad).numBeats, 5);
    EXPECT_EQ(ReadWithSndfile(pad).bpm, 120.0f);
}

TEST(VelorizeCli, ShowAsJsonAndCsvReadsBackAsTheFilesBytes) {
    TempDir dir;
    std::filesystem::create_directory(dir.path() / "lib");
    const std::string loop = MakeSoxWave(dir, "lib/loop.wav", 44100, 2, 16, "signed-integer", 0.7);
    ASSERT_EQ(Velorize({"--loop", "7", "--root", "C#", loop}, dir).status, 0);
    const std::string disk = MakeSoxWave(dir, "lib/disk.wav", 48000, 2, 24, "signed-integer", 0.5);
    ASSERT_EQ(Velorize({"--disk-based", "--tempo", "95.5", "--root", "D", disk}, dir).status, 0);
    MakeSoxWave(dir, "lib/\xff\xfe odd.wav", 22050, 1, 8, "unsigned-integer", 0.2);
    MakeSoxWave(dir, "lib/a\"b,c\\\nd.wav", 8000, 1, 32, "floating-point", 0.1);
    Bytes junk = ReadBytes(MakeSoxWave(dir, "lib/junk.wav", 8000, 1, 16, "signed-integer", 0.1));
    junk.insert(junk.end(), 128, 'T');
    WriteBytes(dir / "lib/junk.wav", junk);
    WaveBuilder().Fmt(1, 8000, 8).Data(8).Acid(Bytes(20, 0)).Write(dir, "lib/odd-acid.wav");
    WriteBytes(dir / "lib/text.wav", {'h', 'i'});

    for (const char* format : {"json", "csv"}) {
        const CliRun r = Velorize({"--show", "--format", format, dir / "lib"}, dir);
        EXPECT_EQ(r.status, 1) << "two files can't be read";
        WriteBytes(dir / format, Bytes(r.out.begin(), r.out.end()));
    }
    const std::string checker = std::string(VELORIZER_SOURCE_DIR) + "/tests/tools/check-show-data.py";
    const CliRun checked = clisupport::Run("/usr/bin/python3", {checker, dir / "json", dir / "csv"}, dir);
    EXPECT_EQ(checked.status, 0) << checked.out << checked.err;
    EXPECT_EQ(SortedLines(checked.out), (std::vector<std::string>{
                                            "b'\\xff\\xfe odd.wav' True True None",
                                            "b'a\"b,c\\\\\\nd.wav' True True None",
                                            "b'disk.wav' False True None",
                                            "b'junk.wav' False False it holds more bytes than its RIFF header declares",
                                            "b'loop.wav' False True None",
                                            "b'odd-acid.wav' False False its acid chunk is 20 bytes long instead of 24",
                                            "b'text.wav' False False it is not a WAVE file",
                                        }));
}

TEST(VelorizeCli, ALowLimitOnOpenFilesSlowsARunDownButFailsNoFile) {
    TempDir dir;
    const std::string seed = Tone(dir, "seed.wav");
    for (int i = 0; i < 120; ++i) {
        const std::string folder = dir / ("lib/pack" + std::to_string(i % 12));
        std::filesystem::create_directories(folder);
        const std::string f = folder + "/loop" + std::to_string(i) + ".wav";
        std::filesystem::copy_file(seed, f);
        // Out of the page cache, so that the reads ahead have work to do.
        const int fd = ::open(f.c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        ::fsync(fd);
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
    }
    // Three standard streams and the journal's two leave a handful: the run
    // takes what is left, and no file's own open finds none.
    const std::string lib = dir / "lib";
    for (const auto& [args, lines] : std::vector<std::pair<std::vector<std::string>, size_t>>{
             {{"--show", lib}, 120},
             {{"--jobs", "1", "--loop", "4", "--yes-to-all", lib}, 0},
             {{"--one-shot", "--yes-to-all", lib}, 0},
             {{"--show", "--format", "csv", lib}, 121}}) {
        const CliRun r = Velorize(args, dir, {.openFiles = 10});
        EXPECT_EQ(r.status, 0) << args[0] << "\n" << r.err;
        EXPECT_EQ(Lines(r.out).size(), lines) << args[0];
    }
    const std::vector<std::string> shown = Lines(Velorize({"--show", lib}, dir).out);
    EXPECT_EQ(std::ranges::count_if(shown, [](const auto& l) { return Contains(l, ": type one-shot (mode 1),"); }),
              120);
}

TEST(VelorizeCli, AFileReachedUnderManyNamesIsPlannedAndTaggedOnceUnderItsFirstName) {
    TempDir dir;
    std::filesystem::create_directories(dir.path() / "d");
    const std::string d = dir / "d", a = Frames(dir, "d/a.wav", 800), b = Frames(dir, "d/b.wav", 800);
    ASSERT_EQ(::link(b.c_str(), (d + "/c.wav").c_str()), 0);
    std::filesystem::create_directory_symlink(d, dir.path() / "link");
    const auto before = Snapshot({a, b});
    const std::vector<std::string> names = {d, a, d + "/../d", dir / "link", "/" + d, d + "/c.wav"};
    for (const char* jobs : {"1", "64"}) {
        std::vector<std::string> args = {"--loop", "4", "--yes-to-all", "--jobs", jobs};
        args.insert(args.end(), names.begin(), names.end());
        args.push_back("--dry-run");
        const CliRun dry = Velorize(args, dir);
        const std::string written =
            ": would write type loop (mode 20), no root note, 4 beats, meter 4/4, tempo 2400 bpm\n";
        EXPECT_EQ(dry.out, a + written + b + written) << jobs;
        EXPECT_EQ(dry.status, 0);
    }
    std::vector<std::string> args = {"--loop", "4", "--jobs", "64"};
    args.insert(args.end(), names.begin(), names.end());
    const CliRun r = Velorize(args, dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "Operation completed.\n") << "no name trips over the tagging of another";
    for (const auto& f : {a, b}) EXPECT_EQ(ReadBytes(f).size(), before.at(f).size() + 32) << f;

    // Hard links in three folders, tagged at once again and again: one writer
    // a file, every time.
    for (const char* sub : {"e", "f", "g"}) std::filesystem::create_directory(dir.path() / sub);
    std::vector<std::string> linked;
    for (int i = 0; i < 40; ++i) {
        const std::string name = std::to_string(i) + ".wav";
        linked.push_back(Frames(dir, "e/" + name, 400));
        for (const char* sub : {"f/", "g/"}) ASSERT_EQ(::link(linked.back().c_str(), (dir / (sub + name)).c_str()), 0);
    }
    const auto plain = Snapshot(linked);
    for (int round = 0; round < 8; ++round) {
        const CliRun again = Velorize(
            {"--one-shot", "--yes-to-all", "--no-journal", "--jobs", "64", dir / "g", dir / "f", dir / "e"}, dir);
        EXPECT_EQ(again.status, 0) << again.err;
        EXPECT_EQ(again.err, "Operation completed.\n");
    }
    for (const auto& f : linked) EXPECT_EQ(ReadBytes(f).size(), plain.at(f).size() + 32) << f;
}

TEST(VelorizeCli, OutputThatCantBeWrittenStopsTheRunWithAMessage) {
    TempDir dir;
    const std::string a = Frames(dir, "a.wav", 800);
    const std::vector<std::vector<std::string>> modes = {{"--show", a},
                                                         {"--show", "--format", "json", a},
                                                         {"--show", "--format", "csv", a},
                                                         {"--loop", "4", "--dry-run", a},
                                                         {"--runs"},
                                                         {"--help"}};
    for (const auto& args : modes) {
        SCOPED_TRACE(args[0] + " " + args.back());
        const CliRun full = Velorize(args, dir, {.stdoutTo = "/dev/full"});
        EXPECT_EQ(full.status, 1);
        EXPECT_EQ(full.err, "velorize: can't write to standard output: disk full\n");
        const CliRun closed = Velorize(args, dir, {.brokenPipe = true});
        EXPECT_EQ(closed.status, 1);
        EXPECT_EQ(closed.err, "velorize: can't write to standard output: broken pipe\n");
    }
}

TEST(VelorizeCli, AFileCutWhileItIsWrittenIsNeverExtended) {
    TempDir dir;
    const std::string a = Frames(dir, "a.wav", 8000);
    const Bytes before = ReadBytes(a);
    const Bytes half(before.begin(), before.begin() + static_cast<std::ptrdiff_t>(before.size() / 2));
    // Stopped at the write of its chunk, the file is cut by another program.
    const std::string outputs = dir / "run";
    const pid_t pid = Start(kVelorize, {"--one-shot", "--no-journal", a}, dir / "state", outputs, {.traced = true});
    bool cut = false;
    TraceSyscalls(pid, [&](long nr) {
        if ((nr == SYS_pwritev2 || nr == SYS_pwrite64) && !cut) cut = ::truncate(a.c_str(), half.size()) == 0;
    });
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(cut);
    EXPECT_EQ(Text(outputs + ".err"), "Error: Velorizer did not change the file '" + a +
                                          "': it changed while it was being tagged.\nOperation completed.\n");
    EXPECT_EQ(ReadBytes(a), half) << "no zeros up to the old end, no chunk behind the cut";
}

namespace {

// A drum loop of `bars` bars at 120 bpm, 22,050 Hz mono: kicks on beats 1
// and 3, a noise snare on 2 and 4, hats on the eighths.
std::string DrumLoop(const TempDir& dir, const std::string& name, int bars) {
    constexpr int kRate = 22050, kBeat = kRate / 2;
    std::vector<int16_t> s(static_cast<size_t>(bars * 4 * kBeat));
    uint32_t noise = 22;
    const auto next = [&] {
        return static_cast<double>((noise = noise * 1664525u + 1013904223u) >> 8) / 8388608.0 - 1;
    };
    const auto hit = [&](size_t at, double seconds, double hz, double noiseShare, double gain) {
        for (size_t i = 0; i < static_cast<size_t>(seconds * kRate) && at + i < s.size(); ++i) {
            const double t = static_cast<double>(i) / kRate, env = std::exp(-t / (seconds / 4));
            const double v = (1 - noiseShare) * std::sin(2 * std::numbers::pi * hz * t) + noiseShare * next();
            s[at + i] = static_cast<int16_t>(std::clamp(s[at + i] + 12000 * gain * env * v, -32768.0, 32767.0));
        }
    };
    for (int beat = 0; beat < bars * 4; ++beat) {
        const size_t at = static_cast<size_t>(beat * kBeat);
        if (beat % 2 == 0) hit(at, 0.3, 55, 0.05, 1.0);
        else hit(at, 0.2, 200, 0.8, 0.9);
        hit(at, 0.05, 0, 1.0, 0.3);
        hit(at + kBeat / 2, 0.05, 0, 1.0, 0.3);
    }
    WriteBytes(dir / (name + ".raw"), Bytes(reinterpret_cast<const uint8_t*>(s.data()),
                                            reinterpret_cast<const uint8_t*>(s.data() + s.size())));
    Sox("-r 22050 -e signed-integer -b 16 -c 1 " + Quote(dir / (name + ".raw")) + " " + Quote(dir / name));
    return dir / name;
}

}  // namespace

TEST(VelorizeCli, BeatsAndRootNoteFromTheAudioOrAMessageThatSaysWhyNot) {
    TempDir dir;
    const std::string loop = DrumLoop(dir, "Groove.wav", 2);
    const std::string named = DrumLoop(dir, "Groove_150bpm.wav", 2);
    const std::string tone = Tone(dir, "Tone.wav");  // one held note: no beats to count
    const std::string silence = dir / "Silence.wav";
    Sox("-n -r 44100 -c 2 -b 16 " + Quote(silence) + " trim 0 1");
    const auto before = Snapshot({loop, named, tone, silence});

    const CliRun dry =
        Velorize({"--dry-run", "--loop-at", "auto", "--root", "detect", loop, named, tone, silence}, dir);
    EXPECT_EQ(dry.status, 1) << dry.err;
    const std::vector<std::string> lines = Lines(dry.out);
    ASSERT_EQ(lines.size(), 4u) << dry.out;
    // Its kicks are a 55 Hz sine: the note A, which a tuned kick gives its loop.
    EXPECT_TRUE(lines[0].starts_with(loop + ": would write type loop (mode 22), root note A (MIDI 69), 8 beats, "
                                            "meter 4/4, tempo 120 bpm; beats from the audio (confidence "))
        << lines[0];
    EXPECT_TRUE(lines[0].ends_with(", root note from the audio (confidence 0.98)")) << lines[0];
    EXPECT_TRUE(Contains(lines[1],
                         "10 beats, meter 4/4, tempo 150 bpm; root note from the audio (confidence 0.98); its "
                         "name says 150 bpm, its audio 8 (120 bpm); the name's tempo is used"))
        << lines[1];
    EXPECT_EQ(lines[2], tone + ": would be left alone: can't tell its beats: 4 (120 bpm) or 8 (240 bpm)");
    EXPECT_EQ(lines[3], silence + ": would be left alone: its audio holds no onsets to count beats by");
    const CliRun unpitched = Velorize({"--dry-run", "--loop", "4", "--root", "detect", silence}, dir);
    EXPECT_TRUE(Lines(unpitched.out).at(0).ends_with("; its audio gives no clear root note, so it gets no root note"))
        << unpitched.out;
    EXPECT_EQ(Snapshot({loop, named, tone, silence}), before);

    // As data: the fields of --show, with what was written and where it came from.
    const CliRun json = Velorize({"--dry-run", "--format", "json", "--loop-at", "detect", loop, tone}, dir);
    const std::vector<std::string> records = Lines(json.out);
    ASSERT_EQ(records.size(), 2u) << json.out;
    EXPECT_TRUE(Contains(records[0], R"j("beats":8,"meter":"4/4","tempo":120,)j")) << records[0];
    EXPECT_TRUE(Contains(records[0], R"j("accepted":true,"reason":null,"beats_source":"audio","beats_confidence":)j"));
    EXPECT_TRUE(records[0].ends_with(R"j("root_source":null,"root_confidence":null})j")) << records[0];
    EXPECT_TRUE(Contains(records[1],
                         R"j("accepted":false,"reason":"can't tell its beats: 4 (120 bpm) or 8 (240 bpm)",)j"
                         R"j("beats_source":"audio","beats_confidence":)j"))
        << records[1];
    EXPECT_TRUE(Contains(records[1], R"j("beats_runner_up":8,)j")) << records[1];
    const CliRun csv = Velorize({"--dry-run", "--format", "csv", "--loop", "4", "--root", "C", tone}, dir);
    EXPECT_TRUE(Contains(Lines(csv.out).at(0),
                         ",accepted,reason,beats_source,beats_confidence,beats_runner_up,root_source,root_confidence"));
    EXPECT_TRUE(Contains(Lines(csv.out).at(1), ",true,,given,,,given,\r")) << csv.out;

    // Tagging writes what the dry run foretold; an unsure loop is skipped, exit status 1.
    const CliRun run = Velorize({"--loop-at", "detect", "--no-to-all", loop, tone}, dir);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "velorize: skipped '" + tone +
                           "': can't tell its beats: 4 (120 bpm) or 8 (240 bpm)\nOperation completed.\n");
    EXPECT_EQ(ReadWithSndfile(loop).numBeats, 8);
    EXPECT_EQ(ReadBytes(tone), before.at(tone));

    // A held note's root note from its pitch: 440 Hz is A.
    const CliRun pitch = Velorize({"--disk-based", "--tempo", "100", "--root", "detect", "--no-to-all", tone}, dir);
    EXPECT_EQ(pitch.status, 0) << pitch.err;
    EXPECT_EQ(ReadWithSndfile(tone).rootKey, 57);
}
