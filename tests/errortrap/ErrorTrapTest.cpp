// The error trap, its categories and remote levels, and the report it files.

#include "VexlorTestSupport.h"

#include "AppInfo.h"

#include <cerrno>
#include <unistd.h>

namespace {

using namespace modVexlor;
using vxtest::VexlorTest;

const std::string kZone(14, ' ');

// The report's program line: folder, executable and the program's own version.
std::string ProgramLine(const std::filesystem::path& folder) {
    return folder.string() + "/velorun ver " + std::to_string(vb::AppInfo::Major()) + "." +
           std::to_string(vb::AppInfo::Minor()) + "." + std::to_string(vb::AppInfo::Revision()) + "\r\n";
}

// The report with its first and last lines' date and time taken from the
// actual text after checking their form.
std::string StampedLike(const std::string& actual, const std::string& body) {
    const std::string stamp = "##-##-#### ##:##:##";
    EXPECT_TRUE(vxtest::MatchesShape(actual.substr(0, 19), stamp)) << actual.substr(0, 19);
    auto lastStart = actual.rfind("\r\n", actual.size() - 3) + 2;
    EXPECT_TRUE(vxtest::MatchesShape(actual.substr(lastStart, 19), stamp));
    return actual.substr(0, 19) + " - start Vexlor client v5.00.04 (for Visual Basic 5.0) data capture\r\n" + body +
           actual.substr(lastStart, 19) + " - stop Vexlor client v5.00.04 (for Visual Basic 5.0) data capture\r\n";
}

TEST(VexlorErrorCategory, TheTableIsTestedInOrderAtItsEdges) {
    struct Case {
        int32_t number;
        int32_t code;
    } cases[] = {
        {35600, 64}, {35618, 64}, {35619, 15}, {40000, 65},
        {40059, 65}, {40060, 15}, {40500, 66}, {40516, 66},
        {3452, 63},  {3454, 54},  {3626, 63},  {3627, 15},
        {2, 15},     {3, 2},      {46, 2},     {47, 3},
        {50, 2},     {52, 3},     {53, 3},     {69, 3},
        {70, 60},    {71, 3},     {76, 3},     {77, 15},
        {455, 2},    {3006, 59},  {3007, 54},  {91, 4},
        {95, 4},     {280, 5},    {298, 5},    {260, 6},
        {336, 6},    {394, 6},    {400, 7},    {426, 7},
        {420, 8},    {440, 13},   {458, 13},   {460, 9},
        {521, 9},    {485, 10},   {482, 11},   {457, 46},
        {646, 46},   {2420, 54},  {3622, 54},  {708, 3},
        {709, 12},   {785, 12},   {786, 15},   {30019, 45},
        {32001, 45}, {31005, 15}, {31039, 57}, {24574, 47},
        {32755, 47}, {32766, 47}, {32767, 14}, {31999, 14},
        {32768, 15}, {0, 15},     {-1, 62},    {vb::kObjectError, 62},
    };
    for (const auto& c : cases) EXPECT_EQ(ErrorCategory(c.number), c.code) << c.number;
    EXPECT_EQ(CategoryName(3), "File System (disk, directory or file) access");
    EXPECT_EQ(CategoryName(4), "Non-initialzed object or variant");
    EXPECT_EQ(CategoryName(15), "User defined ");
    EXPECT_EQ(CategoryName(60), "Network ");
    EXPECT_EQ(CategoryName(47), "Common Dialog");
    EXPECT_EQ(CategoryName(1), "Unknown Error Class");
    EXPECT_EQ(CategoryName(16), "Unknown Error Class");
}

TEST_F(VexlorTest, AnErrorOnTopOfTheTreeIsRecordedWhereItWasRaised) {
    int raisedAt = 0;
    vx::Proc("main", "Sub Form_Load", [&] {
        vx::Proc("main", "Sub cmdPreview_Click", [&] {
            raisedAt = __LINE__ + 1;
            throw vb::RunTimeError(336);
        });
    });
    const auto& er = ErrorRecord();
    EXPECT_EQ(er.Category[0], "Form, control, property or object value error");
    EXPECT_EQ(er.ModuleName[0], "main");
    EXPECT_EQ(er.ProcedureName[0], "Sub cmdPreview_Click");
    EXPECT_EQ(er.LineNumber[0], raisedAt);
    EXPECT_EQ(er.Source[0], "Velorizer (local)");
    EXPECT_EQ(er.Number[0], 336);
    EXPECT_EQ(er.Description[0], vb::StandardErrorText(336));
    EXPECT_EQ(RemoteLevelCount(), 0);
    EXPECT_EQ(CallDepth(), 0);
}

TEST_F(VexlorTest, AnErrorRaisedInAnotherFileIsReportedAtTheProceduresOwnLine) {
    host.failNextBoxes = 1;  // the recorder raises it in the support file
    const int procedureAt = __LINE__ + 1;
    vx::Proc("main", "Sub txtBeats_LostFocus", [&] { CurrentHost().MsgBox("x", vbOKOnly, ""); });
    EXPECT_EQ(ErrorRecord().Number[0], 401);
    EXPECT_EQ(ErrorRecord().LineNumber[0], procedureAt);
    // A helper that raises at its caller's line keeps that line.
    int callAt = 0;
    vx::Proc("main", "Sub PlaySound", [&] {
        callAt = __LINE__ + 1;
        throw vb::ErrnoError(ENOENT);
    });
    EXPECT_EQ(ErrorRecord().LineNumber[0], callAt);
}

TEST_F(VexlorTest, TrapResultsSourcesAndForeignExceptions) {
    EXPECT_EQ(vxERROR("main", "Sub Form_Load", vb::RunTimeError(70)), 5);  // before any entry: starts the module
    EXPECT_TRUE(Initialised());
    EXPECT_EQ(ErrorRecord().ModuleName[0], "main << ");
    EXPECT_EQ(ErrorRecord().ProcedureName[0], "Sub Form_Load << ");
    EXPECT_EQ(ErrorRecord().Source[0], "Velorizer (local)");
    EXPECT_EQ(ErrorRecord().Category[0], "Network  error");

    vx::Proc("main", "Sub lvwFiles_OLEDragDrop", [] { throw vb::RunTimeError(380, "", "MSComctlLib"); });
    EXPECT_EQ(ErrorRecord().Source[0], "MSComctlLib (remote)");
    EXPECT_EQ(ErrorRecord().Description[0], "Invalid property value");

    vxPUSH("Main", "Sub RefreshForm", "");
    try {
        throw std::runtime_error("not ours");
    } catch (...) {
        EXPECT_EQ(vxERROR("main", " sub refreshform"), 5);
    }
    vxPOP("Main", "Sub RefreshForm", "");
    EXPECT_EQ(ErrorRecord().Number[0], 440);
    EXPECT_EQ(ErrorRecord().LineNumber[0], 0);
    EXPECT_EQ(ErrorRecord().Category[0], "Object Linking and Embedding error");
    EXPECT_EQ(ErrorRecord().ModuleName[0], "Main");  // names compare without regard to case
    EXPECT_EQ(ErrorRecord().ProcedureName[0], "Sub RefreshForm");
    EXPECT_EQ(CallDepth(), 0);

    vx::Proc("main", "Sub Form_Load", [] { throw 42; });
    EXPECT_EQ(ErrorRecord().Number[0], 440);
}

TEST_F(VexlorTest, ANegativeErrorNumberIsShiftedByTheObjectErrorBase) {
    WriteIni("[log file]\r\nWrite To Disk=1\r\nCapture To Disk=1\r\n");
    vx::Proc("velorize", "Function VelorizeFile", [] { throw vb::RunTimeError(vb::kObjectError + 1000).WithLine(0); });
    const auto& er = ErrorRecord();
    EXPECT_EQ(er.Number[0], 1000);
    EXPECT_EQ(er.Description[0], vb::StandardErrorText(1000) + " : " + vb::StandardErrorText(vb::kObjectError + 1000));
    EXPECT_EQ(er.Category[0], "Remote OLE Automation error");
    EXPECT_NE(
        ReadFile(dir / "error.log")
            .find("[velorun] ERROR 1000 at velorize : Function VelorizeFile : Line 0 : " + er.Description[0] + "\r\n"),
        std::string::npos);
}

TEST_F(VexlorTest, TwoRemoteLevelsAreDecodedChainedAndReported) {
    WriteIni("[log file]\r\nWrite To Disk=1\r\n");
    int raisedAt = 0;
    vx::Proc("main", "Sub cmdPreview_Click", [&] {
        raisedAt = __LINE__ + 1;
        throw vb::RunTimeError(440, "", "2CompC!modC!Function Deep!7!53!CompB!modB!Sub Mid!0!-3!");
    });
    const auto& er = ErrorRecord();
    ASSERT_EQ(RemoteLevelCount(), 2);
    EXPECT_EQ(er.Source[0], "Velorizer (local) << CompB (remote) << CompC (remote)");
    EXPECT_EQ(er.ModuleName[0], "main << modB << modC");
    EXPECT_EQ(er.ProcedureName[0], "Sub cmdPreview_Click << Sub Mid << Function Deep");
    EXPECT_EQ(er.Number[0], 440);
    EXPECT_EQ(er.Category[0], "Object Linking and Embedding");
    EXPECT_EQ(er.Description[0], "Remote Automation error");
    EXPECT_EQ(er.Source[1], "CompB (remote) << CompC (remote)");
    EXPECT_EQ(er.ModuleName[1], "modB << modC");
    EXPECT_EQ(er.LineNumber[1], 0);
    EXPECT_EQ(er.Number[1], 0);
    EXPECT_EQ(er.Source[2], "CompC (remote)");
    EXPECT_EQ(er.ProcedureName[2], "Function Deep");
    EXPECT_EQ(er.LineNumber[2], 7);
    EXPECT_EQ(er.Number[2], 53);
    EXPECT_EQ(er.Description[2], "File not found");

    const std::string report = ReadFile(dir / "error.log");
    auto block = [](int level, const std::string& cat, const std::string& src, const std::string& mod,
                    const std::string& proc, const std::string& line, const std::string& no, const std::string& desc) {
        return "Error " + std::to_string(level) + "\r\n" + kZone + "Category      " + cat + "\r\n" + kZone +
               "Source        " + src + "\r\n" + kZone + "Module        " + mod + "\r\n" + kZone + "Procedure     " +
               proc + "\r\n" + kZone + "Line Number   " + line + "\r\n" + kZone + "Error No.     " + no + "\r\n" +
               kZone + "Description   " + desc + "\r\n\r\n";
    };
    const std::string body =
        std::string(65, '*') + "\r\n" + ProgramLine(dir) + "Error Information\r\n" +
        block(0, "Object Linking and Embedding", er.Source[0], er.ModuleName[0], er.ProcedureName[0],
              std::to_string(raisedAt), "440", "Remote Automation error") +
        block(1, "Object Linking and Embedding", er.Source[1], er.ModuleName[1], er.ProcedureName[1], "0", "0",
              vb::StandardErrorText(0)) +
        block(2, "Object Linking and Embedding", "CompC (remote)", "modC", "Function Deep", "7", "53",
              "File not found") +
        "\r\nCall Tree & Arguments\r\n" + kZone + " 1 : Call\tmain : Sub cmdPreview_Click :\r\n" + kZone +
        " 2 : Trap\t\tRuntime error 440, Remote Automation error on line " + std::to_string(raisedAt) + "\r\n" + kZone +
        " 3 : Call\t\t\tCompB (remote) : modB : Sub Mid\r\n" + kZone + " 4 : Error\t\t\tRuntime error 0, " +
        vb::StandardErrorText(0) + "\r\n" + kZone + " 5 : Call\t\t\t\tCompC (remote) : modC : Function Deep\r\n" +
        kZone + " 6 : Error\t\t\t\tRuntime error 53, File not found on line 7\r\n" +
        "\r\nSystem State Information\r\n\r\nUser Said\r\n" + kZone + "\r\n";
    EXPECT_EQ(report, StampedLike(report, body));
}

TEST_F(VexlorTest, MissingRemoteFieldsReadUnknown) {
    vx::Proc("main", "Sub Form_Load", [] { throw vb::RunTimeError(5, "", "1CompX!modX!"); });
    const auto& er = ErrorRecord();
    ASSERT_EQ(RemoteLevelCount(), 1);
    EXPECT_EQ(er.Source[1], "CompX (remote)");
    EXPECT_EQ(er.ModuleName[1], "modX");
    EXPECT_EQ(er.ProcedureName[1], "<unknown>");
    EXPECT_EQ(er.LineNumber[1], 0);
    EXPECT_EQ(er.Category[1], "General run-time");  // of the number this program trapped
}

TEST_F(VexlorTest, TheWorkedExampleReportByteForByte) {
    WriteIni("[log file]\r\nWrite To Disk=1\r\n");
    vx::Proc("main", "Sub cmdPreview_Click",
             [] { vx::Proc("main", "Sub PlaySound", [] { throw vb::RunTimeError(53).WithLine(0); }); });
    EXPECT_EQ(CallTreeSnapshot()[0], " 2");
    EXPECT_EQ(CallTreeSnapshot()[2], " 2 : \tmain : Sub PlaySound : ");
    const std::string report = ReadFile(dir / "error.log");
    const std::string body = std::string(65, '*') + "\r\n" + ProgramLine(dir) +
                             "Error Information\r\n"
                             "Error 0\r\n"
                             "              Category      File System (disk, directory or file) access error\r\n"
                             "              Source        Velorizer (local)\r\n"
                             "              Module        main\r\n"
                             "              Procedure     Sub PlaySound\r\n"
                             "              Line Number   0\r\n"
                             "              Error No.     53\r\n"
                             "              Description   File not found\r\n"
                             "\r\n"
                             "\r\n"
                             "Call Tree & Arguments\r\n"
                             "               1 : Call\tmain : Sub cmdPreview_Click :\r\n"
                             "               2 : Call\t\tmain : Sub PlaySound :\r\n"
                             "               3 : Trap\t\t\tRuntime error 53, File not found\r\n"
                             "\r\n"
                             "System State Information\r\n"
                             "\r\n"
                             "User Said\r\n"
                             "              \r\n";
    EXPECT_EQ(report, StampedLike(report, body));
}

std::string Listing(const std::string& report) {
    auto from = report.find("Call Tree & Arguments\r\n") + 23;
    return report.substr(from, report.find("\r\nSystem State Information") - from);
}

TEST_F(VexlorTest, RecursionGetsATrapLineAtEveryMatchingFrame) {
    WriteIni("[log file]\r\nWrite To Disk=1\r\n");
    int raisedAt = 0;
    std::function<void(int)> recurse = [&](int left) {
        vx::Proc("EnumFolders", "Sub Recurse", [&] {
            if (left == 0) {
                raisedAt = __LINE__ + 1;
                throw vb::RunTimeError(vb::errInvalidCall);
            }
            recurse(left - 1);
        });
    };
    vx::Proc("main", "Sub lvwFiles_OLEDragDrop", [&] { recurse(2); });
    const std::string trap = "Runtime error 5, Invalid procedure call or argument on line " + std::to_string(raisedAt);
    EXPECT_EQ(Listing(ReadFile(dir / "error.log")),
              kZone + " 1 : Call\tmain : Sub lvwFiles_OLEDragDrop :\r\n" +  //
                  kZone + " 2 : Call\t\tEnumFolders : Sub Recurse :\r\n" +  //
                  kZone + " 3 : Trap\t\t\t" + trap + "\r\n" +               //
                  kZone + " 4 : Call\t\t\t\tEnumFolders : Sub Recurse :\r\n" + kZone + " 5 : Trap\t\t\t\t\t" + trap +
                  "\r\n" +  //
                  kZone + " 6 : Call\t\t\t\t\t\tEnumFolders : Sub Recurse :\r\n" + kZone + " 7 : Trap\t\t\t\t\t\t\t" +
                  trap + "\r\n");
}

TEST_F(VexlorTest, FramesThatDoNotMatchTheFailingProcedureEndInAnErrorLine) {
    WriteIni("[log file]\r\nWrite To Disk=1\r\n[include]\r\nArguments=1\r\n");
    // Empty tree.
    vxERROR("CRO", "Sub cmdConfirm_Click", vb::RunTimeError(13));
    EXPECT_EQ(Listing(ReadFile(dir / "error.log")), "");
    std::filesystem::remove(dir / "error.log");
    // One frame that isn't the failing procedure: no error line.
    vxPUSH("main", "Sub Velorize", "a\tb");
    vxERROR("CRO", "Sub cmdConfirm_Click", vb::RunTimeError(13));
    EXPECT_EQ(Listing(ReadFile(dir / "error.log")), kZone + " 1 : Call\tmain : Sub Velorize : a b\r\n");
    std::filesystem::remove(dir / "error.log");
    // Two such frames: an error line numbered 3, never with a line number.
    vxPUSH("main", "Sub Inner", "");
    vxERROR("CRO", "Sub cmdConfirm_Click", vb::RunTimeError(13));
    EXPECT_EQ(Listing(ReadFile(dir / "error.log")), kZone + " 1 : Call\tmain : Sub Velorize : a b\r\n" + kZone +
                                                        " 2 : Call\t\tmain : Sub Inner :\r\n" + kZone +
                                                        " 3 : Error\t\tRuntime error 13, Type mismatch\r\n");
    EXPECT_EQ(ErrorRecord().ModuleName[0], "CRO << main");
}

TEST_F(VexlorTest, NoReportWithoutWriteToDiskAndAnEmptyPathMeansVxerrorLogHere) {
    WriteIni("[log file]\r\nWrite To Disk=0\r\n");
    vx::Proc("main", "Sub Form_Load", [] { throw vb::RunTimeError(53); });
    EXPECT_FALSE(std::filesystem::exists(dir / "error.log"));
    EXPECT_TRUE(std::filesystem::is_empty(dir / "tmp"));  // no mail, so no temporary report

    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir / "tmp");
    testhooks::MutableSettings().WriteToDisk = true;
    vx::Proc("main", "Sub Form_Load", [] { throw vb::RunTimeError(53); });
    std::filesystem::current_path(cwd);
    EXPECT_EQ(Settings().ErrorLogPath, "vxerror.log");
    EXPECT_NE(ReadFile(dir / "tmp" / "vxerror.log").find("Runtime error 53, File not found"), std::string::npos);

    testhooks::MutableSettings().ErrorLogPath = (dir / "no-such-folder" / "error.log").string();
    vx::Proc("main", "Sub Form_Load", [] { throw vb::RunTimeError(53); });  // nothing to write to, nothing raised
    EXPECT_EQ(ErrorRecord().Number[0], 53);
}

TEST_F(VexlorTest, TheInternalErrorHandlerAndItsFallback) {
    pfErr(53, "vxSTART()");
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].prompt, "vxSTART() generated error 53, 'File not found', inside VEXLOR\r\n");
    EXPECT_EQ(host.boxes[0].style, vbCritical);
    EXPECT_EQ(host.boxes[0].caption, "Vexlor - Internal Error Handler");
    host.failNextBoxes = 1;
    pfErr(5, "vxERROR()");
    ASSERT_EQ(host.boxes.size(), 2u);
    EXPECT_TRUE(host.boxes[1].prompt.starts_with(
        "An internal error 401 has occured in module VEXLOR, proceure pfErr(), line "));
    EXPECT_EQ(host.boxes[1].style, vbOKOnly);
    EXPECT_EQ(host.boxes[1].caption, "");
}

}  // namespace
