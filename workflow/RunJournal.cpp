#include "RunJournal.h"

#include "RevertChange.h"
#include "TargetFile.h"
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
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

// The lines themselves are JournalRecords' business; here, the files: where
// they are, who may read them, their locks, their names and how many are kept.

namespace velorizer {

namespace {

const char* const kSuffix = ".journal";

int64_t NowNs() {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}

// Text fit for one line of the journal and of a terminal.
std::string OneLine(std::string text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return text;
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
    struct stat st = {};
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

// A journal file of the folder, opened for reading and locked shared, or the
// reason it can't be: it is locked by its run (still running), or it is not
// one of ours.
enum class Opened { Yes, Missing, Running, Foreign, Other };
Opened OpenJournal(int dir, const std::string& name, int& fd) {
    fd = ::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? Opened::Missing : Opened::Other;
    struct stat st = {};
    Opened why = Opened::Yes;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) why = Opened::Other;
    else if (st.st_uid != ::geteuid()) why = Opened::Foreign;
    else if (::flock(fd, LOCK_SH | LOCK_NB) != 0) why = errno == EWOULDBLOCK ? Opened::Running : Opened::Other;
    if (why != Opened::Yes) {
        ::close(fd);
        fd = -1;
    }
    return why;
}

bool ReadAll(int fd, std::string& text) {
    text.clear();
    char buf[65536];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        text.append(buf, static_cast<size_t>(n));
    }
    return true;
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
        if (plain && name[0] != '.' && name.size() > std::strlen(kSuffix) && name.ends_with(kSuffix))
            names.push_back(name);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end(), RunIdLess);
    return names;
}

std::string IdOf(const std::string& name) { return name.substr(0, name.size() - std::strlen(kSuffix)); }

// The stamp a run started at, as its id begins: local time to the millisecond.
std::string Stamp(int64_t ns) {
    const time_t secs = static_cast<time_t>(ns / 1000000000);
    tm local{};
    ::localtime_r(&secs, &local);
    char buf[64];
    const size_t n = std::strftime(buf, sizeof buf, "%Y%m%d-%H%M%S", &local);
    char ms[8];
    std::snprintf(ms, sizeof ms, "-%03d", static_cast<int>(ns / 1000000 % 1000));
    return std::string(buf, n) + ms;
}

// A run id is its stamp, then "-N" when another run had that stamp (or a
// later one: a clock set back) already.
std::pair<std::string, uint64_t> SplitId(const std::string& id) {
    const size_t stampSize = std::strlen("20250101-000000-000");
    uint64_t n = 1;
    if (id.size() > stampSize + 1 && id[stampSize] == '-')
        std::from_chars(id.data() + stampSize + 1, id.data() + id.size(), n);
    return {id.substr(0, std::min(id.size(), stampSize)), n};
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

// Files a run changed by its notes; for a run stopped before its end, whose
// last notes may never have been written, also by the bytes of the files its
// records name and its notes don't.
size_t ChangedBy(const journal::Parsed& p, size_t& failed) {
    size_t changed = 0;
    failed = 0;
    for (size_t i = 0; i < p.changes.size(); ++i) {
        const auto note = p.notes.find(p.numbers[i]);
        if (note != p.notes.end()) {
            const Result r = note->second.result;
            changed += r == Result::Written || r == Result::MayHaveChanged;
            failed += r == Result::Refused || r == Result::Failed || r == Result::MayHaveChanged ||
                      r == Result::ChangedMeanwhile;
        } else if (p.version == 1 || !p.finished) {
            changed += StateOf(p.changes[i]) == ChangeState::Changed;
        }
    }
    return changed;
}

}  // namespace

bool RunIdLess(const std::string& a, const std::string& b) {
    const auto x = SplitId(a), y = SplitId(b);
    return x != y ? x < y : a < b;
}

std::string AbsolutePath(const std::string& path, const std::string& cwd) {
    const std::string whole = !path.empty() && path[0] == '/' ? path : cwd + path;
    std::vector<std::string> parts;
    for (size_t at = 0; at <= whole.size();) {
        const size_t end = std::min(whole.find('/', at), whole.size());
        const std::string part = whole.substr(at, end - at);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        at = end + 1;
    }
    std::string out;
    for (const std::string& p : parts) out += "/" + p;
    return out.empty() ? "/" : out;
}

std::string WhenText(int64_t ns) {
    const time_t secs = static_cast<time_t>(ns / 1000000000);
    tm local{};
    ::localtime_r(&secs, &local);
    char buf[32];
    return std::string(buf, std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &local));
}

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
            return "loop of " + std::to_string(choice.beats) + (choice.beats == 1 ? " beat" : " beats") +
                   root(choice.loopRootIndex);
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
    // A run left by an error before its end keeps its journal: it may have
    // changed files its notes don't name yet.
    if (fd_ >= 0) {
        if (!notes_.empty()) (void)WriteAll(fd_, notes_);
        ::close(fd_);
    }
    if (dir_ >= 0) ::close(dir_);
}

bool RunJournal::Begin(std::string& message) {
    std::string reason;
    dir_ = OpenRunsFolder(folder_, true, reason);
    if (dir_ >= 0 && ::faccessat(dir_, ".", W_OK | X_OK, AT_EACCESS) != 0)
        reason = "can't write in the folder " + Quoted(folder_) + ": " + ErrnoText(errno);
    if (!reason.empty()) {
        message = "Velorizer can't keep a journal of this run: " + reason + ". No file was changed. " + turnOff_;
        return false;
    }
    if (char* cwd = ::getcwd(nullptr, 0)) {
        cwd_ = cwd;
        std::free(cwd);
        if (cwd_.back() != '/') cwd_ += '/';
    }
    startedNs_ = NowNs();
    return true;
}

bool RunJournal::Create(std::string& reason) {
    // The id follows every run's in the folder, whatever the clock says.
    std::string id = Stamp(startedNs_);
    const std::vector<std::string> names = JournalNames(dir_);
    if (!names.empty() && !RunIdLess(IdOf(names.back()), id)) {
        const auto [stamp, n] = SplitId(IdOf(names.back()));
        id = stamp + "-" + std::to_string(n + 1);
    }
    for (int attempt = 0; fd_ < 0; ++attempt) {
        const std::string name = id + kSuffix;
        fd_ = ::openat(dir_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd_ >= 0) break;
        if (errno != EEXIST || attempt > 100) {
            reason = "can't create " + Quoted(folder_ + "/" + name) + ": " + ErrnoText(errno);
            return false;
        }
        const auto [stamp, n] = SplitId(id);
        id = stamp + "-" + std::to_string(n + 1);
    }
    // Locked as long as the run goes: no cleanup and no undo takes it meanwhile.
    if (::flock(fd_, LOCK_EX) != 0) {
        reason = "can't lock " + Quoted(folder_ + "/" + id + kSuffix) + ": " + ErrnoText(errno);
        ::unlinkat(dir_, (id + kSuffix).c_str(), 0);
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    id_ = id;
    const std::string head = std::string(journal::kMagic2) + "\n" + journal::Sealed("program " + program_) +
                             journal::Sealed("started " + std::to_string(startedNs_)) +
                             journal::Sealed("settings " + settings_);
    if (!WriteAll(fd_, head)) {
        reason = "can't write " + Quoted(folder_ + "/" + id + kSuffix) + ": " + ErrnoText(errno);
        ::unlinkat(dir_, (id + kSuffix).c_str(), 0);
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    size_ = static_cast<int64_t>(head.size());
    // The name reaches the disk with the first records' sync.
    return true;
}

void RunJournal::Break(int err) {
    error_ = err;
    broken_ = true;
    // What may not have reached the disk goes, so that nothing runs into it;
    // where even that fails, a line cut short lacks its newline and is never
    // read as a record.
    if (fd_ >= 0) (void)!::ftruncate(fd_, durable_);
}

bool RunJournal::Append(const std::string& lines, std::unique_lock<std::mutex>& lock) {
    if (broken_ || fd_ < 0) return false;
    if (!WriteAll(fd_, lines)) {
        Break(errno);
        return false;
    }
    size_ += static_cast<int64_t>(lines.size());
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
        const bool first = durable_ == 0;
        lock.unlock();
        // The first sync also settles the journal's name in its folder.
        const bool ok = ::fdatasync(fd_) == 0 && (!first || ::fsync(dir_) == 0);
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

std::string RunJournal::Line(const FileChange& change, size_t number) const {
    // Relative paths are kept as from the folder of the run: an undo may run
    // from any folder.
    FileChange c = change;
    c.path = AbsolutePath(change.path, cwd_);
    return journal::ChangeContent(number, c);
}

void RunJournal::Upcoming(std::vector<FileChange> changes) {
    const std::lock_guard<std::mutex> lock(mutex_);
    // Kept until the next record that must be written takes them along.
    for (FileChange& c : changes) upcoming_.push_back(std::move(c));
}

bool RunJournal::Record(const FileChange& change, std::string& reason) {
    const bool relative = change.path.empty() || change.path[0] != '/';
    if (relative && cwd_.empty()) {
        reason = "the journal of this run can't name it: the current folder is unknown";
        return false;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    // The key of a record is its line without its number.
    const std::string key = Line(change, 0);
    const auto identity = std::make_pair(change.device, change.inode);
    if (const auto it = recorded_.find(key); it != recorded_.end() && !broken_) {
        // Written with an earlier group, and on the disk since its sync.
        lastOf_[identity] = it->second;
        return true;
    }
    if (fd_ < 0 && !broken_ && !Create(reason)) {
        broken_ = true;
        error_ = errno;
        reason = "the journal of this run could not be kept (" + reason + ")";
        return false;
    }
    // This record, and with it those of the next files planned: one wait on
    // the disk for all of them.
    std::string lines = std::move(notes_);
    notes_.clear();
    const size_t mine = next_;
    std::vector<std::pair<std::string, size_t>> added;
    added.push_back({key, next_});
    lines += journal::Sealed(Line(change, next_++));
    for (const FileChange& c : upcoming_) {
        std::string k = Line(c, 0);
        if (recorded_.count(k) || k == key) continue;
        added.push_back({k, next_});
        lines += journal::Sealed(Line(c, next_++));
    }
    upcoming_.clear();
    if (!Append(lines, lock)) {
        reason = "the journal of this run could not be written (" + ErrnoText(error_) + ")";
        return false;
    }
    for (auto& [k, n] : added) recorded_.emplace(std::move(k), n);
    lastOf_[identity] = mine;
    return true;
}

void RunJournal::Done(const Outcome& outcome) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto it = lastOf_.find({outcome.device, outcome.inode});
    if (it == lastOf_.end()) return;  // not recorded: not touched
    // Not waited for: where a note is missing, an undo judges by the file's bytes.
    notes_ += journal::Sealed(journal::NoteContent(it->second, outcome));
    changed_ += outcome.result == Result::Written || outcome.result == Result::MayHaveChanged;
    lastOf_.erase(it);
    if (notes_.size() >= 65536 && fd_ >= 0 && !broken_) {
        if (WriteAll(fd_, notes_)) size_ += static_cast<int64_t>(notes_.size());
        notes_.clear();
    }
}

void RunJournal::Annotate(Outcome& outcome) const {
    if (outcome.why.reason != Reason::CutShort || outcome.device == 0) return;
    const int fd = ::open(outcome.path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    struct stat st = {};
    unsigned char head[8];
    const bool read = ::fstat(fd, &st) == 0 && ::pread(fd, head, sizeof head, 0) == 8;
    ::close(fd);
    if (!read || static_cast<uint64_t>(st.st_dev) != outcome.device ||
        static_cast<uint64_t>(st.st_ino) != outcome.inode)
        return;
    const uint32_t riff = static_cast<uint32_t>(head[4] | head[5] << 8 | head[6] << 16 | uint32_t{head[7]} << 24);
    const std::string run = RunThatLeft(folder_, outcome.device, outcome.inode, st.st_size, riff);
    // Nothing is rewritten on a guess: only what a journal proves is named.
    if (!run.empty())
        outcome.why.text = ReasonText(Verdict::Of(Reason::CutShort)) + ": run " + run +
                           " was stopped between writing its acid chunk and its RIFF size, and velorize --undo " + run +
                           " repairs it";
}

bool RunJournal::Broken() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return broken_;
}

bool RunJournal::End(const BatchResult& result, std::string& message) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (fd_ < 0) return true;  // nothing was recorded: no journal
    const std::string shown = Quoted(folder_ + "/" + id_ + kSuffix);
    bool ok = true;
    int err = 0;
    const auto failed = [&] {
        if (ok) err = errno;
        ok = false;
    };
    if (changed_ == 0) {
        // Nothing to undo: no journal.
        if (::unlinkat(dir_, (id_ + kSuffix).c_str(), 0) != 0 || ::fsync(dir_) != 0) failed();
    } else {
        std::string last = std::move(notes_);
        last += journal::Sealed("finished " + std::to_string(NowNs()) + " " + std::to_string(result.visited) +
                                (result.journalFailed ? " stopped"
                                 : result.cancelled   ? " cancelled"
                                                      : " completed"));
        if (broken_ || !WriteAll(fd_, last) || ::fdatasync(fd_) != 0) failed();
        // The oldest runs make room for this one: never a run still going or
        // being undone (their journals are locked), never this one.
        const std::vector<std::string> names = JournalNames(dir_);
        size_t excess = names.size() > kKeptRuns ? names.size() - kKeptRuns : 0;
        for (size_t i = 0; i < names.size() && excess > 0; ++i) {
            if (names[i] == id_ + kSuffix) continue;
            const int fd = ::openat(dir_, names[i].c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0) continue;
            if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::unlinkat(dir_, names[i].c_str(), 0) == 0) --excess;
            ::close(fd);
        }
    }
    notes_.clear();
    ::close(fd_);
    fd_ = -1;
    // A journal that broke during the run has said so already; its end is
    // missing, and --runs says the run stopped before it.
    if (broken_) return true;
    if (!ok)
        message =
            "Velorizer could not finish the journal of this run, " + shown + ": " + ErrnoText(err) +
            (changed_ > 0 ? ". The files it changed can still be put back with velorize --undo " + id_ + "." : ".");
    return ok;
}

bool ListRuns(const std::string& folder, std::vector<RunSummary>& runs, std::string& error) {
    runs.clear();
    const int dir = OpenRunsFolder(folder, false, error);
    if (dir < 0) return error.empty();
    for (const std::string& name : JournalNames(dir)) {
        RunSummary s;
        s.id = IdOf(name);
        int fd = -1;
        const Opened opened = OpenJournal(dir, name, fd);
        std::string text;
        journal::Parsed p;
        if (opened == Opened::Running) {
            // Its head only: the run holds the rest.
            const int peek = ::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
            char buf[4096];
            const ssize_t n = peek >= 0 ? ::read(peek, buf, sizeof buf) : -1;
            if (peek >= 0) ::close(peek);
            if (n > 0) journal::Parse(std::string_view(buf, static_cast<size_t>(n)), p);
            s.running = true;
        } else if (opened == Opened::Foreign) {
            s.foreign = true;
        } else if (opened != Opened::Yes || !ReadAll(fd, text) || !journal::Parse(text, p)) {
            if (fd >= 0) ::close(fd);
            continue;
        }
        if (fd >= 0) ::close(fd);
        s.program = p.program;
        s.settings = p.settings;
        s.startedNs = p.startedNs;
        s.finished = p.finished;
        s.cancelled = p.cancelled;
        s.undone = p.undone;
        if (opened == Opened::Yes) {
            s.changed = ChangedBy(p, s.failed);
            // A run that changed nothing is no run to show or undo.
            if (s.changed == 0 && !s.undone) continue;
        }
        runs.push_back(std::move(s));
    }
    ::close(dir);
    return true;
}

RunRecords::~RunRecords() {
    if (fd_ >= 0) ::close(fd_);
    if (dir_ >= 0) ::close(dir_);
}

bool RunRecords::Open(const std::string& folder, const std::string& id, std::string& error) {
    dir_ = OpenRunsFolder(folder, false, error);
    if (dir_ < 0) {
        if (error.empty()) error = "no run is journaled";
        return false;
    }
    const bool plain = !id.empty() && id.find('/') == std::string::npos && id[0] != '.';
    const Opened opened = plain ? OpenJournal(dir_, id + kSuffix, fd_) : Opened::Missing;
    std::string text;
    switch (opened) {
        case Opened::Yes: break;
        case Opened::Running: error = "run " + id + " is still running"; return false;
        case Opened::Foreign: error = "the journal of run " + id + " belongs to another user"; return false;
        default: error = "there is no run " + Quoted(id) + " in the journal"; return false;
    }
    if (!ReadAll(fd_, text) || !journal::Parse(text, parsed_)) {
        error = "the journal of run " + id + " is no journal";
        return false;
    }
    id_ = id;
    return true;
}

bool RunRecords::MarkUndone(std::string& error) {
    const int fd = ::openat(dir_, (id_ + kSuffix).c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
    struct stat st = {};
    bool ok = fd >= 0 && ::fstat(fd, &st) == 0 && st.st_uid == ::geteuid();
    const std::string line = parsed_.version == 1 ? "undone " + std::to_string(NowNs()) + "\n"
                                                  : journal::Sealed("undone " + std::to_string(NowNs()));
    ok = ok && WriteAll(fd, line) && ::fdatasync(fd) == 0;
    if (!ok) error = ErrnoText(errno);
    if (fd >= 0) ::close(fd);
    return ok;
}

std::string RunThatLeft(const std::string& folder, uint64_t device, uint64_t inode, int64_t length, uint32_t riffSize) {
    std::string error;
    const int dir = OpenRunsFolder(folder, false, error);
    if (dir < 0) return "";
    std::string found;
    const std::vector<std::string> names = JournalNames(dir);
    for (auto it = names.rbegin(); it != names.rend() && found.empty(); ++it) {
        int fd = -1;
        std::string text;
        journal::Parsed p;
        if (OpenJournal(dir, *it, fd) != Opened::Yes) continue;
        const bool read = ReadAll(fd, text) && journal::Parse(text, p);
        ::close(fd);
        if (!read || p.undone) continue;
        for (const FileChange& c : p.changes) {
            // An append whose RIFF size reached the disk and whose chunk didn't.
            const bool append = c.lengthAfter > c.lengthBefore && !c.patches.empty() && c.patches.back().offset == 4;
            if (append && c.device == device && c.inode == inode && c.lengthBefore == length &&
                c.patches.back().after == Word32(riffSize)) {
                found = IdOf(*it);
                break;
            }
        }
    }
    ::close(dir);
    return found;
}

}  // namespace velorizer
