#include "Descriptors.h"

#include <algorithm>
#include <cstdint>
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>

namespace velorizer {

size_t SpareDescriptors() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return SIZE_MAX;
    size_t open = 0;
    if (DIR* fds = ::opendir("/proc/self/fd")) {
        while (const dirent* e = ::readdir(fds))
            if (e->d_name[0] != '.') ++open;
        ::closedir(fds);
        open = open > 0 ? open - 1 : 0;  // the listing's own
    } else {
        // Without /proc: every descriptor below the limit, asked one by one.
        const rlim_t probe = std::min<rlim_t>(limit.rlim_cur, 1 << 16);
        for (rlim_t fd = 0; fd < probe; ++fd)
            if (::fcntl(static_cast<int>(fd), F_GETFD) != -1) ++open;
    }
    return limit.rlim_cur > open ? static_cast<size_t>(limit.rlim_cur - open) : 0;
}

}  // namespace velorizer
