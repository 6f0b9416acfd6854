#include "Inspection.h"

#include "InOrder.h"
#include "Inspect.h"
#include "Texts.h"

#include <cmath>
#include <charconv>
#include <optional>

namespace velorizer::cli {

namespace {

struct Field {
    enum Type { Null, Bool, Number, String };
    const char* name;
    Type type;
    std::string text;
};

// The fields of one file, in the order of the CSV columns.
// With `written`, the acid fields are those of that body instead of the file's.
std::vector<Field> FieldsOf(const std::string& path, const Inspection& in,
                            const std::optional<clsAcidSettings::Body>& written = std::nullopt) {
    std::vector<Field> r;
    const auto text = [&](const char* name, std::string v) { r.push_back({name, Field::String, std::move(v)}); };
    const auto number = [&](const char* name, std::string v) { r.push_back({name, Field::Number, std::move(v)}); };
    const auto flag = [&](const char* name, bool v) { r.push_back({name, Field::Bool, v ? "true" : "false"}); };
    const auto none = [&](const char* name) { r.push_back({name, Field::Null, ""}); };

    // A name that isn't plain text travels in the escaped form the terminal
    // sees, which is lossless; the flag says to undo it.
    const std::string shown = Escaped(path);
    text("path", shown);
    flag("path_escaped", shown != path);
    flag("acid", in.acidChunks > 0);
    number("acid_chunks", std::to_string(in.acidChunks));
    if (written || !in.bodies.empty()) {
        const clsAcidSettings s = clsAcidSettings::FromBody(written ? *written : in.bodies.front());
        const int32_t mode = s.Mode();
        number("mode", std::to_string(mode));
        text("kind", KindName(mode));
        if (mode & kFlagRootNote) text("root_note", NoteName(s.MidiBase()));
        else none("root_note");
        number("midi_base", std::to_string(s.MidiBase()));
        number("beats", std::to_string(s.LoopBeats()));
        text("meter", std::to_string(s.Numerator()) + "/" + std::to_string(s.Denominator()));
        if (std::isfinite(s.Tempo())) number("tempo", ShortestText(s.Tempo()));
        else none("tempo");
    } else {
        for (const char* name : {"mode", "kind", "root_note", "midi_base", "beats", "meter", "tempo"}) none(name);
    }
    if (in.hasFormat) {
        number("channels", std::to_string(in.format.channels));
        number("rate", std::to_string(in.format.samplesPerSec));
        number("bits", std::to_string(in.format.bitsPerSample));
    } else {
        for (const char* name : {"channels", "rate", "bits"}) none(name);
    }
    if (in.frames > 0) number("frames", std::to_string(in.frames));
    else none("frames");
    if (in.Duration() > 0) number("duration", ShortestText(in.Duration()));
    else none("duration");
    flag("accepted", !in.refusal.Refuses());
    if (!in.refusal.Refuses()) none("reason");
    else text("reason", ReasonText(in.refusal));
    return r;
}

std::string JsonString(const std::string& s) {
    static const char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') out += {'\\', c};
        else if (u < 0x20) out += {'\\', 'u', '0', '0', kHex[u >> 4], kHex[u & 15]};
        else out += c;
    }
    return out + "\"";
}

std::string JsonLine(const std::vector<Field>& fields) {
    std::string line = "{";
    for (const Field& f : fields) {
        line += (line.size() > 1 ? "," : "") + JsonString(f.name) + ":";
        line += f.type == Field::Null ? "null" : f.type == Field::String ? JsonString(f.text) : f.text;
    }
    return line + "}\n";
}

// RFC 4180: a field with a comma, a quote or a line break is quoted, its quotes doubled.
std::string CsvField(const std::string& s) {
    if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string out = "\"";
    for (const char c : s) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

std::string CsvLine(const std::vector<Field>& fields, bool header) {
    std::string line;
    for (const Field& f : fields) line += (line.empty() ? "" : ",") + CsvField(header ? f.name : f.text);
    return line + "\r\n";
}

}  // namespace

int ShowAsData(const std::vector<std::string>& files, DataFormat format, unsigned jobs) {
    int status = 0;
    // The header row even without files, so that a script always finds its columns.
    if (format == DataFormat::Csv) Out(CsvLine(FieldsOf("", Inspection{}), true));
    InOrder<Printed>(
        files.size(), jobs,
        [&](size_t i) {
            const std::string& path = files[i];
            const Inspection in = Inspect(path);
            Printed p;
            if (in.unreadable.Refuses()) {
                p.error = "velorize: can't read '" + path + "': " + ReasonText(in.unreadable);
                p.failed = true;
            }
            const std::vector<Field> fields = FieldsOf(path, in);
            p.out = format == DataFormat::Json ? JsonLine(fields) : CsvLine(fields, false);
            return p;
        },
        [&](size_t, Printed& p) { status = Print(p) ? status : 1; });
    return status;
}

namespace {

// Two decimals, never in the locale's form.
std::string Confidence(double c) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, c, std::chars_format::fixed, 2);
    return std::string(buf, r.ptr);
}

// Where a dry run's beats and root note came from, and how sure the audio was.
std::string ProvenanceText(const Provenance& from) {
    std::string text;
    const auto add = [&](const std::string& part) { text += (text.empty() ? "" : ", ") + part; };
    if (from.beatsSource == "audio" && from.beatsConfidence) {
        add("beats from the audio (confidence " + Confidence(*from.beatsConfidence) +
            (from.beatsRunnerUp ? ", runner-up " + std::to_string(*from.beatsRunnerUp) : std::string()) + ")");
    }
    if (from.rootSource == "audio" && from.rootConfidence)
        add("root note from the audio (confidence " + Confidence(*from.rootConfidence) + ")");
    return text;
}

// A dry run's record: the file's fields with the acid fields it would get,
// and where its beats and root note came from.
std::vector<Field> DryRunFields(const std::string& path, const Inspection& in,
                                const std::optional<clsAcidSettings::Body>& written, const std::string& leftAlone,
                                const Provenance& from) {
    std::vector<Field> r = FieldsOf(path, in, written);
    for (Field& f : r) {
        if (std::string(f.name) == "accepted") f = {"accepted", Field::Bool, leftAlone.empty() ? "true" : "false"};
        if (std::string(f.name) == "reason")
            f = leftAlone.empty() ? Field{"reason", Field::Null, ""} : Field{"reason", Field::String, leftAlone};
    }
    const auto text = [&](const char* name, const std::string& v) {
        r.push_back(v.empty() ? Field{name, Field::Null, ""} : Field{name, Field::String, v});
    };
    const auto number = [&](const char* name, const std::optional<std::string>& v) {
        r.push_back(v ? Field{name, Field::Number, *v} : Field{name, Field::Null, ""});
    };
    const auto maybe = [](const auto& v, auto show) { return v ? std::optional<std::string>(show(*v)) : std::nullopt; };
    text("beats_source", from.beatsSource);
    number("beats_confidence", maybe(from.beatsConfidence, Confidence));
    number("beats_runner_up", maybe(from.beatsRunnerUp, [](int32_t b) { return std::to_string(b); }));
    text("root_source", from.rootSource);
    number("root_confidence", maybe(from.rootConfidence, Confidence));
    return r;
}

}  // namespace

int DryRun(const std::vector<std::string>& files, const PanelChoice& choice, const PerFileRules& rules, unsigned jobs,
           const Answers& answers, std::optional<DataFormat> format) {
    if (files.empty()) Say("No files were found in the specified directory.");
    int status = 0;
    if (format == DataFormat::Csv) Out(CsvLine(DryRunFields("", Inspection{}, std::nullopt, "", {}), true));
    FileClaims claims;
    clsAcidSettings settings;
    FillSettings(settings, choice);
    InOrder<Printed>(
        files.size(), jobs,
        [&](size_t i) {
            const std::string& path = files[i];
            // What the run would plan, with the same hooks: it can't disagree
            // with it. The hook also tells where the beats and root note came from.
            Provenance from;
            const BatchRun::FileHook told = [&](const std::string& file, const Inspection& found, PanelChoice& own) {
                return DecideForFile(file, found, rules, own, &from);
            };
            const FilePlan plan = PlanTag(path, settings, HooksFor(choice, told, claims));
            Printed p;
            if (plan.refusal.reason == Reason::SameFile) return p;  // taken under its first name
            const std::string leftAlone = ReasonText(plan.refusal);
            std::string asked;
            if (plan.readOnly) asked = "it is read-only";
            if (plan.retag) asked += (asked.empty() ? "" : " and ") + std::string("it is already tagged");
            const bool no = !leftAlone.empty() || (!asked.empty() && answers.preset == kAnswerNo);
            const bool unasked =
                leftAlone.empty() && !asked.empty() && answers.preset == kAnswerNone && !answers.terminal;
            p.failed = !leftAlone.empty() || unasked;
            std::optional<clsAcidSettings::Body> written;
            if (!no && !unasked) written = plan.settings.Contents();
            if (format) {
                const std::string why = !leftAlone.empty() ? leftAlone
                                        : no               ? asked + ", and --no-to-all answers No"
                                        : unasked          ? asked + ", and there is no terminal to ask"
                                                           : "";
                p.out = *format == DataFormat::Json
                            ? JsonLine(DryRunFields(path, plan.found, written, why, from))
                            : CsvLine(DryRunFields(path, plan.found, written, why, from), false);
                return p;
            }
            const std::string name = Escaped(path) + ": ";
            if (!leftAlone.empty()) {
                p.out = name + "would be left alone: " + leftAlone + "\n";
                return p;
            }
            const std::string provenance = ProvenanceText(from);
            const std::string note =
                (provenance.empty() ? "" : "; " + provenance) + (plan.note.empty() ? "" : "; " + plan.note);
            if (no) {
                p.out = name + "would be left as it is: " + asked + ", and --no-to-all answers No" + note + "\n";
                return p;
            }
            if (unasked) {
                p.out = name + "would be skipped: " + asked +
                        ", and there is no terminal to ask (answer with --yes-to-all or --no-to-all)" + note + "\n";
                return p;
            }
            const std::string ask =
                !asked.empty() && answers.preset != kAnswerYesToAll ? "would ask first (" + asked + "), then " : "";
            p.out = name + (ask.empty() ? "would " : ask) + (plan.retag ? "overwrite its acid chunk with " : "write ") +
                    Describe(*written) + note + "\n";
            return p;
        },
        [&](size_t, Printed& p) { status = Print(p) ? status : 1; });
    return status;
}

bool Print(const Printed& p) {
    if (!p.error.empty()) Say(p.error);
    Out(p.out);
    return !p.failed;
}

BatchRun::FileHook FileHook(const PerFileRules& rules) {
    return [rules](const std::string& path, const Inspection& found, PanelChoice& choice) {
        return DecideForFile(path, found, rules, choice);
    };
}

}  // namespace velorizer::cli
