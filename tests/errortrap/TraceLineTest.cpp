// Entry and exit lines, the call tree and the unbalanced exit.

#include "VexlorTestSupport.h"

#include <atomic>
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <new>

// glibc's newlocale keeps its copy of LOCPATH, which only the locale test sets;
// the sanitizer build must not count it against us.
extern "C" const char* __lsan_default_suppressions() { return "leak:__argz_add_sep\n"; }

namespace vxtest {
extern std::atomic<bool> countAllocations;
extern std::atomic<long> allocations;
}  // namespace vxtest

namespace {

using namespace modVexlor;
using vxtest::VexlorTest;

const std::string kCaptureIni =
    "[log file]\r\nWrite To Disk=1\r\nCapture To Disk=1\r\n"
    "[include]\r\nResources=0\r\nMemory=0\r\nArguments=1\r\nUser=0\r\n";

TEST(VexlorFormatSeconds, FiveIntegerDigitsThreeDecimalsAndAPoint) {
    EXPECT_EQ(FormatSeconds(12.3456), "00012.346");
    EXPECT_EQ(FormatSeconds(0), "00000.000");
    EXPECT_EQ(FormatSeconds(0.0004), "00000.000");
    EXPECT_EQ(FormatSeconds(99999.9999), "100000.000");
    EXPECT_EQ(FormatSeconds(-0.5), "-00000.500");
}

TEST(VexlorFormatSeconds, ASeparatorOfSeveralBytesIsReplacedWhole) {
    // ps_AF writes U+066B, two bytes in UTF-8; built here, as few machines carry it.
    char folder[] = "/tmp/vexlor-locale-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string build = "localedef -i ps_AF -f UTF-8 " + std::string(folder) + "/ps_AF.UTF-8 2>/dev/null";
    const bool built = std::system(build.c_str()) == 0;
    ::setenv("LOCPATH", folder, 1);
    ::setenv("LC_ALL", "ps_AF.UTF-8", 1);
    const std::string separator = platform::LocaleDecimalSeparator();
    // This thread formats in ps_AF, as a program in that locale does.
    locale_t user = built ? newlocale(LC_NUMERIC_MASK, "ps_AF.UTF-8", static_cast<locale_t>(0)) : nullptr;
    if (user) uselocale(user);
    testhooks::SetDecimalSeparator(separator);
    const std::string text = FormatSeconds(3.002);
    testhooks::SetDecimalSeparator(std::nullopt);
    uselocale(LC_GLOBAL_LOCALE);
    if (user) freelocale(user);
    std::filesystem::remove_all(folder);
    // The tests after this one run in the locale they started in.
    ::unsetenv("LOCPATH");
    ::unsetenv("LC_ALL");
    if (!built) GTEST_SKIP() << "localedef could not build ps_AF.UTF-8 (package locales)";
    ASSERT_TRUE(user);
    EXPECT_EQ(separator, "\xD9\xAB");
    EXPECT_EQ(text, "00003.002");
}

TEST_F(VexlorTest, EntryAndExitLinesWithArgumentsCarryTabsTimesAndSequenceNumbers) {
    WriteIni(kCaptureIni);
    clockMs = 1000;
    vxPUSH("main", "Sub Form_Load", "");
    clockMs = 1012;
    vxPUSH("main", "Sub RefreshForm", "");
    clockMs = 13345;
    vxPOP("main", "Sub RefreshForm", "");
    vxPOP("main", "Sub Form_Load", "");

    auto lines = CrLfLines(ReadFile(dir / "error.log"));
    ASSERT_EQ(lines.size(), 10u);  // five lines, each followed by an empty one
    EXPECT_TRUE(lines[0].starts_with("[velorun] "));
    EXPECT_TRUE(lines[0].ends_with(" - start Vexlor client v5.00.04 (for Visual Basic 5.0) data capture"));
    EXPECT_EQ(lines[1], "");
    EXPECT_EQ(lines[2], "[velorun] [00001] [00000.000] ->main : Sub Form_Load : ");
    EXPECT_EQ(lines[4], "[velorun] [00002] [00000.012] ->\tmain : Sub RefreshForm : ");
    EXPECT_EQ(lines[6], "[velorun] [00003] [00012.345] <-\tmain : Sub RefreshForm : ");
    EXPECT_EQ(lines[8], "[velorun] [00004] [00012.345] <-main : Sub Form_Load : ");
    EXPECT_EQ(TraceSequence(), 4u);
    EXPECT_EQ(LevelElapsed()[1], 12345 * kUnitsPerMs);
    EXPECT_EQ(CallDepth(), 0);
}

TEST_F(VexlorTest, MemoryFieldsAndUserFieldFollowTheSignatureWhenArgumentsAreOff) {
    struct Case {
        const char* include;
        const char* line;
    } cases[] = {
        {"Resources=1\r\nMemory=1\r\nArguments=0\r\nUser=1\r\n",
         "[velorun] [00001] [00000.000] ->main : Sub Form_Load : [res = 42%, mem = 123456789] : "},
        {"Resources=1\r\nMemory=0\r\nArguments=2\r\nUser=0\r\n",
         "[velorun] [00001] [00000.000] ->main : Sub Form_Load : [res = 42%]"},
        {"Resources=0\r\nMemory=1\r\nArguments=0\r\nUser=0\r\n",
         "[velorun] [00001] [00000.000] ->main : Sub Form_Load : [mem = 123456789]"},
        {"Resources=0\r\nMemory=0\r\nArguments=0\r\nUser=0\r\n",
         "[velorun] [00001] [00000.000] ->main : Sub Form_Load"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.include);
        testhooks::Reset();
        std::filesystem::remove(dir / "error.log");
        WriteIni("[log file]\r\nWrite To Disk=1\r\nCapture To Disk=1\r\n[include]\r\n" + std::string(c.include));
        vxPUSH("main", "Sub Form_Load", "");
        auto lines = CrLfLines(ReadFile(dir / "error.log"));
        ASSERT_GE(lines.size(), 3u);
        EXPECT_EQ(lines[2], c.line);
    }
}

TEST_F(VexlorTest, AFailingBodyWritesItsErrorLineThenItsExitLine) {
    WriteIni(kCaptureIni);
    int raisedAt = 0;
    vx::Proc("main", "Sub cmdPreview_Click", [&] {
        vx::Proc("main", "Sub PlaySound", [&] {
            raisedAt = __LINE__ + 1;
            throw vb::RunTimeError(vb::errFileNotFound);
        });
    });
    auto all = CrLfLines(ReadFile(dir / "error.log"));
    std::vector<std::string> lines;
    for (const auto& l : all)
        if (!l.empty() && l.find(" - start Vexlor") == std::string::npos && l.find("[velorun]") == 0)
            lines.push_back(l);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "[velorun] [00001] [00000.000] ->main : Sub cmdPreview_Click : ");
    EXPECT_EQ(lines[1], "[velorun] [00002] [00000.000] ->\tmain : Sub PlaySound : ");
    EXPECT_EQ(lines[2],
              "[velorun] ERROR 53 at main : Sub PlaySound : Line " + std::to_string(raisedAt) + " : File not found");
    EXPECT_EQ(lines[3], "[velorun] [00003] [00000.000] <-\tmain : Sub PlaySound : ");
    EXPECT_EQ(lines[4], "[velorun] [00004] [00000.000] <-main : Sub cmdPreview_Click : ");
}

TEST_F(VexlorTest, FramesCarryTheirDepthAndTheTreeEmptiesAsProceduresLeave) {
    vxPUSH("main", "Sub Form_Load", "");
    vxPUSH("main", "Sub RefreshForm", "");
    vxPUSH("velorize", "Function VelorizeFile", "");
    EXPECT_EQ(CallDepth(), 3);
    EXPECT_EQ(CallStack()[1], " 1 : main : Sub Form_Load : ");
    EXPECT_EQ(CallStack()[3], " 3 : \t\tvelorize : Function VelorizeFile : ");
    EXPECT_TRUE(CallStack()[0].starts_with("Vexlor(tm) : Program START <"));
    vxPOP("velorize", "Function VelorizeFile", "");
    EXPECT_EQ(CallStack()[3], "");
    EXPECT_EQ(CallDepth(), 2);
    EXPECT_EQ(TraceSequence(), 0u);  // no output active: no lines, no numbers
}

TEST_F(VexlorTest, BeyondAThousandLevelsProceduresAreCountedWithoutFramesOrLines) {
    WriteIni(kCaptureIni);
    for (int i = 1; i <= 1003; ++i) vxPUSH("main", "Sub Recurse", "");
    EXPECT_EQ(CallDepth(), 1003);
    EXPECT_EQ(TraceSequence(), 1003u);
    EXPECT_TRUE(CallStack()[1000].starts_with(" 1000 : \t\t\t"));
    for (int i = 1; i <= 1003; ++i) vxPOP("main", "Sub Recurse", "");
    EXPECT_EQ(CallDepth(), 0);
    EXPECT_EQ(TraceSequence(), 2006u);
    auto text = ReadFile(dir / "error.log");
    std::size_t entries = 0, exits = 0;
    for (const auto& l : CrLfLines(text)) {
        if (l.find("] ->") != std::string::npos) ++entries;
        if (l.find("] <-") != std::string::npos) ++exits;
    }
    EXPECT_EQ(entries, 1000u);
    EXPECT_EQ(exits, 1000u);
    // Levels 1001 to 1003 consume numbers 1001 to 1006 without lines.
    EXPECT_NE(text.find("[velorun] [01007] [00000.000] <-"), std::string::npos);
    EXPECT_EQ(text.find("[velorun] [01001]"), std::string::npos);
}

TEST_F(VexlorTest, WithEveryOutputOffEntryAndExitReadNoTimerAndAllocateNothing) {
    for (int i = 0; i < 3; ++i) vx::Proc("main", "Sub RefreshForm", [] { vx::Proc("main", "Sub Inner", [] {}); });
    const int readsBefore = clockReads;
    vxtest::allocations = 0;
    vxtest::countAllocations = true;
    for (int i = 0; i < 1000; ++i) {
        vxPUSH("main", "Sub RefreshForm", "");
        vxPUSH("main", "Sub Inner", "");
        vxPOP("main", "Sub Inner", "");
        vxPOP("main", "Sub RefreshForm", "");
    }
    vxtest::countAllocations = false;
    EXPECT_EQ(vxtest::allocations.load(), 0);
    EXPECT_EQ(clockReads, readsBefore);
    EXPECT_EQ(CallDepth(), 0);
}

// The counter above must see every form of new, and each form must be freed by
// its own family: the sanitizer build reports a mismatch otherwise.
TEST(VexlorAllocationCounter, CountsEveryFormOfNewAndFreesEachInItsOwnFamily) {
    struct alignas(64) Wide {
        char bytes[64];
    };
    void* volatile escape = nullptr;  // keeps the allocations from being elided
    vxtest::allocations = 0;
    vxtest::countAllocations = true;
    int* one = new int(1);
    int* many = new int[3];
    int* quiet = new (std::nothrow) int(2);
    int* quietMany = new (std::nothrow) int[3];
    Wide* wide = new Wide;
    Wide* wideMany = new Wide[2];
    Wide* wideQuiet = new (std::nothrow) Wide;
    Wide* wideQuietMany = new (std::nothrow) Wide[2];
    vxtest::countAllocations = false;
    EXPECT_EQ(vxtest::allocations.load(), 8);
    for (void* p : std::initializer_list<void*>{one, many, quiet, quietMany, wide, wideMany, wideQuiet, wideQuietMany})
        escape = p;
    for (Wide* p : {wide, wideMany, wideQuiet, wideQuietMany})
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % alignof(Wide), 0u);
    (void)escape;
    delete one;
    delete[] many;
    delete quiet;
    delete[] quietMany;
    delete wide;
    delete[] wideMany;
    delete wideQuiet;
    delete[] wideQuietMany;
}

TEST_F(VexlorTest, AnUnbalancedExitOutsideTheDevelopmentEnvironmentShowsNothing) {
    vxPUSH("main", "Sub Form_Load", "");
    vxPUSH("main", "Sub RefreshForm", "");
    vxPOP("Main", "Sub RefreshForm", "");  // differs only in case
    EXPECT_EQ(CallDepth(), 0);
    EXPECT_EQ(CallStack()[1], "");
    EXPECT_TRUE(host.boxes.empty());
    vxPOP("main", "Sub Form_Load", "");  // its frame is gone: unbalanced too
    EXPECT_EQ(CallDepth(), 0);
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_EQ(host.stops, 0);
}

TEST_F(VexlorTest, AnUnbalancedExitInTheDevelopmentEnvironmentAsksAndOkStopsInTheDebugger) {
    testhooks::SetDevelopmentEnvironment(true);
    vxPUSH("main", "Sub Form_Load", "");
    host.answers = {vbCancel, vbOK};
    vxPOP("main", "Sub Velorize", "");
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].caption, "VXVB100");
    EXPECT_EQ(host.boxes[0].style, vbOKCancel + vbExclamation);
    EXPECT_EQ(host.boxes[0].prompt,
              "Module    \tmain\r\nProcedure\tSub Velorize\r\n\r\n"
              "Procedure is unbalanced or contains calls to unbalanced routines. \r\n\r\n"
              "'vxPOP()' was called without 'vxPUSH()'. \r\n\r\n"
              "Choose OK break to VB.\r\nChoose CANCEL to continue with program.");
    EXPECT_EQ(host.stops, 0);  // Cancel goes on
    EXPECT_EQ(CallDepth(), 0);

    vxPOP("CRO", "Sub cmdConfirm_Click", "");  // at depth 0: unbalanced
    ASSERT_EQ(host.boxes.size(), 2u);
    EXPECT_EQ(host.stops, 1);
}

TEST_F(VexlorTest, AnErrorThatFellToItsCallersTrapLeavesAnUnbalancedExitWithoutABox) {
    WriteIni(kCaptureIni);
    testhooks::SetDevelopmentEnvironment(true);
    int raisedAt = 0;
    vx::Proc("main", "Sub cmdVelorize_Click", [&] {
        vx::Frame frame("velorize", "Function VelorizeFile");
        raisedAt = __LINE__ + 1;
        throw vb::RunTimeError(vb::errDiskFull);
    });
    // The trap found the callee's frame on top and chained both names; the
    // caller's exit then found that frame and was unbalanced.
    EXPECT_NE(ReadFile(dir / "error.log")
                  .find("[velorun] ERROR 61 at main << velorize : Sub cmdVelorize_Click << Function VelorizeFile"
                        " : Line " +
                        std::to_string(raisedAt) + " : Disk full\r\n"),
              std::string::npos);
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_EQ(ErrorRecord().ModuleName[0], "");
    EXPECT_EQ(ErrorRecord().ProcedureName[0], "");
    EXPECT_EQ(CallDepth(), 0);
    EXPECT_EQ(CallTreeSnapshot()[0], " 2");
    EXPECT_EQ(CallTreeSnapshot()[2], " 2 : \tvelorize : Function VelorizeFile : ");
}

TEST_F(VexlorTest, AFrameLeftNormallyReportsItsExit) {
    vx::Proc("main", "Sub cmdVelorize_Click", [&] {
        {
            vx::Frame frame("velorize", "Function VelorizeFile");
            EXPECT_EQ(CallDepth(), 2);
        }
        EXPECT_EQ(CallDepth(), 1);
    });
    EXPECT_EQ(CallDepth(), 0);
}

TEST_F(VexlorTest, TracedAndIgnoreErrorsSwallowErrorsWithoutATrap) {
    WriteIni(kCaptureIni);
    bool after = false;
    vx::Proc("main", "Sub Form_Load", [&] {
        vx::Traced("main", "Function ListOK", [] { throw std::runtime_error("ignored"); });
        vx::IgnoreErrors([] { throw vb::RunTimeError(vb::errFileNotFound); });
        after = true;
    });
    EXPECT_TRUE(after);
    EXPECT_EQ(ReadFile(dir / "error.log").find("ERROR"), std::string::npos);
    EXPECT_EQ(CallDepth(), 0);
    EXPECT_EQ(TraceSequence(), 4u);
}

}  // namespace
