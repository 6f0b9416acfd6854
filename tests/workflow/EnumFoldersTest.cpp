#include "EnumFolders.h"
#include "TestSupport.h"
#include "Vexlor.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
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

}  // namespace

TEST(EnumFolders, OwnFilesFirstThenEachSubfolderInNameOrder) {
    TempDir dir;
    const fs::path r = dir.path();
    for (const char* f : {"b.wav", "A.WAV", "c.txt", "sub2/z.wav", "sub1/y.Wav", "sub1/deeper/x.wav", "Sub3/w.wav",
                          "sub1/.wav", "sub1/song.wave"})
        Touch(r / f);
    const std::string root = r.string();
    EXPECT_EQ(Walk(root), (std::vector<std::string>{root + "/A.WAV", root + "/b.wav", root + "/sub1/.wav",
                                                    root + "/sub1/y.Wav", root + "/sub1/deeper/x.wav",
                                                    root + "/sub2/z.wav", root + "/Sub3/w.wav"}));
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
    fs::create_symlink(r / "outside/o.wav", r / "lib/l.wav");        // a file elsewhere
    fs::create_symlink(r / "nowhere.wav", r / "lib/dangling.wav");
    const std::string lib = (r / "lib").string();
    const auto found = Walk(lib);
    EXPECT_EQ(found, (std::vector<std::string>{lib + "/a.wav", lib + "/dangling.wav", lib + "/l.wav",
                                               lib + "/linked/o.wav"}))
        << "up/ leads back to the top, whose folders were all walked already";
}

TEST(EnumFolders, AMissingFolderReportsNothingAndGoesToTheTrap) {
    TempDir dir;
    EXPECT_TRUE(Walk(dir / "missing").empty());
    EXPECT_EQ(modVexlor::ErrorRecord().Number[0], 76);
    EXPECT_EQ(modVexlor::ErrorRecord().ModuleName[0], "EnumFolders");
    EXPECT_EQ(modVexlor::ErrorRecord().ProcedureName[0], "Sub EnumFiles");
    Touch(dir.path() / "file.wav");
    EXPECT_TRUE(Walk(dir / "file.wav").empty()) << "a file is not a folder";
    EXPECT_EQ(modVexlor::CallDepth(), 0) << "every frame was popped";
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
    const std::string out = RunInChild(
        [&](std::string& all) {
            for (const auto& p : Walk(r.string())) all += p + "\n";
            all += "error " + std::to_string(modVexlor::ErrorRecord().Number[0]) + "\n";
        },
        true, &status);
    ::chmod((r / "b/locked").c_str(), 0755);
    ASSERT_EQ(status, 0);
    const std::string s = r.string();
    EXPECT_EQ(out, s + "/a/1.wav\n" + s + "/b/3.wav\n" + s + "/c/4.wav\nerror 70\n");
}
