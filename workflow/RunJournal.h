#pragma once
// The journal of every change a run makes, so that any run can be undone to
// the byte: one file per run under $XDG_STATE_HOME/velorizer/runs/ (by default
// ~/.local/state/velorizer/runs/), private to the user. A file is never
// touched before the record of its change is on the disk; the records of the
// next files planned ahead go with it, so that one wait on the disk covers
// many files. After each file a short note says what was done to it.
//
// A run holds a lock on its journal while it runs; the journal is made only
// when the first record must be written, and a run that changed nothing
// leaves none. The last kKeptRuns runs are kept; a run in progress, or being
// undone, is never taken away.

#include "BatchRun.h"
#include "ChangeRecorder.h"
#include "JournalRecords.h"
#include "PanelChoice.h"

#include <cstddef>
#include <cstdint>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace velorizer {

constexpr size_t kKeptRuns = 100;

// Where runs are journaled; empty when there is no home folder to find.
std::string JournalFolder();
// False when the environment turns the journal off (VELORIZER_JOURNAL=off).
bool JournalWanted();
// When a run started, as --runs shows it: "2025-03-14 10:15:02", local time.
std::string WhenText(int64_t ns);
// A panel choice as --runs shows it: "loop of 8 beats, root note C#".
std::string ChoiceText(const PanelChoice& choice);
// `path` as an absolute path with "." and ".." taken out by their names (not
// through links), from the folder `cwd` (absolute, with a closing '/').
std::string AbsolutePath(const std::string& path, const std::string& cwd);

class RunJournal : public RunRecorder {
public:
    // `program` and `settings` are what --runs shows of the run; `turnOff`
    // ends the message of a journal that can't be kept, saying how to run
    // without one.
    RunJournal(std::string folder, std::string program, std::string settings, std::string turnOff);
    ~RunJournal() override;
    RunJournal(const RunJournal&) = delete;
    RunJournal& operator=(const RunJournal&) = delete;

    // Makes sure the journal can be kept (the folder is ours and writable).
    bool Begin(std::string& message) override;
    void Upcoming(std::vector<FileChange> changes) override;
    bool Record(const FileChange& change, std::string& reason) override;
    void Done(const Outcome& outcome) override;
    // A file cut short the way a run's interrupted append leaves it: which
    // run, and that its undo repairs it.
    void Annotate(Outcome& outcome) const override;
    bool Broken() const override;
    // Notes how the run ended; a run that changed nothing leaves no journal.
    bool End(const BatchResult& result, std::string& message) override;

    // The run's id, once its journal exists.
    const std::string& Id() const { return id_; }

private:
    // Writes `lines` and returns once they are on the disk, with the mutex held.
    bool Append(const std::string& lines, std::unique_lock<std::mutex>& lock);
    // Creates the journal file, locked, with its head; with the mutex held.
    bool Create(std::string& reason);
    void Break(int err);
    std::string Line(const FileChange& change, size_t number) const;

    std::string folder_, program_, settings_, turnOff_;
    std::string id_;
    std::string cwd_;  // where relative paths start, with a closing '/'; empty when unknown
    int64_t startedNs_ = 0;
    int dir_ = -1;
    int fd_ = -1;
    mutable std::mutex mutex_;
    std::condition_variable syncDone_;
    int64_t size_ = 0;                   // written
    int64_t durable_ = 0;                // on the disk
    uint64_t written_ = 0, synced_ = 0;  // appends
    bool syncing_ = false;
    bool broken_ = false;
    int error_ = 0;
    size_t next_ = 1;                                         // the next record's number
    std::map<std::string, size_t> recorded_;                  // a record's line, without its number -> its number
    std::vector<FileChange> upcoming_;                        // planned for the next files, not yet written
    std::map<std::pair<uint64_t, uint64_t>, size_t> lastOf_;  // a file's latest record
    std::string notes_;                                       // notes not yet written
    size_t changed_ = 0;                                      // files the notes say were changed
};

// A journaled run as --runs lists it.
struct RunSummary {
    std::string id;
    int64_t startedNs = 0;
    std::string program;
    std::string settings;
    size_t changed = 0;     // files it changed, by its notes (and, for a run stopped before its end, their bytes)
    size_t failed = 0;      // files it left alone with a message, by its notes
    bool finished = false;  // false: the run was stopped before its end
    bool cancelled = false;
    bool running = false;  // still going (its journal is locked)
    bool undone = false;
    bool foreign = false;  // the journal belongs to another user
};

// The runs journaled in `folder` that changed a file, oldest first; none when
// it doesn't exist. False, with the reason, when the folder can't be trusted
// or read.
bool ListRuns(const std::string& folder, std::vector<RunSummary>& runs, std::string& error);

// A run's journal, read for an undo: locked against its own run meanwhile.
class RunRecords {
public:
    ~RunRecords();
    // False, with the reason, when there is no such run, it is still running,
    // or its journal is no journal or another user's.
    bool Open(const std::string& folder, const std::string& id, std::string& error);
    const journal::Parsed& Parsed() const { return parsed_; }
    // Notes in the run's journal that it has been undone.
    bool MarkUndone(std::string& error);

private:
    int dir_ = -1;
    int fd_ = -1;
    std::string id_;
    journal::Parsed parsed_;
};

// Whether run ids a and b are in the order they were made: a before b.
bool RunIdLess(const std::string& a, const std::string& b);

// The run whose interrupted append, by its journal, left the file with this
// identity, length and RIFF size as it is (a chunk not yet on the disk behind
// a RIFF size that was); empty when none.
std::string RunThatLeft(const std::string& folder, uint64_t device, uint64_t inode, int64_t length, uint32_t riffSize);

}  // namespace velorizer
