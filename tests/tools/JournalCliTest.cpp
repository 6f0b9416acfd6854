// The journal, undo and removal of the velorize command line, run as real
// processes on real files, each test with a journal folder of its own.

#include "CliSupport.h"
#include "JournalRecords.h"

#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>
#include <sys/syscall.h>

using namespace testsupport;
using namespace clisupport;
using namespace velorizer;

namespace {

// How often a traced run entered each of the calls that change a file or its
// journal. Their number is the same from run to run, however the threads
// reading ahead or tagging at once are scheduled; other calls' isn't.
struct Calls {
    size_t pwrite = 0, write = 0, sync = 0;
    size_t& Of(long nr) { return nr == SYS_pwrite64 || nr == SYS_pwritev2 ? pwrite : nr == SYS_write ? write : sync; }
};

// Lets a traced process run until it enters system call `nr` for the
// `killAt`-th time, counted over all its threads, and kills it there, before
// that call does anything.
Calls KillAtSyscall(pid_t pid, long nr, size_t killAt) {
    Calls calls;
    bool killed = false;
    TraceSyscalls(pid, [&](long entered) {
        if (killed) return;
        if (entered != SYS_pwrite64 && entered != SYS_pwritev2 && entered != SYS_write && entered != SYS_fdatasync)
            return;
        if (++calls.Of(entered) == killAt && (entered == nr || (nr == SYS_pwrite64 && entered == SYS_pwritev2))) {
            ::kill(pid, SIGKILL);
            killed = true;
        }
    });
    return calls;
}

// The run ids --runs lists, oldest first.
std::vector<std::string> RunIds(const TempDir& dir) {
    std::vector<std::string> ids = Lines(Velorize({"--runs"}, dir).out);
    for (auto& id : ids) id = id.substr(0, id.find(' '));
    return ids;
}

}  // namespace

TEST(Journal, ASoxBatchOfEveryFormatIsUndoneToTheByteRunByRun) {
    TempDir dir;
    std::filesystem::create_directory(dir.path() / "lib");
    std::vector<std::string> files;
    const std::vector<std::tuple<int, int, int, const char*>> formats = {
        {44100, 2, 16, "signed-integer"},  {48000, 2, 24, "signed-integer"}, {96000, 1, 32, "signed-integer"},
        {22050, 1, 8, "unsigned-integer"}, {44100, 2, 32, "floating-point"}, {48000, 2, 64, "floating-point"},
        {8000, 6, 16, "signed-integer"}};
    for (const auto& [rate, channels, bits, encoding] : formats)
        files.push_back(
            MakeSoxWave(dir, "lib/" + std::to_string(files.size()) + ".wav", rate, channels, bits, encoding, 0.3));
    ::chmod(files[0].c_str(), 0444);
    const auto original = Snapshot(files);

    ASSERT_EQ(Velorize({"--loop", "8", "--root", "C", "--yes-to-all", dir / "lib"}, dir).status, 0);
    const auto looped = Snapshot(files);
    ASSERT_EQ(Velorize({"--disk-based", "--tempo", "95.5", "--yes-to-all", dir / "lib"}, dir).status, 0);
    const CliRun runs = Velorize({"--runs"}, dir);
    EXPECT_TRUE(Contains(runs.out, "  velorize  7 files  loop of 8 beats, root note C\n")) << runs.out;
    EXPECT_TRUE(Contains(runs.out, "  velorize  7 files  disk-based at 95.5 bpm, no root note\n")) << runs.out;
    const std::vector<std::string> ids = RunIds(dir);
    ASSERT_EQ(ids.size(), 2u);

    CliRun undo = Velorize({"--undo", "--yes-to-all"}, dir);
    EXPECT_EQ(undo.status, 0) << undo.err;
    EXPECT_EQ(undo.err, "Run " + ids[1] + " undone: 7 files restored.\n");
    EXPECT_EQ(Snapshot(files), looped);
    undo = Velorize({"--undo", "--yes-to-all"}, dir);
    EXPECT_EQ(undo.err, "Run " + ids[0] + " undone: 7 files restored.\n");
    EXPECT_EQ(Snapshot(files), original);
    EXPECT_EQ(Mode(files[0]), 0444u);

    EXPECT_EQ(Velorize({"--undo"}, dir).err, "There is no run to undo.\n");
    undo = Velorize({"--undo", ids[0]}, dir);
    EXPECT_EQ(undo.status, 0) << "undoing a run again is safe";
    EXPECT_EQ(undo.err, "Run " + ids[0] + " undone: 0 files restored, 7 already as before.\n");
    EXPECT_EQ(Snapshot(files), original);
    EXPECT_EQ(Velorize({"--undo", "no-such-run"}, dir).status, 1);
}

TEST(Journal, UndoLeavesAFileChangedSinceTheRunAloneAndSaysWhatDiffers) {
    TempDir dir;
    std::vector<std::string> files;
    for (const char* name : {"retagged.wav", "longer\x1b[2J.wav", "replaced.wav", "kept.wav"})
        files.push_back(MakeSoxWave(dir, name, 8000, 1, 16, "signed-integer", 0.2));
    const auto original = Snapshot(files);
    // One at a time, so that the journal holds the files in this order, and
    // undo, going back from the last, names them in the reverse.
    ASSERT_EQ(Velorize({"--one-shot", "--jobs", "1", files[0], files[1], files[2], files[3]}, dir).status, 0);
    ASSERT_EQ(Velorize({"--loop", "2", "--yes-to-all", "--no-journal", files[0]}, dir).status, 0);
    const Bytes tagged = ReadBytes(files[1]);
    Bytes longer = tagged;
    longer.push_back(0);
    WriteBytes(files[1], longer);
    std::filesystem::copy_file(files[2], dir / "copy");
    std::filesystem::rename(dir / "copy", files[2]);
    const auto changed = Snapshot({files[0], files[1], files[2]});

    const CliRun undo = Velorize({"--undo"}, dir);
    EXPECT_EQ(undo.status, 1);
    const std::string prefix = "Error: Velorizer did not change the file '";
    const std::string shown = dir.path().string() + "/longer\\x1b[2J.wav";
    EXPECT_EQ(undo.err, prefix + files[2] + "': another file has taken its name since the run.\n" + prefix + shown +
                            "': it has changed since the run (it is " + std::to_string(longer.size()) +
                            " bytes long, not " + std::to_string(tagged.size()) + ").\n" + prefix + files[0] +
                            "': it has changed since the run (the bytes from offset " +
                            std::to_string(original.at(files[0]).size()) + " on are not those the run wrote).\n" +
                            "Run " + RunIds(dir).back() +
                            " not wholly undone: 1 file restored, 3 files left as they are.\n");
    EXPECT_EQ(Snapshot({files[0], files[1], files[2]}), changed);
    EXPECT_EQ(ReadBytes(files[3]), original.at(files[3]));
    EXPECT_FALSE(Contains(Velorize({"--runs"}, dir).out, "(undone)"));
}

TEST(Journal, ARunKilledAtARandomMomentIsUndoneToTheByte) {
    TempDir dir;
    const std::string seed = MakeSoxWave(dir, "seed.wav", 22050, 1, 16, "signed-integer", 0.02);
    std::filesystem::create_directory(dir.path() / "batch");
    std::vector<std::string> files;
    for (int i = 0; i < 100; ++i) files.push_back(dir / ("batch/" + std::to_string(i) + ".wav"));
    const Bytes original = ReadBytes(seed);
    // One file after another, and four at once (whose records share syncs).
    for (const char* jobs : {"1", "4"}) {
        const auto run = [&](long nr, size_t killAt) {
            for (const auto& f : files) WriteBytes(f, original);
            const pid_t pid = Start(kVelorize, {"--loop", "4", "--jobs", jobs, dir / "batch"}, dir / "state",
                                    dir / "killed", {.traced = true});
            return KillAtSyscall(pid, nr, killAt);
        };
        // Killed on its way into a random write to a file (between a record
        // and its file, between a chunk and its RIFF size) or to the journal
        // (records half-written, or written and not yet synced). How many
        // records share a write depends on how far the planning is ahead, so
        // the journal's writes are taken among the first ones every run has.
        const Calls full = run(-1, 0);
        ASSERT_EQ(full.pwrite, 2 * files.size()) << jobs << ": an append writes a chunk, then the RIFF size";
        ASSERT_GE(full.write, 3u) << jobs << ": the head, the records, the end";
        // Files planned ahead share their sync: a sync for every few files in
        // hand would be dozens.
        EXPECT_LE(full.sync, 16u) << jobs;
        ASSERT_EQ(Velorize({"--undo"}, dir).status, 0);
        std::mt19937 rng(20250314);
        for (int round = 0; round < 4; ++round) {
            if (round % 2 == 0) run(SYS_pwrite64, 1 + rng() % full.pwrite);
            else if (round == 1) run(SYS_write, 2);
            else run(SYS_fdatasync, 1 + rng() % 2);
            bool touched = false;
            for (const auto& f : files) touched = touched || ReadBytes(f) != original;
            // A run killed before it changed a file is no run: nothing to list or undo.
            EXPECT_EQ(Contains(Velorize({"--runs"}, dir).out, "(stopped before its end)\n"), touched) << round;
            const CliRun undo = Velorize({"--undo"}, dir);
            EXPECT_EQ(undo.status, touched ? 0 : 1) << undo.err;
            for (const auto& f : files)
                ASSERT_EQ(ReadBytes(f), original) << f << " in round " << round << " of --jobs " << jobs;
        }
    }
}

TEST(Journal, RemovalIsReadBackAsUntaggedAndUndone) {
    TempDir dir;
    const std::string sox = MakeSoxWave(dir, "sox.wav", 44100, 2, 16, "signed-integer", 0.2);
    const Bytes untagged = ReadBytes(sox);
    ASSERT_EQ(Velorize({"--loop", "4", sox}, dir).status, 0);
    Bytes body(24, 0);
    body[0] = 1;
    const std::string inner = WaveBuilder().Fmt(1, 8000, 16).Acid(body).Data(100).Acid(body).Write(dir, "inner.wav");
    Bytes behind = WaveBuilder().Fmt(1, 8000, 16).Data(100).Build();
    const Bytes form = behind;
    behind.insert(behind.end(), {'a', 'c', 'i', 'd', 24, 0, 0, 0});
    behind.insert(behind.end(), body.begin(), body.end());
    WriteBytes(dir / "behind.wav", behind);
    const std::string plain = MakeSoxWave(dir, "plain.wav", 8000, 1, 8, "unsigned-integer", 0.1);
    const std::string readOnly = dir / "read-only.wav";
    std::filesystem::copy_file(sox, readOnly);
    ::chmod(readOnly.c_str(), 0444);
    const std::vector<std::string> files = {sox, inner, dir / "behind.wav", plain, readOnly};
    const auto before = Snapshot(files);
    std::map<std::string, std::vector<double>> audio;
    for (const auto& f : files) audio[f] = ReadWithSndfile(f, true).samples;

    CliRun r = Velorize({"--remove", sox, inner, dir / "behind.wav", plain, readOnly}, dir);
    EXPECT_EQ(r.status, 1) << "the read-only file could not be asked about";
    EXPECT_EQ(r.err, "velorize: skipped '" + readOnly +
                         "': it is read-only, and there is no terminal to ask "
                         "(answer with --yes-to-all or --no-to-all)\nOperation completed.\n");
    EXPECT_EQ(Velorize({"--remove", "--yes-to-all", readOnly}, dir).status, 0);
    EXPECT_EQ(ReadBytes(sox), untagged) << "the exact inverse of the append";
    EXPECT_EQ(ReadBytes(readOnly), untagged);
    EXPECT_EQ(ReadBytes(dir / "behind.wav"), form);
    EXPECT_EQ(ReadBytes(plain), before.at(plain));
    const Bytes renamed = ReadBytes(inner);
    EXPECT_EQ(renamed.size(), before.at(inner).size() - 32);
    EXPECT_EQ(std::string(renamed.begin() + 36, renamed.begin() + 40), "JUNK");
    for (const auto& f : files) {
        const SndInfo read = ReadWithSndfile(f, true);
        EXPECT_TRUE(read.opened && !read.hasLoop) << f;
        EXPECT_EQ(read.samples, audio.at(f)) << f;
        EXPECT_EQ(Velorize({"--show", f}, dir).out, f + ": no acid chunk\n");
    }
    EXPECT_EQ(Mode(readOnly), 0444u);
    EXPECT_TRUE(Contains(Velorize({"--runs"}, dir).out, "  1 file   removal of the loop information\n"));

    EXPECT_EQ(Velorize({"--undo", "--yes-to-all"}, dir).status, 0);
    EXPECT_EQ(Velorize({"--undo"}, dir).status, 0);
    EXPECT_EQ(Snapshot(files), before);
}

TEST(Journal, AJournalThatCantBeKeptStopsTheRunBeforeAnyFileIsTouched) {
    TempDir dir;
    const std::string f = MakeSoxWave(dir, "a.wav", 8000, 1, 16, "signed-integer", 0.1);
    const Bytes before = ReadBytes(f);
    const std::string state = dir / "state";
    const auto refused = [&](const std::string& why) {
        const CliRun r = Velorize({"--one-shot", f}, dir);
        EXPECT_EQ(r.status, 1) << why;
        EXPECT_TRUE(Contains(r.err, "Error: Velorizer can't keep a journal of this run: " + why +
                                        ". No file was changed. velorize --no-journal runs without one.\n"))
            << r.err;
        EXPECT_FALSE(Contains(r.err, "Operation")) << r.err;
        EXPECT_EQ(ReadBytes(f), before);
    };
    WriteBytes(state, {'x'});
    refused("'" + state + "' is not a folder");
    std::filesystem::remove(state);
    std::filesystem::create_directories(dir.path() / "state" / "velorizer");
    std::filesystem::create_directory(dir.path() / "elsewhere");
    std::filesystem::create_directory_symlink(dir.path() / "elsewhere", state + "/velorizer/runs");
    refused("the folder '" + state + "/velorizer/runs' is a link or no folder");
    std::filesystem::remove(state + "/velorizer/runs");
    if (::getuid() == 0) {
        ASSERT_EQ(::chown((state + "/velorizer").c_str(), 65534, 65534), 0);
        refused("the folder '" + state + "/velorizer' belongs to another user");
        ASSERT_EQ(::chown((state + "/velorizer").c_str(), 0, 0), 0);
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.path() / "elsewhere"));

    // A journal that fills up stops the run at the file it could not record,
    // and the run says why it stopped: four records can't fit in 600 bytes.
    const std::string kStopped =
        "Operation stopped: the journal of this run could not be written, so no further file was changed.\n";
    const auto notRecorded = [](const std::string& file) {
        return "Error: Velorizer did not change the file '" + file +
               "': the journal of this run could not be written (file too large).\n";
    };
    std::vector<std::string> small;
    for (const char* name : {"1.wav", "2.wav", "3.wav", "4.wav"})
        small.push_back(MakeSoxWave(dir, name, 8000, 1, 8, "unsigned-integer", 0.01));
    const auto smallBefore = Snapshot(small);
    const CliRun full =
        Velorize({"--one-shot", "--jobs", "1", small[0], small[1], small[2], small[3]}, dir, {.fileSize = 600});
    EXPECT_EQ(full.status, 1);
    size_t stop = 0;
    while (stop < small.size() && !Contains(full.err, notRecorded(small[stop]) + kStopped)) ++stop;
    ASSERT_LT(stop, small.size()) << full.err;
    for (size_t i = 0; i < small.size(); ++i)
        EXPECT_EQ(ReadBytes(small[i]).size(), smallBefore.at(small[i]).size() + (i < stop ? 32 : 0)) << i;
    // How many records the first group holds depends on how far the planning
    // got: the limit may stop the run at its first file.
    EXPECT_EQ(Velorize({"--undo"}, dir).status, stop > 0 ? 0 : 1);
    EXPECT_EQ(Snapshot(small), smallBefore);
    std::filesystem::remove_all(state);

    // Files tagged at once: each file is tagged and recorded, or left alone
    // with the message; no file is handed out after the journal broke.
    for (int i = 0; i < 36; ++i) {
        small.push_back(dir / ("many-" + std::to_string(i) + ".wav"));
        WriteBytes(small.back(), smallBefore.at(small[0]));
    }
    const auto manyBefore = Snapshot(small);
    std::vector<std::string> args = {"--one-shot", "--jobs", "4"};
    args.insert(args.end(), small.begin(), small.end());
    const CliRun many = Velorize(args, dir, {.fileSize = 600});
    EXPECT_EQ(many.status, 1);
    EXPECT_TRUE(many.err.ends_with(kStopped)) << many.err;
    size_t tagged = 0, left = 0;
    for (const auto& f : small) {
        tagged += ReadBytes(f).size() == manyBefore.at(f).size() + 32;
        if (Contains(many.err, notRecorded(f))) {
            EXPECT_EQ(ReadBytes(f), manyBefore.at(f)) << f;
            ++left;
        }
    }
    EXPECT_GE(left, 1u) << many.err;
    EXPECT_LT(tagged + left, small.size()) << "files were handed out after the journal broke";
    EXPECT_EQ(Velorize({"--undo"}, dir).status, tagged > 0 ? 0 : 1);
    for (const auto& f : small) EXPECT_TRUE(ReadBytes(f) == manyBefore.at(f)) << f << " is not as it was";
    std::filesystem::remove_all(state);

    // Private to the user, pruned to the last 100 runs, none without changes.
    std::filesystem::create_directories(state + "/velorizer/runs");
    ::chmod((state + "/velorizer").c_str(), 0755);
    for (int i = 100; i < 205; ++i)
        std::ofstream(state + "/velorizer/runs/20000101-000000-" + std::to_string(i) + ".journal")
            << "velorizer journal 1\nstarted " << i << "\n";
    ASSERT_EQ(Velorize({"--one-shot", f}, dir).status, 0);
    // Journals kept, by their ids: a run of no files changed shows in no list.
    const auto journals = [&] {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(state + "/velorizer/runs"))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    };
    std::vector<std::string> kept = journals();
    ASSERT_EQ(kept.size(), 100u);
    EXPECT_EQ(kept[0], "20000101-000000-106.journal");
    const std::vector<std::string> ids = RunIds(dir);
    ASSERT_EQ(ids.size(), 1u) << "the runs that changed no file are not listed";
    EXPECT_EQ(kept.back(), ids[0] + ".journal");
    EXPECT_EQ(Mode(state + "/velorizer"), 0700u);
    EXPECT_EQ(Mode(state + "/velorizer/runs"), 0700u);
    EXPECT_EQ(Mode(state + "/velorizer/runs/" + ids.back() + ".journal"), 0600u);
    EXPECT_EQ(Velorize({"--one-shot", "--no-to-all", f}, dir).status, 0);
    EXPECT_EQ(journals(), kept) << "a run that changed nothing leaves no journal";

    // Turned off, nothing is journaled.
    EXPECT_EQ(Velorize({"--loop", "2", "--yes-to-all", "--no-journal", f}, dir).status, 0);
    EXPECT_EQ(Velorize({"--loop", "3", "--yes-to-all", f}, dir, {.journal = "off"}).status, 0);
    EXPECT_EQ(RunIds(dir), ids);
}

TEST(Journal, FilesTaggedAtOnceEndAsOneAtATimeLeavesThemAndAreUndone) {
    TempDir dir;
    // The same tree twice: sox files of several formats, copied, and the odd
    // ones a library holds.
    const std::string seeds[] = {MakeSoxWave(dir, "seed-a.wav", 44100, 2, 16, "signed-integer", 0.05),
                                 MakeSoxWave(dir, "seed-b.wav", 22050, 1, 8, "unsigned-integer", 0.03),
                                 MakeSoxWave(dir, "seed-c.wav", 48000, 2, 24, "signed-integer", 0.02)};
    const auto build = [&](const std::string& top) {
        for (int i = 0; i < 240; ++i) {
            const std::string folder = top + "/pack" + std::to_string(i % 7) + (i % 3 ? "/sub" : "");
            std::filesystem::create_directories(folder);
            std::filesystem::copy_file(seeds[i % 3], folder + "/loop" + std::to_string(i) + ".wav");
        }
        WriteBytes(top + "/pack0/not-a-wave.wav", Bytes(64, 'x'));
        Bytes junk = ReadBytes(seeds[0]);
        junk.insert(junk.end(), {'T', 'A', 'G'});
        WriteBytes(top + "/pack1/junk-behind.wav", junk);
        WriteBytes(top + "/pack2/bell\x1b[2K\x07.wav", Bytes(30, 0));
        std::filesystem::copy_file(seeds[2], top + "/pack3/read-only.wav");
        ::chmod((top + "/pack3/read-only.wav").c_str(), 0444);
        ::mkfifo((top + "/pack4/fifo.wav").c_str(), 0644);
    };
    const std::string one = dir / "one", many = dir / "many";
    build(one);
    build(many);
    // A file tagged before: asked about, so answered by --yes-to-all.
    ASSERT_EQ(
        Velorize({"--one-shot", "--jobs", "1", one + "/pack5/loop12.wav", many + "/pack5/loop12.wav"}, dir).status, 0);
    std::map<std::string, Bytes> before;  // every file but the FIFO, by its name in the tree
    for (const auto& e : std::filesystem::recursive_directory_iterator(many))
        if (e.is_regular_file()) before[e.path().string().substr(many.size())] = ReadBytes(e.path());
    ASSERT_GT(before.size(), 240u);

    // The same report in --show and --dry-run, line for line, one file or several at once.
    for (std::vector<std::string> args : {std::vector<std::string>{"--show", "--format", "text", "--jobs", "1", one},
                                          {"--show", "--format", "json", "--jobs", "1", one},
                                          {"--dry-run", "--loop", "4", "--jobs", "1", one}}) {
        const CliRun sequential = Velorize(args, dir);
        args[4] = "4";
        const CliRun concurrent = Velorize(args, dir);
        EXPECT_EQ(concurrent.status, sequential.status) << args[2];
        EXPECT_EQ(concurrent.out, sequential.out) << args[2];
        EXPECT_EQ(concurrent.err, sequential.err) << args[2];
        EXPECT_GT(Lines(sequential.out).size(), 240u) << args[2];
    }

    const auto tag = [&](const std::string& top, const char* jobs) {
        const CliRun r = Velorize({"--loop", "4", "--root", "C", "--yes-to-all", "--jobs", jobs, top}, dir);
        // Each message names its file; their order is the order the files were done in.
        std::vector<std::string> lines = Lines(r.err);
        for (auto& line : lines)
            if (const size_t p = line.find(top); p != std::string::npos) line.replace(p, top.size(), "TOP");
        EXPECT_EQ(lines.back(), "Operation completed.") << jobs;
        std::sort(lines.begin(), lines.end());
        return std::make_pair(r.status, lines);
    };
    const auto sequential = tag(one, "1");
    // Its journal lists the files in the order they were done, whichever of
    // the threads reading ahead planned one first.
    std::vector<std::string> journalled, done;
    std::ifstream journal(dir / ("state/velorizer/runs/" + RunIds(dir).back() + ".journal"));
    for (std::string word, number, path; journal >> word;)
        if (word == "change" && journal >> number >> path) journalled.push_back(path);
    for (const std::string& row : Lines(Velorize({"--show", "--format", "csv", "--jobs", "1", one}, dir).out))
        if (std::find(journalled.begin(), journalled.end(), row.substr(0, row.find(','))) != journalled.end())
            done.push_back(row.substr(0, row.find(',')));
    EXPECT_GT(journalled.size(), 240u);
    EXPECT_EQ(journalled, done);
    const auto concurrent = tag(many, "4");
    EXPECT_EQ(concurrent.first, 1) << "files were left alone";
    EXPECT_EQ(concurrent.first, sequential.first);
    EXPECT_EQ(concurrent.second, sequential.second);
    EXPECT_EQ(sequential.second.size(), 5u) << "the text, the junk, the FIFO, the bell's name, and the end";
    EXPECT_TRUE(std::any_of(sequential.second.begin(), sequential.second.end(), [](const std::string& l) {
        return Contains(l, "TOP/pack2/bell\\x1b[2K\\x07.wav");
    })) << "a control byte in a name is escaped, the line whole";
    size_t changed = 0;
    for (const auto& [n, bytes] : before) {
        EXPECT_TRUE(ReadBytes(one + n) == ReadBytes(many + n)) << n << " differs";
        EXPECT_EQ(Mode(one + n), Mode(many + n)) << n;
        changed += ReadBytes(many + n) != bytes;
    }
    EXPECT_EQ(changed, before.size() - 3) << "all but the text, the bell and the junk";

    // The last run is the concurrent one: undone to the byte.
    const CliRun undo = Velorize({"--undo", "--yes-to-all"}, dir);
    EXPECT_EQ(undo.status, 0) << undo.err;
    for (const auto& [n, bytes] : before) EXPECT_TRUE(ReadBytes(many + n) == bytes) << n << " not restored";
}

TEST(Journal, ARunStillGoingIsNeitherCleanedAwayNorUndoneAndOneKilledBeforeAChangeLeavesNone) {
    TempDir dir;
    std::filesystem::create_directory(dir.path() / "live");
    const std::string first = MakeSoxWave(dir, "live/1.wav", 8000, 1, 16, "signed-integer", 0.05);
    const std::string second = MakeSoxWave(dir, "live/2.wav", 8000, 1, 16, "signed-integer", 0.05);
    const Bytes untagged = ReadBytes(first);
    ASSERT_EQ(Velorize({"--one-shot", "--no-journal", second}, dir).status, 0);
    const auto before = Snapshot({first, second});

    // Killed at its first question, before it changed anything: no journal.
    int master = -1;
    pid_t pid = OnATerminal(dir, {"--loop", "4", second}, master);
    ASSERT_TRUE(WaitForQuestion(master));
    ::kill(pid, SIGKILL);
    Finish(pid, master);
    EXPECT_EQ(Velorize({"--runs"}, dir).out, "No run is journaled.\n");
    EXPECT_EQ(Velorize({"--undo"}, dir).err, "There is no run to undo.\n");

    // Tags the first file, then waits at the question about the second.
    pid = OnATerminal(dir, {"--loop", "4", "--jobs", "1", dir / "live"}, master);
    ASSERT_TRUE(WaitForQuestion(master));
    std::vector<std::string> ids = RunIds(dir);
    ASSERT_EQ(ids.size(), 1u);
    const std::string live = ids[0];
    EXPECT_TRUE(Contains(Velorize({"--runs"}, dir).out, "  running  ")) << Velorize({"--runs"}, dir).out;
    const CliRun refused = Velorize({"--undo", live}, dir);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "Error: Velorizer can't undo the run: run " + live + " is still running.\n");

    // 101 runs end meanwhile, each of which prunes the oldest journals.
    for (int i = 0; i < 101; ++i) {
        const std::string f = dir / ("other-" + std::to_string(i) + ".wav");
        WriteBytes(f, untagged);
        ASSERT_EQ(Velorize({"--one-shot", f}, dir).status, 0) << i;
    }
    ids = RunIds(dir);
    EXPECT_EQ(ids.size(), 100u);
    EXPECT_EQ(ids[0], live) << "the run still going keeps its journal";
    EXPECT_EQ(Velorize({"--undo"}, dir).status, 0) << "the last run that ended is taken back, not the live one";

    ASSERT_EQ(::write(master, "y\n", 2), 2);
    EXPECT_EQ(Finish(pid, master), 0);
    EXPECT_EQ(ReadWithSndfile(second).numBeats, 4);
    const CliRun undo = Velorize({"--undo", live}, dir);
    EXPECT_EQ(undo.status, 0) << undo.err;
    EXPECT_EQ(undo.err, "Run " + live + " undone: 2 files restored.\n");
    EXPECT_EQ(Snapshot({first, second}), before);
}

TEST(Journal, ARecordThatIsNotWhatWasWrittenIsNeverWrittenBack) {
    TempDir dir;
    const std::string wave = MakeSoxWave(dir, "a.wav", 8000, 1, 16, "signed-integer", 0.05);
    ASSERT_EQ(Velorize({"--one-shot", wave}, dir).status, 0);
    const std::string id = RunIds(dir).at(0);
    const std::string journalPath = dir / ("state/velorizer/runs/" + id + ".journal");
    const Bytes tagged = ReadBytes(wave);

    // One digit of the record's old RIFF size changed.
    std::string text = Text(journalPath);
    const size_t change = text.find("\nchange ") + 1;
    const size_t riff = text.find(" 4:", change) + 3;
    text[riff] = text[riff] == '0' ? '1' : '0';
    WriteBytes(journalPath, Bytes(text.begin(), text.end()));
    const size_t line = static_cast<size_t>(std::count(text.begin(), text.begin() + change, '\n')) + 1;
    CliRun undo = Velorize({"--undo", id}, dir);
    EXPECT_EQ(undo.status, 1);
    EXPECT_TRUE(Contains(undo.err, "Error: Velorizer can't use line " + std::to_string(line) +
                                       " of the journal of run " + id +
                                       ": its checksum is wrong; the file it names is left as it is.\n"))
        << undo.err;
    EXPECT_EQ(ReadBytes(wave), tagged);

    // A record with a true checksum, made by hand, naming a text file by its
    // very device and inode.
    const std::string notes = dir / "notes.wav";
    WriteBytes(notes, Bytes(100, 'x'));
    struct stat st = {};
    ::stat(notes.c_str(), &st);
    FileChange c;
    c.path = notes;
    c.device = st.st_dev;
    c.inode = st.st_ino;
    c.lengthBefore = 80;
    c.lengthAfter = 100;
    c.tail = Bytes(20, 'x');
    c.patches.push_back({4, {72, 0, 0, 0}, {92, 0, 0, 0}});
    std::string forged = std::string(journal::kMagic2) + "\n" + journal::Sealed("program velorize") +
                         journal::Sealed("started 1") + journal::Sealed(journal::ChangeContent(1, c));
    std::ofstream(dir / "state/velorizer/runs/20000101-000000-001.journal") << forged;
    undo = Velorize({"--undo", "20000101-000000-001"}, dir);
    EXPECT_EQ(undo.status, 1);
    EXPECT_TRUE(Contains(undo.err, "'" + notes + "': it has changed since the run (it is no RIFF WAVE form)."))
        << undo.err;
    EXPECT_EQ(ReadBytes(notes), Bytes(100, 'x'));
}

TEST(Journal, AFileAlsoChangedElsewhereIsPutBackWhereTheRunWroteAndSaysSo) {
    TempDir dir;
    const std::string edited = MakeSoxWave(dir, "edited.wav", 8000, 1, 16, "signed-integer", 0.05);
    const std::string kept = MakeSoxWave(dir, "kept.wav", 8000, 1, 16, "signed-integer", 0.05);
    // A form whose last chunk is odd and unpadded: the tag writes its pad byte.
    const std::string odd =
        WaveBuilder().Fmt(1, 8000, 16).Data(100).Chunk("note", Bytes(3, 'x'), false).Write(dir, "odd.wav");
    const auto before = Snapshot({edited, kept, odd});
    struct stat st = {};
    ::stat(kept.c_str(), &st);
    const timespec keptTime = st.st_mtim;
    ::sleep(1);  // so that a modification time put back is told from one not
    ASSERT_EQ(Velorize({"--one-shot", "--jobs", "1", edited, kept, odd}, dir).status, 0);
    EXPECT_EQ(ReadBytes(odd).size(), before.at(odd).size() + 33);

    // A sample of the audio edited in place, where the run wrote nothing.
    Bytes audio = ReadBytes(edited);
    audio[60] ^= 0x55;
    WriteBytes(edited, audio);
    const CliRun undo = Velorize({"--undo"}, dir);
    EXPECT_EQ(undo.status, 0) << undo.err;
    EXPECT_TRUE(Contains(undo.err, "velorize: '" + edited +
                                       "': restored what the run changed; the file was also changed elsewhere since\n"))
        << undo.err;
    Bytes expected = before.at(edited);
    expected[60] ^= 0x55;
    EXPECT_EQ(ReadBytes(edited), expected);
    EXPECT_EQ(ReadBytes(kept), before.at(kept));
    EXPECT_EQ(ReadBytes(odd), before.at(odd)) << "the pad byte goes with the undo";
    ::stat(kept.c_str(), &st);
    EXPECT_EQ(st.st_mtim.tv_sec, keptTime.tv_sec);
    EXPECT_EQ(st.st_mtim.tv_nsec, keptTime.tv_nsec);

    // Removal leaves the pad byte a tag wrote, in a whole form.
    ASSERT_EQ(Velorize({"--one-shot", odd}, dir).status, 0);
    ASSERT_EQ(Velorize({"--remove", odd}, dir).status, 0);
    const Bytes removed = ReadBytes(odd);
    ASSERT_EQ(removed.size(), before.at(odd).size() + 1);
    EXPECT_EQ(removed.back(), 0);
    EXPECT_EQ(LE32At(removed, 4), removed.size() - 8);
    EXPECT_EQ(Velorize({"--undo"}, dir).status, 0);
    EXPECT_EQ(Velorize({"--undo"}, dir).status, 0);
    EXPECT_EQ(ReadBytes(odd), before.at(odd));
}

TEST(Journal, AnAppendWhoseChunkNeverReachedTheDiskIsNamedAndRepairedByItsUndo) {
    TempDir dir;
    const std::string wave = MakeSoxWave(dir, "a.wav", 8000, 1, 16, "signed-integer", 0.05);
    const Bytes before = ReadBytes(wave);
    ASSERT_EQ(Velorize({"--one-shot", wave}, dir).status, 0);
    const std::string id = RunIds(dir).at(0);
    // A power cut kept the RIFF size and lost the chunk behind it.
    Bytes cut = ReadBytes(wave);
    cut.resize(before.size());
    WriteBytes(wave, cut);
    const CliRun again = Velorize({"--one-shot", wave}, dir);
    EXPECT_EQ(again.status, 1);
    EXPECT_EQ(again.err, "Error: Velorizer did not change the file '" + wave +
                             "': it holds fewer bytes than its RIFF header declares: run " + id +
                             " was stopped between writing its acid chunk and its RIFF size, and velorize --undo " +
                             id + " repairs it.\nOperation completed.\n");
    EXPECT_EQ(ReadBytes(wave), cut) << "nothing rewritten on a guess";
    EXPECT_EQ(Velorize({"--undo", id}, dir).status, 0);
    EXPECT_EQ(ReadBytes(wave), before);
}
