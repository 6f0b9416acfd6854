// The call tree: frames, the balance test of an exit, and trace-line timing
// and layout.

#include "VexlorCallTree.h"

#include "RunTimeError.h"
#include "VexlorHost.h"
#include "VexlorModule.h"
#include "VexlorPlatform.h"
#include "VexlorStartup.h"
#include "VexlorTrace.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace modVexlor {

using namespace detail;

namespace {

const std::string& DecimalSeparator() {
    static const std::string fromLocale = platform::LocaleDecimalSeparator();
    return hooks.decimalSeparator ? *hooks.decimalSeparator : fromLocale;
}

}  // namespace

void vxPUSH(std::string_view m, std::string_view s, std::string_view a) noexcept {
    Module& g = TheModule();
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
    if (g.TraceActive()) {
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
    Module& g = TheModule();
    auto& st = g.settings;
    if (g.traceSequence == 1 && st.MonitorAttached) g.pendingTick = ElapsedNow();
    const int d = g.callDepth;
    // Beyond the last slot there is no frame to compare: the exit counts as balanced.
    const bool balanced = d > kMaxDepth || (d > 0 && ContainsJoined(g.callStack[d], m, s));
    if (balanced) {
        if (g.TraceActive()) {
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
    Module& g = TheModule();
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

}  // namespace modVexlor
