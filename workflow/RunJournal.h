#pragma once
// The journal of every change a run makes, so that any run can be undone to
// the byte: one file per run under $XDG_STATE_HOME/velorizer/runs/ (by default
// ~/.local/state/velorizer/runs/), private to the user. Each change is on the
// disk before the file it concerns is touched, so a run that was killed can
// be undone as well as one that finished. The last kKeptRuns runs are kept.

#include "BatchRun.h"
#include "ChangeRecorder.h"
#include "PanelChoice.h"

#include <cstddef>
#include <cstdint>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace velorizer {

constexpr size_t kKeptRuns = 100;

// Where runs are journaled; empty when there is no home folder to find.
std::string JournalFolder();
// False when the environment turns the journal off (VELORIZER_JOURNAL=off).
bool JournalWanted();
// A panel choice as --runs shows it: "loop of 8 beats, root note C#".
std::string ChoiceText(const PanelChoice& choice);

class RunJournal : public RunRecorder {
public:
    // `program` and `settings` are what --runs shows of the run; `turnOff`
    // ends the message of a journal that can't be kept, saying how to run
    // without one.
    RunJournal(std::string folder, std::string program, std::string settings, std::string turnOff);
    ~RunJournal() override;
    RunJournal(const RunJournal&) = delete;
    RunJournal& operator=(const RunJournal&) = delete;

    // Creates the run's file (and the folder), prunes the oldest runs.
    bool Begin(std::string& message) override;
    bool Record(const FileChange& change, std::string& reason) override;
    bool Broken() const override;
    // Notes how the run ended; a run that changed nothing leaves no journal.
    void End(const BatchResult& result) override;

    const std::string& Id() const { return id_; }

private:
    // Writes a line and returns once it is on the disk; with the mutex held.
    bool Append(const std::string& line, std::unique_lock<std::mutex>& lock);
    void Break(int err);

    std::string folder_, program_, settings_, turnOff_;
    std::string id_;
    std::string cwd_;  // where relative paths start, with a closing '/'; empty when unknown
    int dir_ = -1;
    int fd_ = -1;
    mutable std::mutex mutex_;
    std::condition_variable syncDone_;
    int64_t size_ = 0;                   // written
    int64_t durable_ = 0;                // on the disk
    uint64_t written_ = 0, synced_ = 0;  // lines
    bool syncing_ = false;
    size_t changes_ = 0;
    bool broken_ = false;
    int error_ = 0;
};

// A journaled run as --runs lists it.
struct RunSummary {
    std::string id;
    int64_t startedNs = 0;  // since the epoch
    std::string program;
    std::string settings;
    size_t files = 0;       // changes recorded
    bool finished = false;  // false: the run was stopped before its end
    bool cancelled = false;
    bool undone = false;
};

// The runs journaled in `folder`, oldest first; none when it doesn't exist.
// False, with the reason, when the folder can't be trusted or read.
bool ListRuns(const std::string& folder, std::vector<RunSummary>& runs, std::string& error);
// The changes of run `id`, in the order they were recorded. A record that
// can't be read is counted in `damaged` and left out.
bool ReadRun(const std::string& folder, const std::string& id, std::vector<FileChange>& changes, size_t& damaged,
             std::string& error);
// Notes in the run's journal that it has been undone.
bool MarkUndone(const std::string& folder, const std::string& id, std::string& error);

}  // namespace velorizer
