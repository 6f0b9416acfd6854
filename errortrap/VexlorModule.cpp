// The module's state, its read-only view, the helpers every part shares and
// the internal error handler.

#include "VexlorModule.h"

#include "AppInfo.h"
#include "RunTimeError.h"
#include "VexlorHost.h"
#include "VexlorPlatform.h"

#include <cctype>
#include <charconv>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <strings.h>

namespace modVexlor {

namespace detail {

Module* current = new Module;
Hooks hooks;

Module::~Module() { platform::CloseFile(circularFd); }

std::string Str(long value) { return value < 0 ? std::to_string(value) : " " + std::to_string(value); }

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

double Val(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    std::string digits;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) digits += s[i++];
    bool any = false;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
        digits += s[i++];
        any = true;
    }
    if (i < s.size() && s[i] == '.') {
        digits += s[i++];
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
            digits += s[i++];
            any = true;
        }
    }
    if (!any) return 0.0;
    // "." whatever the locale: the desktop program runs in the user's, where
    // strtod would stop at the point.
    const bool negative = digits[0] == '-';
    const size_t from = digits[0] == '-' || digits[0] == '+' ? 1 : 0;
    double value = 0;
    std::from_chars(digits.data() + from, digits.data() + digits.size(), value);
    return negative ? -value : value;
}

std::optional<int16_t> CInt(std::string_view text) {
    std::string s(TrimBlanks(text));
    if (s.empty()) return std::nullopt;
    for (char c : s) {
        if (!std::isdigit(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '+' && c != 'e' && c != 'E')
            return std::nullopt;
    }
    const bool negative = s[0] == '-';
    const size_t from = s[0] == '-' || s[0] == '+' ? 1 : 0;
    if (from < s.size() && (s[from] == '-' || s[from] == '+')) return std::nullopt;
    double v = 0;
    const auto [end, error] = std::from_chars(s.data() + from, s.data() + s.size(), v);
    if (error != std::errc() || end != s.data() + s.size() || !std::isfinite(v)) return std::nullopt;
    if (negative) v = -v;
    double r = std::nearbyint(v);
    if (r < INT16_MIN || r > INT16_MAX) return std::nullopt;
    return static_cast<int16_t>(r);
}

bool ContainsJoined(std::string_view text, std::string_view left, std::string_view right) {
    constexpr std::string_view sep = " : ";
    for (std::size_t pos = text.find(left); pos != std::string_view::npos; pos = text.find(left, pos + 1)) {
        std::string_view rest = text.substr(pos + left.size());
        if (rest.substr(0, sep.size()) == sep && rest.substr(sep.size(), right.size()) == right) return true;
    }
    return false;
}

Milliseconds4 ElapsedNow() {
    const uint32_t since = platform::timeGetTime() - TheModule().startTicks;
    return static_cast<Milliseconds4>(since) * kUnitsPerMs;
}

int32_t ErrorNumberOfCurrentException() {
    try {
        return vb::CurrentExceptionAsRunTimeError().Number();
    } catch (...) {
        return vb::errOutOfMemory;
    }
}

}  // namespace detail

using detail::TheModule;

// ---- State ------------------------------------------------------------------

bool Initialised() { return TheModule().initialised; }
const SettingsType& Settings() { return TheModule().settings; }
bool TraceActive() { return TheModule().TraceActive(); }
int16_t CallDepth() { return TheModule().callDepth; }
const std::array<std::string, kMaxDepth + 1>& CallStack() { return TheModule().callStack; }
const std::array<Milliseconds4, kMaxDepth + 1>& LevelElapsed() { return TheModule().levelElapsed; }
uint32_t TraceSequence() { return TheModule().traceSequence; }
Milliseconds4 PushOverhead() { return TheModule().pushOverhead; }
Milliseconds4 PopOverhead() { return TheModule().popOverhead; }
const std::string& AppTag() { return TheModule().appTag; }
const std::string& ProjectSource() { return TheModule().projectSource; }
const ErrorRecordType& ErrorRecord() { return TheModule().errorRecord; }
int16_t RemoteLevelCount() { return TheModule().remoteLevelCount; }
const std::array<std::string, kMaxDepth + 1>& CallTreeSnapshot() { return TheModule().callTreeSnapshot; }
int16_t CircularSlot() { return TheModule().circularSlot; }

std::string ApplicationFolder() {
    return detail::hooks.applicationFolder.empty() ? vb::AppInfo::Path() : detail::hooks.applicationFolder;
}

std::string ExecutableName() {
    return detail::hooks.executableName.empty() ? vb::AppInfo::EXEName() : detail::hooks.executableName;
}

// ---- Internal error handler -------------------------------------------------

void pfErr(int16_t number, const std::string& procedure) noexcept {
    try {
        CurrentHost().MsgBox(procedure + " generated error " + std::to_string(number) + ", '" +
                                 vb::StandardErrorText(number) + "', inside VEXLOR" + std::string(detail::kCrLf),
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

}  // namespace modVexlor
