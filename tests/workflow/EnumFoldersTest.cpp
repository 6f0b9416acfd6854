#include "EnumFolders.h"
#include "RunTimeError.h"
#include "TestSupport.h"

#include <algorithm>
#include <dirent.h>
#include <gtest/gtest.h>
#include <random>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <sys/wait.h>
#include <unistd.h>

using namespace testsupport;
using velorizer::EnumFolders;

namespace {

void Touch(const fs::path& p) {
    fs::create_directories(p.parent_path());
    WriteBytes(p.string(), {});
}

std::vector<std::string> Walk(const std::string& folder, const std::string& wildcard = "*.wav") {
    std::vector<std::string> found;
    EnumFolders walker;
    walker.File = [&](const std::string& p) { found.push_back(p); };
    walker.Go(folder, wildcard);
    return found;
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The walk as it would be done plainly, one folder after another: a folder's
// files, then its subfolders, each in name order (letters without case, then
// bytes); a folder met again is skipped, and reported when it holds the walk.
using Id = std::pair<dev_t, ino_t>;
void ReferenceWalk(const std::string& path, std::set<Id>& visited, std::vector<Id>& inside, std::string& out) {
    DIR* d = ::opendir(path.c_str());
    if (!d) return void(out += "error " + path + "\n");
    struct stat self = {};
    ::fstat(::dirfd(d), &self);
    const Id id{self.st_dev, self.st_ino};
    if (!visited.insert(id).second) {
        ::closedir(d);
        if (std::ranges::count(inside, id)) out += "error " + path + "\n";
        return;
    }
    std::vector<std::string> files, folders;
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        struct stat st = {};
        if (name == "." || name == "..") continue;
        if (::stat((path + "/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) folders.push_back(name);
        else if (Lower(name).ends_with(".wav")) files.push_back(name);
    }
    ::closedir(d);
    const auto byName = [](const std::string& a, const std::string& b) {
        return std::pair(Lower(a), a) < std::pair(Lower(b), b);
    };
    std::ranges::sort(files, byName);
    std::ranges::sort(folders, byName);
    for (const auto& f : files) out += "file " + path + "/" + f + "\n";
    inside.push_back(id);
    for (const auto& f : folders) ReferenceWalk(path + "/" + f, visited, inside, out);
    inside.pop_back();
}

}  // namespace

TEST(EnumFolders, AWideDeepTreeWithCyclesAndALockedFolderComesInThePlainWalksOrder) {
    TempDir dir;
    const fs::path r = dir.path() / "tree";
    std::mt19937 rng(7);
    const std::string letters = "abcXYZ019_-. ";
    const auto name = [&] {
        std::string n;
        for (size_t i = 0, len = 1 + rng() % 6; i < len; ++i) n += letters[rng() % letters.size()];
        return n;
    };
    // Hundreds of folders, some deep, with files whose names differ only in case.
    std::vector<fs::path> folders{r};
    for (int i = 0; i < 400; ++i) {
        const fs::path parent = folders[rng() % std::min<size_t>(folders.size(), i % 3 == 0 ? 4 : folders.size())];
        folders.push_back(parent / ("d" + name()));
        fs::create_directories(folders.back());
    }
    for (int i = 0; i < 1200; ++i) {
        const std::string n = name();
        Touch(folders[rng() % folders.size()] / (n + (i % 3 == 0 ? ".WAV" : i % 3 == 1 ? ".wav" : ".txt")));
    }
    fs::create_directory_symlink(r, folders[200] / "loop");             // back to the top
    fs::create_directory_symlink(folders[10], folders[300] / "again");  // a folder walked elsewhere
    fs::create_directory_symlink(r / "nowhere", folders[50] / "dangling");
    ::chmod(dir.path().c_str(), 0755);
    ::chmod(folders[120].c_str(), 0);  // can't be listed by an ordinary user

    // Both walks as an ordinary user, the walker's first, then a line "==" (no name holds "=").
    int status = -1;
    const std::string out = RunInChild(
        [&](std::string& all) {
            EnumFolders walker;
            const auto caller = std::this_thread::get_id();
            walker.File = [&](const std::string& p) {
                all += (std::this_thread::get_id() == caller ? "file " : "elsewhere ") + p + "\n";
            };
            walker.FolderError = [&](const std::string& folder, const std::string&) {
                all += "error " + folder + "\n";
            };
            walker.Go(r.string(), "*.wav");
            all += "==\n";
            std::set<Id> visited;
            std::vector<Id> inside;
            ReferenceWalk(r.string(), visited, inside, all);
        },
        true, &status);
    ::chmod(folders[120].c_str(), 0755);
    ASSERT_EQ(status, 0);
    const size_t cut = out.find("==\n");
    ASSERT_NE(cut, std::string::npos);
    const std::string walked = out.substr(0, cut), plain = out.substr(cut + 3);
    const auto at = std::ranges::mismatch(walked, plain).in1 - walked.begin();
    const size_t line = walked.rfind('\n', static_cast<size_t>(at)) + 1;  // 0 when in the first line
    EXPECT_TRUE(walked == plain) << "from: " << walked.substr(line, 300) << "\nnot: " << plain.substr(line, 300);
    EXPECT_GT(std::ranges::count(walked, '\n'), 700) << "most of the files, two errors";
}

TEST(EnumFolders, OwnFilesFirstThenEachSubfolderInNameOrder) {
    TempDir dir;
    const fs::path r = dir.path();
    for (const char* f : {"b.wav", "A.WAV", "c.txt", "sub2/z.wav", "sub1/y.Wav", "sub1/deeper/x.wav", "Sub3/w.wav",
                          "sub1/.wav", "sub1/song.wave"})
        Touch(r / f);
    const std::string root = r.string();
    EXPECT_EQ(Walk(root),
              (std::vector<std::string>{root + "/A.WAV", root + "/b.wav", root + "/sub1/.wav", root + "/sub1/y.Wav",
                                        root + "/sub1/deeper/x.wav", root + "/sub2/z.wav", root + "/Sub3/w.wav"}));
    EXPECT_EQ(Walk(root + "/"), Walk(root)) << "a trailing separator gives the same paths";
    EXPECT_EQ(Walk(root, "*.txt"), (std::vector<std::string>{root + "/c.txt"}));
}

TEST(EnumFolders, LinksAreFollowedButNoFolderIsWalkedTwice) {
    TempDir dir;
    const fs::path r = dir.path();
    Touch(r / "lib/a.wav");
    Touch(r / "outside/o.wav");
    fs::create_directory_symlink("..", r / "lib/up");               // a cycle
    fs::create_directory_symlink(r / "outside", r / "lib/linked");  // a folder elsewhere
    fs::create_symlink(r / "outside/o.wav", r / "lib/l.wav");       // a file elsewhere
    fs::create_symlink(r / "nowhere.wav", r / "lib/dangling.wav");
    const std::string lib = (r / "lib").string();
    const auto found = Walk(lib);
    EXPECT_EQ(found,
              (std::vector<std::string>{lib + "/a.wav", lib + "/dangling.wav", lib + "/l.wav", lib + "/linked/o.wav"}))
        << "up/ leads back to the top, whose folders were all walked already";
}

// The walk through a Procedure that catches, as the desktop's error trap does:
// the files found, then each procedure entered and each error it caught.
std::string WalkCatching(const std::string& folder) {
    std::string files, calls;
    EnumFolders walker;
    walker.File = [&](const std::string& p) { files += p + "\n"; };
    walker.Procedure = [&](std::string_view signature, const std::function<void()>& body) {
        calls += std::string(signature) + "\n";
        try {
            body();
        } catch (const vb::RunTimeError& e) {
            calls += std::string(signature) + " error " + std::to_string(e.Number()) + "\n";
        }
    };
    walker.Go(folder, "*.wav");
    return files + calls;
}

TEST(EnumFolders, AFolderThatCantBeOpenedIsAnErrorOfItsEnumFiles) {
    TempDir dir;
    Touch(dir.path() / "file.wav");
    for (const std::string& path : {dir / "missing", dir / "file.wav"}) {
        EnumFolders plain;
        int number = 0;
        try {
            plain.Go(path, "*.wav");
        } catch (const vb::RunTimeError& e) {
            number = e.Number();
        }
        EXPECT_EQ(number, 76) << path << ": without a handler the walk ends with the error";
        EXPECT_EQ(WalkCatching(path), "Sub Go\nSub EnumFiles\nSub EnumFiles error 76\n") << path;
    }
}

TEST(EnumFolders, AnUnreadableSubfolderCostsOnlyItsOwnFiles) {
    TempDir dir;
    const fs::path r = dir.path();
    Touch(r / "a/1.wav");
    Touch(r / "b/locked/2.wav");
    Touch(r / "b/3.wav");
    Touch(r / "c/4.wav");
    ::chmod(r.c_str(), 0755);
    ::chmod((r / "b/locked").c_str(), 0);
    // Root reads every folder: walk as an ordinary user in a child process.
    int status = -1;
    const std::string out = RunInChild([&](std::string& all) { all = WalkCatching(r.string()); }, true, &status);
    ::chmod((r / "b/locked").c_str(), 0755);
    ASSERT_EQ(status, 0);
    const std::string s = r.string();
    EXPECT_EQ(out, s + "/a/1.wav\n" + s + "/b/3.wav\n" + s + "/c/4.wav\n" +
                       "Sub Go\nSub EnumFiles\nSub EnumFiles\nSub EnumFiles\nSub EnumFiles\nSub EnumFiles error 70\n"
                       "Sub EnumFiles\n");
}
