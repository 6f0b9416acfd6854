// modVexlor: call tree, trace outputs, error trap and error reports.
//
// Setting the process error mode and raising the timer resolution have
// nothing to do on this system: there are no critical-error boxes to
// suppress, and the steady clock already counts whole milliseconds.

#include "Vexlor.h"

#include "AppInfo.h"
#include "VexlorMail.h"
#include "VexlorMonitorLink.h"
#include "VexlorPlatform.h"
#include "VexlorTesting.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <poll.h>
#include <strings.h>
#include <unistd.h>

namespace modVexlor {

namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kVersion = "5.00.04 (for Visual Basic 5.0)";
constexpr std::string_view kSignature = "HM100";
constexpr std::size_t kFillLength = 1024;
constexpr std::size_t kHeaderSize = 512;
constexpr int kMaxRemoteLevels = kErrorLevels - 1;

struct Module {
    bool initialised = false;
    SettingsType settings;
    std::array<std::string, kMaxDepth + 1> callStack;
    std::array<Milliseconds4, kMaxDepth + 1> levelElapsed{};
    int16_t callDepth = 0;
    uint32_t traceSequence = 0;
    uint32_t startTicks = 0;
    Milliseconds4 pushOverhead = 0;
    Milliseconds4 popOverhead = 0;
    Milliseconds4 pendingTick = 0;
    std::string appTag;
    std::string projectSource;
    ErrorRecordType errorRecord;
    int16_t remoteLevelCount = 0;
    std::array<std::string, kMaxDepth + 1> callTreeSnapshot;
    int circularFd = -1;
    int16_t circularSlot = 0;
    monitor::Link monitorLink;
};

struct Hooks {
    std::string applicationFolder;
    std::string executableName;
    std::optional<bool> developmentEnvironment;
    long mailConnectMs = 10000;
    long mailTotalMs = 30000;
    std::optional<std::string> decimalSeparator;
};

Module g;
Hooks hooks;

// ---- Small text helpers: blanks-only trimming and leading-number parsing, as the logs expect ----

std::string Str(long value) { return value < 0 ? std::to_string(value) : " " + std::to_string(value); }

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// The number at the start of a text; text without a leading number counts as 0.
double Val(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    std::string digits;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) digits += s[i++];
    bool any = false;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) { digits += s[i++]; any = true; }
    if (i < s.size() && s[i] == '.') {
        digits += s[i++];
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) { digits += s[i++]; any = true; }
    }
    return any ? std::strtod(digits.c_str(), nullptr) : 0.0;
}

// A whole text converted to a 16-bit integer, rounded half to even; nothing
// when it is not a number or does not fit.
std::optional<int16_t> CInt(std::string_view text) {
    std::string s(TrimBlanks(text));
    if (s.empty()) return std::nullopt;
    for (char c : s) {
        if (!std::isdigit(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '+' && c != 'e' && c != 'E')
            return std::nullopt;
    }
    char* end = nullptr;
    errno = 0;
    double v = std::strtod(s.c_str(), &end);
    if (errno != 0 || end != s.c_str() + s.size()) return std::nullopt;
    double r = std::nearbyint(v);
    if (r < INT16_MIN || r > INT16_MAX) return std::nullopt;
    return static_cast<int16_t>(r);
}

bool Contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

// Whether text holds left + " : " + right, without building that string.
bool ContainsJoined(std::string_view text, std::string_view left, std::string_view right) {
    constexpr std::string_view sep = " : ";
    for (std::size_t pos = text.find(left); pos != std::string_view::npos; pos = text.find(left, pos + 1)) {
        std::string_view rest = text.substr(pos + left.size());
        if (rest.substr(0, sep.size()) == sep && rest.substr(sep.size(), right.size()) == right) return true;
    }
    return false;
}

// Text up to, not including, its first " << ".
std::string_view BeforeChain(std::string_view s) { return s.substr(0, s.find(" << ")); }

Milliseconds4 ElapsedNow() {
    return static_cast<Milliseconds4>(static_cast<uint32_t>(platform::timeGetTime() - g.startTicks)) * kUnitsPerMs;
}

std::string Profile(const char* section, const char* key, const char* def, std::size_t size, const std::string& file) {
    return platform::GetPrivateProfileString(section, key, def, size, file);
}

const std::string& DecimalSeparator() {
    static const std::string fromLocale = platform::LocaleDecimalSeparator();
    return hooks.decimalSeparator ? *hooks.decimalSeparator : fromLocale;
}

// ---- Circular log ----

int OpenCircularFile() {
    return ::open(g.settings.CircularLogPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
}

void WriteSignature() {
    // The signature sits right after the record size text in the header.
    off_t at = 4 + static_cast<off_t>(std::to_string(g.settings.CircularRecordSize).size());
    if (::pwrite(g.circularFd, kSignature.data(), kSignature.size(), at) < 0) return;
}

void WriteCircularRecord(std::string_view line) {
    auto& st = g.settings;
    if (g.circularFd < 0) {
        g.circularFd = OpenCircularFile();
        if (g.circularFd < 0) {
            if (st.InDevelopmentEnvironment)
                CurrentHost().MsgBox("Could not open circular log file " + st.CircularLogPath, vbCritical, "");
            st.CircularLogEnabled = false;
            return;
        }
        WriteSignature();
    }
    if (++g.circularSlot > st.CircularSlotCount) g.circularSlot = 1;
    const long size = st.CircularRecordSize;
    if (size > 0) {
        // The line, cut to the record size, then zero bytes to the end of the
        // slot, but never more than 1024 of them.
        std::size_t keep = std::min<std::size_t>(line.size(), static_cast<std::size_t>(size));
        std::size_t zeros = std::min<std::size_t>(static_cast<std::size_t>(size) - keep, kFillLength);
        std::string record(line.substr(0, keep));
        record.append(zeros, '\0');
        off_t at = static_cast<off_t>(kHeaderSize) + static_cast<off_t>(g.circularSlot - 1) * size;
        if (::pwrite(g.circularFd, record.data(), record.size(), at) < 0) {
            // Skipped: the line is missing from the ring.
        }
    }
    // Closed and opened again after every record, so each reaches the disk at once.
    ::close(g.circularFd);
    g.circularFd = ::open(st.CircularLogPath.c_str(), O_RDWR | O_CLOEXEC);
}

// ---- Monitor ----

void SendToMonitor(std::string_view line) {
    auto answer = g.monitorLink.SendText(line);
    if (!answer || *answer != monitor::kPauseAnswer) return;
    Host& host = CurrentHost();
    host.DisableForms();
    for (;;) {
        auto stillPaused = g.monitorLink.Ask(1);
        if (!stillPaused || *stillPaused == 0) break;  // over, or the monitor is gone
        host.DoEvents();
        auto over = g.monitorLink.Ask(2);
        if (!over || *over != 0) break;
        ::poll(nullptr, 0, 10);  // don't spin a core while the user looks at the monitor
    }
    host.EnableForms();
}

// ---- Error trap pieces ----

void DecodeRemoteLevels(int32_t trappedNumber) {
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

int32_t ErrorNumberOfCurrentException() {
    try {
        return vb::CurrentExceptionAsRunTimeError().Number();
    } catch (...) {
        return vb::errOutOfMemory;
    }
}

std::string ErrorText(int32_t level) {
    const auto& er = g.errorRecord;
    std::string text = "Runtime error " + std::to_string(er.Number[level]) + ", " + er.Description[level];
    if (er.LineNumber[level] > 0) text += " on line " + std::to_string(er.LineNumber[level]);
    return text;
}

}  // namespace

// ---- Start-up ---------------------------------------------------------------

std::string ClientIniName() { return "VXCLIENT.INI"; }

std::string ApplicationFolder() {
    return hooks.applicationFolder.empty() ? vb::AppInfo::Path() : hooks.applicationFolder;
}

std::string ExecutableName() {
    return hooks.executableName.empty() ? vb::AppInfo::EXEName() : hooks.executableName;
}

void vxSTART() noexcept {
    if (g.initialised) return;
    auto& st = g.settings;
    std::string folder;
    std::string ini;
    // Up to the initialisation mark, a failing step is skipped.
    try {
        folder = ApplicationFolder();
        ini = folder + "/" + ClientIniName();
    } catch (...) {
    }
    try {
        st.CircularLogEnabled = Profile("preferences", "CircularLog", "0", 5, ini).starts_with("1");
        // Always in the application folder, even when the value holds a path.
        st.CircularLogPath = folder + "/" + Profile("CicularLog", "FileName", "circ0001.log", 128, ini);
    } catch (...) {
    }
    if (st.CircularLogEnabled) {
        try {
            if (auto size = CInt(Profile("CicularLog", "RecordSize", "1024", 128, ini))) st.CircularRecordSize = *size;
        } catch (...) {
        }
        try {
            if (auto records = CInt(Profile("CicularLog", "MaxRecords", "20", 128, ini))) {
                int slots = 2 * *records;
                if (slots >= INT16_MIN && slots <= INT16_MAX) st.CircularSlotCount = static_cast<int16_t>(slots);
            }
        } catch (...) {
        }
        try {
            // A file that can't be opened leaves the switch on: the first trace
            // line reports it and switches the log off.
            g.circularFd = OpenCircularFile();
            if (g.circularFd >= 0) {
                std::string size = std::to_string(st.CircularRecordSize);
                if (::pwrite(g.circularFd, size.data(), size.size(), 4) >= 0) WriteSignature();
            }
        } catch (...) {
        }
    }
    for (auto& frame : g.callStack) frame.clear();
    g.levelElapsed.fill(0);
    g.callDepth = 0;
    g.initialised = true;
    try {
        g.callStack[0] = "Vexlor(tm) : Program START <" + platform::CurrentDate() + ", " + platform::CurrentTime() + ">";
    } catch (...) {
    }

    try {
        if (platform::FileExists(ini)) {
            st.ReportAddress = Profile("email", "Address", "", 255, ini);
            st.MailServer = Profile("email", "Server", "smtp://localhost", 255, ini);
            st.MailFrom = Profile("email", "From", "", 255, ini);
            st.WriteToDisk = Val(Profile("log file", "Write To Disk", "", 8, ini)) > 0;
            st.CaptureToDisk = Val(Profile("log file", "Capture To Disk", "", 8, ini)) > 0;
            if (st.WriteToDisk) {
                std::string logFile = Profile("log file", "Log File", "error.log", 128, ini);
                st.ErrorLogPath = Contains(logFile, "/") ? logFile : folder + "/" + logFile;
            }
            st.IncludeResources = Val(Profile("include", "Resources", "1", 2, ini)) != 0;
            st.IncludeMemory = Val(Profile("include", "Memory", "1", 2, ini)) != 0;
            st.IncludeArguments = Val(Profile("include", "Arguments", "1", 2, ini)) == 1;
            st.IncludeUser = Val(Profile("include", "User", "1", 2, ini)) != 0;
        }
        st.InDevelopmentEnvironment =
            hooks.developmentEnvironment ? *hooks.developmentEnvironment : platform::DebuggerAttached();
        g.appTag = "[" + ExecutableName() + "] ";
        g.startTicks = platform::timeGetTime();
        g.levelElapsed[0] = static_cast<Milliseconds4>(g.startTicks) * kUnitsPerMs;
        st.MonitorAttached = g.monitorLink.ConnectFirst();
        EmitTraceLine(g.appTag + platform::CurrentDate() + " " + platform::CurrentTime() + " - start Vexlor client v" +
                      std::string(kVersion) + " data capture" + std::string(kCrLf));
        g.projectSource = vb::RunTimeError(vb::errInvalidCall).Source();
    } catch (...) {
        pfErr(static_cast<int16_t>(ErrorNumberOfCurrentException()), "vxSTART()");
    }
}

// ---- Call tree --------------------------------------------------------------

bool TraceActive() {
    const auto& st = g.settings;
    return st.CaptureToDisk || st.CircularLogEnabled || st.MonitorAttached;
}

void vxPUSH(std::string_view m, std::string_view s, std::string_view a) noexcept {
    if (!g.initialised) vxSTART();
    const bool monitor = g.settings.MonitorAttached;
    if (g.traceSequence == 0 && monitor) g.pendingTick = ElapsedNow();
    if (g.callDepth < INT16_MAX) ++g.callDepth;  // at the limit the count stays put
    const int d = g.callDepth;
    try {
        if (d <= kMaxDepth) {
            // The frame is kept with its depth prefix; the entry line uses the
            // text after it, as the frame read before the prefix was added.
            std::string& frame = g.callStack[d];
            // Str(d) + " : ", built by hand: this runs on every call.
            char prefix[16];
            char* p = prefix + sizeof prefix;
            *--p = ' ';
            *--p = ':';
            *--p = ' ';
            for (int v = d; v > 0; v /= 10) *--p = static_cast<char>('0' + v % 10);
            *--p = ' ';
            frame.assign(p, static_cast<std::size_t>(prefix + sizeof prefix - p));
            frame.append(static_cast<std::size_t>(d - 1), '\t');
            frame.append(m);
            frame.append(" : ");
            frame.append(s);
            frame.append(" : ");
            frame.append(a);
        }
    } catch (...) {
    }
    if (TraceActive()) {
        ++g.traceSequence;
        try {
            if (d <= kMaxDepth) EmitTraceLine(FormatTraceLine(g.pushOverhead, false));
        } catch (...) {
        }
    }
    if (g.pendingTick != 0) {
        g.pushOverhead = ElapsedNow() - g.pendingTick;
        g.pendingTick = 0;
    }
}

void vxPOP(std::string_view m, std::string_view s, std::string_view) noexcept {
    auto& st = g.settings;
    if (g.traceSequence == 1 && st.MonitorAttached) g.pendingTick = ElapsedNow();
    const int d = g.callDepth;
    // Beyond the last slot there is no frame to compare: the exit counts as balanced.
    const bool balanced = d > kMaxDepth || (d > 0 && ContainsJoined(g.callStack[d], m, s));
    if (balanced) {
        if (TraceActive()) {
            ++g.traceSequence;
            try {
                if (d <= kMaxDepth) EmitTraceLine(FormatTraceLine(g.popOverhead, true));
            } catch (...) {
            }
        }
        if (d <= kMaxDepth) g.callStack[d].clear();
        --g.callDepth;
    } else {
        for (int i = 1; i <= std::min(d, kMaxDepth); ++i) g.callStack[i].clear();
        g.callDepth = 0;
        if (st.InDevelopmentEnvironment) {
            auto& er = g.errorRecord;
            try {
                // Not when the trap already reported a mismatch of frames for the last error.
                if (!(Contains(er.ModuleName[0], " << ") && Contains(er.ProcedureName[0], " << "))) {
                    const std::string crlf(kCrLf);
                    std::string text = "Module    \t" + std::string(m) + crlf + "Procedure\t" + std::string(s) + crlf +
                                       crlf + "Procedure is unbalanced or contains calls to unbalanced routines. " +
                                       crlf + crlf + "'vxPOP()' was called without 'vxPUSH()'. " + crlf + crlf +
                                       "Choose OK break to VB." + crlf + "Choose CANCEL to continue with program.";
                    if (CurrentHost().MsgBox(text, vbOKCancel + vbExclamation, "VXVB100") == vbOK)
                        CurrentHost().StopInDebugger();
                }
            } catch (...) {
            }
            er.ModuleName[0].clear();
            er.ProcedureName[0].clear();
        }
    }
    if (g.pendingTick != 0) {
        g.popOverhead = ElapsedNow() - g.pendingTick;
        g.pendingTick = 0;
    }
}

std::string FormatSeconds(double seconds) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%09.3f", std::fabs(seconds));
    std::string text = buf;
    if (seconds < 0 && text.find_first_not_of("0.,") != std::string::npos) text.insert(0, "-");
    // snprintf follows the C library's locale, which the desktop sets to the user's.
    const std::string& sep = DecimalSeparator();
    if (!sep.empty()) {
        if (auto pos = text.find(sep); pos != std::string::npos) text.replace(pos, sep.size(), ".");
    }
    return text;
}

std::string FormatTraceLine(Milliseconds4 overhead, bool isExit) {
    const auto& st = g.settings;
    const int d = g.callDepth;
    if (d < 0 || d > kMaxDepth) throw vb::RunTimeError(9);  // no such slot
    g.levelElapsed[d] = ElapsedNow() - overhead;
    const double seconds = static_cast<double>(g.levelElapsed[d]) / static_cast<double>(kUnitsPerMs) / 1000.0;
    char sequence[16];
    std::snprintf(sequence, sizeof sequence, "%05u", g.traceSequence);

    std::string_view frame = g.callStack[d];
    auto sep = frame.find(" : ");
    frame = sep == std::string_view::npos ? std::string_view() : frame.substr(sep + 3);

    std::string line = g.appTag;
    line += "[";
    line += sequence;
    line += "] [";
    line += FormatSeconds(seconds);
    line += isExit ? "] <-" : "] ->";
    line += frame;

    if (!st.IncludeArguments) {
        auto first = line.find(':');
        auto second = first == std::string::npos ? std::string::npos : line.find(':', first + 1);
        if (second != std::string::npos) {
            line.resize(second);
            while (!line.empty() && line.back() == ' ') line.pop_back();
        }
    }
    if (st.IncludeResources || st.IncludeMemory) {
        const auto mem = platform::GlobalMemoryStatus();
        if (st.IncludeResources) line += " : [res =" + Str(mem.MemoryLoad) + "%";
        if (st.IncludeMemory) {
            line += st.IncludeResources ? ", mem = " : " : [mem = ";
            line += std::to_string(mem.AvailablePhysical);
            line += "]";
        } else {
            line += "]";
        }
    }
    if (st.IncludeUser) line += " : ";
    line += kCrLf;
    return line;
}

// ---- Trace outputs ----------------------------------------------------------

void EmitTraceLine(std::string_view line) noexcept {
    auto& st = g.settings;
    if (st.CaptureToDisk) AppendToErrorLog(line);
    if (st.CircularLogEnabled) {
        try {
            WriteCircularRecord(line);
        } catch (...) {
        }
    }
    if (st.MonitorAttached) {
        try {
            SendToMonitor(line);
        } catch (...) {
        }
    }
}

void AppendToErrorLog(std::string_view line) noexcept {
    const auto& st = g.settings;
    if (!st.WriteToDisk) return;
    int fd = ::open(st.ErrorLogPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    try {
        std::string text(line);
        text += kCrLf;
        if (::write(fd, text.data(), text.size()) < 0) {
            // Skipped: the line is missing from the log.
        }
    } catch (...) {
    }
    ::close(fd);
}

// ---- Error trap -------------------------------------------------------------

int32_t ErrorCategory(int32_t n) noexcept {
    struct Range {
        int32_t from, to;
    };
    auto in = [n](std::initializer_list<Range> ranges) {
        for (const auto& r : ranges)
            if (n >= r.from && n <= r.to) return true;
        return false;
    };
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
            frame.erase(0, frame.find_first_not_of(' ') == std::string::npos ? frame.size()
                                                                               : frame.find_first_not_of(' '));
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
                DecodeRemoteLevels(n);
            } catch (...) {
            }
        }
        if (n < 0) {
            er.Number[0] = static_cast<int32_t>(static_cast<int64_t>(n) + 2147221504LL);
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

void pfErr(int16_t number, const std::string& procedure) noexcept {
    try {
        CurrentHost().MsgBox(procedure + " generated error " + std::to_string(number) + ", '" +
                                 vb::StandardErrorText(number) + "', inside VEXLOR" + std::string(kCrLf),
                             vbCritical, "Vexlor - Internal Error Handler");
    } catch (...) {
        try {
            auto inner = vb::CurrentExceptionAsRunTimeError();
            CurrentHost().MsgBox("An internal error " + std::to_string(inner.Number()) +
                                     " has occured in module VEXLOR, proceure pfErr(), line " +
                                     std::to_string(inner.Line()),
                                 vbOKOnly, "");
        } catch (...) {
        }
    }
}

// ---- Error report -----------------------------------------------------------

std::string ComposeErrorReport() {
    const auto& er = g.errorRecord;
    const std::string crlf(kCrLf);
    const std::string zone(14, ' ');
    std::string r;
    auto put = [&](const std::string& text) { r += text + crlf; };
    auto field = [&](const std::string& label, const std::string& value) {
        std::string padded = label;
        padded.resize(std::max<std::size_t>(label.size(), 14), ' ');
        put(zone + padded + value);
    };

    put(platform::CurrentDate() + " " + platform::CurrentTime() + " - start Vexlor client v" + std::string(kVersion) +
        " data capture");
    put(std::string(65, '*'));
    put(ApplicationFolder() + "/" + ExecutableName() + " ver " + std::to_string(vb::AppInfo::Major()) + "." +
        std::to_string(vb::AppInfo::Minor()) + "." + std::to_string(vb::AppInfo::Revision()));
    put("Error Information");
    for (int L = 0; L <= g.remoteLevelCount; ++L) {
        put("Error " + std::to_string(L));
        field("Category ", er.Category[L]);
        field("Source ", er.Source[L]);
        field("Module ", er.ModuleName[L]);
        field("Procedure ", er.ProcedureName[L]);
        field("Line Number ", std::to_string(er.LineNumber[L]));
        field("Error No. ", std::to_string(er.Number[L]));
        field("Description ", er.Description[L]);
        put("");
    }
    put("");
    put("Call Tree & Arguments");

    int j = 0;
    int t = -1;
    int trap = 0;
    auto listing = [&](const char* kind, const std::string& text) {
        put(zone + Str(j + 1) + kind + "\t" + std::string(static_cast<std::size_t>(std::max(t, 0)), '\t') + text);
        ++j;
    };
    const std::string m0(BeforeChain(er.ModuleName[0]));
    const std::string p0(BeforeChain(er.ProcedureName[0]));
    const std::string wanted = m0 + " : " + p0;
    const long n = static_cast<long>(Val(g.callTreeSnapshot[0]));
    for (long k = 1; k <= std::min<long>(n, kMaxDepth); ++k) {
        std::string f = g.callTreeSnapshot[static_cast<std::size_t>(k)];
        std::replace(f.begin(), f.end(), '\t', ' ');
        auto sep = f.find(" : ");
        f = std::string(TrimBlanks(std::string_view(f).substr(sep == std::string::npos ? std::min<std::size_t>(1, f.size())
                                                                                       : sep + 2)));
        ++t;
        listing(" : Call", f);
        if (Contains(f, wanted)) {
            ++t;
            trap = j;
            listing(" : Trap", ErrorText(0));
        }
    }
    if (trap < j - 1)
        listing(" : Error", "Runtime error " + std::to_string(er.Number[0]) + ", " + er.Description[0]);
    for (int L = 1; L <= g.remoteLevelCount; ++L) {
        std::string txt = std::string(BeforeChain(er.Source[L])) + " : " + std::string(BeforeChain(er.ModuleName[L])) +
                          " : " + std::string(BeforeChain(er.ProcedureName[L]));
        ++t;
        listing(" : Call", txt);
        listing(" : Error", ErrorText(L));
    }

    put("");
    put("System State Information");
    put("");
    put("User Said");
    put(zone);
    put(platform::CurrentDate() + " " + platform::CurrentTime() + " - stop Vexlor client v" + std::string(kVersion) +
        " data capture");
    return r;
}

void WriteErrorLog() noexcept {
    try {
        auto& path = g.settings.ErrorLogPath;
        if (path.empty()) path = "vxerror.log";
        int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) return;
        try {
            const std::string report = ComposeErrorReport();
            if (::write(fd, report.data(), report.size()) < 0) {
                // Nothing to do: the report is lost, the caller is not told.
            }
        } catch (...) {
        }
        ::close(fd);
    } catch (...) {
    }
}

void MailErrorReport() noexcept {
    auto& st = g.settings;
    const std::string kept = st.ErrorLogPath;
    try {
        // A fresh file of our own for every report: nothing left over from an
        // earlier run is ever sent, and no one can plant a link in its place.
        std::string path = platform::TempFolder() + "/vxerror-XXXXXX";
        int fd = ::mkstemp(path.data());
        if (fd >= 0) {
            ::close(fd);
            st.ErrorLogPath = path;
            // Written now, in its turn among the trap's files; only the sending waits.
            WriteErrorLog();
            const std::string exe = ExecutableName();
            mail::Message message;
            message.To = st.ReportAddress;
            message.Subject = "Remote Error Report From " + exe;
            message.NoteText = "Orvane Vexlor reports error " + std::to_string(g.errorRecord.Number[0]) + " (" +
                               g.errorRecord.Description[0] + ")" + " occured in " + exe +
                               ". The attached log file has complete details.";
            message.AttachmentPath = path;
            message.AttachmentName = "vxerror.log";
            mail::Settings server;
            server.Server = st.MailServer;
            server.From = st.MailFrom;
            server.ConnectTimeoutMs = hooks.mailConnectMs;
            server.TotalTimeoutMs = hooks.mailTotalMs;
            // Off the user-interface thread: a slow server never freezes a window.
            mail::SendInBackground(std::move(message), std::move(server));
        }
    } catch (...) {
    }
    st.ErrorLogPath = kept;
}

bool FinishMail(std::chrono::milliseconds bound) noexcept {
    try {
        return mail::FinishSending(bound);
    } catch (...) {
        return false;
    }
}

// ---- State ------------------------------------------------------------------

bool Initialised() { return g.initialised; }
const SettingsType& Settings() { return g.settings; }
int16_t CallDepth() { return g.callDepth; }
const std::array<std::string, kMaxDepth + 1>& CallStack() { return g.callStack; }
const std::array<Milliseconds4, kMaxDepth + 1>& LevelElapsed() { return g.levelElapsed; }
uint32_t TraceSequence() { return g.traceSequence; }
Milliseconds4 PushOverhead() { return g.pushOverhead; }
Milliseconds4 PopOverhead() { return g.popOverhead; }
const std::string& AppTag() { return g.appTag; }
const std::string& ProjectSource() { return g.projectSource; }
const ErrorRecordType& ErrorRecord() { return g.errorRecord; }
int16_t RemoteLevelCount() { return g.remoteLevelCount; }
const std::array<std::string, kMaxDepth + 1>& CallTreeSnapshot() { return g.callTreeSnapshot; }
int16_t CircularSlot() { return g.circularSlot; }

// ---- Test hooks -------------------------------------------------------------

namespace testhooks {

void Reset() {
    mail::FinishSending(std::chrono::milliseconds(0));  // a test's mail in flight is given up
    if (g.circularFd >= 0) ::close(g.circularFd);
    g.~Module();
    new (&g) Module();
}
void SetApplicationFolder(std::string folder) { hooks.applicationFolder = std::move(folder); }
void SetExecutableName(std::string name) { hooks.executableName = std::move(name); }
void SetDevelopmentEnvironment(std::optional<bool> value) { hooks.developmentEnvironment = value; }
void SetMailTimeouts(long connectMs, long totalMs) {
    hooks.mailConnectMs = connectMs;
    hooks.mailTotalMs = totalMs;
}
void SetDecimalSeparator(std::optional<std::string> separator) { hooks.decimalSeparator = std::move(separator); }
SettingsType& MutableSettings() { return g.settings; }

}  // namespace testhooks

}  // namespace modVexlor
