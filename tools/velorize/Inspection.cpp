#include "Inspection.h"

#include "InOrder.h"
#include "Inspect.h"
#include "Texts.h"

#include <cmath>
#include <iostream>

namespace velorizer::cli {

namespace {

struct Field {
    enum Type { Null, Bool, Number, String };
    const char* name;
    Type type;
    std::string text;
};

// The fields of one file, in the order of the CSV columns.
std::vector<Field> FieldsOf(const std::string& path, const Inspection& in) {
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
    if (!in.bodies.empty()) {
        const clsAcidSettings s = clsAcidSettings::FromBody(in.bodies.front());
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
    flag("accepted", in.refusal.empty());
    if (in.refusal.empty()) none("reason");
    else text("reason", in.refusal);
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
    if (format == DataFormat::Csv) std::cout << CsvLine(FieldsOf("", Inspection{}), true);
    InOrder<Printed>(
        files.size(), jobs,
        [&](size_t i) {
            const std::string& path = files[i];
            const Inspection in = Inspect(path);
            Printed p;
            if (!in.unreadable.empty()) {
                p.error = "velorize: can't read '" + path + "': " + in.unreadable;
                p.failed = true;
            }
            const std::vector<Field> fields = FieldsOf(path, in);
            p.out = format == DataFormat::Json ? JsonLine(fields) : CsvLine(fields, false);
            return p;
        },
        [&](size_t, Printed& p) { status = Print(p) ? status : 1; });
    return status;
}

int DryRun(const std::vector<std::string>& files, const PanelChoice& choice, const PerFileRules& rules, unsigned jobs) {
    if (files.empty()) Say("No files were found in the specified directory.");
    int status = 0;
    InOrder<Printed>(
        files.size(), jobs,
        [&](size_t i) {
            const std::string& path = files[i];
            const Inspection in = Inspect(path);
            PanelChoice own = choice;
            const FileDecision decided = DecideForFile(path, in, rules, own);
            const std::string leftAlone = decided.skip ? decided.note : in.refusal;
            Printed p;
            p.out = Escaped(path) + ": ";
            if (!leftAlone.empty()) {
                p.out += "would be left alone: " + leftAlone + "\n";
                p.failed = true;
                return p;
            }
            clsAcidSettings settings;
            FillSettings(settings, own);
            // The tempo tagging derives for a loop from the file it finds.
            if (settings.Mode() == kModeLoop || settings.Mode() == kModeLoopRoot)
                settings.Tempo(in.LoopTempoFor(settings.LoopBeats()));
            p.out += (in.bodies.empty() ? "would write " : "would overwrite its acid chunk with ") +
                     Describe(settings.Contents()) + (decided.note.empty() ? "" : "; " + decided.note) + "\n";
            return p;
        },
        [&](size_t, Printed& p) { status = Print(p) ? status : 1; });
    return status;
}

bool Print(const Printed& p) {
    if (!p.error.empty()) Say(p.error);
    std::cout << p.out;
    return !p.failed;
}

BatchRun::FileHook FileHook(const PerFileRules& rules) {
    return [rules](const std::string& path, PanelChoice& choice) {
        const Inspection in = rules.NeedsLength() ? Inspect(path) : Inspection{};
        FileDecision decided = DecideForFile(path, in, rules, choice);
        if (!decided.note.empty())
            decided.note = (decided.skip ? "velorize: skipped '" : "velorize: '") + path + "': " + decided.note;
        return decided;
    };
}

}  // namespace velorizer::cli
