#include "UndoRun.h"

#include "RevertChange.h"
#include "RunJournal.h"

#include <algorithm>
#include <vector>

namespace velorizer {

namespace {

std::string Count(size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

UndoResult UndoRun(const std::string& folder, const std::string& id, int32_t presetAnswer, VelorizeUi& ui,
                   BatchObserver* observer) {
    UndoResult result;
    std::string error;
    std::string run = id;
    if (run.empty()) {
        // The last run that changed a file and is not undone; one still going
        // is no run to take back.
        std::vector<RunSummary> runs;
        if (!ListRuns(folder, runs, error)) {
            ui.MsgBox("Velorizer can't read the journal of its runs: " + error + ".", vbCritical, "Error");
            return result;
        }
        for (auto it = runs.rbegin(); it != runs.rend() && run.empty(); ++it)
            if (!it->undone && !it->running && !it->foreign) run = it->id;
        if (run.empty()) {
            ui.MsgBox("There is no run to undo.", vbInformation, "");
            return result;
        }
    }
    RunRecords records;
    if (!records.Open(folder, run, error)) {
        ui.MsgBox("Velorizer can't undo the run: " + error + ".", vbCritical, "Error");
        result.refused = true;
        return result;
    }
    result.id = run;
    const journal::Parsed& p = records.Parsed();
    // A record that is not what was written names a file no one can trust it
    // about: that file is left alone, and the undo is not whole.
    for (const journal::BadLine& bad : p.bad) {
        ui.MsgBox("Velorizer can't use line " + std::to_string(bad.line) + " of the journal of run " + run + ": " +
                      bad.why + "; the file it names is left as it is.",
                  vbCritical, "Error");
        ++result.damaged;
    }

    BatchObserver none;
    BatchObserver& watch = observer ? *observer : none;
    int32_t readOnlyAnswer = presetAnswer == kAnswerYesToAll ? kAnswerYesToAll : kAnswerNone;
    BatchResult progress;
    // The records of files the run changed, or may have: by their notes, and
    // where a run stopped before its end left none, by the files' bytes.
    std::vector<size_t> todo;
    for (size_t i = p.changes.size(); i-- > 0;) {
        const auto note = p.notes.find(p.numbers[i]);
        if (note == p.notes.end()) {
            if (p.version == 1 || !p.finished) todo.push_back(i);
        } else if (note->second.result == Result::Written || note->second.result == Result::MayHaveChanged) {
            todo.push_back(i);
        }
    }
    watch.RunStarting(todo.size());
    // The last change first: a file the run changed twice goes back step by step.
    for (const size_t i : todo) {
        const FileChange& change = p.changes[i];
        const auto note = p.notes.find(p.numbers[i]);
        LeftAs left;
        if (note != p.notes.end()) left = {note->second.lengthAfter, note->second.modifiedNs};
        ++progress.visited;
        watch.BeforeFile(progress.visited, change.path);
        Outcome told;
        const RevertOutcome outcome =
            RevertFileChange(change, readOnlyAnswer, ui, &told, note != p.notes.end() ? &left : nullptr);
        result.cancelled = told.result == Result::Cancelled;
        switch (outcome) {
            case RevertOutcome::Restored: ++result.restored; break;
            case RevertOutcome::AlreadyBefore:
                // A file a stopped run never reached is no news; one it changed is.
                if (note != p.notes.end() || p.version == 1) ++result.already;
                break;
            case RevertOutcome::Declined:
            case RevertOutcome::LeftAlone:
            case RevertOutcome::Failed: ++result.notUndone; break;
        }
        velorizer::Count(progress, told);
        ui.ShowOutcome(told);
        watch.AfterFile(progress.visited, change.path, told);
        if (result.cancelled) break;
    }
    progress.cancelled = result.cancelled;
    watch.RunEnding(progress);
    if (result.cancelled) {
        ui.MsgBox("Operation cancelled.", vbInformation, "");
        return result;
    }
    const bool whole = result.notUndone == 0 && result.damaged == 0;
    if (whole && !records.MarkUndone(error)) {
        ui.MsgBox("Velorizer could not note in its journal that run " + run + " is undone: " + error +
                      ". A later undo would take it back again.",
                  vbCritical, "Error");
        result.unmarked = true;
    }
    std::string summary = "Run " + run + (whole ? " undone: " : " not wholly undone: ") +
                          Count(result.restored, "file", "files") + " restored";
    if (result.already > 0) summary += ", " + std::to_string(result.already) + " already as before";
    if (result.notUndone > 0)
        summary += result.notUndone == 1 ? ", 1 file left as it is"
                                         : ", " + std::to_string(result.notUndone) + " files left as they are";
    if (result.damaged > 0)
        summary += ", " + Count(result.damaged, "record", "records") + " of the journal could not be read";
    ui.MsgBox(summary + ".", vbInformation, "");
    return result;
}

}  // namespace velorizer
