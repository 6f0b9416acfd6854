// The error trap: the category table, where an error happened, the remote
// levels a component encoded in its error source, and the error line.

#include "VexlorTrap.h"

#include "VexlorModule.h"
#include "VexlorReport.h"
#include "VexlorStartup.h"
#include "VexlorTrace.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace modVexlor {

using namespace detail;

namespace {

void DecodeRemoteLevels(Module& g, int32_t trappedNumber) {
    auto& er = g.errorRecord;
    std::string& source = er.Source[0];
    std::size_t digits = 0;
    while (digits < source.size() && std::isdigit(static_cast<unsigned char>(source[digits]))) ++digits;
    long count = digits ? std::strtol(source.substr(0, std::min<std::size_t>(digits, 6)).c_str(), nullptr, 10) : 0;
    g.remoteLevelCount = static_cast<int16_t>(std::min<long>(count, kMaxRemoteLevels));
    er.Description[0] = "Remote " + vb::StandardErrorText(vb::errAutomation);
    er.Category[0] = CategoryName(ErrorCategory(vb::errAutomation));
    if (g.remoteLevelCount > 0) source.erase(0, digits);

    std::string rest = source;
    auto nextField = [&rest]() -> std::string {
        std::size_t bang = rest.find('!');
        if (bang == std::string::npos) {
            rest.clear();
            return "<unknown>";
        }
        std::string field = rest.substr(0, bang);
        rest.erase(0, bang + 1);
        return field.empty() ? "<unknown>" : field;
    };
    auto positive = [](const std::string& field) {
        double v = Val(field);
        return v > 0 && v <= INT32_MAX ? static_cast<int32_t>(v) : 0;
    };
    for (int L = g.remoteLevelCount; L >= 1; --L) {
        er.Source[L] = nextField() + " (remote)";
        er.ModuleName[L] = nextField();
        er.ProcedureName[L] = nextField();
        er.LineNumber[L] = positive(nextField());
        er.Number[L] = positive(nextField());
        er.Category[L] = CategoryName(ErrorCategory(trappedNumber));
        er.Description[L] = vb::StandardErrorText(er.Number[L]);
        er.HelpFile[L].clear();
        er.HelpContext[L] = 0;
    }
    er.Source[0] = g.projectSource + " (local)";
    er.Number[0] = vb::errAutomation;
    er.HelpFile[0].clear();
    er.HelpContext[0] = 0;
    for (int L = g.remoteLevelCount - 1; L >= 0; --L) {
        er.Source[L] += " << " + er.Source[L + 1];
        er.ModuleName[L] += " << " + er.ModuleName[L + 1];
        er.ProcedureName[L] += " << " + er.ProcedureName[L + 1];
    }
}

}  // namespace

int32_t ErrorCategory(int32_t n) noexcept {
    struct Range {
        int32_t from, to;
    };
    auto in = [n](std::initializer_list<Range> ranges) {
        for (const auto& r : ranges)
            if (n >= r.from && n <= r.to) return true;
        return false;
    };
    // The table reads best as the ranges were listed.
    // clang-format off
    if (in({{35600, 35618}})) return 64;
    if (in({{40000, 40059}})) return 65;
    if (in({{40500, 40516}})) return 66;
    if (in({{3452, 3453}, {3455, 3461}, {3463, 3463}, {3465, 3465}, {3472, 3472}, {3485, 3492}, {3499, 3499},
            {3510, 3510}, {3515, 3515}, {3520, 3520}, {3532, 3533}, {3545, 3546}, {3548, 3550}, {3552, 3553},
            {3559, 3561}, {3566, 3566}, {3569, 3569}, {3572, 3572}, {3574, 3577}, {3584, 3584}, {3592, 3595},
            {3605, 3605}, {3607, 3607}, {3626, 3626}}))
        return 63;
    if (in({{3, 46}, {50, 51}, {454, 455}})) return 2;
    if (in({{3006, 3006}, {3008, 3009}, {3045, 3046}, {3050, 3052}, {3186, 3189}, {3196, 3197}, {3211, 3212},
            {3218, 3218}, {3225, 3225}, {3260, 3261}}))
        return 59;
    if (in({{70, 70}})) return 60;
    if (in({{47, 49}, {52, 69}, {71, 76}, {452, 453}, {708, 708}, {712, 713}, {716, 716}, {719, 719}, {722, 722},
            {725, 725}, {730, 731}}))
        return 3;
    if (in({{91, 95}})) return 4;
    if (in({{280, 298}})) return 5;
    if (in({{260, 260}, {320, 394}})) return 6;
    if (in({{400, 404}, {426, 426}})) return 7;
    if (in({{420, 425}})) return 8;
    if (in({{429, 430}, {432, 432}, {438, 438}, {440, 440}, {442, 443}, {445, 451}, {458, 458}})) return 13;
    if (in({{460, 461}, {520, 521}})) return 9;
    if (in({{480, 481}, {485, 485}})) return 10;
    if (in({{482, 484}})) return 11;
    if (in({{457, 457}, {600, 646}})) return 46;
    if (in({{2420, 2448}, {3000, 3463}, {3608, 3622}})) return 54;
    if (in({{708, 785}})) return 12;
    if (in({{30000, 30019}, {32001, 32015}})) return 45;
    if (in({{31003, 31004}, {31006, 31009}, {31017, 31019}, {31021, 31024}, {31026, 31029}, {31031, 31039}}))
        return 57;
    if (in({{20476, 20478}, {24574, 24574}, {28660, 28671}, {32751, 32766}})) return 47;
    if (in({{31999, 32767}})) return 14;
    // clang-format on
    if (n < 0) return 62;
    return 15;
}

std::string CategoryName(int32_t code) {
    switch (code) {
        case 2: return "General run-time";
        case 3: return "File System (disk, directory or file) access";
        case 4: return "Non-initialzed object or variant";
        case 5: return "Dynamic Data Exchange protocol";
        case 6: return "Form, control, property or object value";
        case 7: return "Form or MDI child form";
        case 8: return "Object reference";
        case 9: return "Clipboard access or format";
        case 10: return "Picturebox or image control";
        case 11: return "Printer access";
        case 12: return "Design-time";
        case 13: return "Object Linking and Embedding";
        case 14: return "Custom Control or user defined";
        case 15: return "User defined ";
        case 45: return "Grid control";
        case 46: return "ODBC";
        case 47: return "Common Dialog";
        case 54: return "Data Access";
        case 57: return "OLE Container Control";
        case 59: return "ODBC Network";
        case 60: return "Network ";
        case 62: return "Remote OLE Automation";
        case 63: return "Replication";
        case 64: return "Windows 95 Custom Control";
        case 65: return "Remote Data Object (RDO)";
        case 66: return "Remote Data Control (RDC)";
        default: return "Unknown Error Class";
    }
}

int16_t vxERROR(std::string_view m, std::string_view s) noexcept {
    try {
        if (std::current_exception()) return vxERROR(m, s, vb::CurrentExceptionAsRunTimeError());
        return vxERROR(m, s, vb::RunTimeError(0).WithLine(0));
    } catch (...) {
        pfErr(static_cast<int16_t>(ErrorNumberOfCurrentException()), "vxERROR()");
        return 0;
    }
}

int16_t vxERROR(std::string_view m, std::string_view s, const vb::SourceLocation& procedure) noexcept {
    try {
        if (!std::current_exception()) return vxERROR(m, s);
        vb::RunTimeError error = vb::CurrentExceptionAsRunTimeError();
        if (error.Line() > 0 && std::strcmp(error.File(), procedure.file_name()) != 0)
            error.WithLine(static_cast<int32_t>(procedure.line()));
        return vxERROR(m, s, error);
    } catch (...) {
        pfErr(static_cast<int16_t>(ErrorNumberOfCurrentException()), "vxERROR()");
        return 0;
    }
}

int16_t vxERROR(std::string_view m, std::string_view s, const vb::RunTimeError& error) noexcept {
    Module& g = TheModule();
    int16_t result = 0;
    auto& er = g.errorRecord;
    const int32_t n = error.Number();
    const int32_t line = error.Line();
    std::string frame;
    try {
        const std::string text = vb::StandardErrorText(n);
        er.Source[0] = error.Source();
        // Before start-up has learned the project's source, ask for it directly:
        // an error that comes first must not pass for a component's.
        const std::string& own = g.initialised ? g.projectSource : vb::ProjectSource();
        er.Source[0] += own != error.Source() ? " (remote)" : " (local)";
        if (!g.initialised) vxSTART();
        er.Category[0] = CategoryName(ErrorCategory(n)) + " error";
        for (int d = std::min<int>(g.callDepth, kMaxDepth); d >= 1; --d) {
            if (!g.callStack[d].empty()) {
                frame = g.callStack[d];
                break;
            }
        }
        // Drop the depth prefix.
        if (auto colon = frame.find(':'); colon != std::string::npos) {
            frame.erase(0, colon + 1);
            frame.erase(
                0, frame.find_first_not_of(' ') == std::string::npos ? frame.size() : frame.find_first_not_of(' '));
        }

        // From here on a failing step is skipped.
        std::string module;
        std::string procedure;
        for (auto tab = frame.find('\t'); tab != std::string::npos; tab = frame.find('\t')) {
            frame.erase(0, tab + 1);
            frame.erase(0, std::min(frame.find_first_not_of(' '), frame.size()));
        }
        if (auto colon = frame.find(':'); colon != std::string::npos) {
            module = TrimBlanks(std::string_view(frame).substr(0, colon));
            if (auto next = frame.find(':', colon + 1); next != std::string::npos && next >= colon + 2)
                procedure = TrimBlanks(std::string_view(frame).substr(colon + 2, next - colon - 2));
        }
        er.ModuleName[0] = EqualNoCase(TrimBlanks(module), TrimBlanks(m)) ? module : std::string(m) + " << " + module;
        er.ProcedureName[0] =
            EqualNoCase(TrimBlanks(procedure), TrimBlanks(s)) ? procedure : std::string(s) + " << " + procedure;

        er.LineNumber[0] = line;
        er.Number[0] = n;
        for (auto& d : er.Description) d.clear();
        g.remoteLevelCount = 0;
        if (!Contains(er.Source[0], "!")) {
            er.HelpFile[0] = error.HelpFile();
            er.HelpContext[0] = error.HelpContext();
            er.Description[0] = text;
        } else {
            try {
                DecodeRemoteLevels(g, n);
            } catch (...) {
            }
        }
        if (n < 0) {
            // Shown as its offset from the base of object errors.
            er.Number[0] = static_cast<int32_t>(static_cast<int64_t>(n) - vb::kObjectError);
            er.Description[0] = vb::StandardErrorText(er.Number[0]) + " : " + er.Description[0];
        }
        try {
            EmitTraceLine(g.appTag + "ERROR " + std::to_string(er.Number[0]) + " at " + er.ModuleName[0] + " : " +
                          er.ProcedureName[0] + " : Line " + std::to_string(er.LineNumber[0]) + " : " +
                          er.Description[0] + std::string(kCrLf));
        } catch (...) {
        }
        try {
            for (auto& slot : g.callTreeSnapshot) slot.clear();
            g.callTreeSnapshot[0] = Str(g.callDepth);
            for (int i = 1; i <= std::min<int>(g.callDepth, kMaxDepth); ++i) g.callTreeSnapshot[i] = g.callStack[i];
        } catch (...) {
        }
        result = 5;
        if (!g.settings.ReportAddress.empty()) MailErrorReport();
        if (g.settings.WriteToDisk) WriteErrorLog();
    } catch (...) {
        pfErr(static_cast<int16_t>(ErrorNumberOfCurrentException()), "vxERROR()");
    }
    return result;
}

}  // namespace modVexlor
