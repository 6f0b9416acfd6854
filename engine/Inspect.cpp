#include "Inspect.h"

#include "Velorize.h"

namespace velorizer {

Inspection Inspect(const std::string& path) {
    // The plan of a plain tag: its verdicts are tagging's own, found the same way.
    return PlanTag(path, clsAcidSettings{}).found;
}

bool ReadAcidChunks(const std::string& path, std::vector<clsAcidSettings::Body>& bodies, std::string& error) {
    Inspection in = Inspect(path);
    bodies = std::move(in.bodies);
    error = ReasonText(in.unreadable);
    return !in.unreadable.Refuses();
}

}  // namespace velorizer
