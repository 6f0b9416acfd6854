#include "RunsList.h"

#include "RunJournal.h"

#include <algorithm>

namespace velorizer {

bool RunsText(std::string& out, std::string& error) {
    std::vector<RunSummary> runs;
    if (!ListRuns(JournalFolder(), runs, error)) return false;
    if (runs.empty()) out += "No run is journaled.\n";
    for (const RunSummary& r : runs) {
        std::string program = r.program;
        program.resize(std::max<size_t>(program.size(), 8), ' ');
        if (r.foreign) {
            out += r.id + "  (its journal belongs to another user)\n";
            continue;
        }
        const std::string files =
            r.running ? "running" : std::to_string(r.changed) + (r.changed == 1 ? " file " : " files");
        out += r.id + "  " + WhenText(r.startedNs) + "  " + program + "  " + files + "  " + r.settings +
               (r.running     ? ""
                : r.undone    ? "  (undone)"
                : !r.finished ? "  (stopped before its end)"
                : r.cancelled ? "  (cancelled)"
                              : "") +
               "\n";
    }
    return true;
}

}  // namespace velorizer
