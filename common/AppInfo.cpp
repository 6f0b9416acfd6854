#include "AppInfo.h"

#include <filesystem>
#include <system_error>

namespace vb {

int AppInfo::Major() { return VELORIZER_VERSION_MAJOR; }
int AppInfo::Minor() { return VELORIZER_VERSION_MINOR; }
// The file version is major.minor.0.revision; the build's fourth component is the revision.
int AppInfo::Revision() { return VELORIZER_VERSION_TWEAK; }

static std::filesystem::path ExecutablePath() {
    std::error_code ec;
    auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : p;
}

std::string AppInfo::Path() {
    auto folder = ExecutablePath().parent_path().string();
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

std::string AppInfo::EXEName() { return ExecutablePath().stem().string(); }

}  // namespace vb
