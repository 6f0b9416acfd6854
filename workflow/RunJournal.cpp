#include "RunJournal.h"

#include "TagVerdicts.h"
#include "WriteAll.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

// A journal is text, one record a line; a line counts only once its newline
// is on the disk, so a record cut short by a kill is simply not there (and
// the file it was about was not touched yet).
//
//   velorizer journal 1
//   program velorize
//   started <nanoseconds since the epoch>
//   settings loop of 8 beats, root note C#
//   change <path> <device> <inode> <length before> <after> <tail hex or -> [<offset>:<old hex>:<new hex>]...
//   finished <ns> <files visited> completed|cancelled
//   undone <ns>
//
// Paths are kept as bytes: every byte outside printable ASCII, and '%', as %XX.

namespace velorizer {

namespace {

const char* const kMagic = "velorizer journal 1";
const char* const kSuffix = ".journal";

int64_t NowNs() {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (uint8_t b : bytes) out += {kDigits[b >> 4], kDigits[b & 15]};
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool FromHex(std::string_view text, std::vector<uint8_t>& bytes) {
    if (text.size() % 2 != 0) return false;
    bytes.clear();
    for (size_t i = 0; i < text.size(); i += 2) {
        const int hi = HexDigit(text[i]), lo = HexDigit(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        bytes.push_back(static_cast<uint8_t>(hi << 4 | lo));
    }
    return true;
}

std::string EncodePath(const std::string& path) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        if (c > 0x20 && c < 0x7F && c != '%') out += ch;
        else out += {'%', kDigits[c >> 4], kDigits[c & 15]};
    }
    return out;
}

bool DecodePath(std::string_view text, std::string& path) {
    path.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            path += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return false;
        const int hi = HexDigit(text[i + 1]), lo = HexDigit(text[i + 2]);
        if (hi < 0 || lo < 0) return false;
        path += static_cast<char>(hi << 4 | lo);
        i += 2;
    }
    return !path.empty();
}

template <typename T> bool Number(std::string_view text, T& value) {
    const auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && p == text.data() + text.size();
}

std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    for (size_t at = 0; at <= line.size();) {
        const size_t end = std::min(line.find(' ', at), line.size());
        words.push_back(line.substr(at, end - at));
        at = end + 1;
    }
    return words;
}

// `path` stands for the change's own, made absolute: an undo may run from
// any folder.
std::string ChangeLine(const FileChange& c, const std::string& path) {
    std::string line = "change " + EncodePath(path) + " " + std::to_string(c.device) + " " + std::to_string(c.inode) +
                       " " + std::to_string(c.lengthBefore) + " " + std::to_string(c.lengthAfter) + " " +
                       (c.tail.empty() ? "-" : Hex(c.tail));
    for (const BytePatch& p : c.patches)
        line += " " + std::to_string(p.offset) + ":" + Hex(p.before) + ":" + Hex(p.after);
    return line + "\n";
}

bool ParseChange(const std::vector<std::string_view>& w, FileChange& c) {
    if (w.size() < 7 || !DecodePath(w[1], c.path) || !Number(w[2], c.device) || !Number(w[3], c.inode) ||
        !Number(w[4], c.lengthBefore) || !Number(w[5], c.lengthAfter))
        return false;
    if (w[6] != "-" && !FromHex(w[6], c.tail)) return false;
    for (size_t i = 7; i < w.size(); ++i) {
        const size_t a = w[i].find(':'), b = w[i].rfind(':');
        BytePatch p;
        if (a == b || !Number(w[i].substr(0, a), p.offset) || !FromHex(w[i].substr(a + 1, b - a - 1), p.before) ||
            !FromHex(w[i].substr(b + 1), p.after))
            return false;
        c.patches.push_back(std::move(p));
    }
    return true;
}

// Text fit for one line of the journal and of a terminal.
std::string OneLine(std::string text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return text;
}

// What one journal file says.
struct Parsed {
    RunSummary summary;
    std::vector<FileChange> changes;
    size_t damaged = 0;
};

bool Parse(const std::string& text, Parsed& out, bool wantChanges) {
    size_t at = 0;
    bool first = true;
    for (size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
        const std::string_view line(text.data() + at, end - at);
        if (first) {
            if (line != kMagic) return false;
            first = false;
            continue;
        }
        const std::vector<std::string_view> w = Words(line);
        RunSummary& s = out.summary;
        if (w[0] == "program" && w.size() == 2) {
            s.program = OneLine(std::string(w[1]));
        } else if (w[0] == "started" && w.size() == 2) {
            if (!Number(w[1], s.startedNs)) return false;
        } else if (w[0] == "settings") {
            s.settings = OneLine(std::string(line.substr(std::min(line.size(), size_t{9}))));
        } else if (w[0] == "change") {
            FileChange c;
            if (!ParseChange(w, c)) {
                ++out.damaged;
                continue;
            }
            ++s.files;
            if (wantChanges) out.changes.push_back(std::move(c));
        } else if (w[0] == "finished" && w.size() == 4) {
            s.finished = true;
            s.cancelled = w[3] == "cancelled";
        } else if (w[0] == "undone") {
            s.undone = true;
        } else {
            ++out.damaged;
        }
    }
    return !first;
}

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

// Opens one of our own folders below `parent` (creating it when asked): a
// real folder, not a link, that belongs to this user and is kept private.
// -1 with the reason, or -1 with an empty reason when it doesn't exist.
int OpenPrivate(int parent, const std::string& name, const std::string& shown, bool create, std::string& error) {
    if (create && ::mkdirat(parent, name.c_str(), 0700) != 0 && errno != EEXIST) {
        error = "can't create the folder " + Quoted(shown) + ": " + ErrnoText(errno);
        return -1;
    }
    const int fd = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const int e = errno;
        if (e == ENOENT && !create) error.clear();
        else if (e == ELOOP || e == ENOTDIR) error = "the folder " + Quoted(shown) + " is a link or no folder";
        else error = "can't open the folder " + Quoted(shown) + ": " + ErrnoText(e);
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_uid != ::geteuid()) {
        error = "the folder " + Quoted(shown) + " belongs to another user";
        ::close(fd);
        return -1;
    }
    if ((st.st_mode & 077) != 0 && ::fchmod(fd, 0700) != 0) {
        error = "can't make the folder " + Quoted(shown) + " private: " + ErrnoText(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

// Opens the runs folder; its last two parts (velorizer/runs) are private to
// the user, the folders above them are made as needed.
int OpenRunsFolder(const std::string& folder, bool create, std::string& error) {
    if (folder.empty()) {
        error = "there is no home folder to keep it in";
        return -1;
    }
    const size_t cut1 = folder.rfind('/');
    const size_t cut2 = cut1 == std::string::npos || cut1 == 0 ? std::string::npos : folder.rfind('/', cut1 - 1);
    if (cut2 == std::string::npos) {
        error = "the folder " + Quoted(folder) + " is not a journal folder";
        return -1;
    }
    const std::string base = cut2 == 0 ? "/" : folder.substr(0, cut2);
    if (create) {
        for (size_t at = 1; at <= base.size(); ++at) {
            if (at != base.size() && base[at] != '/') continue;
            if (::mkdir(base.substr(0, at).c_str(), 0700) != 0 && errno != EEXIST) {
                error = "can't create the folder " + Quoted(base.substr(0, at)) + ": " + ErrnoText(errno);
                return -1;
            }
        }
    }
    const int top = ::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (top < 0) {
        if (errno == ENOENT && !create) error.clear();
        else if (errno == ENOTDIR) error = Quoted(base) + " is not a folder";
        else error = "can't open the folder " + Quoted(base) + ": " + ErrnoText(errno);
        return -1;
    }
    const std::string middle = folder.substr(0, cut1);
    const int app = OpenPrivate(top, folder.substr(cut2 + 1, cut1 - cut2 - 1), middle, create, error);
    ::close(top);
    if (app < 0) return -1;
    const int runs = OpenPrivate(app, folder.substr(cut1 + 1), folder, create, error);
    ::close(app);
    return runs;
}

// One of our journal files, read whole or up to `limit` bytes; false when it
// is none.
bool ReadJournal(int dir, const std::string& name, std::string& text, size_t limit = SIZE_MAX) {
    const int fd = ::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    bool ours = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid();
    text.clear();
    char buf[65536];
    for (ssize_t n; ours && text.size() < limit && (n = ::read(fd, buf, sizeof buf)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ours = false;
        else text.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return ours;
}

std::vector<std::string> JournalNames(int dir) {
    std::vector<std::string> names;
    const int copy = ::fcntl(dir, F_DUPFD_CLOEXEC, 0);
    DIR* d = copy < 0 ? nullptr : ::fdopendir(copy);
    if (!d) {
        if (copy >= 0) ::close(copy);
        return names;
    }
    ::rewinddir(d);
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        const bool plain = std::all_of(name.begin(), name.end(), [](char c) {
            return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '.';
        });
        if (plain && name.size() > std::strlen(kSuffix) && name.ends_with(kSuffix)) names.push_back(name);
    }
    ::closedir(d);
    return names;
}

struct Found {
    std::string name;
    Parsed parsed;
};

// Every journal of the folder, oldest first; with `headsOnly`, read only as
// far as when each run started.
std::vector<Found> AllRuns(int dir, bool headsOnly) {
    std::vector<Found> runs;
    for (const std::string& name : JournalNames(dir)) {
        Found f{name, {}};
        std::string text;
        if (!ReadJournal(dir, name, text, headsOnly ? 4096 : SIZE_MAX) || !Parse(text, f.parsed, false)) continue;
        f.parsed.summary.id = name.substr(0, name.size() - std::strlen(kSuffix));
        runs.push_back(std::move(f));
    }
    std::sort(runs.begin(), runs.end(), [](const Found& a, const Found& b) {
        const RunSummary &x = a.parsed.summary, &y = b.parsed.summary;
        return x.startedNs != y.startedNs ? x.startedNs < y.startedNs : x.id < y.id;
    });
    return runs;
}

std::string RunId(int64_t ns, int attempt) {
    const time_t secs = static_cast<time_t>(ns / 1000000000);
    tm local{};
    ::localtime_r(&secs, &local);
    char buf[64];
    const size_t n = std::strftime(buf, sizeof buf, "%Y%m%d-%H%M%S", &local);
    char ms[8];
    std::snprintf(ms, sizeof ms, "-%03d", static_cast<int>(ns / 1000000 % 1000));
    std::string id = std::string(buf, n) + ms;
    if (attempt > 0) id += "-" + std::to_string(attempt + 1);
    return id;
}

std::string TempoText(int32_t milli) {
    std::string text = std::to_string(milli / 1000);
    if (milli % 1000 != 0) {
        char frac[8];
        std::snprintf(frac, sizeof frac, ".%03d", milli % 1000);
        std::string f = frac;
        while (f.back() == '0') f.pop_back();
        text += f;
    }
    return text;
}

}  // namespace

std::string JournalFolder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && state[0] == '/') return std::string(state) + "/velorizer/runs";
    std::string home;
    if (const char* h = std::getenv("HOME"); h && h[0] == '/') home = h;
    else if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_dir && pw->pw_dir[0] == '/') home = pw->pw_dir;
    if (home.empty()) return "";
    if (home.size() > 1 && home.back() == '/') home.pop_back();
    return (home == "/" ? "" : home) + "/.local/state/velorizer/runs";
}

bool JournalWanted() {
    const char* v = std::getenv("VELORIZER_JOURNAL");
    if (!v) return true;
    for (const char* off : {"off", "0", "no", "false"})
        if (::strcasecmp(v, off) == 0) return false;
    return true;
}

std::string ChoiceText(const PanelChoice& choice) {
    const auto root = [](int index) {
        return index > 0 ? std::string(", root note ") + RootNoteName(index) : std::string(", no root note");
    };
    switch (choice.kind) {
        case PanelChoice::OneShot: return "one-shot";
        case PanelChoice::Loop:
            return "loop of " + std::to_string(choice.beats) + " beats" + root(choice.loopRootIndex);
        case PanelChoice::DiskBased:
            if (!choice.tempoChecked) return "disk-based, no tempo";
            return "disk-based at " + TempoText(choice.tempoMilli) + " bpm" + root(choice.diskRootIndex);
    }
    return "";
}

RunJournal::RunJournal(std::string folder, std::string program, std::string settings, std::string turnOff)
    : folder_(std::move(folder)),
      program_(OneLine(std::move(program))),
      settings_(OneLine(std::move(settings))),
      turnOff_(std::move(turnOff)) {}

RunJournal::~RunJournal() {
    // A run left by an error before its end keeps its journal, unless it
    // changed nothing.
    if (fd_ >= 0 && changes_ == 0) ::unlinkat(dir_, (id_ + kSuffix).c_str(), 0);
    if (fd_ >= 0) ::close(fd_);
    if (dir_ >= 0) ::close(dir_);
}

bool RunJournal::Begin(std::string& message) {
    std::string reason;
    const auto fail = [&] {
        message = "Velorizer can't keep a journal of this run: " + reason + ". No file was changed. " + turnOff_;
        return false;
    };
    dir_ = OpenRunsFolder(folder_, true, reason);
    if (dir_ < 0) return fail();
    if (char* cwd = ::getcwd(nullptr, 0)) {
        cwd_ = cwd;
        std::free(cwd);
        if (cwd_.back() != '/') cwd_ += '/';
    }
    const int64_t started = NowNs();
    for (int attempt = 0; fd_ < 0; ++attempt) {
        id_ = RunId(started, attempt);
        const std::string name = id_ + kSuffix;
        fd_ = ::openat(dir_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd_ < 0 && (errno != EEXIST || attempt > 100)) {
            reason = "can't create " + Quoted(folder_ + "/" + name) + ": " + ErrnoText(errno);
            return fail();
        }
    }
    const std::string head = std::string(kMagic) + "\nprogram " + program_ + "\nstarted " + std::to_string(started) +
                             "\nsettings " + settings_ + "\n";
    // The file and its name are on the disk before any file is touched.
    if (!WriteAll(fd_, head) || ::fdatasync(fd_) != 0 || ::fsync(dir_) != 0) {
        reason = "can't write " + Quoted(folder_ + "/" + id_ + kSuffix) + ": " + ErrnoText(errno);
        ::unlinkat(dir_, (id_ + kSuffix).c_str(), 0);
        ::close(fd_);
        fd_ = -1;
        return fail();
    }
    size_ = durable_ = static_cast<int64_t>(head.size());
    return true;
}

void RunJournal::Break(int err) {
    error_ = err;
    broken_ = true;
    // What may not have reached the disk goes, so that nothing runs into it;
    // where even that fails, a line cut short lacks its newline and is never
    // read as a record.
    (void)!::ftruncate(fd_, durable_);
}

bool RunJournal::Append(const std::string& line, std::unique_lock<std::mutex>& lock) {
    if (broken_ || fd_ < 0) return false;
    if (!WriteAll(fd_, line)) {
        Break(errno);
        return false;
    }
    size_ += static_cast<int64_t>(line.size());
    const uint64_t mine = ++written_;
    // One sync covers every line written before it began: files tagged at
    // once share them.
    while (synced_ < mine && !broken_) {
        if (syncing_) {
            syncDone_.wait(lock);
            continue;
        }
        syncing_ = true;
        const uint64_t upTo = written_;
        const int64_t size = size_;
        lock.unlock();
        const bool ok = ::fdatasync(fd_) == 0;
        const int err = errno;
        lock.lock();
        syncing_ = false;
        // A break meanwhile (another file's line failed) cut the journal back
        // to what was on the disk before: the lines of this sync may be gone.
        if (ok && !broken_) {
            synced_ = upTo;
            durable_ = size;
        } else if (!broken_) {
            Break(err);
        }
        syncDone_.notify_all();
    }
    return synced_ >= mine;
}

bool RunJournal::Record(const FileChange& change, std::string& reason) {
    const bool relative = change.path.empty() || change.path[0] != '/';
    if (relative && cwd_.empty()) {
        reason = "the journal of this run can't name it: the current folder is unknown";
        return false;
    }
    const std::string line = ChangeLine(change, relative ? cwd_ + change.path : change.path);
    std::unique_lock<std::mutex> lock(mutex_);
    if (Append(line, lock)) {
        ++changes_;
        return true;
    }
    reason = "the journal of this run could not be written (" + ErrnoText(error_) + ")";
    return false;
}

bool RunJournal::Broken() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return broken_;
}

void RunJournal::End(const BatchResult& result) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (fd_ < 0) return;
    if (changes_ == 0) {
        // Nothing to undo: no journal.
        ::unlinkat(dir_, (id_ + kSuffix).c_str(), 0);
        ::fsync(dir_);
    } else {
        Append("finished " + std::to_string(NowNs()) + " " + std::to_string(result.visited) +
                   (result.cancelled ? " cancelled\n" : " completed\n"),
               lock);
        // The oldest runs make room for this one.
        const std::vector<Found> runs = AllRuns(dir_, true);
        for (size_t i = 0; i + kKeptRuns < runs.size(); ++i) ::unlinkat(dir_, runs[i].name.c_str(), 0);
    }
    ::close(fd_);
    fd_ = -1;
}

bool ListRuns(const std::string& folder, std::vector<RunSummary>& runs, std::string& error) {
    runs.clear();
    const int dir = OpenRunsFolder(folder, false, error);
    if (dir < 0) return error.empty();
    for (Found& f : AllRuns(dir, false)) runs.push_back(std::move(f.parsed.summary));
    ::close(dir);
    return true;
}

bool ReadRun(const std::string& folder, const std::string& id, std::vector<FileChange>& changes, size_t& damaged,
             std::string& error) {
    changes.clear();
    damaged = 0;
    const int dir = OpenRunsFolder(folder, false, error);
    if (dir < 0) {
        if (error.empty()) error = "no run is journaled";
        return false;
    }
    std::string text;
    Parsed parsed;
    const bool read =
        id.find('/') == std::string::npos && ReadJournal(dir, id + kSuffix, text) && Parse(text, parsed, true);
    ::close(dir);
    if (!read) {
        error = "there is no run " + Quoted(id) + " in the journal";
        return false;
    }
    changes = std::move(parsed.changes);
    damaged = parsed.damaged;
    return true;
}

bool MarkUndone(const std::string& folder, const std::string& id, std::string& error) {
    const int dir = OpenRunsFolder(folder, false, error);
    if (dir < 0) return false;
    const int fd = ::openat(dir, (id + kSuffix).c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
    const bool ok = fd >= 0 && WriteAll(fd, "undone " + std::to_string(NowNs()) + "\n") && ::fdatasync(fd) == 0;
    if (!ok) error = ErrnoText(errno);
    if (fd >= 0) ::close(fd);
    ::close(dir);
    return ok;
}

}  // namespace velorizer
