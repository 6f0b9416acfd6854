#pragma once
// A benchmark's `--cold`: everything written so far goes to the disk, then the
// kernel forgets every cached page, directory entry and inode, so that the
// timed part waits for the disk as a first run after a copy would. Root only.

#include <cstdio>
#include <unistd.h>

namespace bench {

inline bool DropCaches() {
    ::sync();
    std::FILE* f = std::fopen("/proc/sys/vm/drop_caches", "w");
    if (!f) return false;
    const bool ok = std::fputs("3\n", f) >= 0;
    return std::fclose(f) == 0 && ok;
}

}  // namespace bench
