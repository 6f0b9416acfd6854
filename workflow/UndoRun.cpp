#include "UndoRun.h"

#include "RevertChange.h"
#include "RunJournal.h"

#include <vector>

namespace velorizer {

UndoResult UndoRun(const std::string& folder, const std::string& id, int32_t presetAnswer, VelorizeUi& ui,
                   BatchObserver* observer) {
    UndoResult result;
    std::string error;
    std::string run = id;
    if (run.empty()) {
        std::vector<RunSummary> runs;
        if (!ListRuns(folder, runs, error)) {
            ui.MsgBox("Velorizer can't read the journal of its runs: " + error + ".", vbCritical, "Error");
            return result;
        }
        for (auto it = runs.rbegin(); it != runs.rend() && run.empty(); ++it)
            if (!it->undone) run = it->id;
        if (run.empty()) {
            ui.MsgBox("There is no run to undo.", vbInformation, "");
            return result;
        }
    }
    std::vector<FileChange> changes;
    if (!ReadRun(folder, run, changes, result.damaged, error)) {
        ui.MsgBox("Velorizer can't undo the run: " + error + ".", vbCritical, "Error");
        return result;
    }
    result.id = run;

    BatchObserver none;
    BatchObserver& watch = observer ? *observer : none;
    int32_t readOnlyAnswer = presetAnswer == kAnswerYesToAll ? kAnswerYesToAll : kAnswerNone;
    BatchResult progress;
    watch.RunStarting(changes.size());
    // The last change first: a file the run changed twice goes back step by step.
    for (auto it = changes.rbegin(); it != changes.rend(); ++it) {
        ++progress.visited;
        watch.BeforeFile(progress.visited, it->path);
        const RevertOutcome outcome = RevertFileChange(*it, readOnlyAnswer, ui);
        result.cancelled = readOnlyAnswer == kAnswerCancel;
        FileOutcome told = FileOutcome::Done;
        switch (outcome) {
            case RevertOutcome::Restored: ++result.restored; break;
            case RevertOutcome::AlreadyBefore: ++result.already; break;
            case RevertOutcome::Declined:
                ++result.notUndone;
                told = result.cancelled ? FileOutcome::Cancelled : FileOutcome::Declined;
                break;
            case RevertOutcome::LeftAlone:
            case RevertOutcome::Failed:
                ++result.notUndone;
                ++progress.failed;
                told = FileOutcome::Failed;
                break;
        }
        watch.AfterFile(progress.visited, it->path, told);
        if (result.cancelled) break;
    }
    progress.cancelled = result.cancelled;
    watch.RunEnding(progress);
    if (result.cancelled) {
        ui.MsgBox("Operation cancelled.", vbInformation, "");
        return result;
    }
    const bool whole = result.notUndone == 0 && result.damaged == 0;
    if (whole && !MarkUndone(folder, run, error))
        ui.MsgBox("Velorizer could not note in its journal that run " + run + " is undone: " + error + ".", vbCritical,
                  "Error");
    std::string summary = "Run " + run + (whole ? " undone: " : " not wholly undone: ") +
                          std::to_string(result.restored) + (result.restored == 1 ? " file" : " files") + " restored";
    if (result.already > 0) summary += ", " + std::to_string(result.already) + " already as before";
    if (result.notUndone > 0)
        summary += result.notUndone == 1 ? ", 1 file left as it is"
                                         : ", " + std::to_string(result.notUndone) + " files left as they are";
    if (result.damaged > 0)
        summary += ", " + std::to_string(result.damaged) + " records of the journal could not be read";
    ui.MsgBox(summary + ".", vbInformation, "");
    return result;
}

}  // namespace velorizer
