// The velorize command line, run as a real process on real files.

#include "TestSupport.h"
#include "clsAcidSettings.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sstream>
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace testsupport;

namespace {

const std::string kVelorize = std::string(VELORIZER_BIN_DIR) + "/velorize";

struct CliRun {
    int status = -1;
    std::string out, err;
};

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Runs velorize with stdin from /dev/null (no terminal), after `shellFirst`.
CliRun Velorize(const std::string& args, const TempDir& dir, const std::string& shellFirst = "") {
    const std::string errFile = dir / "stderr.txt";
    const std::string cmd = shellFirst + Quote(kVelorize) + " " + args + " </dev/null 2>" + Quote(errFile);
    CliRun r;
    FILE* p = ::popen(cmd.c_str(), "r");
    std::array<char, 4096> buf;
    for (size_t n; (n = std::fread(buf.data(), 1, buf.size(), p)) > 0;) r.out.append(buf.data(), n);
    const int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    const Bytes e = ReadBytes(errFile);
    r.err.assign(e.begin(), e.end());
    std::remove(errFile.c_str());
    return r;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Messages of files tagged at once come as each file is done.
std::vector<std::string> SortedLines(const std::string& text) {
    std::vector<std::string> lines = Lines(text);
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::string Tone(const TempDir& dir, const std::string& name) {
    return MakeSoxWave(dir, name, 44100, 2, 16, "signed-integer", 2.0);
}

}  // namespace

TEST(VelorizeCli, TagsFilesAndFoldersAndShowsWhatItWrote) {
    TempDir dir;
    std::filesystem::create_directories(dir.path() / "lib" / "kicks");
    const std::string a = Tone(dir, "lib/b.wav");
    const std::string b = Tone(dir, "lib/kicks/A.WAV");
    const std::string c = Tone(dir, "single.wav");
    WriteBytes(dir / "lib/notes.txt", Bytes{'x'});

    CliRun r = Velorize("--loop 8 --root C# " + Quote(dir / "lib") + " " + Quote(c), dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "Operation completed.\n");
    for (const auto& f : {a, b, c}) {
        const SndInfo info = ReadWithSndfile(f);
        EXPECT_EQ(info.numBeats, 8) << f;
        EXPECT_EQ(info.bpm, 240.0f) << f;
        EXPECT_EQ(info.rootKey, 61) << f;
    }

    CliRun show = Velorize("--show " + Quote(dir / "lib"), dir);
    EXPECT_EQ(show.status, 0);
    EXPECT_EQ(show.out, a + ": type loop (mode 22), root note C# (MIDI 61), 8 beats, meter 4/4, tempo 240 bpm\n" + b +
                            ": type loop (mode 22), root note C# (MIDI 61), 8 beats, meter 4/4, tempo 240 bpm\n");

    const std::string d = Tone(dir, "disk.wav");
    EXPECT_EQ(Velorize("--show " + Quote(d), dir).out, d + ": no acid chunk\n");
    EXPECT_EQ(Velorize("--disk-based --tempo 95.5 --root C " + Quote(d), dir).status, 0);
    EXPECT_EQ(Velorize("--show " + Quote(d), dir).out,
              d + ": type disk-based (mode 30), root note C (MIDI 48), 4 beats, meter 4/4, tempo 95.5 bpm\n");

    // The tempo as the file holds it; a cut-short chunk told as tagging tells it.
    velorizer::clsAcidSettings odd;
    odd.Tempo(1e32f);
    const auto body = odd.Contents();
    Bytes cut = WaveBuilder().Fmt(1, 8000, 8).Data(2).Acid(Bytes(body.begin(), body.end())).Build();
    WriteBytes(dir / "exact.wav", cut);
    EXPECT_NE(Velorize("--show " + Quote(dir / "exact.wav"), dir).out.find(", tempo 1e+32 bpm\n"), std::string::npos);
    cut.resize(cut.size() - 4);
    WriteBytes(dir / "cut.wav", cut);
    CliRun cutShow = Velorize("--show " + Quote(dir / "cut.wav"), dir);
    EXPECT_EQ(cutShow.status, 1);
    EXPECT_EQ(cutShow.err,
              "velorize: can't read '" + (dir / "cut.wav") + "': it holds fewer bytes than its RIFF header declares\n");
}

TEST(VelorizeCli, QuestionsWithoutATerminalAreAnsweredByTheFlagsOrNo) {
    TempDir dir;
    const std::string f = Tone(dir, "a.wav");
    ASSERT_EQ(Velorize("--one-shot " + Quote(f), dir).status, 0);
    const Bytes tagged = ReadBytes(f);

    CliRun no = Velorize("--loop 2 " + Quote(f), dir);
    EXPECT_EQ(no.status, 1) << "a file no one could be asked about is no success";
    EXPECT_EQ(no.err, "velorize: skipped '" + f +
                          "': it is already tagged, and there is no terminal to ask "
                          "(answer with --yes-to-all or --no-to-all)\nOperation completed.\n");
    EXPECT_EQ(ReadBytes(f), tagged);
    CliRun noToAll = Velorize("--loop 2 --no-to-all " + Quote(f), dir);
    EXPECT_EQ(noToAll.status, 0) << "declined by the flag";
    EXPECT_EQ(ReadBytes(f), tagged);

    ::chmod(f.c_str(), 0444);
    CliRun yes = Velorize("--loop 2 --yes-to-all " + Quote(f), dir);
    EXPECT_EQ(yes.status, 0) << yes.err;
    EXPECT_EQ(ReadWithSndfile(f).numBeats, 2);
    struct stat st {};
    ::stat(f.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
}

TEST(VelorizeCli, FailuresAreReportedWithTheDesktopTextsAndExitOne) {
    TempDir dir;
    const std::string good = Tone(dir, "good.wav");
    // A name that would erase the line and move the cursor up, were it printed as it is.
    const std::string bad = dir / "bad\r\x1b[K\x1b[2A\xff.wav";
    const std::string shown = dir / "bad\\r\\x1b[K\\x1b[2A\\xff.wav";
    WriteBytes(bad, Bytes(64, 'x'));
    CliRun r = Velorize("--one-shot " + Quote(bad) + " " + Quote(good), dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error: mmioDescend failed on " + shown + "\nOperation completed.\n");
    EXPECT_TRUE(ReadWithSndfile(good).hasLoop) << "the run goes on after a failed file";
    EXPECT_EQ(ReadBytes(bad), Bytes(64, 'x'));
    EXPECT_EQ(Velorize("--show " + Quote(bad), dir).err,
              "velorize: can't read '" + shown + "': it is not a WAVE file\n");

    for (const std::string missing : {"gone.wav", "nothing-here"}) {
        CliRun r2 = Velorize("--one-shot " + Quote(dir / missing), dir);
        EXPECT_EQ(r2.status, 1);
        EXPECT_NE(r2.err.find("velorize: skipped '" + (dir / missing) + "': no such file or folder\n"),
                  std::string::npos);
    }
    WriteBytes(dir / "notes.txt", Bytes{'x'});
    CliRun notWav = Velorize("--one-shot " + Quote(dir / "notes.txt"), dir);
    EXPECT_EQ(notWav.status, 1);
    EXPECT_NE(notWav.err.find("not a folder or a .wav file"), std::string::npos);
    std::filesystem::create_directory(dir.path() / "empty");
    CliRun none = Velorize("--one-shot " + Quote(dir / "empty"), dir);
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.err, "No files were found in the specified directory.\n");
}

TEST(VelorizeCli, UsageErrorsExitTwoAndWriteNothing) {
    TempDir dir;
    const std::string f = Tone(dir, "a.wav");
    const Bytes before = ReadBytes(f);
    for (const std::string args : {"",
                                   "--loop 4",
                                   "--root C",
                                   "--loop 0",
                                   "--loop 10001",
                                   "--loop x",
                                   "--tempo 120",
                                   "--disk-based --tempo 59.9",
                                   "--disk-based --tempo 240.5",
                                   "--disk-based --tempo nan",
                                   "--disk-based --tempo -nan",
                                   "--disk-based --tempo NAN",
                                   "--disk-based --tempo 'nan(1)'",
                                   "--disk-based --tempo inf",
                                   "--loop 4 --root H",
                                   "--one-shot --loop 4",
                                   "--show --one-shot",
                                   "--yes-to-all --no-to-all --one-shot",
                                   "--bogus --one-shot",
                                   "--loop-at 0",
                                   "--loop-at inf",
                                   "--loop-at Name",
                                   "--loop 4 --loop-at 96",
                                   "--show --dry-run",
                                   "--format json",
                                   "--show --format xml",
                                   "--one-shot --jobs 0",
                                   "--one-shot --jobs -1",
                                   "--one-shot --jobs x",
                                   "--one-shot --jobs 257",
                                   "--one-shot --jobs 4.5",
                                   "--show --jobs",
                                   "--runs --jobs 2",
                                   "--undo --jobs 2"}) {
        const bool pathless = args == "--loop 4" || args.starts_with("--runs") || args.starts_with("--undo");
        const std::string paths = pathless ? "" : " " + Quote(f);
        CliRun r = Velorize(args + paths, dir);
        EXPECT_EQ(r.status, 2) << "args: " << args;
        EXPECT_NE(r.err.find("Usage: velorize"), std::string::npos) << args;
    }
    EXPECT_EQ(ReadBytes(f), before);
    CliRun help = Velorize("--help", dir);
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--disk-based"), std::string::npos);
}

TEST(VelorizeCli, OnATerminalItAsksAndCancelStopsTheRun) {
    TempDir dir;
    std::vector<std::string> files;
    for (const char* n : {"1.wav", "2\x1b[2A.wav", "3.wav"}) {
        files.push_back(Tone(dir, n));
        ::chmod(files.back().c_str(), 0444);
    }
    const Bytes untouched = ReadBytes(files[2]);
    int master = -1;
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // Messages to a file: the questions must still reach the terminal.
        ::dup2(::open((dir / "log").c_str(), O_WRONLY | O_CREAT, 0600), 2);
        ::execl(kVelorize.c_str(), "velorize", "--loop", "4", dir.path().c_str(), nullptr);
        ::_exit(127);
    }
    // Answer Yes to the first question and Cancel to the second.
    std::string seen, all;
    int prompts = 0;
    char buf[1024];
    for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;) {
        seen.append(buf, static_cast<size_t>(n));
        all.append(buf, static_cast<size_t>(n));
        while (seen.find("[C]ancel: ") != std::string::npos) {
            seen.erase(0, seen.find("[C]ancel: ") + 10);
            const char* answer = ++prompts == 1 ? "y\n" : "c\n";
            ASSERT_EQ(::write(master, answer, 2), 2);
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(master);
    EXPECT_EQ(WEXITSTATUS(status), 3);
    EXPECT_EQ(prompts, 2);
    EXPECT_NE(all.find("read-only file '" + (dir / "2\\x1b[2A.wav") + "'?"), std::string::npos) << all;
    EXPECT_EQ(all.find("\x1b[2A"), std::string::npos);
    const Bytes log = ReadBytes(dir / "log");
    EXPECT_EQ(std::string(log.begin(), log.end()), "Operation cancelled.\n");
    EXPECT_TRUE(ReadWithSndfile(files[0]).hasLoop);
    EXPECT_FALSE(ReadWithSndfile(files[1]).hasLoop);
    EXPECT_EQ(ReadBytes(files[2]), untouched);
}

namespace {

// A sox-made tone of exactly `frames` frames, mono 16-bit at 8 kHz.
std::string Frames(const TempDir& dir, const std::string& name, int frames) {
    Sox("-r 8000 -n -c 1 -b 16 " + Quote(dir / name) + " synth " + std::to_string(frames) + "s sine 440 vol 0.5");
    return dir / name;
}

}  // namespace

TEST(VelorizeCli, BeatsFromATempoAndTheRootFromTheNameAsTheDryRunForetold) {
    TempDir dir;
    std::filesystem::create_directory(dir.path() / "pack");
    // 4 beats at 100 bpm: 19,591 frames make 98.0042 bpm, 19,592 make 97.9992, more than 2 % off.
    const std::string inTime = Frames(dir, "pack/Break_100bpm_Am.wav", 19591);
    const std::string late = Frames(dir, "pack/Fill_100_bpm_C#m.wav", 19592);
    const std::string kick = Frames(dir, "pack/Kick_808.wav", 800);
    const std::string pad = Frames(dir, "pack/Pad_96bpm.wav", 20000);
    const std::vector<std::string> all = {inTime, late, kick, pad};
    std::vector<Bytes> before;
    for (const auto& f : all) before.push_back(ReadBytes(f));
    const std::string args = "--loop-at name --root name " + Quote(dir / "pack");

    CliRun dry = Velorize("--dry-run " + args, dir);
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
    for (size_t i = 0; i < all.size(); ++i) EXPECT_EQ(ReadBytes(all[i]), before[i]) << all[i];

    CliRun run = Velorize(args, dir);
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
    EXPECT_EQ(tagged.bpm, static_cast<float>(4 * 60 * 8000 / 19591.0));
    EXPECT_EQ(tagged.rootKey, 69);
    EXPECT_EQ(ReadBytes(late), before[1]);
    EXPECT_EQ(ReadBytes(kick), before[2]);
    // What was written is what the dry run said.
    std::vector<std::string> foretold;
    const std::string would = "would write ";
    for (std::string line : Lines(dry.out)) {
        const size_t at = line.find(would);
        if (at == std::string::npos) continue;
        foretold.push_back(line.erase(at, would.size()).substr(0, line.find(';')));
    }
    std::vector<std::string> shown = Lines(Velorize("--show " + Quote(dir / "pack"), dir).out);
    std::erase_if(shown, [](const std::string& line) { return line.ends_with(": no acid chunk"); });
    EXPECT_EQ(shown, foretold);

    EXPECT_EQ(Velorize("--loop-at 120 --yes-to-all " + Quote(pad), dir).status, 0);
    EXPECT_EQ(ReadWithSndfile(pad).numBeats, 5);
    EXPECT_EQ(ReadWithSndfile(pad).bpm, 120.0f);
}

TEST(VelorizeCli, ShowAsJsonAndCsvReadsBackAsTheFilesBytes) {
    TempDir dir;
    std::filesystem::create_directory(dir.path() / "lib");
    const std::string loop = MakeSoxWave(dir, "lib/loop.wav", 44100, 2, 16, "signed-integer", 0.7);
    ASSERT_EQ(Velorize("--loop 7 --root C# " + Quote(loop), dir).status, 0);
    const std::string disk = MakeSoxWave(dir, "lib/disk.wav", 48000, 2, 24, "signed-integer", 0.5);
    ASSERT_EQ(Velorize("--disk-based --tempo 95.5 --root D " + Quote(disk), dir).status, 0);
    MakeSoxWave(dir, "lib/\xff\xfe odd.wav", 22050, 1, 8, "unsigned-integer", 0.2);
    MakeSoxWave(dir, "lib/a\"b,c\\\nd.wav", 8000, 1, 32, "floating-point", 0.1);
    Bytes junk = ReadBytes(MakeSoxWave(dir, "lib/junk.wav", 8000, 1, 16, "signed-integer", 0.1));
    junk.insert(junk.end(), 128, 'T');
    WriteBytes(dir / "lib/junk.wav", junk);
    WaveBuilder().Fmt(1, 8000, 8).Data(8).Acid(Bytes(20, 0)).Write(dir, "lib/odd-acid.wav");
    WriteBytes(dir / "lib/text.wav", {'h', 'i'});

    for (const char* format : {"json", "csv"}) {
        CliRun r = Velorize("--show --format " + std::string(format) + " " + Quote(dir / "lib"), dir);
        EXPECT_EQ(r.status, 1) << "two files can't be read";
        WriteBytes(dir / format, Bytes(r.out.begin(), r.out.end()));
    }
    const std::string checker = std::string(VELORIZER_SOURCE_DIR) + "/tests/tools/check-show-data.py";
    FILE* p = ::popen(
        ("/usr/bin/python3 " + Quote(checker) + " " + Quote(dir / "json") + " " + Quote(dir / "csv") + " 2>&1").c_str(),
        "r");
    std::string checked;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) checked.append(buf, n);
    EXPECT_EQ(::pclose(p), 0) << checked;
    std::vector<std::string> seen = Lines(checked);
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<std::string>{
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
    std::vector<std::string> files;
    for (int i = 0; i < 120; ++i) {
        const std::string folder = dir / ("lib/pack" + std::to_string(i % 12));
        std::filesystem::create_directories(folder);
        files.push_back(folder + "/loop" + std::to_string(i) + ".wav");
        std::filesystem::copy_file(seed, files.back());
    }
    // Out of the page cache, so that the reads ahead have work to do.
    for (const auto& f : files) {
        const int fd = ::open(f.c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        ::fsync(fd);
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
    }
    // Three standard streams and the journal's two leave a handful: the run
    // takes what is left, and no file's own open finds none.
    const std::string lib = Quote(dir / "lib");
    for (const std::string& args : {"--show " + lib, "--jobs 1 --loop 4 --yes-to-all " + lib,
                                    "--one-shot --yes-to-all " + lib, "--show --format csv " + lib}) {
        const CliRun r = Velorize(args, dir, "prlimit --nofile=10 -- ");
        EXPECT_EQ(r.status, 0) << args << "\n" << r.err;
        EXPECT_EQ(Lines(r.out).size(), args.find("--show") == 0 ? 120u + (args.find("csv") != std::string::npos) : 0u)
            << args;
    }
    const std::string shown = Velorize("--show " + lib, dir).out;
    size_t oneShots = 0;
    for (const auto& line : Lines(shown)) oneShots += line.find(": type one-shot (mode 1),") != std::string::npos;
    EXPECT_EQ(oneShots, files.size()) << shown;
}
