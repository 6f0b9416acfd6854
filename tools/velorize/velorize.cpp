// velorize: the loop tagger for scripts and servers. Tags WAVE files and folders
// of them with the same engine, texts and questions as the desktop program.

#include "BatchRun.h"
#include "EnumFolders.h"
#include "InOrder.h"
#include "Inspect.h"
#include "Inspection.h"
#include "PanelChoice.h"
#include "PerFile.h"
#include "RunJournal.h"
#include "RunsList.h"
#include "Texts.h"
#include "UndoRun.h"
#include "Wildcard.h"
#include "WriteAll.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace velorizer;
using namespace velorizer::cli;

namespace {

enum ExitCode { kExitOk = 0, kExitFailed = 1, kExitUsage = 2, kExitCancelled = 3 };

constexpr int32_t kMaxJobs = 256;

// Files worked on at once by default. A cold disk (or a network share) serves
// many requests at once, far more than there are processors, and the more
// files are in hand, the more changes one journal sync covers: a multiple of
// the processors, capped.
unsigned DefaultJobs() {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    return std::clamp(cores * 32, 32u, 64u);
}

const char* const kUsage =
    "Usage: velorize [--one-shot | --loop BEATS | --loop-at BPM|name|detect|auto | --disk-based [--tempo BPM]]\n"
    "                [--root NOTE|name|detect|auto] [--yes-to-all | --no-to-all] [--dry-run] [--no-journal]\n"
    "                [--jobs N] PATH...\n"
    "       velorize --show [--format text|json|csv] [--jobs N] PATH...\n"
    "       velorize ... --dry-run [--format text|json|csv] PATH...\n"
    "       velorize --remove [--yes-to-all | --no-to-all] [--no-journal] [--jobs N] PATH...\n"
    "       velorize --runs | --undo [RUN] [--yes-to-all | --no-to-all]\n";

// clang-format off: the help is text, laid out by hand.
void PrintHelp() {
    Out(std::string(kUsage) + R"(
Writes loop metadata (the RIFF "acid" chunk) into WAVE files, in place. Each
PATH is a .wav file or a folder; folders are searched to any depth for files
whose names end in .wav, a folder's own files first, in name order. A file
reached under several names (a folder and a path into it, a link to a
folder, hard links) is taken once, under the first name met.

Kind of sample (choose one unless --show or --remove):
  --one-shot         a one-shot sample: no tempo, no root note
  --loop BEATS       a loop of BEATS beats (1 to 10000); each file's tempo is
                     derived from its length: BEATS x 60 x rate / frames
  --disk-based       a disk-based file without a tempo
  --tempo BPM        with --disk-based: its tempo, 60 to 240 bpm, up to three
                     decimals (95.5)
  --loop-at BPM      a loop of the whole number of beats that makes each
                     file's tempo nearest to BPM (1 to 1000): round(BPM x
                     seconds / 60), 1 to 10000; a file that would end up more
                     than 2 % off BPM is no loop at that tempo: it is skipped
  --loop-at name     the same, with BPM read from each file's name; a file
                     whose name gives no tempo is skipped
  --loop-at detect   the same, with the whole number of beats (1 to 10000)
                     found in each file's audio: its onsets repeat with the
                     beat and wrap round from the loop's end to its start;
                     kicks, snares and hats tell a tempo from its double. A
                     loop whose beats can't be told for sure (confidence below
                     0.65, or onsets on too few of its beats) is skipped with
                     a message naming the candidates, as in: can't tell its
                     beats: 8 (96 bpm) or 16 (192 bpm). Measured: beats right
                     on 93 to 98 % of the loops written, 81 to 94 % written
                     (see the README)
  --loop-at auto     the tempo in the name where it has one, else the audio's;
                     when both exist and differ by more than 4 % (double and
                     half tempo aside) a message says so, and the name's counts
  --root NOTE        the root note for transposing: C, C#, D, D#, E, F, F#, G,
                     G#, A, A# or B, or "none" (the default). A loop's C is
                     MIDI note 60, a disk-based file's C is 48. Ignored for
                     one-shots and for disk-based files without a tempo.
  --root name        the root note from each file's name (Am gives A, Bb gives
                     A#); a name with no key, or two different ones, gets none,
                     and a message says so
  --root detect      the root note from each file's audio, from its pitch: a
                     loop's is the tonic of its key (A minor: A), found apart
                     from its beats; a disk-based file's its most common
                     pitch. A file whose pitch isn't clear (confidence below
                     0.40) gets none, and a message says so
  --root auto        the name's key where it has one, else the audio's

Tempo and key in file names (only the file's own name, not its folders):
  A tempo is a number joined to "bpm" in any case: 96bpm, 96 BPM, 96_bpm,
  bpm96, BPM-92.5 (30 to 300). Without one, a bare number counts only when it
  is the name's one whole word of 2 or 3 digits from 60 to 200 ("Loop_120_Am"),
  not after a word such as Vol, Part, Take, Kit or TR, and not before a unit
  such as Hz, bit or cents. Marks that disagree give no tempo.
  A key is a word on its own between separators: a capital A to G, an optional
  # or b, then nothing, m, min, minor, maj or major (Am, C#m, F#, Bb, Cmin,
  Gmaj), or a lone letter before a word min/minor/maj/major ("C minor") or
  after "Key" or "Key of" (Key_G, Key_of_D), accidentals spelled out too
  (F_sharp_minor, Bflat); a lone capital right after a bare tempo (Loop_110_F).
  Chords (Em7), notes with octaves (C5) and words (I_Am_Legend) are not keys.

Questions:
  Before changing a read-only file, or a file that already has an acid chunk,
  velorize asks: [Y]es, Yes to [A]ll, [N]o or [C]ancel. It asks on the
  terminal that standard input is; without one, such a file is skipped with a
  message (and exit status 1) unless one of these answers:
  --yes-to-all       answer Yes to All to both questions
  --no-to-all        answer No to every question
  A read-only file keeps its permissions after it is tagged.

Other options:
  --dry-run          write nothing; print for each file what the same run
                     would write (kind, root note, beats, tempo), or why it
                     would leave it alone, in the run's own words: the run's
                     plan without the change; for what the audio gave, how
                     sure it was and the runner-up. A read-only or tagged
                     file "would ask first" on a terminal, is "left as it
                     is" with --no-to-all, and "would be skipped" with no
                     one to ask. Asks nothing; the exit status is the run's
  --show             write nothing; print each file's acid chunk (kind, root
                     note, beats, meter, tempo) or that it has none
  --format FORMAT    with --show or --dry-run: "text" (the default, the sentences above),
                     "json" (one object a line) or "csv" (a header row, then
                     a row a file; RFC 4180). Their fields, null or empty when
                     unknown: path, path_escaped, acid (an acid chunk of any
                     size), acid_chunks, mode, kind, root_note (when mode says
                     it is set), midi_base, beats, meter, tempo (exactly as
                     stored), channels, rate, bits, frames, duration (seconds),
                     accepted (tagging would change the file; read-only and
                     tagged files are asked about, not refused; a file this
                     user may not write is refused) and reason (why not, in
                     the words that follow "did not change the file ...:"
                     in tagging's message). With several acid chunks, the first one's.
                     A path that holds anything escaped on a terminal (see
                     below) comes in that escaped form, with path_escaped true.
                     With --dry-run the acid fields are those it would write,
                     accepted and reason say whether and why not, and five
                     more tell where beats and root note came from:
                     beats_source and root_source ("given", "tempo", "name",
                     "audio"), beats_confidence, beats_runner_up and
                     root_confidence (0 to 1; null unless from the audio)
  --remove           take the acid chunks out: one that ends the file is cut
                     off and the RIFF size lowered, one elsewhere is renamed
                     JUNK in place. A zero pad byte a tag added behind an
                     odd last chunk stays (the form is whole either way);
                     --undo of the tagging run is the exact inverse. Only
                     the read-only question is asked.
  --jobs N           work on N files at once (1 to 256; the default is 32 per
                     processor, 32 to 64) when no question can be asked: with
                     --yes-to-all or --no-to-all, without a terminal on
                     standard input, and for --show and --dry-run. A cold disk
                     or a network share answers many requests at once. The
                     messages of a run come as its files finish, each on a
                     line of its own; --show and --dry-run print in the order
                     of the files. Where a question may be asked, the files
                     go one at a time. --jobs 1: always one at a time
  --help             this text

Journal and undo:
  Before a file is changed, the change is on the disk in a journal, one file
  per run, in $XDG_STATE_HOME/velorizer/runs (~/.local/state/velorizer/runs);
  the desktop program's runs are journaled there too. The last 100 runs that
  changed a file are kept; a run that changed nothing leaves none. A journal
  that can't be written stops the run before the file it could not record.
  --runs             list the journaled runs: when, which program, how many
                     files changed, with what settings; a run still going
                     is shown as running
  --undo [RUN]       put every file the last run changed (or RUN, as --runs
                     names it) back as it was, byte for byte and with its
                     modification time. A run still going is refused. A
                     file changed since the run where the run wrote is left
                     alone, with a message that says what differs; one
                     changed elsewhere only is put back where the run wrote,
                     and the message says so. A record that fails its
                     checksum is named and its file left alone. Undoing
                     again is safe: it finishes an undo that was stopped.
  --no-journal       tag or remove without a journal (for both programs:
                     VELORIZER_JOURNAL=off)

Beats, keys and data, for example:
  velorize --loop-at name --root name --dry-run pack/   what would be written
  velorize --loop-at 96 --root A pack/                  loops of 96 bpm in A
  velorize --show --format json pack/ > tags.jsonl      one object a file
  velorize --runs; velorize --undo                      take the last run back

Files that can't be tagged safely (not a WAVE file, bytes beyond the RIFF form,
a file cut short, a full disk, a file replaced while it was being tagged) are
left byte for byte as they were, with a message on standard error. A file whose
tagging was interrupted (the acid chunk written, the RIFF size not yet) is
completed by the next run. A write the disk refuses is told on its file's
line, after "error!". The run ends with "Operation completed." or "Operation
cancelled." (or says that the journal stopped it). Standard output that
can't be written (a full disk, a closed pipe) stops any run with a message
and exit status 1. File names are shown with control characters and invalid
UTF-8 escaped (\n, \x1b, \xff; a backslash as \\).

Exit status: 0 every file tagged, or declined at the terminal or by
--no-to-all; 1 a file or folder failed or was skipped, the journal could
not be kept, or a file could not be undone; 2 usage error; 3 cancelled.
)");
    FlushOut();
}
// clang-format on

struct Options {
    bool help = false;
    std::optional<PanelChoice::Kind> kind;
    int32_t beats = 4;
    PerFileRules rules;
    bool dryRun = false;
    std::optional<DataFormat> format;  // --show as data
    std::optional<int32_t> tempoMilli;
    int rootIndex = 0;
    int32_t presetAnswer = kAnswerNone;  // kAnswerYesToAll or kAnswerNo
    bool show = false;
    bool remove = false;
    bool runs = false;
    bool undo = false;
    std::string undoRun;  // empty: the last run
    bool journal = true;
    unsigned jobs = 0;  // 0: DefaultJobs()
    std::vector<std::string> paths;
};

[[noreturn]] void UsageError(const std::string& message) {
    std::cerr << "velorize: " << Escaped(message) << "\n" << kUsage << "Try 'velorize --help' for more.\n";
    std::exit(kExitUsage);
}

bool ParseInt(const std::string& text, int32_t& value) {
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && p == end;
}

// A finite decimal number.
bool ParseNumber(const std::string& text, double& value) {
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, value);
    // from_chars also reads "nan" and "inf", which no range check written as
    // two comparisons would stop.
    return ec == std::errc() && p == end && std::isfinite(value);
}

// A tempo in bpm with up to three decimals, as thousandths of a beat per minute.
bool ParseTempo(const std::string& text, int32_t& milli) {
    double bpm = 0;
    if (!ParseNumber(text, bpm)) return false;
    const double scaled = std::nearbyint(bpm * 1000.0);  // halves go to the even neighbour
    if (!(scaled >= 60000 && scaled <= 240000)) return false;
    milli = static_cast<int32_t>(scaled);
    return true;
}

int RootIndex(std::string note) {
    std::transform(note.begin(), note.end(), note.begin(), [](unsigned char c) { return std::toupper(c); });
    if (note == "NONE") return 0;
    for (int i = 1; i < kRootNoteCount; ++i)
        if (note == RootNoteName(i)) return i;
    return -1;
}

Options ParseArguments(int argc, char** argv) {
    Options o;
    bool kindGiven = false, answersGiven = false, formatGiven = false, endOfOptions = false;
    auto kind = [&](PanelChoice::Kind k) {
        if (kindGiven) UsageError("choose one of --one-shot, --loop, --loop-at and --disk-based");
        kindGiven = true;
        o.kind = k;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](const char* what) -> std::string {
            if (i + 1 >= argc) UsageError(a + " needs " + what);
            return argv[++i];
        };
        if (endOfOptions || a.empty() || a[0] != '-' || a == "-") {
            o.paths.push_back(a);
        } else if (a == "--") {
            endOfOptions = true;
        } else if (a == "--help" || a == "-h") {
            o.help = true;
            return o;
        } else if (a == "--one-shot") {
            kind(PanelChoice::OneShot);
        } else if (a == "--loop") {
            kind(PanelChoice::Loop);
            const std::string v = value("a number of beats");
            if (!ParseInt(v, o.beats) || o.beats < 1 || o.beats > 10000)
                UsageError("--loop takes a number of beats from 1 to 10000, not '" + v + "'");
        } else if (a == "--loop-at") {
            kind(PanelChoice::Loop);
            const std::string v = value("a tempo, 'name', 'detect' or 'auto'");
            double bpm = 0;
            o.rules.loopAtName = v == "name" || v == "auto";
            o.rules.loopAtAudio = v == "detect" || v == "auto";
            if (o.rules.loopAtName || o.rules.loopAtAudio) continue;
            if (!ParseNumber(v, bpm) || bpm < 1 || bpm > 1000)
                UsageError("--loop-at takes a tempo from 1 to 1000 bpm, 'name', 'detect' or 'auto', not '" + v + "'");
            o.rules.loopAtBpm = bpm;
        } else if (a == "--disk-based") {
            kind(PanelChoice::DiskBased);
        } else if (a == "--tempo") {
            const std::string v = value("a tempo");
            int32_t milli = 0;
            if (!ParseTempo(v, milli)) UsageError("--tempo takes a tempo from 60 to 240 bpm, not '" + v + "'");
            o.tempoMilli = milli;
        } else if (a == "--root") {
            const std::string v = value("a note");
            o.rules.rootFromName = v == "name" || v == "auto";
            o.rules.rootFromAudio = v == "detect" || v == "auto";
            o.rootIndex = o.rules.rootFromName || o.rules.rootFromAudio ? 0 : RootIndex(v);
            if (o.rootIndex < 0)
                UsageError("--root takes C, C#, D, D#, E, F, F#, G, G#, A, A#, B, none, name, detect or auto, not '" +
                           v + "'");
        } else if (a == "--yes-to-all" || a == "--no-to-all") {
            if (answersGiven) UsageError("choose one of --yes-to-all and --no-to-all");
            answersGiven = true;
            o.presetAnswer = a == "--yes-to-all" ? kAnswerYesToAll : kAnswerNo;
        } else if (a == "--show") {
            o.show = true;
        } else if (a == "--dry-run") {
            o.dryRun = true;
        } else if (a == "--format") {
            const std::string v = value("text, json or csv");
            formatGiven = true;
            if (v == "json") o.format = DataFormat::Json;
            else if (v == "csv") o.format = DataFormat::Csv;
            else if (v != "text") UsageError("--format takes text, json or csv, not '" + v + "'");
        } else if (a == "--remove") {
            o.remove = true;
        } else if (a == "--runs") {
            o.runs = true;
        } else if (a == "--undo") {
            o.undo = true;
            if (i + 1 < argc && argv[i + 1][0] != '-') {
                o.undoRun = argv[++i];
                // An empty RUN is no "the last run": a script's empty variable must not undo that.
                if (o.undoRun.empty()) UsageError("--undo takes a run as --runs names it, not ''");
            }
        } else if (a == "--no-journal") {
            o.journal = false;
        } else if (a == "--jobs") {
            const std::string v = value("a number of files");
            int32_t jobs = 0;
            if (!ParseInt(v, jobs) || jobs < 1 || jobs > kMaxJobs)
                UsageError("--jobs takes a number of files from 1 to " + std::to_string(kMaxJobs) + ", not '" + v +
                           "'");
            o.jobs = static_cast<unsigned>(jobs);
        } else {
            UsageError("unknown option " + a);
        }
    }
    const bool properties = kindGiven || o.tempoMilli || o.rootIndex || o.rules.rootFromName || o.rules.rootFromAudio;
    if (o.runs + o.undo + o.show + o.remove > 1) UsageError("choose one of --show, --remove, --runs and --undo");
    if ((o.runs || o.undo) && (!o.paths.empty() || properties || !o.journal || o.dryRun || formatGiven))
        UsageError(std::string(o.runs ? "--runs" : "--undo") + " takes no PATH and no loop properties");
    if (o.runs && answersGiven) UsageError("--runs takes no answers");
    if ((o.runs || o.undo) && o.jobs) UsageError("--jobs goes with tagging, --remove, --show and --dry-run");
    if (o.runs || o.undo) return o;
    if (o.remove && (properties || o.dryRun)) UsageError("--remove takes no loop properties");
    if ((o.show || o.dryRun) && !o.journal) UsageError("--no-journal goes with what writes: tagging and --remove");
    if (o.paths.empty()) UsageError("no PATH given");
    if (o.show && (kindGiven || o.tempoMilli || answersGiven || o.dryRun))
        UsageError("--show writes nothing: it takes no kind of sample and no answers");
    if (formatGiven && !o.show && !o.dryRun) UsageError("--format goes with --show and --dry-run");
    if (!o.show && !o.remove && !kindGiven)
        UsageError("choose the kind of sample: --one-shot, --loop BEATS or --disk-based");
    if (o.tempoMilli && o.kind != PanelChoice::DiskBased) UsageError("--tempo goes with --disk-based");
    return o;
}

// The files named on the command line, folders walked, in order; each file
// once, under the first name that reaches it (a folder and a path into it, two
// names of one folder, two hard links).
std::vector<std::string> CollectFiles(const std::vector<std::string>& paths, bool& failed) {
    std::vector<std::string> files;
    std::set<std::pair<uint64_t, uint64_t>> seen;
    std::set<std::string> unknown;  // paths whose identity can't be had: once each
    auto add = [&](const std::string& p, uint64_t device, uint64_t inode) {
        if (seen.insert({device, inode}).second) files.push_back(p);
    };
    for (const auto& path : paths) {
        struct stat st = {};
        const int found = ::stat(path.c_str(), &st) == 0 ? 0 : errno;
        if (found == 0 && S_ISDIR(st.st_mode)) {
            EnumFolders walker;
            walker.FileFound = add;
            walker.FolderError = [&](const std::string& folder, const std::string& reason) {
                Say("velorize: can't read the folder '" + folder + "': " + reason);
                failed = true;
            };
            walker.Go(path, std::string(kWaveWildcard));
        } else if (found == ENOENT || found == ENOTDIR) {
            Say("velorize: skipped '" + path + "': no such file or folder");
            failed = true;
        } else if (EndsWithWav(path)) {
            // Tagging tells what is wrong with it, if anything.
            if (found == 0) add(path, st.st_dev, st.st_ino);
            else if (unknown.insert(path).second) files.push_back(path);
        } else {
            Say("velorize: skipped '" + path + "': not a folder or a .wav file");
            failed = true;
        }
    }
    return files;
}

// Questions on the terminal, messages and the progress line on standard error.
class TerminalUi : public VelorizeUi, public BatchObserver {
public:
    TerminalUi(int32_t preset, bool progress) : preset_(preset), progress_(progress) {}
    ~TerminalUi() override {
        if (question_ > 2) ::close(question_);
    }

    void MsgBox(const std::string& prompt, int /*style*/, const std::string& title) override {
        ClearProgress();
        Say((title.empty() ? std::string() : title + ": ") + prompt);
    }

    // Each sentence on one line; a refused write's "error!" on the line of
    // the file it is about, so that files done at once can't part them.
    void ShowOutcome(const Outcome& outcome) override {
        if (!outcome.note.empty() || outcome.why.reason == Reason::Rule) ClearProgress();
        if (!outcome.note.empty()) Say("velorize: '" + outcome.path + "': " + outcome.note);
        if (outcome.why.reason == Reason::Rule) {
            Say("velorize: skipped '" + outcome.path + "': " + outcome.why.text);
            return;
        }
        std::string pending;
        for (const Message& m : OutcomeMessages(outcome)) {
            if (m.prompt == "error!" && m.title.empty()) {
                pending = m.prompt + " ";
                continue;
            }
            ClearProgress();
            Say(pending.empty() ? m.title + ": " + m.prompt : pending + m.prompt);
            pending.clear();
        }
    }

    int32_t AskToChange(ChangeQuestion question, const std::string& path, const std::string& title,
                        const std::string& message) override {
        if (preset_ != kAnswerNone) return preset_;
        if (!::isatty(STDIN_FILENO)) {
            // No one can answer: the file is skipped, and the run must not pass
            // for one that tagged everything.
            ClearProgress();
            Say("velorize: skipped '" + path +
                "': " + (question == ChangeQuestion::ReadOnly ? "it is read-only" : "it is already tagged") +
                ", and there is no terminal to ask (answer with --yes-to-all or --no-to-all)");
            skippedUnasked = true;
            return kAnswerNo;
        }
        return GetConfirmReadOnly(title, message);
    }

    int32_t GetConfirmReadOnly(const std::string& title, const std::string& message) override {
        if (preset_ != kAnswerNone) return preset_;
        if (!::isatty(STDIN_FILENO)) return kAnswerNo;
        ClearProgress();
        const std::string prompt = Escaped(title + ": " + message) + "\n[Y]es, Yes to [A]ll, [N]o, [C]ancel: ";
        for (;;) {
            std::cerr.flush();
            const int fd = QuestionTerminal();
            (void)WriteAll(fd, prompt);
            std::string line;
            if (!std::getline(std::cin, line)) return kAnswerCancel;
            const char c = line.empty() ? '\0' : static_cast<char>(std::tolower(static_cast<unsigned char>(line[0])));
            if (c == 'y') return kAnswerYes;
            if (c == 'a') return kAnswerYesToAll;
            if (c == 'n') return kAnswerNo;
            if (c == 'c') return kAnswerCancel;
        }
    }

    void RunStarting(size_t count) override { count_ = count; }
    void BeforeFile(size_t number, const std::string& path) override {
        if (!progress_) return;
        std::string line = "[" + std::to_string(number) + "/" + std::to_string(count_) + "] " + Escaped(path);
        // Shortened in the middle, whole characters only (the line is UTF-8 now).
        std::vector<size_t> starts;
        for (size_t i = 0; i < line.size(); ++i)
            if ((static_cast<unsigned char>(line[i]) & 0xC0) != 0x80) starts.push_back(i);
        if (starts.size() > 78) line = line.substr(0, starts[37]) + "..." + line.substr(starts[starts.size() - 38]);
        std::cerr << "\r\033[K" << line << std::flush;
        shown_ = true;
    }
    void RunEnding(const BatchResult&) override { ClearProgress(); }

    // A file was skipped because no one could be asked about it.
    bool skippedUnasked = false;

private:
    // The terminal the answer is read from: the question goes there even when
    // standard error is redirected to a file.
    int QuestionTerminal() {
        if (question_ >= 0) return question_;
        const char* name = ::ttyname(STDIN_FILENO);
        question_ = name ? ::open(name, O_WRONLY | O_NOCTTY | O_CLOEXEC) : -1;
        if (question_ < 0) question_ = ::open("/dev/tty", O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (question_ < 0) question_ = STDERR_FILENO;
        return question_;
    }

    void ClearProgress() {
        if (shown_) std::cerr << "\r\033[K" << std::flush;
        shown_ = false;
    }

    int32_t preset_;
    bool progress_;
    size_t count_ = 0;
    bool shown_ = false;
    int question_ = -1;
};

int Show(const std::vector<std::string>& files, unsigned jobs) {
    // The files as tagging takes them; each one once.
    int status = kExitOk;
    InOrder<Printed>(
        files.size(), jobs,
        [&](size_t f) {
            const std::string& path = files[f];
            std::vector<clsAcidSettings::Body> bodies;
            std::string error;
            Printed p;
            if (!ReadAcidChunks(path, bodies, error)) {
                p.error = "velorize: can't read '" + path + "': " + error;
                p.failed = true;
                return p;
            }
            const std::string name = Escaped(path);
            if (bodies.empty()) p.out = name + ": no acid chunk\n";
            for (size_t i = 0; i < bodies.size(); ++i)
                p.out += name + ": " + (bodies.size() > 1 ? "chunk " + std::to_string(i + 1) + ": " : "") +
                         Describe(bodies[i]) + "\n";
            return p;
        },
        [&](size_t, Printed& p) { status = Print(p) ? status : kExitFailed; });
    return status;
}

// The run's settings as --runs shows them: the panel's words, with what the
// names or a tempo decide for each file.
std::string SettingsText(const Options& o, const PanelChoice& choice) {
    std::string text = ChoiceText(choice);
    const size_t comma = text.find(", ");
    std::string kind = text.substr(0, comma), root = comma == std::string::npos ? "" : text.substr(comma);
    if (o.rules.loopAtName && o.rules.loopAtAudio) kind = "loop at the tempo in each name, else its audio's";
    else if (o.rules.loopAtAudio) kind = "loop of the beats in each file's audio";
    else if (o.rules.loopAtName) kind = "loop at the tempo in each name";
    else if (o.rules.loopAtBpm) kind = "loop at " + ShortestText(*o.rules.loopAtBpm) + " bpm";
    const bool rooted =
        choice.kind == PanelChoice::Loop || (choice.kind == PanelChoice::DiskBased && choice.tempoChecked);
    if (o.rules.rootFromName && o.rules.rootFromAudio && rooted) root = ", root note from each name, else its audio";
    else if (o.rules.rootFromAudio && rooted) root = ", root note from each file's audio";
    else if (o.rules.rootFromName && rooted) root = ", root note from each name";
    return kind + root;
}

int Main(const Options& o) {
    if (o.help) {
        PrintHelp();
        return kExitOk;
    }
    if (o.runs) {
        std::string error, text;
        if (!RunsText(text, error)) {
            Say("velorize: can't read the journal of runs: " + error);
            return kExitFailed;
        }
        Out(text);
        return kExitOk;
    }
    if (o.undo) {
        TerminalUi ui(o.presetAnswer, ::isatty(STDERR_FILENO) != 0);
        const UndoResult r = UndoRun(JournalFolder(), o.undoRun, o.presetAnswer, ui, &ui);
        if (r.cancelled) return kExitCancelled;
        return r.id.empty() || r.notUndone > 0 || r.damaged > 0 || r.unmarked ? kExitFailed : kExitOk;
    }
    bool failed = false;
    const std::vector<std::string> files = CollectFiles(o.paths, failed);
    const unsigned jobs = o.jobs ? o.jobs : DefaultJobs();
    if (o.show) {
        const int status = o.format ? ShowAsData(files, *o.format, jobs) : Show(files, jobs);
        return failed ? kExitFailed : status;
    }
    PanelChoice choice;
    choice.kind = o.kind.value_or(PanelChoice::OneShot);
    choice.beats = o.beats;
    choice.loopRootIndex = o.rootIndex;
    choice.diskRootIndex = o.rootIndex;
    choice.tempoChecked = o.tempoMilli.has_value();
    choice.tempoMilli = o.tempoMilli.value_or(120000);
    if (o.dryRun) {
        const Answers answers{o.presetAnswer, ::isatty(STDIN_FILENO) != 0};
        const int status = DryRun(files, choice, o.rules, jobs, answers, o.format);
        return failed ? kExitFailed : status;
    }
    TerminalUi ui(o.presetAnswer, ::isatty(STDERR_FILENO) != 0);
    BatchRun run(files, choice, ui);
    run.PresetAnswer(o.presetAnswer);
    if (o.rules.Any()) run.PerFile(FileHook(o.rules));
    std::unique_ptr<RunJournal> journal;
    if (o.journal && JournalWanted()) {
        journal = std::make_unique<RunJournal>(JournalFolder(), "velorize",
                                               o.remove ? "removal of the loop information" : SettingsText(o, choice),
                                               "velorize --no-journal runs without one.");
        run.Record(journal.get());
    }
    if (o.remove) run.RemoveTags();
    // Questions come one at a time, each about the file in hand.
    const bool mayAsk = o.presetAnswer == kAnswerNone && ::isatty(STDIN_FILENO);
    if (!mayAsk) run.Jobs(jobs);
    const BatchResult result = run.Run(&ui);
    if (result.journalFailed || result.journalUnfinished) return kExitFailed;
    if (result.cancelled) return kExitCancelled;
    return failed || result.failed > 0 || ui.skippedUnasked ? kExitFailed : kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    // Under a file size limit a write then fails with EFBIG, which the tagger
    // rolls back and reports, instead of the signal killing us half-way.
    std::signal(SIGXFSZ, SIG_IGN);
    const Options o = ParseArguments(argc, argv);
    try {
        const int status = Main(o);
        FlushOut();
        return status;
    } catch (const OutputFailed& e) {
        // What a script reads would be incomplete: no run passes for whole.
        Say("velorize: can't write to standard output: " + ErrnoText(e.err));
        return kExitFailed;
    }
}
