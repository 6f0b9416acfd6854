#include "LastRun.h"

#include "RunJournal.h"

#include <ctime>
#include <vector>

namespace velorizer {

namespace {

const char* const kProgram = "velorun";

std::string Files(size_t n) { return std::to_string(n) + (n == 1 ? " file" : " files"); }

}  // namespace

std::optional<LastRun> FindLastRun(std::string& error) {
    error.clear();
    std::vector<RunSummary> runs;
    if (!ListRuns(JournalFolder(), runs, error)) return std::nullopt;
    for (auto it = runs.rbegin(); it != runs.rend(); ++it) {
        if (it->program != kProgram || it->undone || it->running || it->foreign) continue;
        LastRun run;
        run.id = it->id;
        run.startedNs = it->startedNs;
        run.settings = it->settings;
        run.changed = it->changed;
        run.failed = it->failed;
        run.finished = it->finished;
        run.cancelled = it->cancelled;
        return run;
    }
    return std::nullopt;
}

std::string UndoQuestion(const LastRun& run) {
    std::string text = "Undo the last run of Velorizer?\n\nStarted " + WhenText(run.startedNs) + ", it wrote " +
                       run.settings + " and changed " + Files(run.changed);
    if (run.failed) text += *run.failed == 0 ? "; no file failed" : "; " + Files(*run.failed) + " failed";
    if (!run.finished) text += "; it was stopped before its end";
    else if (run.cancelled) text += "; it was cancelled";
    return text + ".\n\nEvery file it changed is put back as it was before the run.";
}

UndoResult TakeBack(const LastRun& run, VelorizeUi& ui, BatchObserver* observer) {
    return UndoRun(JournalFolder(), run.id, kAnswerNone, ui, observer);
}

}  // namespace velorizer
