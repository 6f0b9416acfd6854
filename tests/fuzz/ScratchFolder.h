// A private folder for the files one fuzzing process works on, in TMPDIR or else
// in shared memory (no disk writes at fuzzing speed). It goes away when the
// process ends normally: at the end of a replay, or at libFuzzer's time limit.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>

namespace fuzzsupport {

inline const std::string& ScratchFolder() {
    struct Folder {
        std::string path;
        Folder() {
            const char* base = std::getenv("TMPDIR");
            std::string name = std::string(base && *base ? base : "/dev/shm") + "/velorizer-fuzz-XXXXXX";
            if (!::mkdtemp(name.data())) std::abort();
            path = name;
        }
        ~Folder() {
            std::error_code ec;
            std::filesystem::remove_all(path, ec);
        }
    };
    static const Folder folder;
    return folder.path;
}

}  // namespace fuzzsupport
