#include "EnumFolders.h"

#include "RunTimeError.h"
#include "Vexlor.h"
#include "Wildcard.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <sys/stat.h>
#include <vector>

namespace velorizer {

namespace {

const char* const kModule = "EnumFolders";

// Name order that people expect: letters compared without case, then byte order.
bool NameLess(const std::string& a, const std::string& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        auto fa = static_cast<unsigned char>(a[i]), fb = static_cast<unsigned char>(b[i]);
        if (fa >= 'A' && fa <= 'Z') fa = static_cast<unsigned char>(fa - 'A' + 'a');
        if (fb >= 'A' && fb <= 'Z') fb = static_cast<unsigned char>(fb - 'A' + 'a');
        if (fa != fb) return fa < fb;
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

std::string Join(const std::string& folder, const std::string& name) {
    return !folder.empty() && folder.back() == '/' ? folder + name : folder + "/" + name;
}

}  // namespace

struct EnumFolders::Walk {
    std::string wildcard;
    std::set<std::pair<dev_t, ino_t>> visited;
};

void EnumFolders::Go(const std::string& Directory, const std::string& Wildcard) {
    vx::Proc(kModule, "Sub Go", [&] {
        Walk walk{Wildcard, {}};
        EnumFiles(walk, Directory);
    });
}

void EnumFolders::EnumFiles(Walk& walk, const std::string& path) {
    vx::Proc(kModule, "Sub EnumFiles", [&] {
        DIR* dir = ::opendir(path.c_str());
        if (!dir) throw vb::ErrnoError(errno == ENOENT ? ENOTDIR : errno);
        struct stat self {};
        if (::fstat(::dirfd(dir), &self) == 0 && !walk.visited.insert({self.st_dev, self.st_ino}).second) {
            ::closedir(dir);  // reached again through a link: already walked
            return;
        }
        std::vector<std::string> files, folders;
        for (;;) {
            errno = 0;
            const dirent* e = ::readdir(dir);
            if (!e) break;
            const std::string name = e->d_name;
            if (name == "." || name == "..") continue;
            bool isFolder = e->d_type == DT_DIR;
            if (e->d_type == DT_LNK || e->d_type == DT_UNKNOWN) {
                struct stat st {};
                isFolder = ::fstatat(::dirfd(dir), e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
            }
            if (isFolder) folders.push_back(name);
            else if (MatchesWildcard(name, walk.wildcard)) files.push_back(name);
        }
        const int readError = errno;  // readdir's own: 0 at the end of the folder
        ::closedir(dir);
        if (readError != 0) throw vb::ErrnoError(readError);

        std::sort(files.begin(), files.end(), NameLess);
        std::sort(folders.begin(), folders.end(), NameLess);
        for (const auto& name : files)
            if (File) File(Join(path, name));
        for (const auto& name : folders) EnumFiles(walk, Join(path, name));
    });
}

}  // namespace velorizer
