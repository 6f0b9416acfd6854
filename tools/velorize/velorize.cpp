// velorize: the loop tagger for scripts and servers. Tags WAVE files and folders
// of them with the same engine, texts and questions as the desktop program.

#include "AppInfo.h"
#include "BatchRun.h"
#include "EnumFolders.h"
#include "PanelChoice.h"
#include "Inspect.h"
#include "Wildcard.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <optional>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace velorizer;

namespace {

enum ExitCode { kExitOk = 0, kExitFailed = 1, kExitUsage = 2, kExitCancelled = 3 };

// Text for a terminal or a line of output. Control characters, the characters
// that break or reorder lines, and bytes that are not UTF-8 are written as
// escapes, so that a file name can neither erase nor forge lines; a backslash
// is doubled, so that an escape can't be forged either.
std::string Escaped(const std::string& text) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const size_t len = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
        uint32_t cp = len == 1 ? c : len == 2 ? c & 0x1F : len == 3 ? c & 0x0F : c & 0x07;
        bool valid = len > 0 && i + len <= text.size();
        for (size_t k = 1; valid && k < len; ++k) {
            const auto cont = static_cast<unsigned char>(text[i + k]);
            valid = (cont & 0xC0) == 0x80;
            cp = cp << 6 | (cont & 0x3F);
        }
        static const uint32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
        valid = valid && cp >= kLeast[len] && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
        if (!valid) {
            out += {'\\', 'x', kHex[c >> 4], kHex[c & 15]};
            ++i;
            continue;
        }
        if (cp == '\\') out += "\\\\";
        else if (cp == '\n') out += "\\n";
        else if (cp == '\r') out += "\\r";
        else if (cp == '\t') out += "\\t";
        else if (cp < 0x20 || cp == 0x7F) out += {'\\', 'x', kHex[cp >> 4], kHex[cp & 15]};
        else if ((cp >= 0x80 && cp < 0xA0) || cp == 0x200E || cp == 0x200F || (cp >= 0x2028 && cp <= 0x202E) ||
                 (cp >= 0x2066 && cp <= 0x2069)) {
            out += {'\\', 'u', kHex[cp >> 12 & 15], kHex[cp >> 8 & 15], kHex[cp >> 4 & 15], kHex[cp & 15]};
        } else {
            out.append(text, i, len);
        }
        i += len;
    }
    return out;
}

// One line on standard error.
void Say(const std::string& text) { std::cerr << Escaped(text) << "\n"; }

const char* const kUsage =
    "Usage: velorize [--one-shot | --loop BEATS | --disk-based [--tempo BPM]] [--root NOTE]\n"
    "                [--yes-to-all | --no-to-all] [--show] PATH...\n";

void PrintHelp() {
    std::cout << kUsage << R"(
Writes loop metadata (the RIFF "acid" chunk) into WAVE files, in place. Each
PATH is a .wav file or a folder; folders are searched to any depth for files
whose names end in .wav, a folder's own files first, in name order.

Kind of sample (choose one unless --show):
  --one-shot         a one-shot sample: no tempo, no root note
  --loop BEATS       a loop of BEATS beats (1 to 10000); each file's tempo is
                     derived from its length: BEATS x 60 x rate / frames
  --disk-based       a disk-based file without a tempo
  --tempo BPM        with --disk-based: its tempo, 60 to 240 bpm, up to three
                     decimals (95.5)
  --root NOTE        the root note for transposing: C, C#, D, D#, E, F, F#, G,
                     G#, A, A# or B, or "none" (the default). A loop's C is
                     MIDI note 60, a disk-based file's C is 48. Ignored for
                     one-shots and for disk-based files without a tempo.

Questions:
  Before changing a read-only file, or a file that already has an acid chunk,
  velorize asks: [Y]es, Yes to [A]ll, [N]o or [C]ancel. It asks on the
  terminal that standard input is; without one, such a file is skipped with a
  message (and exit status 1) unless one of these answers:
  --yes-to-all       answer Yes to All to both questions
  --no-to-all        answer No to every question
  A read-only file keeps its permissions after it is tagged.

Other options:
  --show             write nothing; print each file's acid chunk (kind, root
                     note, beats, meter, tempo) or that it has none
  --help             this text

Files that can't be tagged safely (not a WAVE file, bytes beyond the RIFF form,
a file cut short, a full disk, a file replaced while it was being tagged) are
left byte for byte as they were, with a message on standard error. A file whose
tagging was interrupted (the acid chunk written, the RIFF size not yet) is
completed by the next run. The run ends with "Operation completed." or
"Operation cancelled.". File names are shown with control characters and
invalid UTF-8 escaped (\n, \x1b, \xff; a backslash as \\).

Exit status: 0 every file tagged, or declined at the terminal or by
--no-to-all; 1 a file or folder failed or was skipped; 2 usage error;
3 cancelled.
)";
}

struct Options {
    std::optional<PanelChoice::Kind> kind;
    int32_t beats = 4;
    std::optional<int32_t> tempoMilli;
    int rootIndex = 0;
    int32_t presetAnswer = kAnswerNone;  // kAnswerYesToAll or kAnswerNo
    bool show = false;
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

// A tempo in bpm with up to three decimals, as thousandths of a beat per minute.
bool ParseTempo(const std::string& text, int32_t& milli) {
    double bpm = 0;
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, bpm);
    // from_chars also reads "nan" and "inf", which no range check written as
    // two comparisons would stop.
    if (ec != std::errc() || p != end || !std::isfinite(bpm)) return false;
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
    bool kindGiven = false, answersGiven = false, endOfOptions = false;
    auto kind = [&](PanelChoice::Kind k) {
        if (kindGiven) UsageError("choose one of --one-shot, --loop and --disk-based");
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
            PrintHelp();
            std::exit(kExitOk);
        } else if (a == "--one-shot") {
            kind(PanelChoice::OneShot);
        } else if (a == "--loop") {
            kind(PanelChoice::Loop);
            const std::string v = value("a number of beats");
            if (!ParseInt(v, o.beats) || o.beats < 1 || o.beats > 10000)
                UsageError("--loop takes a number of beats from 1 to 10000, not '" + v + "'");
        } else if (a == "--disk-based") {
            kind(PanelChoice::DiskBased);
        } else if (a == "--tempo") {
            const std::string v = value("a tempo");
            int32_t milli = 0;
            if (!ParseTempo(v, milli)) UsageError("--tempo takes a tempo from 60 to 240 bpm, not '" + v + "'");
            o.tempoMilli = milli;
        } else if (a == "--root") {
            const std::string v = value("a note");
            o.rootIndex = RootIndex(v);
            if (o.rootIndex < 0) UsageError("--root takes C, C#, D, D#, E, F, F#, G, G#, A, A#, B or none, not '" + v + "'");
        } else if (a == "--yes-to-all" || a == "--no-to-all") {
            if (answersGiven) UsageError("choose one of --yes-to-all and --no-to-all");
            answersGiven = true;
            o.presetAnswer = a == "--yes-to-all" ? kAnswerYesToAll : kAnswerNo;
        } else if (a == "--show") {
            o.show = true;
        } else {
            UsageError("unknown option " + a);
        }
    }
    if (o.paths.empty()) UsageError("no PATH given");
    if (o.show && (kindGiven || o.tempoMilli || answersGiven))
        UsageError("--show writes nothing: it takes no kind of sample and no answers");
    if (!o.show && !kindGiven) UsageError("choose the kind of sample: --one-shot, --loop BEATS or --disk-based");
    if (o.tempoMilli && o.kind != PanelChoice::DiskBased) UsageError("--tempo goes with --disk-based");
    return o;
}

// The files named on the command line, folders walked, each path once, in order.
std::vector<std::string> CollectFiles(const std::vector<std::string>& paths, bool& failed) {
    std::vector<std::string> files;
    std::set<std::string> seen;
    auto add = [&](const std::string& p) {
        if (seen.insert(p).second) files.push_back(p);
    };
    for (const auto& path : paths) {
        struct stat st {};
        const int found = ::stat(path.c_str(), &st) == 0 ? 0 : errno;
        if (found == 0 && S_ISDIR(st.st_mode)) {
            EnumFolders walker;
            walker.File = add;
            walker.FolderError = [&](const std::string& folder, const std::string& reason) {
                Say("velorize: can't read the folder '" + folder + "': " + reason);
                failed = true;
            };
            walker.Go(path, std::string(kWaveWildcard));
        } else if (found == ENOENT || found == ENOTDIR) {
            Say("velorize: skipped '" + path + "': no such file or folder");
            failed = true;
        } else if (EndsWithWav(path)) {
            add(path);  // tagging tells what is wrong with it, if anything
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

    int32_t AskToChange(ChangeQuestion question, const std::string& path, const std::string& title,
                        const std::string& message) override {
        if (preset_ != kAnswerNone) return preset_;
        if (!::isatty(STDIN_FILENO)) {
            // No one can answer: the file is skipped, and the run must not pass
            // for one that tagged everything.
            ClearProgress();
            Say("velorize: skipped '" + path + "': " +
                (question == ChangeQuestion::ReadOnly ? "it is read-only" : "it is already tagged") +
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
            for (size_t done = 0; done < prompt.size();) {
                const ssize_t n = ::write(fd, prompt.data() + done, prompt.size() - done);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) break;
                done += static_cast<size_t>(n);
            }
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

// The shortest text that reads back as the same float: what the file holds,
// neither rounded nor padded.
std::string Exact(float value) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, r.ptr);
}

std::string Describe(const clsAcidSettings::Body& body) {
    const clsAcidSettings s = clsAcidSettings::FromBody(body);
    const int32_t mode = s.Mode();
    std::string kind = (mode & kFlagDiskBased) ? ((mode & kFlagOneShot) ? "disk-based, no tempo" : "disk-based") :
                       (mode & kFlagOneShot) ? "one-shot" : "loop";
    std::string text = "type " + kind + " (mode " + std::to_string(mode) + ")";
    if (mode & kFlagRootNote) {
        const int midi = s.MidiBase();
        text += ", root note " + std::string(NoteName(midi)) + " (MIDI " + std::to_string(midi) + ")";
    } else {
        text += ", no root note";
    }
    text += ", " + std::to_string(s.LoopBeats()) + " beats, meter " + std::to_string(s.Numerator()) + "/" +
            std::to_string(s.Denominator()) + ", tempo " + Exact(s.Tempo()) + " bpm";
    return text;
}

int Show(const std::vector<std::string>& files) {
    int status = kExitOk;
    for (const auto& path : files) {
        std::vector<clsAcidSettings::Body> bodies;
        std::string error;
        const bool ok = ReadAcidChunks(path, bodies, error);
        if (!ok) {
            Say("velorize: can't read '" + path + "': " + error);
            status = kExitFailed;
            continue;
        }
        const std::string name = Escaped(path);
        if (bodies.empty()) std::cout << name << ": no acid chunk\n";
        for (size_t i = 0; i < bodies.size(); ++i)
            std::cout << name << ": " << (bodies.size() > 1 ? "chunk " + std::to_string(i + 1) + ": " : "")
                      << Describe(bodies[i]) << "\n";
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    // Under a file size limit a write then fails with EFBIG, which the tagger
    // rolls back and reports, instead of the signal killing us half-way.
    std::signal(SIGXFSZ, SIG_IGN);
    const Options o = ParseArguments(argc, argv);
    bool failed = false;
    const std::vector<std::string> files = CollectFiles(o.paths, failed);
    if (o.show) {
        const int status = Show(files);
        return failed ? kExitFailed : status;
    }
    PanelChoice choice;
    choice.kind = *o.kind;
    choice.beats = o.beats;
    choice.loopRootIndex = o.rootIndex;
    choice.diskRootIndex = o.rootIndex;
    choice.tempoChecked = o.tempoMilli.has_value();
    choice.tempoMilli = o.tempoMilli.value_or(120000);
    TerminalUi ui(o.presetAnswer, ::isatty(STDERR_FILENO) != 0);
    BatchRun run(files, choice, ui);
    run.PresetAnswer(o.presetAnswer);
    const BatchResult result = run.Run(&ui);
    if (result.cancelled) return kExitCancelled;
    return failed || result.failed > 0 || ui.skippedUnasked ? kExitFailed : kExitOk;
}
