#include "EnumFolders.h"

#include "RunTimeError.h"
#include "Vexlor.h"
#include "Wildcard.h"

#include <algorithm>
#include <cctype>
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
    std::vector<std::pair<dev_t, ino_t>> inside;  // the folders being walked, outermost first
};

void EnumFolders::Go(const std::string& Directory, const std::string& Wildcard) {
    vx::Proc(kModule, "Sub Go", [&] {
        Walk walk{Wildcard, {}, {}};
        EnumFiles(walk, Directory);
    });
}

void EnumFolders::EnumFiles(Walk& walk, const std::string& path) {
    vx::Proc(kModule, "Sub EnumFiles", [&] {
        const auto fail = [&](int err) {
            if (!FolderError) throw vb::ErrnoError(err);
            std::string reason = vb::StandardErrorText(vb::ErrorNumberFromErrno(err));
            if (!reason.empty()) reason[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(reason[0])));
            FolderError(path, reason);
        };
        DIR* dir = ::opendir(path.c_str());
        if (!dir) return fail(errno == ENOENT ? ENOTDIR : errno);
        struct stat self {};
        const bool known = ::fstat(::dirfd(dir), &self) == 0;
        const std::pair<dev_t, ino_t> id{self.st_dev, self.st_ino};
        if (known && !walk.visited.insert(id).second) {
            ::closedir(dir);  // reached again through a link: already walked
            if (FolderError && std::find(walk.inside.begin(), walk.inside.end(), id) != walk.inside.end())
                FolderError(path, "it leads back to a folder that holds it");
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
        if (readError != 0) return fail(readError);

        std::sort(files.begin(), files.end(), NameLess);
        std::sort(folders.begin(), folders.end(), NameLess);
        for (const auto& name : files)
            if (File) File(Join(path, name));
        walk.inside.push_back(id);
        for (const auto& name : folders) EnumFiles(walk, Join(path, name));
        walk.inside.pop_back();
    });
}

}  // namespace velorizer
