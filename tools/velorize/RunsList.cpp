#include "RunsList.h"

#include "RunJournal.h"

#include <ctime>
#include <algorithm>

namespace velorizer {

namespace {

std::string When(int64_t ns) {
    const time_t secs = static_cast<time_t>(ns / 1000000000);
    tm local{};
    ::localtime_r(&secs, &local);
    char buf[32];
    return std::string(buf, std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &local));
}

}  // namespace

bool PrintRuns(std::ostream& out, std::string& error) {
    std::vector<RunSummary> runs;
    if (!ListRuns(JournalFolder(), runs, error)) return false;
    if (runs.empty()) out << "No run is journaled.\n";
    for (const RunSummary& r : runs) {
        std::string program = r.program;
        program.resize(std::max<size_t>(program.size(), 8), ' ');
        const std::string files = std::to_string(r.files) + (r.files == 1 ? " file " : " files");
        out << r.id << "  " << When(r.startedNs) << "  " << program << "  " << files << "  " << r.settings
            << (r.undone      ? "  (undone)"
                : !r.finished ? "  (stopped before its end)"
                : r.cancelled ? "  (cancelled)"
                              : "")
            << "\n";
    }
    return true;
}

}  // namespace velorizer
